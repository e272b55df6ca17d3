#include "mail/MailTransport.h"

#include "mail/MailComposer.h"
#include "settings/LoadedLibrary.h"
#include "settings/basCommon.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
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

// libcurl, loaded and set up before the first transfer rather than linked and set up at start-up:
// the library, those only it needs and its TLS set-up cost a couple of megabytes of memory that a
// program which watches for days without mailing should not carry.
struct CurlApi {
    decltype(&::curl_global_init) global_init = nullptr;
    decltype(&::curl_easy_init) easy_init = nullptr;
    decltype(&::curl_easy_cleanup) easy_cleanup = nullptr;
    CURLcode (*easy_setopt)(CURL*, CURLoption, ...) = nullptr;
    CURLcode (*easy_getinfo)(CURL*, CURLINFO, ...) = nullptr;
    decltype(&::curl_easy_perform) easy_perform = nullptr;
    decltype(&::curl_easy_strerror) easy_strerror = nullptr;
    decltype(&::curl_slist_append) slist_append = nullptr;
    decltype(&::curl_slist_free_all) slist_free_all = nullptr;
};

// Null when libcurl cannot be loaded (one line on standard error): every send then fails with
// "cannot start the mail client", as when a handle cannot be made.
const CurlApi* loadCurl() {
    static std::once_flag once;
    static CurlApi api;
    static bool loaded = false;
    std::call_once(once, [] {
        const LoadedLibrary lib("libcurl.so.4", "no mail");
        loaded = lib && lib.find("curl_global_init", api.global_init) &&
                 lib.find("curl_easy_init", api.easy_init) &&
                 lib.find("curl_easy_cleanup", api.easy_cleanup) &&
                 lib.find("curl_easy_setopt", api.easy_setopt) &&
                 lib.find("curl_easy_getinfo", api.easy_getinfo) &&
                 lib.find("curl_easy_perform", api.easy_perform) &&
                 lib.find("curl_easy_strerror", api.easy_strerror) &&
                 lib.find("curl_slist_append", api.slist_append) &&
                 lib.find("curl_slist_free_all", api.slist_free_all);
        if (loaded)
            api.global_init(CURL_GLOBAL_DEFAULT);
    });
    return loaded ? &api : nullptr;
}

// Reached only with a handle made, so the library is there.
const CurlApi& curl() {
    return *loadCurl();
}

// A transfer handle, or null when libcurl is missing or cannot make one.
CURL* newHandle() {
    const CurlApi* api = loadCurl();
    return api ? api->easy_init() : nullptr;
}

struct CurlDeleter {
    void operator()(CURL* c) const { curl().easy_cleanup(c); }
};
struct SlistDeleter {
    void operator()(curl_slist* l) const { curl().slist_free_all(l); }
};

