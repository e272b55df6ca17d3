#include "common/PeerProcess.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

bool PeerProcess::start(const std::vector<std::string>& argv) {
    if (argv.empty() || m_pid > 0)
        return false;
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        setpgid(0, 0);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        close(fds[1]);
        execv(args[0], args.data());
        _exit(127);
    }
    setpgid(pid, pid); // also from here, so stop() works even if the child has not run yet
    close(fds[1]);
    m_pid = pid;
    m_out = fds[0];
    return true;
}

std::string PeerProcess::readLine(int limitMs) {
    for (;;) {
        const auto nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (m_out < 0)
            return {};
        pollfd p{m_out, POLLIN, 0};
        const int r = poll(&p, 1, limitMs);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return {};
        char chunk[512];
        const ssize_t n = read(m_out, chunk, sizeof chunk);
        if (n <= 0)
            return {};
        m_buffer.append(chunk, static_cast<size_t>(n));
    }
}

void PeerProcess::stop() {
    if (m_pid > 0) {
        kill(-m_pid, SIGTERM);
        int status = 0;
        bool ended = false;
        for (int i = 0; i < 50 && !ended; ++i) {
            ended = waitpid(m_pid, &status, WNOHANG) == m_pid;
            if (!ended)
                usleep(100000);
        }
        kill(-m_pid, SIGKILL); // whatever of the group is left
        if (!ended)
            waitpid(m_pid, &status, 0);
        m_pid = -1;
    }
    if (m_out >= 0) {
        close(m_out);
        m_out = -1;
    }
}

int FreeTcpPort() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0)
        return 0;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = 0;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(s);
    return port;
}

std::string PeersDir() {
    if (const char* d = std::getenv("PAWLINEX_TEST_PEERS"); d && *d)
        return d;
    if (const char* s = std::getenv("PAWLINEX_SOURCE_DIR"); s && *s)
        return std::string(s) + "/tests/peers";
    return "tests/peers";
}

TempFolder::TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pawlinex-XXXXXX").string();
    if (mkdtemp(pattern.data()))
        m_path = pattern;
}

TempFolder::~TempFolder() {
    if (!m_path.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
}
