#include "mail/MailTransport.h"

#include "mail/MailComposer.h"

#include <curl/curl.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>

namespace {

std::atomic<bool> g_abort{false};
MailTransport* g_override = nullptr;

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// What one exchange needs while libcurl runs it.
struct Exchange {
    std::string upload;
    size_t uploaded = 0;
    std::string lastReply; // the server's last response line, for the error text
};

size_t readUpload(char* buffer, size_t size, size_t count, void* user) {
    auto* ex = static_cast<Exchange*>(user);
    const size_t n = std::min(size * count, ex->upload.size() - ex->uploaded);
    std::memcpy(buffer, ex->upload.data() + ex->uploaded, n);
    ex->uploaded += n;
    return n;
}

size_t discard(char*, size_t size, size_t count, void*) {
    return size * count;
}

// Only what the server says is kept: our side of the dialogue carries the credentials.
int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN)
        return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (!line.empty())
        static_cast<Exchange*>(user)->lastReply = line;
    return 0;
}

int onProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return g_abort.load() ? 1 : 0;
}

std::string randomToken() {
    static std::mutex m;
    static std::mt19937_64 gen{std::random_device{}()};
    std::lock_guard lock(m);
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(gen()));
    return buf;
}

std::string urlHost(const std::string& host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

long envTimeoutMs(long fallback) {
    const char* v = std::getenv("PAWLINEX_MAIL_TIMEOUT");
    if (!v || !*v)
        return fallback;
    char* end = nullptr;
    const double seconds = std::strtod(v, &end);
    if (end == v || seconds <= 0)
        return fallback;
    return static_cast<long>(seconds * 1000);
}

std::string slurp(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    if (in)
        ss << in.rdbuf();
    return ss.str();
}

// The extra CA file is trusted in addition to the system's store, not instead of it: a LAN
// server with its own certificate and a public provider must both keep working.
void trustExtraCa(CURL* c, const char* extra) {
    char* systemBundle = nullptr;
    curl_easy_getinfo(c, CURLINFO_CAINFO, &systemBundle);
    std::string pem = systemBundle ? slurp(systemBundle) : std::string();
    const std::string added = slurp(extra);
    if (pem.empty() || added.empty()) {
        curl_easy_setopt(c, CURLOPT_CAINFO, extra);
        return;
    }
    pem += "\n" + added;
    curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
    curl_easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
}

// Options every exchange shares: time limits, TLS trust, abort check, no output of libcurl's own.
void commonOptions(CURL* c, Exchange& ex, const MailTimeouts& t, char* errorBuffer) {
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, envTimeoutMs(t.connectMs));
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, std::max(1L, envTimeoutMs(t.stallMs) / 1000));
    // libcurl checks server responses against the low-speed limit only while data flows, so a
    // server that stops answering after the greeting is caught by the server response limit.
    curl_easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     std::max(1L, envTimeoutMs(t.stallMs) / 1000));
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, t.totalMs);
    curl_easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* ca = std::getenv("PAWLINEX_CA_FILE"); ca && *ca)
        trustExtraCa(c, ca);
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl_easy_setopt(c, CURLOPT_VERBOSE, 1L); // only to feed onDebug; nothing reaches stderr
    curl_easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
    curl_easy_setopt(c, CURLOPT_DEBUGDATA, &ex);
}

std::string errorText(CURLcode code, const char* errorBuffer, const Exchange& ex,
                      const std::string& password) {
    std::string text = errorBuffer && *errorBuffer ? errorBuffer : curl_easy_strerror(code);
    if (code == CURLE_ABORTED_BY_CALLBACK)
        text = "aborted";
    text += " (" + std::to_string(static_cast<int>(code)) + ")";
    if (!ex.lastReply.empty() && code != CURLE_OPERATION_TIMEDOUT)
        text += ": " + ex.lastReply;
    // A server that echoes what it was sent must not carry a password into the log.
    if (password.size() >= 3) {
        for (auto pos = text.find(password); pos != std::string::npos;
             pos = text.find(password, pos + 4))
            text.replace(pos, password.size(), "****");
    }
    for (char& ch : text)
        if (ch == '\t' || ch == '\r' || ch == '\n')
            ch = ' ';
    return text;
}

bool readFile(const std::string& path, std::string& data) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return false;
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad())
        return false;
    data = ss.str();
    return true;
}

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string joinAddresses(const RecipientList& list) {
    std::string out;
    for (const auto& a : list.addresses) {
        if (!out.empty())
            out += ", ";
        out += a.address;
    }
    return out;
}

} // namespace

CurlMailTransport::CurlMailTransport() {
    globalInit();
}