// What one exchange needs while libcurl runs it. The debug callback pairs each command we send
// with the server's final reply to it, because libcurl itself reports only a code: after a
// refusal it sends QUIT, and the last line the server says is then a useless "221 Bye".
struct Exchange {
    std::string upload;
    size_t uploaded = 0;
    std::string command;     // the last command sent, without anything secret in it
    std::string rcpt;        // the address of the RCPT TO awaiting its reply
    bool inAuth = false;     // what we send between AUTH and its final reply is credentials
    std::string failedReply; // "command: reply" of the last command the server refused
    std::vector<std::string> secrets; // everything sent during AUTH, and PASS arguments
    std::vector<std::pair<std::string, std::string>> refusedRcpt; // address, reply
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

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

void noteCommand(Exchange& ex, const std::string& line) {
    if (ex.inAuth) { // a SASL continuation: base64 name, password or CRAM-MD5 response
        ex.secrets.push_back(line);
        return;
    }
    std::istringstream words(line);
    std::string verb, argument, rest;
    words >> verb >> argument;
    std::getline(words, rest);
    verb = upper(verb);
    ex.rcpt.clear();
    if (verb == "AUTH") {
        ex.command = "AUTH " + argument;
        ex.inAuth = true;
        if (const auto r = rest.find_first_not_of(' '); r != std::string::npos)
            ex.secrets.push_back(rest.substr(r)); // an initial response
    } else if (verb == "PASS" || verb == "USER" || verb == "APOP") {
        if (verb != "USER")
            ex.secrets.push_back(line.substr(std::min(line.size(), verb.size() + 1)));
        ex.command = verb;
    } else if (verb == "RCPT" || verb == "MAIL") {
        ex.command = line;
        const auto lt = line.find('<');
        const auto gt = line.rfind('>');
        if (verb == "RCPT" && lt != std::string::npos && gt != std::string::npos && gt > lt)
            ex.rcpt = line.substr(lt + 1, gt - lt - 1);
    } else {
        ex.command = verb;
    }
}

void noteReply(Exchange& ex, const std::string& line) {
    bool refused = false;
    if (line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0]))) { // SMTP
        if (line.size() > 3 && line[3] == '-')
            return; // more lines of the same reply follow
        if (ex.inAuth && line[0] == '3')
            return; // a challenge; the exchange goes on
        refused = line[0] == '4' || line[0] == '5';
    } else if (line.rfind("+ ", 0) == 0 || line == "+") { // POP3 SASL challenge
        return;
    } else if (line.rfind("-ERR", 0) == 0) {
        refused = true;
    } else if (line.rfind("+OK", 0) != 0) {
        return; // a line of a multi-line answer (CAPA)
    }
    ex.inAuth = false;
    if (!refused || ex.command == "QUIT")
        return;
    ex.failedReply = (ex.command.empty() ? std::string("greeting") : ex.command) + ": " + line;
    if (!ex.rcpt.empty())
        ex.refusedRcpt.emplace_back(ex.rcpt, line);
}

// Our own lines feed the command pairing only; nothing of them is kept in the clear.
int onDebug(CURL*, curl_infotype type, char* data, size_t size, void* user) {
    if (type != CURLINFO_HEADER_IN && type != CURLINFO_HEADER_OUT)
        return 0;
    std::string line(data, size);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    auto* ex = static_cast<Exchange*>(user);
    if (type == CURLINFO_HEADER_OUT)
        noteCommand(*ex, line);
    else if (!line.empty())
        noteReply(*ex, line);
    return 0;
}

int onProgress(void* abort, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool>*>(abort)->load() ? 1 : 0;
}

// One token a mail (Message-ID, MIME boundary): the system's random source is plenty for that,
// and keeps no generator state shared between senders.
std::string randomToken() {
    std::random_device source;
    const uint64_t value = (uint64_t(source()) << 32) | uint64_t(source());
    char buf[24];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
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
    curl().easy_getinfo(c, CURLINFO_CAINFO, &systemBundle);
    std::string pem = systemBundle ? slurp(systemBundle) : std::string();
    const std::string added = slurp(extra);
    if (pem.empty() || added.empty()) {
        curl().easy_setopt(c, CURLOPT_CAINFO, extra);
        return;
    }
    pem += "\n" + added;
    curl_blob blob{pem.data(), pem.size(), CURL_BLOB_COPY};
    curl().easy_setopt(c, CURLOPT_CAINFO_BLOB, &blob);
}

// Options every exchange shares: time limits, TLS trust, abort check, no output of libcurl's own.
void commonOptions(CURL* c, Exchange& ex, const MailTimeouts& t, char* errorBuffer,
                   const std::atomic<bool>& abort) {
    curl().easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    curl().easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl().easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, envTimeoutMs(t.connectMs));
    curl().easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl().easy_setopt(c, CURLOPT_LOW_SPEED_TIME, std::max(1L, envTimeoutMs(t.stallMs) / 1000));
    // libcurl checks server responses against the low-speed limit only while data flows, so a
    // server that stops answering after the greeting is caught by the server response limit.
    curl().easy_setopt(c, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                       std::max(1L, envTimeoutMs(t.stallMs) / 1000));
    curl().easy_setopt(c, CURLOPT_TIMEOUT_MS, t.totalMs);
    curl().easy_setopt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl().easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
    curl().easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
    if (const char* ca = std::getenv("PAWLINEX_CA_FILE"); ca && *ca)
        trustExtraCa(c, ca);
    curl().easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
    curl().easy_setopt(c, CURLOPT_XFERINFOFUNCTION, onProgress);
    curl().easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(&abort));
    curl().easy_setopt(c, CURLOPT_VERBOSE, 1L); // only to feed onDebug; nothing reaches stderr
    curl().easy_setopt(c, CURLOPT_DEBUGFUNCTION, onDebug);
    curl().easy_setopt(c, CURLOPT_DEBUGDATA, &ex);
}

