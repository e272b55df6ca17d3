#pragma once

#include <optional>
#include <string>

// What the FTP host setting may hold. Pure standard C++: the program and the pawlinex-ftp client
// both read it, so a hand-edited settings file or script means the same to both.

struct FtpHostParts {
    std::string host; // name or address; an IPv6 address without its brackets
    int port = 0;     // 0: none given (FTP's 21)
    // Parts a pasted ftp:// address carried; nothing when it did not name them.
    std::optional<std::string> user;
    std::optional<std::string> pass;
    std::optional<std::string> folder;
};

// Accepts "host", "host port", "host:port", "[v6]", "[v6]:port", "[v6] port", a bare IPv6
// address, and "ftp://[user[:password]@]host[:port][/folder]" (percent escapes decoded).
// Spaces around the whole text are ignored. Anything else, a control character anywhere
// included, gives nothing and, when `why` is given, a short English reason.
std::optional<FtpHostParts> ParseFtpHost(const std::string& text, std::string* why = nullptr);

// "host" or "host port": the one form kept in the settings file and written after "open".
std::string FtpHostStoredForm(const FtpHostParts& parts);
