#pragma once

#include <string>

// Sends one message through the stored mail account (AppSettings.Mail): builds the argument
// forms, does POP-before-SMTP when the account asks for it, and hands the message to
// SendMailEx. True when the server accepted the mail. `files` is one JPEG path followed by a
// NUL, or empty for a message without attachment. Blocks the calling thread for the transfer;
// the UI-facing callers run it through a worker and a local event loop (see MailTransport).
bool MailSend(const std::string& recipients, const std::string& subject, const std::string& body,
              const std::string& files);

#include "mail/MailSendRequest.h"

// The error text of the last MailSend that failed (empty after a success).
std::string LastMailError();
// The whole outcome of the last MailSend or MailSendWaiting: refused recipients of a partial
// success, whether a server never answered, Japanese words for a failure.
MailSendOutcome LastMailOutcome();

// Records in the mail log that a mail was not tried at all, and why ("NG: skipped: why").
void LogSkippedMail(const std::string& recipients, const std::string& subject,
                    const std::string& why);
