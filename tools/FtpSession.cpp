#include "FtpSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdarg>
#include <memory>

namespace {

// Feeds the local file to libcurl. In ASCII mode libcurl itself turns every LF into CR LF, so a
// CR that already precedes an LF is dropped here; otherwise a CR LF file would go out as
// CR CR LF and arrive with stray CRs.
struct UploadSource {
    std::FILE* file = nullptr;
    bool ascii = false;
    bool pendingCR = false;
    bool eof = false;
};

size_t readUpload(char* buffer, size_t size, size_t nitems, void* userdata) {
    auto* src = static_cast<UploadSource*>(userdata);
    size_t room = size * nitems;
    if (!src->ascii)
        return std::fread(buffer, 1, room, src->file);

    size_t outLen = 0;
    // One input byte can give two output bytes (a held-back CR plus the byte after it).
    char in[8192];
    while (outLen + 2 <= room && !src->eof) {
        size_t want = std::min(sizeof in, (room - outLen) / 2);
        if (want == 0)
            break;
        size_t got = std::fread(in, 1, want, src->file);
        if (got == 0) {
            src->eof = true;
            break;
        }
        for (size_t i = 0; i < got; ++i) {
            char c = in[i];
            if (src->pendingCR) {
                src->pendingCR = false;
                if (c != '\n')
                    buffer[outLen++] = '\r';
            }
            if (c == '\r')
                src->pendingCR = true;
            else
                buffer[outLen++] = c;
        }
    }
    if (src->eof && src->pendingCR && outLen < room) {
        src->pendingCR = false;
        buffer[outLen++] = '\r';
    }
    return outLen;
}

struct CurlDeleter {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

std::string hostForUrl(const std::string& host) {
    if (host.find(':') != std::string::npos && host.front() != '[')
        return "[" + host + "]";
    return host;
}

} // namespace

FtpSession::FtpSession(Timeouts timeouts, std::FILE* out, std::FILE* err)
    : m_timeouts(timeouts), m_out(out), m_err(err) {}

void FtpSession::say(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(m_out, fmt, ap);
    va_end(ap);
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

void FtpSession::failure(const char* fmt, ...) {
    char line[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    say("%s", line);
    if (m_err) {
        std::fprintf(m_err, "%s\n", line);
        std::fflush(m_err);
    }
}

int FtpSession::run(const std::vector<FtpCommand>& commands) {
    bool ok = true;
    for (const FtpCommand& cmd : commands) {
        switch (cmd.kind) {
        case FtpCommand::Kind::Open:
            m_open = true;
            m_host = cmd.arg;
            m_port = cmd.port;
            m_user.clear();
            m_pass.clear();
            m_folders.clear();
            say("open %s port %d", m_host.c_str(), m_port);
            break;
        case FtpCommand::Kind::User:
            m_user = cmd.arg;
            say("user %s", m_user.c_str());
            break;
        case FtpCommand::Kind::Pass:
            m_pass = cmd.arg;
            say("password given");
            break;
        case FtpCommand::Kind::Cd:
            if (!m_open) {
                failure("CD %s: not connected", cmd.arg.c_str());
                ok = false;
                break;
            }
            m_folders.push_back(cmd.arg);
            say("CD %s", cmd.arg.c_str());
            break;
        case FtpCommand::Kind::Binary:
            m_ascii = false;
            say("type binary");
            break;
        case FtpCommand::Kind::Ascii:
            m_ascii = true;
            say("type ascii");
            break;
        case FtpCommand::Kind::Put:
            if (!put(cmd))
                ok = false;
            break;
        case FtpCommand::Kind::Quit:
            say("quit");
            return ok ? 0 : 1;
        case FtpCommand::Kind::Invalid:
            failure("line %d: %s", cmd.line, cmd.error.c_str());
            if (cmd.stopsTransfers && m_stopLine == 0)
                m_stopLine = cmd.line;
            ok = false;
            break;
        }
    }
    return ok ? 0 : 1;
}

bool FtpSession::put(const FtpCommand& cmd) {
    say("PUT \"%s\" as %s", cmd.arg.c_str(), cmd.remote.c_str());
    if (!m_open) {
        failure("PUT failed: not connected");
        return false;
    }
    if (m_stopLine > 0) {
        failure("PUT failed: not sent after the refused line %d", m_stopLine);
        return false;
    }
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(cmd.arg.c_str(), "rb"));
    if (!file) {
        failure("PUT failed: cannot open local file \"%s\"", cmd.arg.c_str());
        return false;
    }
    std::unique_ptr<CURL, CurlDeleter> h(curl_easy_init());
    if (!h) {
        failure("PUT failed: cannot start a transfer");
        return false;
    }
    char* escaped =
        curl_easy_escape(h.get(), cmd.remote.c_str(), static_cast<int>(cmd.remote.size()));
    std::string url = "ftp://" + hostForUrl(m_host) + ":" + std::to_string(m_port) + "/" +
                      (escaped ? escaped : "");
    curl_free(escaped);

    std::unique_ptr<curl_slist, SlistDeleter> quote;
    for (const std::string& folder : m_folders) {
        curl_slist* next = curl_slist_append(quote.get(), ("CWD " + folder).c_str());
        if (!next) {
            failure("PUT failed: out of memory");
            return false;
        }
        quote.release();
        quote.reset(next);
    }

    UploadSource src;
    src.file = file.get();
    src.ascii = m_ascii;
    char errbuf[CURL_ERROR_SIZE] = {};

    CURL* c = h.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "ftp");
    curl_easy_setopt(c, CURLOPT_USERNAME, m_user.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, m_pass.c_str());
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &src);
    // The folders are walked by our own CWD commands; libcurl must not add its own per segment.
    curl_easy_setopt(c, CURLOPT_FTP_FILEMETHOD, static_cast<long>(CURLFTPMETHOD_NOCWD));
    if (quote)
        curl_easy_setopt(c, CURLOPT_QUOTE, quote.get());
    curl_easy_setopt(c, CURLOPT_TRANSFERTEXT, m_ascii ? 1L : 0L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, m_timeouts.connectSeconds);
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT, m_timeouts.stallSeconds);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, m_timeouts.stallSeconds);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errbuf);

    CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK) {
        long code = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &code);
        const char* why = errbuf[0] ? errbuf : curl_easy_strerror(rc);
        std::string folders;
        if (rc == CURLE_QUOTE_ERROR) {
            // Name the folders: a mistyped one is the usual cause.
            for (const std::string& folder : m_folders)
                folders += (folders.empty() ? " \"" : " then \"") + folder + "\"";
            folders = "cannot change into the folder given by CD" + folders;
            why = folders.c_str();
        }
        if (code > 0)
            failure("PUT failed: %s (error %d, server reply %ld)", why, static_cast<int>(rc), code);
        else
            failure("PUT failed: %s (error %d)", why, static_cast<int>(rc));
        return false;
    }
    curl_off_t sent = 0;
    curl_easy_getinfo(c, CURLINFO_SIZE_UPLOAD_T, &sent);
    say("sent %lld bytes to %s", static_cast<long long>(sent), cmd.remote.c_str());
    return true;
}
