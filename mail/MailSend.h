#pragma once

#include <string>

// Sends one message through the stored mail account (AppSettings.Mail): builds the argument
// forms, does POP-before-SMTP when the account asks for it, and hands the message to
// SendMailEx. True when the server accepted the mail. `files` is one JPEG path followed by a
// NUL, or empty for a message without attachment. Blocks the calling thread for the transfer;
// the UI-facing callers run it through a worker and a local event loop (see MailTransport).
bool MailSend(const std::string& recipients, const std::string& subject, const std::string& body,
              const std::string& files);

// The error text of the last MailSend that failed (empty after a success).
std::string LastMailError();