// Empty when `text` is not base64.
std::string base64Decode(const std::string& text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '/')
            v = c == '+' ? 62 : 63;
        else if (c == '=')
            break;
        else
            return {};
        bits = (bits << 6) | static_cast<uint32_t>(v);
        if ((count += 6) >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

// What a server could echo of our login: the password forms, each line we sent during AUTH, and
// its decoding (for CRAM-MD5 also the digest alone, which "user digest" ends with).
std::vector<std::string> secretsOf(const Exchange& ex, const std::string& user,
                                   const std::string& password) {
    std::vector<std::string> secrets = PasswordForms(user, password);
    for (const std::string& sent : ex.secrets) {
        secrets.push_back(sent);
        const std::string decoded = base64Decode(sent);
        if (decoded == user)
            continue; // the name is no secret, and may well be the sender's address
        secrets.push_back(decoded);
        if (const auto space = decoded.rfind(' '); space != std::string::npos)
            secrets.push_back(decoded.substr(space + 1));
    }
    return secrets;
}

std::string oneLine(std::string text) {
    for (char& ch : text)
        if (ch == '\t' || ch == '\r' || ch == '\n')
            ch = ' ';
    return text;
}

std::string errorText(CURLcode code, const char* errorBuffer, const Exchange& ex,
                      const std::string& user, const std::string& password) {
    std::string text = errorBuffer && *errorBuffer ? errorBuffer : curl().easy_strerror(code);
    if (code == CURLE_ABORTED_BY_CALLBACK)
        text = "aborted";
    text += " (" + std::to_string(static_cast<int>(code)) + ")";
    if (!ex.failedReply.empty() && code != CURLE_OPERATION_TIMEDOUT)
        text += ": " + ex.failedReply;
    return oneLine(MaskSecrets(text, secretsOf(ex, user, password)));
}

void fillReport(MailExchangeReport* report, CURLcode code, const Exchange* ex = nullptr) {
    if (!report)
        return;
    report->code = static_cast<int>(code);
    report->unanswered = code == CURLE_OPERATION_TIMEDOUT;
    const std::string refusedCommand = ex && !ex->failedReply.empty()
                                           ? ex->failedReply.substr(0, ex->failedReply.find(':'))
                                           : std::string();
    report->words = code == CURLE_OK ? std::string() : MailFailureWords(code, refusedCommand);
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

CurlMailTransport::CurlMailTransport(const MailTimeouts& timeouts) : m_timeouts(timeouts) {}

std::string CurlMailTransport::SendMailEx(const std::string& logPath, const std::string& server,
                                          const std::string& recipients, const std::string& sender,
                                          const std::string& subject, const std::string& body,
                                          const std::string& files, MailExchangeReport* report) {
    const RecipientList list = ParseRecipients(recipients);
    const std::string cleanSubject = StripLineBreaks(subject);
    const SenderSpec from = ParseSender(sender);
    std::vector<std::string> refused;
    auto finish = [&](const std::string& error) {
        AppendMailLog(logPath, joinAddresses(list), cleanSubject, error, refused);
        if (report)
            report->refused = refused;
        return error;
    };
    // Failures found before any connection.
    auto settingFault = [&](const std::string& error) {
        fillReport(report, CURLE_URL_MALFORMAT);
        return finish(error);
    };

    std::string why;
    const auto address = ParseServer(server, 25, &why);
    if (!address)
        return settingFault("SMTP server: " + why);
    if (!list.error.empty())
        return settingFault("recipient: " + list.error);
    if (list.addresses.empty())
        return settingFault("no recipient");
    if (const AddressProblem p = CheckMailAddress(from.address); p != AddressProblem::None)
        return settingFault("sender address: " + AddressProblemText(p));

    MailContent content;
    content.from = from.address;
    content.recipients = list;
    content.subject = cleanSubject;
    content.body = body;
    const std::string path = files.substr(0, files.find('\0'));
    if (!path.empty()) {
        Attachment att;
        if (!readFile(path, att.data)) {
            fillReport(report, CURLE_READ_ERROR);
            return finish("cannot read attachment " + path);
        }
        att.fileName = baseName(path);
        att.contentType = ContentTypeForFile(path);
        content.attachment = std::move(att);
    }

    Exchange ex;
    ex.upload = ComposeMessage(content, MessageStamp{std::time(nullptr), randomToken()});

    std::unique_ptr<CURL, CurlDeleter> handle(newHandle());
    if (!handle)
        return finish("cannot start the mail client");
    CURL* c = handle.get();
    char errorBuffer[CURL_ERROR_SIZE] = {};
    commonOptions(c, ex, m_timeouts, errorBuffer, m_abort);
    const std::string scheme = address->port == 465 ? "smtps://" : "smtp://";
    const std::string url =
        scheme + urlHost(address->host) + ":" + std::to_string(address->port) + "/";
    curl().easy_setopt(c, CURLOPT_URL, url.c_str());
    const std::string mailFrom = "<" + from.address + ">";
    curl().easy_setopt(c, CURLOPT_MAIL_FROM, mailFrom.c_str());
    curl_slist* rcpt = nullptr;
    for (const auto& a : list.addresses)
        rcpt = curl().slist_append(rcpt, ("<" + a.address + ">").c_str());
    std::unique_ptr<curl_slist, SlistDeleter> rcptGuard(rcpt);
    curl().easy_setopt(c, CURLOPT_MAIL_RCPT, rcpt);
    // One refused address must not cost the others their alarm mail.
#if LIBCURL_VERSION_NUM >= 0x080200
    curl().easy_setopt(c, CURLOPT_MAIL_RCPT_ALLOWFAILS, 1L);
#else
    curl().easy_setopt(c, CURLOPT_MAIL_RCPT_ALLLOWFAILS, 1L);
#endif
    std::string loginOptions;
    if (from.authenticate) {
        curl().easy_setopt(c, CURLOPT_USERNAME, from.user.c_str());
        curl().easy_setopt(c, CURLOPT_PASSWORD, from.password.c_str());
        loginOptions = "AUTH=" + (from.mechanism.empty() ? std::string("LOGIN") : from.mechanism);
        curl().easy_setopt(c, CURLOPT_LOGIN_OPTIONS, loginOptions.c_str());
    }
    curl().easy_setopt(c, CURLOPT_UPLOAD, 1L);
    curl().easy_setopt(c, CURLOPT_READFUNCTION, readUpload);
    curl().easy_setopt(c, CURLOPT_READDATA, &ex);
    curl().easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(ex.upload.size()));

    const CURLcode rc = curl().easy_perform(c);
    fillReport(report, rc, &ex);
    if (rc != CURLE_OK)
        return finish(errorText(rc, errorBuffer, ex, from.user, from.password));
    const std::vector<std::string> secrets = secretsOf(ex, from.user, from.password);
    for (const auto& [addr, reply] : ex.refusedRcpt)
        refused.push_back(oneLine(MaskSecrets(addr + ": " + reply, secrets)));
    return finish(std::string());
}

bool CurlMailTransport::RcvMail(const std::string& server, const std::string& user,
                                const std::string& password, const std::string& command,
                                const std::string& /*folder*/, std::string* error,
                                MailExchangeReport* report) {
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    std::string why;
    const auto address = ParseServer(server, 110, &why);
    fillReport(report, address ? CURLE_OK : CURLE_URL_MALFORMAT);
    if (!address)
        return fail("POP server: " + why);
    if (user.empty())
        return fail("no POP user name");

    std::unique_ptr<CURL, CurlDeleter> handle(newHandle());
    if (!handle)
        return fail("cannot start the mail client");
    CURL* c = handle.get();
    Exchange ex;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    commonOptions(c, ex, m_timeouts, errorBuffer, m_abort);
    const std::string scheme = address->port == 995 ? "pop3s://" : "pop3://";
    const std::string url =
        scheme + urlHost(address->host) + ":" + std::to_string(address->port) + "/";
    curl().easy_setopt(c, CURLOPT_URL, url.c_str());
    const std::string cleanUser = StripLineBreaks(user);
    const std::string cleanPassword = StripLineBreaks(password);
    curl().easy_setopt(c, CURLOPT_USERNAME, cleanUser.c_str());
    curl().easy_setopt(c, CURLOPT_PASSWORD, cleanPassword.c_str());
    const std::string request = StripLineBreaks(command.empty() ? std::string("STAT") : command);
    curl().easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.c_str());
    // Without NOBODY libcurl waits for a multi-line answer that STAT never sends.
    curl().easy_setopt(c, CURLOPT_NOBODY, 1L);
    curl().easy_setopt(c, CURLOPT_WRITEFUNCTION, discard);

    const CURLcode rc = curl().easy_perform(c);
    fillReport(report, rc, &ex);
    if (rc != CURLE_OK)
        return fail(errorText(rc, errorBuffer, ex, cleanUser, cleanPassword));
    if (error)
        error->clear();
    return true;
}

