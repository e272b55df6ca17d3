#include "detection/FreeSpaceProbe.h"

#include <sys/statvfs.h>

std::optional<uint64_t> StatvfsFreeSpace::freeBytes(const std::string& folder) const {
    struct statvfs fs {};
    if (::statvfs(folder.c_str(), &fs) != 0)
        return std::nullopt;
    return static_cast<uint64_t>(fs.f_bavail) * static_cast<uint64_t>(fs.f_frsize);
}
