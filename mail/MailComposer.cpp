#include "mail/MailComposer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string trimBlanks(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && isBlank(s[b]))
        ++b;
    while (e > b && isBlank(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

bool equalsNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

bool isPlainAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x7f;
    });
}

bool isHeaderName(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && c != ':';
    });
}

// Splits at a boundary byte that does not start inside a UTF-8 sequence.
std::vector<std::string> utf8Chunks(const std::string& text, size_t maxBytes) {
    std::vector<std::string> chunks;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = std::min(start + maxBytes, text.size());
        if (end < text.size()) {
            size_t cut = end;
            while (cut > start && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
                --cut;
            if (cut > start) // broken UTF-8 with no lead byte in reach: cut anyway
                end = cut;
        }
        chunks.push_back(text.substr(start, end - start));
        start = end;
    }
    return chunks;
}

std::string twoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

std::string percentEncode(const std::string& s) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Body lines end in CR LF whatever the caller typed (LF from Linux widgets, CR LF from old
// settings files, a lone CR from pasted text).
std::string normaliseLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

bool needsBase64Body(const std::string& crlfBody) {
    size_t lineLength = 0;
    for (char c : crlfBody) {
        auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || u == 0)
            return true;
        if (c == '\n') {
            lineLength = 0;
        } else if (++lineLength > 900) {
            return true;
        }
    }
    return false;
}

std::string bodyPart(const std::string& body, std::string& headers) {
    const std::string crlf = normaliseLineEnds(body);
    if (needsBase64Body(crlf)) {
        headers = "Content-Type: text/plain; charset=UTF-8\r\n"
                  "Content-Transfer-Encoding: base64\r\n";
        return Base64Encode(crlf, 76);
    }
    headers = "Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: 7bit\r\n";
    return crlf;
}

std::string domainOf(const std::string& address) {
    const auto at = address.rfind('@');
    std::string d = at == std::string::npos ? std::string() : address.substr(at + 1);
    if (d.empty() || !isHeaderName(d) || d.find_first_of("<>") != std::string::npos)
        return "pawlinex.invalid";
    return d;
}

} // namespace

std::optional<ServerAddress> ParseServer(const std::string& server, int defaultPort,
                                         std::string* error) {
    const auto tab = server.find('\t');
    std::string host = trimBlanks(StripLineBreaks(server.substr(0, tab)));
    std::string port;
    if (tab != std::string::npos) {
        const auto rest = server.substr(tab + 1);
        port = trimBlanks(rest.substr(0, rest.find('\t')));
    }
    auto fail = [&](const std::string& why) -> std::optional<ServerAddress> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    if (host.empty())
        return fail("no server name");
    if (host.find_first_of(" /?#@") != std::string::npos)
        return fail("invalid server name: " + host);
    ServerAddress out;
    out.host = host;
    if (port.empty()) {
        out.port = defaultPort;
        return out;
    }
    if (port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fail("invalid port: " + port);
    out.port = std::stoi(port);
    if (out.port < 1 || out.port > 65535)
        return fail("invalid port: " + port);
    return out;
}

RecipientList ParseRecipients(const std::string& recipients) {
    RecipientList list;
    size_t start = 0;
    while (start <= recipients.size()) {
        auto tab = recipients.find('\t', start);
        if (tab == std::string::npos)
            tab = recipients.size();
        // Line breaks are dropped from a header line, but make an address list faulty.
        const std::string raw = recipients.substr(start, tab - start);
        const std::string field = StripLineBreaks(raw);
        start = tab + 1;
        if (!field.empty() && field[0] == '>') {
            const auto colon = field.find(':');
            if (colon == std::string::npos)
                continue;
            std::string name = trimBlanks(field.substr(1, colon - 1));
            std::string value = trimBlanks(field.substr(colon + 1));
            if (isHeaderName(name))
                list.extraHeaders.emplace_back(std::move(name), std::move(value));
            continue;
        }
        if (trimBlanks(raw).empty())
            continue;
        const AddressListResult parsed = ParseAddressList(raw);
        if (!parsed.ok()) {
            if (list.error.empty())
                list.error = AddressProblemText(parsed.problem) +
                             (parsed.badEntry.empty() ? "" : ": " + parsed.badEntry);
            continue;
        }
        list.addresses.insert(list.addresses.end(), parsed.addresses.begin(),
                              parsed.addresses.end());
    }
    return list;
}

SenderSpec ParseSender(const std::string& sender) {
    SenderSpec spec;
    const std::string clean = StripLineBreaks(sender);
    const auto tab1 = clean.find('\t');
    std::string addr = trimBlanks(clean.substr(0, tab1));
    if (addr.size() >= 2 && addr.front() == '<' && addr.back() == '>')
        addr = addr.substr(1, addr.size() - 2);
    spec.address = trimBlanks(addr);
    if (tab1 == std::string::npos)
        return spec;
    const auto tab2 = clean.find('\t', tab1 + 1);
    const std::string credentials =
        clean.substr(tab1 + 1, tab2 == std::string::npos ? std::string::npos : tab2 - tab1 - 1);
    // The name cannot hold a colon; the password may.
    const auto colon = credentials.find(':');
    spec.user = credentials.substr(0, colon);
    spec.password = colon == std::string::npos ? std::string() : credentials.substr(colon + 1);
    spec.mechanism =
        tab2 == std::string::npos ? std::string("LOGIN") : trimBlanks(clean.substr(tab2 + 1));
    spec.authenticate = !spec.user.empty();
    return spec;
}

std::string StripLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n')
            out += c;
    return out;
}

