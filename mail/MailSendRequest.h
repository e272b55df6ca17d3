#pragma once

// The argument forms MailSend hands to the transport, built apart from the transfer so that the
// user-interface thread can build them from AppSettings and a worker can run them.

#include "mail/MailTransport.h"
#include "settings/AppSettings.h"

#include <optional>
#include <string>

struct PopBeforeSmtp {
    std::string server;
    std::string user;
    std::string password;
    std::string command; // "STAT"
    std::string folder;  // the program folder
};

struct MailSendRequest {
    std::string logPath;
    std::string server;
    std::string recipients; // caller's text, TAB, ">Reply-To: " + account address
    std::string sender;     // "<address>" [TAB user:password TAB mechanism]
    std::string subject;
    std::string body;
    std::string files;
    std::optional<PopBeforeSmtp> pop;
    // Set when the caller's recipient text is not a usable address list: nothing is sent, the
    // log records why.
    std::string recipientError;
};

// "mail.log.txt" inside `folder`, with exactly one separator between them.
std::string MailLogPath(const std::string& folder);

// Reads a stored flag the way the account check does: a whole number, spaces around allowed;
// anything else gives nullopt.
std::optional<long> ReadSettingNumber(const std::string& text);

// Builds the arguments from the stored account. The recipient text is checked as an address
// list before the Reply-To entry is joined to it (a tab in it would add a header of its own). CR
// and LF are removed from every field that ends up in a header or in the SMTP dialogue, so typed
// text cannot add headers or commands.
MailSendRequest BuildMailSendRequest(const MailSettings& account, const std::string& programFolder,
                                     const std::string& recipients, const std::string& subject,
                                     const std::string& body, const std::string& files);

struct MailSendOutcome {
    bool sent = false;
    std::string error;         // empty when sent
    MailExchangeReport report; // of the exchange that ended it (POP or SMTP)
};

// POP-before-SMTP when asked (a failure ends it before any SMTP connection), then the send.
MailSendOutcome RunMailSend(const MailSendRequest& request, MailTransport& transport);
