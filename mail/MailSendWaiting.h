#pragma once

// MailSend for callers on the user-interface thread: the transfer runs on a worker thread while
// the caller waits in a local event loop, so windows keep painting and timers (the warning-sound
// repeat) keep firing. Handlers that run during the wait may call MailSendInProgress() and must
// not start another send; a nested MailSendWaiting returns false at once ("busy").

#include <string>

// Same arguments and result as MailSend; LastMailError() holds the error text afterwards. Without
// a Qt application object it simply runs on the calling thread.
bool MailSendWaiting(const std::string& recipients, const std::string& subject,
                     const std::string& body, const std::string& files);

// True while a MailSendWaiting transfer runs.
bool MailSendInProgress();

// For closing the program during a send: asks the transfer to stop and returns once the worker
// thread has ended (at most about a second after libcurl's next progress check). The waiting
// MailSendWaiting then returns false. Does nothing when no send runs.
void AbortMailTransfer();
