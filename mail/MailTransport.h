#pragma once

// The mail transport: the two calls MailSend makes, behind an interface so that the argument
// building above it is tested with a recording double and the real client against real servers.

#include <atomic>
#include <string>
#include <vector>

// What a caller may want to know of one exchange beyond its error text.
struct MailExchangeReport {
    int code = 0;            // libcurl's result code (0 when the exchange never started or passed)
    bool unanswered = false; // a connect or stall time-out: the server never answered in time
    // Recipients the server refused while it accepted others ("address: reply"), in order.
    std::vector<std::string> refused;
    std::string words; // MailFailureWords of the failure, empty after a success
};

class MailTransport {
public:
    virtual ~MailTransport() = default;

    // Sends one message. `server` is "host<TAB>port" (25 when the port is empty; 465 is implicit
    // TLS, every other port upgrades with STARTTLS when the server offers it). `recipients` holds
    // an address list (ParseAddressList), plus TAB-separated ">Name: value" extra header lines;
    // a faulty list fails before any connection. `sender` is "<address>", optionally TAB
    // "user:password" TAB "LOGIN"|"CRAM-MD5". `files` is one attachment path up to its first NUL;
    // empty means no attachment. Returns empty text when the server accepted the mail for at least
    // one recipient (those it refused are listed in report->refused), else the error text with the
    // server's reply to the command that failed. Appends one line per call to the log file
    // `logPath` (empty: no log). No password, in any encoding the server may echo, reaches the
    // error text or the log. May be called from any thread, one call at a time.
    virtual std::string SendMailEx(const std::string& logPath, const std::string& server,
                                   const std::string& recipients, const std::string& sender,
                                   const std::string& subject, const std::string& body,
                                   const std::string& files,
                                   MailExchangeReport* report = nullptr) = 0;

    // Logs in to the POP3 server "host<TAB>port" (110 when empty; 995 is implicit TLS, else STLS
    // when offered) and issues `command` (normally "STAT"). True when both succeeded; otherwise
    // false with the reason in *error when given. `folder` is accepted for the argument form only.
    virtual bool RcvMail(const std::string& server, const std::string& user,
                         const std::string& password, const std::string& command,
                         const std::string& folder, std::string* error = nullptr,
                         MailExchangeReport* report = nullptr) = 0;

    // Asks a running exchange to stop at its next progress check (within about a second); it then
    // fails with an "aborted" text. Stays asked until clearAbort, which every new send through
    // MailSender does first. Any thread. A transport that never blocks may ignore both.
    virtual void requestAbort() {}
    virtual void clearAbort() {}
};

// Time limits of the real client, in milliseconds. `connect` bounds the connection including the
// server's greeting, `stall` ends a transfer that moves no byte for that long, `total` bounds a
// whole exchange.
struct MailTimeouts {
    long connectMs = 30000;
    long stallMs = 60000;
    long totalMs = 300000;
};

// The real client over libcurl. Trusts the system's certificate store, plus the CA file named by
// PAWLINEX_CA_FILE when set. PAWLINEX_MAIL_TIMEOUT (seconds) shortens connect and stall limits.
class CurlMailTransport : public MailTransport {
public:
    // Tests that wait for a hanging server pass their own limits.
    explicit CurlMailTransport(const MailTimeouts& timeouts = {});
    std::string SendMailEx(const std::string& logPath, const std::string& server,
                           const std::string& recipients, const std::string& sender,
                           const std::string& subject, const std::string& body,
                           const std::string& files, MailExchangeReport* report = nullptr) override;
    bool RcvMail(const std::string& server, const std::string& user, const std::string& password,
                 const std::string& command, const std::string& folder,
                 std::string* error = nullptr, MailExchangeReport* report = nullptr) override;
    void requestAbort() override;
    void clearAbort() override;

    const MailTimeouts& timeouts() const { return m_timeouts; }

private:
    MailTimeouts m_timeouts;
    std::atomic<bool> m_abort{false};
};

// One line of mail.log.txt: local time, recipients, subject, result ("OK" or "NG: text"; an OK
// with refused recipients lists them after it). Tabs separate the fields; nothing of the line can
// break it in two. Failures to write are ignored.
void AppendMailLog(const std::string& logPath, const std::string& recipients,
                   const std::string& subject, const std::string& errorText,
                   const std::vector<std::string>& refused = {});

// The forms in which a transport may echo a password back: the password itself, its base64, and
// the base64 of the SASL PLAIN responses "\0user\0password" and "user\0user\0password".
std::vector<std::string> PasswordForms(const std::string& user, const std::string& password);

// Replaces every occurrence of each secret (longest first; secrets under 3 bytes are left, they
// would blank out ordinary words) with "****".
std::string MaskSecrets(std::string text, std::vector<std::string> secrets);

// Japanese words for a failure (UTF-8): from the command the server refused when it refused one
// ("AUTH LOGIN", "RCPT TO:<a@x>", ...), else from libcurl's code, whose own text is English only
// (e.g. "ｻｰﾊﾞｰに接続できません" for a refused connection). Empty when there are none.
std::string MailFailureWords(int code, const std::string& refusedCommand = {});