void CurlMailTransport::requestAbort() {
    m_abort = true;
}

void CurlMailTransport::clearAbort() {
    m_abort = false;
}

void AppendMailLog(const std::string& logPath, const std::string& recipients,
                   const std::string& subject, const std::string& errorText,
                   const std::vector<std::string>& refused) {
    if (logPath.empty())
        return;
    std::string result = errorText.empty() ? std::string("OK") : "NG: " + errorText;
    if (errorText.empty() && !refused.empty()) {
        result += ", refused:";
        for (const auto& r : refused)
            result += " " + r + ";";
        result.pop_back();
    }
    AppendLogLine(logPath, {oneLine(recipients), oneLine(subject), oneLine(result)});
}

std::vector<std::string> PasswordForms(const std::string& user, const std::string& password) {
    if (password.empty())
        return {};
    const std::string nul(1, '\0');
    return {password, Base64Encode(password), Base64Encode(nul + user + nul + password),
            Base64Encode(user + nul + user + nul + password)};
}

std::string MaskSecrets(std::string text, std::vector<std::string> secrets) {
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    static const std::string mask = "****";
    for (const auto& secret : secrets) {
        if (secret.size() < 3)
            continue;
        for (auto pos = text.find(secret); pos != std::string::npos;
             pos = text.find(secret, pos + mask.size()))
            text.replace(pos, secret.size(), mask);
    }
    return text;
}

