#pragma once

#include <string>

// Name of the upload script inside the program folder. It holds the FTP password in plain text
// and lives only while an upload runs.
inline constexpr const char* kFtpScriptName = "FTP_PUT.txt";

struct FtpScriptInput {
    std::string host; // "host" or "host port"
    std::string user;
    std::string pass;
    std::string remoteFolder; // empty: stay in the login folder
    std::string mode;         // "binary" or "ascii"
    std::string localPath;
    std::string remoteName;
};

// The script text: open, the two login answers, CD (only for a folder), the mode, PUT with the
// local path quoted, quit and two empty lines; every line ends CR LF. Text is UTF-8.
std::string ComposeFtpScript(const FtpScriptInput& in);

// Writes `text` to a new file at `path` readable by its owner only (an earlier file of that name
// is replaced, never written through). Returns false, with nothing left behind, when the file
// cannot be created or written completely.
bool WriteFtpScript(const std::string& path, const std::string& text);
