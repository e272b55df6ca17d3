#pragma once

#include <cstdint>
#include <optional>
#include <string>

// How much room is left for new files: the disk guard asks before every clip and picture. Tests
// pass a probe of their own; the live one asks the file system.
class FreeSpaceProbe {
public:
    virtual ~FreeSpaceProbe() = default;
    // Bytes an unprivileged writer may still use on the file system holding `folder`; nothing
    // when the question cannot be answered (the guard then leaves every file alone).
    virtual std::optional<uint64_t> freeBytes(const std::string& folder) const = 0;
};

// statvfs: the blocks available to unprivileged users, not the root reserve.
class StatvfsFreeSpace final : public FreeSpaceProbe {
public:
    std::optional<uint64_t> freeBytes(const std::string& folder) const override;
};
