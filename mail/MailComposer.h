#pragma once

// Pure pieces of the mail transport: parsing the argument forms that MailSend builds and composing
// the RFC 5322 / MIME message. No network, no clock, no randomness of their own, so every byte of a
// message can be checked in a unit test.

#include "mail/MailAddressList.h"

#include <ctime>
#include <optional>
#include <string>
#include <vector>

// "host<TAB>port"; an empty port means 25 (SMTP) or 110 (POP3), given as defaultPort.
struct ServerAddress {
    std::string host;
    int port = 0;
};
// Empty optional when the host is empty or the port is not a number 1..65535; `error` says why.
std::optional<ServerAddress> ParseServer(const std::string& server, int defaultPort,
                                         std::string* error = nullptr);

// The recipients argument: tab-separated fields; a field starting with '>' is one extra header
// line ("Name: value"), every other field is an address list (ParseAddressList). A faulty list
// leaves `error` set and contributes no address, so nothing of it reaches the server.
struct RecipientList {
    std::vector<MailAddress> addresses;
    std::vector<std::pair<std::string, std::string>> extraHeaders; // name, value
    std::string error; // empty, or the faulty entry and what is wrong with it
};
RecipientList ParseRecipients(const std::string& recipients);

// The sender argument: "<address>" optionally followed by TAB "user:password" TAB mechanism.
struct SenderSpec {
    std::string address; // without the angle brackets
    bool authenticate = false;
    std::string user;
    std::string password;
    std::string mechanism; // "LOGIN" or "CRAM-MD5" as given
};
SenderSpec ParseSender(const std::string& sender);

// Removes every CR and LF, so a typed value can never start a header of its own.
std::string StripLineBreaks(const std::string& text);

// Standard base64; lineLength 0 means one line, otherwise lines end in CR LF.
std::string Base64Encode(const std::string& data, int lineLength = 0);

// An unstructured header value: unchanged when it is plain printable ASCII, else a sequence of
// RFC 2047 "=?UTF-8?B?...?=" words, folded with CR LF SPACE, never splitting a UTF-8 character.
std::string EncodeHeaderText(const std::string& text);

// "name <addr>" with the name quoted or encoded as needed; the bare address without a name.
std::string FormatAddress(const MailAddress& address);

// "Mon, 07 Dec 2026 05:20:54 +0900" in the local zone of `when`.
std::string FormatMailDate(std::time_t when);

struct Attachment {
    std::string fileName; // name shown to the reader, UTF-8
    std::string contentType;
    std::string data;
};

struct MailContent {
    std::string from; // bare address
    RecipientList recipients;
    std::string subject;
    std::string body;
    std::optional<Attachment> attachment;
};

// Values that would otherwise come from the clock and a random source.
struct MessageStamp {
    std::time_t when = 0;
    std::string unique; // letters and digits, used in Message-ID and the MIME boundary
};

// The whole message with CR LF line ends, ready for DATA (libcurl does the dot-stuffing).
std::string ComposeMessage(const MailContent& content, const MessageStamp& stamp);

// "image/jpeg" for .jpg/.jpeg, else "application/octet-stream".
std::string ContentTypeForFile(const std::string& path);
