#include "capture/VideoSources.h"

#include "settings/basCommon.h"
#include "settings/basSettings.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <unistd.h>

std::string TruncateUtf8(const std::string& text, size_t maxBytes) {
    if (text.size() <= maxBytes)
        return text;
    size_t cut = maxBytes;
    // Step back over continuation bytes to the start of the character that does not fit.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return text.substr(0, cut);
}

VideoSourceEntry DescribeSource(const std::string& spec) {
    VideoSourceEntry e;
    e.spec = spec;
    if (spec == "demo") {
        e.name = "Pawlinex demo room";
        e.version = "built-in";
    } else if (spec.rfind("lavfi:", 0) == 0) {
        e.name = "lavfi " + spec.substr(6);
        e.version = "FFmpeg filter graph";
    } else if (spec.find("://") != std::string::npos) {
        e.name = spec;
        e.version = "network camera";
    } else {
        e.name = std::filesystem::path(spec).filename().string();
        if (e.name.empty())
            e.name = spec;
        e.version = "video file";
    }
    return e;
}

std::vector<VideoSourceEntry> ListV4l2Devices() {
    std::vector<std::pair<int, std::string>> nodes;
    std::error_code ec;
    for (auto& de : std::filesystem::directory_iterator("/dev", ec)) {
        std::string n = de.path().filename().string();
        if (n.rfind("video", 0) != 0 || n.size() == 5)
            continue;
        if (!std::all_of(n.begin() + 5, n.end(),
                         [](char c) { return std::isdigit((unsigned char)c); }))
            continue;
        nodes.emplace_back(std::atoi(n.c_str() + 5), de.path().string());
    }
    std::sort(nodes.begin(), nodes.end());
    std::vector<VideoSourceEntry> out;
    for (auto& [num, path] : nodes) {
        int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        v4l2_capability cap{};
        bool ok = ::ioctl(fd, VIDIOC_QUERYCAP, &cap) == 0;
        ::close(fd);
        if (!ok)
            continue;
        uint32_t caps =
            (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE))
            continue;
        VideoSourceEntry e;
        e.spec = path;
        e.name = std::string(reinterpret_cast<const char*>(cap.card),
                             strnlen(reinterpret_cast<const char*>(cap.card), sizeof cap.card));
        if (e.name.empty())
            e.name = path;
        e.version =
            std::string(reinterpret_cast<const char*>(cap.driver),
                        strnlen(reinterpret_cast<const char*>(cap.driver), sizeof cap.driver)) +
            " " + std::to_string((cap.version >> 16) & 0xff) + "." +
            std::to_string((cap.version >> 8) & 0xff) + "." + std::to_string(cap.version & 0xff);
        out.push_back(std::move(e));
    }
    return out;
}

std::vector<VideoSourceEntry> MergeVideoSources(const std::string& envValue,
                                                const std::vector<std::string>& iniSources,
                                                const std::vector<VideoSourceEntry>& devices) {
    std::vector<VideoSourceEntry> out;
    auto full = [&] { return out.size() >= static_cast<size_t>(kMaxVideoSources); };
    size_t pos = 0;
    while (pos <= envValue.size() && !full()) {
        size_t semi = envValue.find(';', pos);
        if (semi == std::string::npos)
            semi = envValue.size();
        std::string item = TrimSpaces(envValue.substr(pos, semi - pos));
        if (!item.empty())
            out.push_back(DescribeSource(item));
        pos = semi + 1;
    }
    for (auto& s : iniSources) {
        if (full())
            break;
        out.push_back(DescribeSource(s));
    }
    for (auto& d : devices) {
        if (full())
            break;
        out.push_back(d);
    }
    return out;
}

std::vector<VideoSourceEntry> VideoSourceList::refresh() {
    const char* env = std::getenv("PAWLINEX_VIDEO_SOURCES");
    auto list = MergeVideoSources(env ? env : "", ReadSourcesSection(), ListV4l2Devices());
    std::lock_guard lock(m_mutex);
    m_list = list;
    m_read = true;
    return list;
}

std::vector<VideoSourceEntry> VideoSourceList::entries() {
    {
        std::lock_guard lock(m_mutex);
        if (m_read)
            return m_list;
    }
    return refresh();
}
