#include "mail/MailSender.h"

#include "mail/MailAccount.h"
#include "mail/MailComposer.h"
#include "mail/MailTransport.h"
#include "settings/AppSettings.h"
#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <thread>

MailSender::MailSender(MailTransport& transport) : m_transport(transport) {}

bool MailSender::MailSend(const std::string& recipients, const std::string& subject,
                          const std::string& body, const std::string& files) {
    m_transport.clearAbort();
    const MailSendRequest request =
        BuildMailSendRequest(AppSettings.Mail, ProgramFolder(), recipients, subject, body, files);
    m_last = RunMailSend(request, m_transport);
    return m_last.sent;
}

bool MailSender::MailSendWaiting(const std::string& recipients, const std::string& subject,
                                 const std::string& body, const std::string& files) {
    if (m_busy) {
        MailSendOutcome busy;
        busy.error = "another mail is being sent";
        m_last = busy;
        return false;
    }
    if (!QCoreApplication::instance())
        return MailSend(recipients, subject, body, files);

    m_busy = true;
    m_transport.clearAbort();
    // AppSettings belongs to this thread: the worker gets finished argument strings only.
    const MailSendRequest request =
        BuildMailSendRequest(AppSettings.Mail, ProgramFolder(), recipients, subject, body, files);

    MailSendOutcome outcome;
    QEventLoop loop;
    {
        std::lock_guard lock(m_mutex);
        m_workerRunning = true;
    }
    std::thread worker([&] {
        outcome = RunMailSend(request, m_transport);
        // Queued, so it is delivered inside loop.exec() even when the transfer ends before the
        // loop has started.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        std::lock_guard lock(m_mutex);
        m_workerRunning = false;
        m_ended.notify_all();
    });
    loop.exec();
    {
        // The loop also ends when the application quits; then the transfer is not waited out.
        std::lock_guard lock(m_mutex);
        if (m_workerRunning)
            m_transport.requestAbort();
    }
    worker.join();
    m_transport.clearAbort(); // an abort asked for this transfer must not hit the next one

    m_busy = false;
    m_last = outcome;
    return outcome.sent;
}

void MailSender::AbortMailTransfer() {
    std::unique_lock lock(m_mutex);
    if (!m_workerRunning)
        return;
    m_transport.requestAbort();
    m_ended.wait(lock, [this] { return !m_workerRunning; });
}

bool MailSender::UpdateMailAccountState() {
    MailAccountReady = MailAccountProblem().empty();
    return MailAccountReady;
}

void LogSkippedMail(const std::string& recipients, const std::string& subject,
                    const std::string& why) {
    AppendMailLog(MailLogPath(ProgramFolder()), recipients, StripLineBreaks(subject),
                  "skipped: " + why);
}