std::string MailFailureWords(int code, const std::string& refusedCommand) {
    if (!refusedCommand.empty()) {
        const std::string verb = upper(refusedCommand.substr(0, refusedCommand.find(' ')));
        if (verb == "RCPT")
            return "宛先を受け付けられませんでした";
        if (verb == "AUTH" || verb == "PASS" || verb == "USER" || verb == "APOP")
            return "認証に失敗しました";
        return "ｻｰﾊﾞｰに受け付けられませんでした";
    }
    switch (code) {
    case CURLE_URL_MALFORMAT:
        return "ﾒｰﾙの設定が正しくありません";
    case CURLE_COULDNT_RESOLVE_HOST:
        return "ｻｰﾊﾞｰ名が見つかりません";
    case CURLE_COULDNT_CONNECT:
        return "ｻｰﾊﾞｰに接続できません";
    case CURLE_OPERATION_TIMEDOUT:
        return "ｻｰﾊﾞｰが応答しません";
    case CURLE_LOGIN_DENIED:
        return "認証に失敗しました";
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
        return "暗号化通信(TLS)を始められません";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_GOT_NOTHING:
        return "ｻｰﾊﾞｰとの通信が途中で失敗しました";
    case CURLE_ABORTED_BY_CALLBACK:
        return "送信を中止しました";
    case CURLE_READ_ERROR:
        return "添付ﾌｧｲﾙを読めません";
    default:
        return {};
    }
}
