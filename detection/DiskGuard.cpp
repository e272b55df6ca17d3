#include "detection/DiskGuard.h"

#include "settings/AppSettings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t kStampDigits = 12;

struct OwnFile {
    std::string stamp; // YYMMDDhhmmss: string order is time order within one century
    std::string path;
};

bool SameFileSystem(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

} // namespace

DiskGuard::DiskGuard(const FreeSpaceProbe& probe, std::FILE* log) : m_probe(probe), m_log(log) {}

void DiskGuard::beginAlarm() {
    m_current.clear();
}

bool DiskGuard::IsOwnFileName(std::string_view folder, std::string_view name) {
    if (name.size() <= kStampDigits ||
        !std::all_of(name.begin(), name.begin() + kStampDigits,
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
        return false;
    const std::string_view rest = name.substr(kStampDigits);
    if (folder == "avi")
        return rest == "_ALERT.AVI";
    if (folder == "img")
        return rest == "_ALERT.jpg" || rest == "_TEST.jpg" || rest == "_HOOK.jpg";
    return false;
}

void DiskGuard::makeRoom(const std::string& path) {
    m_current.insert(path);
    const int keepMb = AppSettings.Extra.KeepFree;
    if (keepMb <= 0)
        return;
    const uint64_t keep = static_cast<uint64_t>(keepMb) * 1024 * 1024;
    const fs::path targetPath = fs::path(path).parent_path();
    const std::string target = targetPath.empty() ? std::string(".") : targetPath.string();
    const fs::path parent = targetPath.parent_path();
    const std::string programFolder = parent.empty() ? std::string(".") : parent.string();
    auto freeNow = [&] { return m_probe.freeBytes(target); };
    std::optional<uint64_t> free = freeNow();
    if (!free || *free >= keep)
        return;

    // Only files on the file system that is short of room: deleting elsewhere frees nothing here.
    std::vector<OwnFile> files;
    for (const char* sub : {"img", "avi"}) {
        const std::string folder = programFolder + "/" + sub;
        if (!SameFileSystem(folder, target))
            continue;
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string name = it->path().filename().string();
            const std::string full = it->path().string();
            std::error_code typeEc;
            if (IsOwnFileName(sub, name) && it->is_regular_file(typeEc) && !m_current.count(full))
                files.push_back({name.substr(0, kStampDigits), full});
        }
    }
    std::sort(files.begin(), files.end(), [](const OwnFile& a, const OwnFile& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.path < b.path;
    });

    for (const OwnFile& f : files) {
        std::error_code ec;
        if (!fs::remove(f.path, ec) || ec)
            continue;
        free = freeNow();
        std::fprintf(m_log, "pawlinex: deleted %s to keep %d MB free (%llu MB free now)\n",
                     f.path.c_str(), keepMb,
                     static_cast<unsigned long long>(free ? *free / (1024 * 1024) : 0));
        if (!free || *free >= keep)
            return;
    }
}
