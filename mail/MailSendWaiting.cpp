#include "mail/MailSendWaiting.h"

#include "mail/MailSend.h"
#include "mail/MailSendRequest.h"
#include "mail/MailTransport.h"
#include "settings/AppSettings.h"
#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

bool g_busy = false; // user-interface thread only

// The worker's life, shared with AbortMailTransfer which may run inside the wait.
std::mutex g_mutex;
std::condition_variable g_ended;
bool g_workerRunning = false;

} // namespace

bool MailSendWaiting(const std::string& recipients, const std::string& subject,
                     const std::string& body, const std::string& files) {
    if (g_busy) {
        MailSendOutcome busy;
        busy.error = "another mail is being sent";
        SetLastMailOutcome(busy);
        return false;
    }
    if (!QCoreApplication::instance())
        return MailSend(recipients, subject, body, files);

    g_busy = true;
    ClearMailAbort();
    // AppSettings belongs to this thread: the worker gets finished argument strings only.
    const MailSendRequest request =
        BuildMailSendRequest(AppSettings.Mail, ProgramFolder(), recipients, subject, body, files);
    MailTransport& transport = CurrentMailTransport();

    MailSendOutcome outcome;
    QEventLoop loop;
    {
        std::lock_guard lock(g_mutex);
        g_workerRunning = true;
    }
    std::thread worker([&] {
        outcome = RunMailSend(request, transport);
        // Queued, so it is delivered inside loop.exec() even when the transfer ends before the
        // loop has started.
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
        std::lock_guard lock(g_mutex);
        g_workerRunning = false;
        g_ended.notify_all();
    });
    loop.exec();
    {
        // The loop also ends when the application quits; then the transfer is not waited out.
        std::lock_guard lock(g_mutex);
        if (g_workerRunning)
            RequestMailAbort();
    }
    worker.join();
    ClearMailAbort(); // an abort asked for this transfer must not hit the next one

    g_busy = false;
    SetLastMailOutcome(outcome);
    return outcome.sent;
}

bool MailSendInProgress() {
    return g_busy;
}

void AbortMailTransfer() {
    std::unique_lock lock(g_mutex);
    if (!g_workerRunning)
        return;
    RequestMailAbort();
    g_ended.wait(lock, [] { return !g_workerRunning; });
}
