#pragma once

#include "detection/FreeSpaceProbe.h"

#include <cstdio>
#include <set>
#include <string>
#include <string_view>

// Keeps KEEPFREE megabytes free where clips and pictures go by deleting the oldest of the files
// this program wrote itself: img/YYMMDDhhmmss_ALERT.jpg, _TEST.jpg and _HOOK.jpg, and
// avi/YYMMDDhhmmss_ALERT.AVI. Nothing else is ever touched: not avi/ALERT.AVI, not a file the
// user put there, not a file of the alarm under way. Used from the user-interface thread.
class DiskGuard {
public:
    // Each deletion is reported as one line on `log`. The probe must outlive the guard.
    explicit DiskGuard(const FreeSpaceProbe& probe, std::FILE* log = stderr);

    // A new alarm starts: the files kept for the last one may go again.
    void beginAlarm();

    // Call before writing `path`, a clip or picture in avi/ or img/ of the program folder. While
    // KEEPFREE is on and the file system of its folder has less than KEEPFREE MB free, deletes the
    // oldest own file, by the time in its name, on that file system. When none is left the write
    // goes ahead regardless. `path` then counts as a file of the current alarm until the next
    // beginAlarm().
    void makeRoom(const std::string& path);

    // Whether `name` (a bare file name) has one of the forms above for `folder` ("img" or "avi").
    static bool IsOwnFileName(std::string_view folder, std::string_view name);

private:
    const FreeSpaceProbe& m_probe;
    std::FILE* m_log;
    std::set<std::string> m_current; // full paths of the alarm under way
};
