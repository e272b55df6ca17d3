#pragma once

#include <string>
#include <vector>

// One command of an FTP_PUT.txt script. The script is written for an interactive command-line
// client, so the two lines after "open" are not commands but the answers to its login prompts.
struct FtpCommand {
    enum class Kind { Open, User, Pass, Cd, Binary, Ascii, Put, Quit, Invalid };
    Kind kind = Kind::Invalid;
    std::string arg;    // Open: host; User/Pass: the line; Cd: folder; Put: local path
    std::string remote; // Put: remote name
    int port = 21;      // Open
    int line = 0;       // 1-based line in the script, for messages
    std::string error;  // Invalid: why
    // Invalid: a later PUT would not go where the script meant (a folder that could not be
    // read, a line with a control character), so the client sends nothing more.
    bool stopsTransfers = false;
};

// Splits the script text (LF or CR LF line ends) into commands. Blank lines outside the login
// answers are skipped; commands are case-insensitive.
std::vector<FtpCommand> ParseFtpScript(const std::string& text);