std::string Base64Encode(const std::string& data, int lineLength) {
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(data.size() * 4 / 3 + 4 + (lineLength ? data.size() / lineLength * 2 : 0));
    int column = 0;
    auto put = [&](char c) {
        out += c;
        if (lineLength > 0 && ++column == lineLength) {
            out += "\r\n";
            column = 0;
        }
    };
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const uint32_t v = (static_cast<unsigned char>(data[i]) << 16) |
                           (static_cast<unsigned char>(data[i + 1]) << 8) |
                           static_cast<unsigned char>(data[i + 2]);
        put(table[(v >> 18) & 63]);
        put(table[(v >> 12) & 63]);
        put(table[(v >> 6) & 63]);
        put(table[v & 63]);
    }
    if (i < data.size()) {
        uint32_t v = static_cast<unsigned char>(data[i]) << 16;
        if (i + 1 < data.size())
            v |= static_cast<unsigned char>(data[i + 1]) << 8;
        put(table[(v >> 18) & 63]);
        put(table[(v >> 12) & 63]);
        put(i + 1 < data.size() ? table[(v >> 6) & 63] : '=');
        put('=');
    }
    if (lineLength > 0 && column != 0)
        out += "\r\n";
    return out;
}

std::string EncodeHeaderText(const std::string& text) {
    if (isPlainAscii(text) && text.find("=?") == std::string::npos && text.size() <= 900)
        return text;
    // 36 bytes give 48 base64 characters: each encoded line stays within 78 characters.
    std::string out;
    for (const auto& chunk : utf8Chunks(text, 36)) {
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + Base64Encode(chunk) + "?=";
    }
    return out;
}

std::string FormatAddress(const MailAddress& address) {
    if (address.displayName.empty())
        return address.address;
    std::string name;
    if (isPlainAscii(address.displayName)) {
        name = "\"";
        for (char c : address.displayName) {
            if (c == '"' || c == '\\')
                name += '\\';
            name += c;
        }
        name += "\"";
    } else {
        name = EncodeHeaderText(address.displayName);
    }
    return name + " <" + address.address + ">";
}

std::string FormatMailDate(std::time_t when) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    localtime_r(&when, &tm);
    long offset = tm.tm_gmtoff / 60;
    const char sign = offset < 0 ? '-' : '+';
    offset = offset < 0 ? -offset : offset;
    return std::string(days[tm.tm_wday % 7]) + ", " + twoDigits(tm.tm_mday) + " " +
           months[tm.tm_mon % 12] + " " + std::to_string(tm.tm_year + 1900) + " " +
           twoDigits(tm.tm_hour) + ":" + twoDigits(tm.tm_min) + ":" + twoDigits(tm.tm_sec) + " " +
           sign + twoDigits(static_cast<int>(offset / 60)) +
           twoDigits(static_cast<int>(offset % 60));
}

