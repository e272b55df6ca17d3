#pragma once

// Shared by the capture tests: a private temporary folder, running the ffmpeg/ffprobe tools,
// and reading back what ffprobe says about a clip.

#include <arpa/inet.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace capture_test {

inline std::filesystem::path TempDir(const std::string& tag) {
    auto dir = std::filesystem::temp_directory_path() /
               ("pawlinex-" + tag + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string Run(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    ::pclose(p);
    return out;
}

// Makes a short clip with the ffmpeg tool from a lavfi graph.
inline bool MakeClip(const std::string& graph, double seconds, const std::string& path,
                     const std::string& codecArgs = "-c:v mjpeg -q:v 5") {
    std::string cmd = "ffmpeg -nostdin -loglevel error -y -f lavfi -i '" + graph + "' -t " +
                      std::to_string(seconds) + " " + codecArgs + " '" + path + "'";
    return std::system(cmd.c_str()) == 0 && std::filesystem::exists(path);
}

struct ProbeResult {
    std::string formatName;
    double duration = -1;
    std::map<std::string, std::string> codecByType; // "video" -> "mjpeg", "audio" -> ...
    int streams = 0;
};

inline ProbeResult Probe(const std::string& path) {
    ProbeResult r;
    std::string out = Run("ffprobe -v error -show_entries format=format_name,duration:"
                          "stream=codec_type,codec_name -of default=noprint_wrappers=1 '" +
                          path + "'");
    std::string pendingCodec;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos)
            nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        pos = nl + 1;
        auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string k = line.substr(0, eq), v = line.substr(eq + 1);
        if (k == "codec_name")
            pendingCodec = v;
        else if (k == "codec_type") {
            r.codecByType[v] = pendingCodec;
            ++r.streams;
        } else if (k == "format_name")
            r.formatName = v;
        else if (k == "duration" && v != "N/A")
            r.duration = std::atof(v.c_str());
    }
    return r;
}

// A network camera that answers every request and then sends a byte every 200 ms, never a
// picture: a reader never times out on it, so an open waits until its own deadline.
class TricklingHttpServer {
public:
    TricklingHttpServer() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(m_listen, 16);
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~TricklingHttpServer() {
        m_stop = true;
        m_thread.join();
        ::close(m_listen);
    }
    std::string url(const std::string& path = "/cam") const {
        return "http://127.0.0.1:" + std::to_string(m_port) + path;
    }

private:
    void serve() {
        std::vector<int> clients;
        while (!m_stop) {
            pollfd p{m_listen, POLLIN, 0};
            if (::poll(&p, 1, 200) > 0) {
                const int c = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (c >= 0) {
                    const std::string head =
                        "HTTP/1.0 200 OK\r\nContent-Type: multipart/x-mixed-replace;"
                        "boundary=frame\r\n\r\n";
                    (void)!::send(c, head.data(), head.size(), MSG_NOSIGNAL);
                    clients.push_back(c);
                }
            }
            for (int c : clients)
                (void)!::send(c, "-", 1, MSG_NOSIGNAL);
        }
        for (int c : clients)
            ::close(c);
    }

    int m_listen = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace capture_test
