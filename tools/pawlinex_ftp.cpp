// pawlinex-ftp: runs an upload script, started as  pawlinex-ftp -s:"script path".
// Reports every step and every failure on standard output, and every failure once more as one
// line on standard error (the program records the first as the reason); exit status 0 when
// every command succeeded, 1 when one failed, 2 when the script could not be read.

#include "FtpCommandScript.h"
#include "FtpSession.h"

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Time-outs in whole seconds from the environment, so tests need not wait half a minute for
// a server that never answers.
long secondsFromEnv(const char* name, long fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    long n = std::strtol(v, &end, 10);
    if (*end != '\0' || n < 1 || n > 86400)
        return fallback;
    return n;
}

std::string scriptArgument(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if ((a[0] == '-' || a[0] == '/') && (a[1] == 's' || a[1] == 'S') && a[2] == ':') {
            std::string path = a + 3;
            // The quotes survive when the caller passes the command line without a shell.
            if (path.size() >= 2 && path.front() == '"' && path.back() == '"')
                path = path.substr(1, path.size() - 2);
            return path;
        }
    }
    return {};
}

} // namespace

int main(int argc, char** argv) {
    std::string path = scriptArgument(argc, argv);
    if (path.empty()) {
        std::printf("usage: pawlinex-ftp -s:\"script\"\n");
        std::fprintf(stderr, "no script given\n");
        return 2;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("cannot read script \"%s\"\n", path.c_str());
        std::fprintf(stderr, "cannot read script \"%s\"\n", path.c_str());
        return 2;
    }
    std::ostringstream text;
    text << in.rdbuf();
    in.close();

    // A server that drops the connection must give an error message, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::printf("cannot initialise libcurl\n");
        std::fprintf(stderr, "cannot initialise libcurl\n");
        return 2;
    }
    FtpSession::Timeouts timeouts;
    timeouts.connectSeconds = secondsFromEnv("PAWLINEX_FTP_CONNECT_TIMEOUT", 30);
    timeouts.stallSeconds = secondsFromEnv("PAWLINEX_FTP_STALL_TIMEOUT", 60);
    FtpSession session(timeouts, stdout, stderr);
    int rc = session.run(ParseFtpScript(text.str()));
    curl_global_cleanup();
    return rc;
}