std::string ContentTypeForFile(const std::string& path) {
    const auto dot = path.rfind('.');
    const std::string ext = dot == std::string::npos ? std::string() : path.substr(dot + 1);
    if (equalsNoCase(ext, "jpg") || equalsNoCase(ext, "jpeg"))
        return "image/jpeg";
    return "application/octet-stream";
}

std::string ComposeMessage(const MailContent& content, const MessageStamp& stamp) {
    // Headers in the order they are written; an extra header of the same name replaces ours.
    std::vector<std::pair<std::string, std::string>> headers;
    headers.emplace_back("Date", FormatMailDate(stamp.when));
    headers.emplace_back("From", StripLineBreaks(content.from));
    std::string to;
    for (const auto& a : content.recipients.addresses) {
        if (!to.empty())
            to += ",\r\n ";
        to += FormatAddress(a);
    }
    headers.emplace_back("To", to);
    headers.emplace_back("Subject", EncodeHeaderText(StripLineBreaks(content.subject)));
    char stampText[32];
    std::tm tm{};
    localtime_r(&stamp.when, &tm);
    std::strftime(stampText, sizeof stampText, "%Y%m%d%H%M%S", &tm);
    headers.emplace_back("Message-ID", std::string("<") + stampText + "." + stamp.unique + "@" +
                                           domainOf(content.from) + ">");
    for (const auto& [name, value] : content.recipients.extraHeaders) {
        // The MIME structure is ours alone: a caller's Content-* header would break it.
        if (equalsNoCase(name, "MIME-Version") || equalsNoCase(name.substr(0, 8), "Content-"))
            continue;
        const std::string encoded = EncodeHeaderText(StripLineBreaks(value));
        auto same = std::find_if(headers.begin(), headers.end(),
                                 [&](const auto& h) { return equalsNoCase(h.first, name); });
        if (same != headers.end())
            same->second = encoded;
        else
            headers.emplace_back(name, encoded);
    }

    std::string message;
    for (const auto& [name, value] : headers)
        message += name + ": " + value + "\r\n";
    message += "MIME-Version: 1.0\r\n";

    std::string textHeaders;
    const std::string text = bodyPart(content.body, textHeaders);
    auto withFinalBreak = [](std::string s) {
        if (s.size() < 2 || s.compare(s.size() - 2, 2, "\r\n") != 0)
            s += "\r\n";
        return s;
    };
    if (!content.attachment) {
        message += textHeaders + "\r\n" + withFinalBreak(text);
        return message;
    }

    const Attachment& att = *content.attachment;
    const std::string boundary = "=_pawlinex_" + stamp.unique;
    message += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    message += "This is a multi-part message in MIME format.\r\n";
    message += "--" + boundary + "\r\n" + textHeaders + "\r\n" + withFinalBreak(text);
    message += "--" + boundary + "\r\n";
    const std::string fileName = StripLineBreaks(att.fileName);
    if (isPlainAscii(fileName) && fileName.find_first_of("\"\\") == std::string::npos) {
        message += "Content-Type: " + att.contentType + "; name=\"" + fileName + "\"\r\n";
        message += "Content-Disposition: attachment; filename=\"" + fileName + "\"\r\n";
    } else {
        const std::string encoded = percentEncode(fileName);
        message += "Content-Type: " + att.contentType + ";\r\n name*=UTF-8''" + encoded + "\r\n";
        message += "Content-Disposition: attachment;\r\n filename*=UTF-8''" + encoded + "\r\n";
    }
    message += "Content-Transfer-Encoding: base64\r\n\r\n";
    message += Base64Encode(att.data, 76);
    message += "--" + boundary + "--\r\n";
    return message;
}
