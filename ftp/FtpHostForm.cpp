#include "ftp/FtpHostForm.h"

#include "settings/basCommon.h"

#include <algorithm>
#include <cctype>

namespace {

std::string trimSpaces(const std::string& s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

bool fail(std::string* why, const std::string& reason) {
    if (why)
        *why = reason;
    return false;
}

bool parsePort(const std::string& text, int& port, std::string* why) {
    const bool digits = !text.empty() && text.size() <= 5 &&
                        text.find_first_not_of("0123456789") == std::string::npos;
    const int value = digits ? std::stoi(text) : 0;
    if (value < 1 || value > 65535)
        return fail(why, "bad port \"" + text + "\"");
    port = value;
    return true;
}

bool checkHost(const std::string& host, std::string* why) {
    if (host.empty())
        return fail(why, "no host given");
    if (host.find_first_of(" /@[]") != std::string::npos)
        return fail(why, "bad host \"" + host + "\"");
    return true;
}

// "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 address (two colons or more).
bool parseHostPort(const std::string& text, FtpHostParts& parts, std::string* why) {
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos)
            return fail(why, "missing \"]\" after the IPv6 address");
        parts.host = text.substr(1, close - 1);
        const std::string rest = text.substr(close + 1);
        if (parts.host.find(':') == std::string::npos)
            return fail(why, "brackets hold no IPv6 address");
        if (!rest.empty() && rest.front() != ':')
            return fail(why, "bad text after \"]\"");
        if (!rest.empty() && !parsePort(rest.substr(1), parts.port, why))
            return false;
        return checkHost(parts.host, why);
    }
    const size_t colons = std::count(text.begin(), text.end(), ':');
    if (colons == 1) {
        const size_t colon = text.find(':');
        parts.host = text.substr(0, colon);
        if (!parsePort(text.substr(colon + 1), parts.port, why))
            return false;
    } else {
        parts.host = text;
    }
    return checkHost(parts.host, why);
}

bool percentDecode(const std::string& in, std::string& out, std::string* why) {
    out.clear();
    for (size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '%') {
            out += in[i];
            continue;
        }
        if (i + 2 >= in.size() || !std::isxdigit(static_cast<unsigned char>(in[i + 1])) ||
            !std::isxdigit(static_cast<unsigned char>(in[i + 2])))
            return fail(why, "bad %-escape in the address");
        out += static_cast<char>(std::stoi(in.substr(i + 1, 2), nullptr, 16));
        i += 2;
    }
    // An escape must not smuggle in what the plain text may not hold.
    if (HasControlCharacter(out))
        return fail(why, "control character in the address");
    return true;
}

bool parseUrl(const std::string& rest, FtpHostParts& parts, std::string* why) {
    const size_t slash = rest.find('/');
    std::string authority = rest.substr(0, slash);
    if (slash != std::string::npos) {
        std::string folder;
        if (!percentDecode(rest.substr(slash + 1), folder, why))
            return false;
        if (!folder.empty())
            parts.folder = folder;
    }
    // The last "@" ends the login, so an unescaped "@" in a password still works.
    const size_t at = authority.rfind('@');
    if (at != std::string::npos) {
        const std::string login = authority.substr(0, at);
        const size_t colon = login.find(':');
        std::string user, pass;
        if (!percentDecode(login.substr(0, colon), user, why))
            return false;
        parts.user = user;
        if (colon != std::string::npos) {
            if (!percentDecode(login.substr(colon + 1), pass, why))
                return false;
            parts.pass = pass;
        }
        authority = authority.substr(at + 1);
    }
    if (authority.find(' ') != std::string::npos)
        return fail(why, "space in the address");
    return parseHostPort(authority, parts, why);
}

} // namespace

std::optional<FtpHostParts> ParseFtpHost(const std::string& text, std::string* why) {
    if (why)
        why->clear();
    if (HasControlCharacter(text)) {
        fail(why, "control character in the host");
        return std::nullopt;
    }
    const std::string t = trimSpaces(text);
    FtpHostParts parts;
    bool ok = false;
    const size_t scheme = t.find("://");
    if (scheme != std::string::npos) {
        std::string name = t.substr(0, scheme);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        ok = name == "ftp" ? parseUrl(t.substr(scheme + 3), parts, why)
                           : fail(why, "only ftp:// addresses can be used");
    } else if (const size_t sp = t.find(' '); sp != std::string::npos) {
        // Today's stored form "host port"; the host may be a bracketed or bare IPv6 address.
        std::string host = t.substr(0, sp);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
            host = host.substr(1, host.size() - 2);
        parts.host = host;
        ok = (std::count(host.begin(), host.end(), ':') != 1 ||
              fail(why, "bad host \"" + host + "\"")) &&
             checkHost(host, why) && parsePort(trimSpaces(t.substr(sp + 1)), parts.port, why);
    } else {
        ok = parseHostPort(t, parts, why);
    }
    if (!ok)
        return std::nullopt;
    return parts;
}

std::string FtpHostStoredForm(const FtpHostParts& parts) {
    return parts.port > 0 ? parts.host + " " + std::to_string(parts.port) : parts.host;
}
