#pragma once

#include "FtpCommandScript.h"

#include <cstdio>
#include <string>
#include <vector>

// Runs the commands of one script over libcurl. The control connection is not kept between
// commands: every PUT logs in afresh, changes into the folders given so far (as literal CWD
// commands, so "/abs/path" and "rel/path" both mean what the server makes of them) and stores
// the file. That keeps the CD semantics exact without tracking the server's current folder.
class FtpSession {
public:
    struct Timeouts {
        long connectSeconds = 30; // TCP connect plus the server's greeting
        long stallSeconds = 60;   // no progress on the data or control connection
    };

    // Every step goes to `out`; every failure also goes to `err` as one line, the first of which
    // is what the program records as the reason of a failed upload.
    FtpSession(Timeouts timeouts, std::FILE* out, std::FILE* err);

    // Runs every command in order; a failed command is reported and the rest still run, as
    // an interactive client would. Returns 0 when every command succeeded, 1 otherwise.
    int run(const std::vector<FtpCommand>& commands);

private:
    bool put(const FtpCommand& cmd);
    void say(const char* fmt, ...);
    void failure(const char* fmt, ...);

    Timeouts m_timeouts;
    std::FILE* m_out;
    std::FILE* m_err;
    bool m_open = false;
    std::string m_host;
    int m_port = 21;
    std::string m_user;
    std::string m_pass;
    std::vector<std::string> m_folders;
    bool m_ascii = true; // interactive clients start in ASCII mode
    int m_stopLine = 0;  // line of a command that stops every later transfer
};
