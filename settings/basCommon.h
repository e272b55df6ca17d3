#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

// A byte below 0x20, or 0x7F. In an FTP or SMTP command, a script line or a log line such a byte
// would end the line early and let the rest pass as something of its own.
inline bool IsControlCharacter(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}
inline bool HasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), IsControlCharacter);
}

// 2 (the wide, NT-family value) on Linux. Asked once per run and cached.
int32_t GetPlatformId();

// Linux has no 8.3 names: the path unchanged when it exists, empty text otherwise.
std::string GetShortPath(const std::string& path);

// The program folder: PAWLINEX_HOME when set, else the folder of the executable. Never ends in
// a slash. Settings, img/, avi/, help/, mail.log.txt and FTP_PUT.txt live here.
std::string ProgramFolder();

// Folder of the warning sounds, ending in '/': PAWLINEX_MEDIA_DIR when set, else the system
// sound theme /usr/share/sounds/freedesktop/stereo/.
std::string MediaDir();

// Waits for process `pid` to end while the Qt event loop keeps running (windows repaint, timers
// fire), without busy polling. Returns true at once for a process that has already ended or
// cannot be watched, true when it ended within `limitMs`, false when the limit passed first (the
// caller decides what to do with the still-running process). Must be called on a thread that
// runs a Qt event loop (the user-interface thread).
bool WaitProcess(pid_t pid, int limitMs);

// Appends one line to the log file at `path` (mail.log.txt, ftp.log.txt): the local time as
// "YYYY/MM/DD hh:mm:ss", then `fields`, tab-separated, then LF. The caller keeps tabs and line
// breaks out of the fields. A failed write is ignored: a log must never cost what it records.
void AppendLogLine(const std::string& path, const std::vector<std::string>& fields);

// Trims U+0020 spaces at both ends, nothing else (never tabs, line breaks or U+3000).
std::string TrimSpaces(const std::string& text);