std::string CurlMailTransport::SendMailEx(const std::string& logPath, const std::string& server,
                                          const std::string& recipients, const std::string& sender,
                                          const std::string& subject, const std::string& body,
                                          const std::string& files) {
    const RecipientList list = ParseRecipients(recipients);
    const std::string cleanSubject = StripLineBreaks(subject);
    const SenderSpec from = ParseSender(sender);
    auto finish = [&](const std::string& error) {
        AppendMailLog(logPath, joinAddresses(list), cleanSubject, error);
        return error;
    };

    std::string why;
    const auto address = ParseServer(server, 25, &why);
    if (!address)
        return finish("SMTP server: " + why);
    if (list.addresses.empty())
        return finish("no recipient");
    if (from.address.empty())
        return finish("no sender address");

    MailContent content;
    content.from = from.address;
    content.recipients = list;
    content.subject = cleanSubject;
    content.body = body;
    const std::string path = files.substr(0, files.find('\0'));
    if (!path.empty()) {
        Attachment att;
        if (!readFile(path, att.data))
            return finish("cannot read attachment " + path);
        att.fileName = baseName(path);
        att.contentType = ContentTypeForFile(path);
        content.attachment = std::move(att);
    }

    Exchange ex;
    ex.upload = ComposeMessage(content, MessageStamp{std::time(nullptr), randomToken()});

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return finish("cannot start the mail client");
    CURL* c = curl.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    commonOptions(c, ex, m_timeouts, errorBuffer);
    const std::string scheme = address->port == 465 ? "smtps://" : "smtp://";
    const std::string url =
        scheme + urlHost(address->host) + ":" + std::to_string(address->port) + "/";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    const std::string mailFrom = "<" + from.address + ">";
    curl_easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
    curl_slist* rcpt = nullptr;
    for (const auto& a : list.addresses)
        rcpt = curl_slist_append(rcpt, ("<" + a.address + ">").c_str());
    std::unique_ptr<curl_slist, SlistDeleter> rcptGuard(rcpt);
    curl_easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    std::string loginOptions;
    if (from.authenticate) {
        curl_easy_setopt(c, CURLOPT_USERNAME, from.user.c_str());
        curl_easy_setopt(c, CURLOPT_PASSWORD, from.password.c_str());
        loginOptions = "AUTH=" + (from.mechanism.empty() ? std::string("LOGIN") : from.mechanism);
        curl_easy_setopt(c, CURLOPT_LOGIN_OPTIONS, loginOptions.c_str());
    }
    curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
    curl_easy_setopt(c, CURLOPT_READDATA, &ex);
    curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ex.upload.size()));

    const CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK)
        return finish(errorText(rc, errorBuffer, ex, from.password));
    return finish(std::string());
}

bool CurlMailTransport::RcvMail(const std::string& server, const std::string& user,
                                const std::string& password, const std::string& command,
                                const std::string& /*folder*/, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    std::string why;
    const auto address = ParseServer(server, 110, &why);
    if (!address)
        return fail("POP server: " + why);
    if (user.empty())
        return fail("no POP user name");

    std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return fail("cannot start the mail client");
    CURL* c = curl.get();
    Exchange ex;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    commonOptions(c, ex, m_timeouts, errorBuffer);
    const std::string scheme = address->port == 995 ? "pop3s://" : "pop3://";
    const std::string url =
        scheme + urlHost(address->host) + ":" + std::to_string(address->port) + "/";
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    const std::string cleanUser = StripLineBreaks(user);
    const std::string cleanPassword = StripLineBreaks(password);
    curl_easy_setopt(c, CURLOPT_USERNAME, cleanUser.c_str());
    curl_easy_setopt(c, CURLOPT_PASSWORD, cleanPassword.c_str());
    const std::string request = StripLineBreaks(command.empty() ? std::string("STAT") : command);
    curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.c_str());
    // Without NOBODY libcurl waits for a multi-line answer that STAT never sends.
    curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, discard);

    const CURLcode rc = curl_easy_perform(c);
    if (rc != CURLE_OK)
        return fail(errorText(rc, errorBuffer, ex, cleanPassword));
    if (error)
        error->clear();
    return true;
}

MailTransport& CurrentMailTransport() {
    return g_override ? *g_override : static_cast<MailTransport&>(RealMailTransport());
}

void SetMailTransport(MailTransport* transport) {
    g_override = transport;
}

CurlMailTransport& RealMailTransport() {
    static CurlMailTransport real;
    return real;
}

void RequestMailAbort() {
    g_abort = true;
}
void ClearMailAbort() {
    g_abort = false;
}

void AppendMailLog(const std::string& logPath, const std::string& recipients,
                   const std::string& subject, const std::string& errorText) {
    if (logPath.empty())
        return;
    auto field = [](std::string s) {
        for (char& ch : s)
            if (ch == '\t' || ch == '\r' || ch == '\n')
                ch = ' ';
        return s;
    };
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &tm);
    std::ofstream out(logPath, std::ios::binary | std::ios::app);
    if (!out)
        return;
    out << when << '\t' << field(recipients) << '\t' << field(subject) << '\t'
        << (errorText.empty() ? std::string("OK") : "NG: " + field(errorText)) << "\n";
}
