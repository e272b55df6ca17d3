#pragma once

#include "mail/MailSendRequest.h"

#include <condition_variable>
#include <mutex>
#include <string>

class MailTransport;

// Sends mail through the stored account (AppSettings.Mail) over one transport: builds the argument
// forms, does POP-before-SMTP when the account asks for it, and hands the message to SendMailEx.
// `main()` makes one over the real client; tests make one over their doubles. The transport must
// outlive the sender. User-interface thread only, except where said.
class MailSender {
public:
    explicit MailSender(MailTransport& transport);

    // True when the server accepted the mail. `files` is one JPEG path followed by a NUL, or empty
    // for a message without attachment. Blocks the calling thread for the transfer.
    bool MailSend(const std::string& recipients, const std::string& subject,
                  const std::string& body, const std::string& files);

    // Same arguments and result, for callers on the user-interface thread: the transfer runs on a
    // worker thread while the caller waits in a local event loop, so windows keep painting and
    // timers (the warning-sound repeat) keep firing. Handlers that run during the wait may ask
    // MailSendInProgress() and must not start another send; a nested call returns false at once
    // ("busy"). Without a Qt application object it simply runs on the calling thread.
    bool MailSendWaiting(const std::string& recipients, const std::string& subject,
                         const std::string& body, const std::string& files);

    // True while a MailSendWaiting transfer runs.
    bool MailSendInProgress() const { return m_busy; }

    // For closing the program during a send: asks the transfer to stop and returns once the worker
    // thread has ended (at most about a second after the transport's next progress check). The
    // waiting MailSendWaiting then returns false. Does nothing when no send runs.
    void AbortMailTransfer();

    // The error text of the last send that failed (empty after a success).
    std::string LastMailError() const { return m_last.error; }
    // The whole outcome of the last send: refused recipients of a partial success, whether a
    // server never answered, Japanese words for a failure.
    MailSendOutcome LastMailOutcome() const { return m_last; }

    // True when the stored mail account has every field its mode needs; set by
    // UpdateMailAccountState from the stored texts of AppSettings.Mail, which also answers it.
    bool MailAccountReady = false;
    bool UpdateMailAccountState();

private:
    MailTransport& m_transport;
    MailSendOutcome m_last;
    bool m_busy = false;
    // The worker's life, shared with AbortMailTransfer which may run inside the wait.
    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_workerRunning = false;
};

// Records in the mail log that a mail was not tried at all, and why ("NG: skipped: why").
void LogSkippedMail(const std::string& recipients, const std::string& subject,
                    const std::string& why);
