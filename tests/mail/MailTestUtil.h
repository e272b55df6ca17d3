#pragma once

// Small helpers shared by the mail tests.

#include <string>

inline std::string Base64Decode(const std::string& in) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        if (c == '+')
            return 62;
        if (c == '/')
            return 63;
        return -1;
    };
    std::string out;
    int bits = 0;
    unsigned buffer = 0;
    for (char c : in) {
        const int v = value(c);
        if (v < 0)
            continue; // line breaks and padding
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return out;
}

// Decodes a header value made of "=?UTF-8?B?...?=" words (folded or not) back to UTF-8.
inline std::string DecodeEncodedWords(const std::string& value) {
    std::string out;
    size_t pos = 0;
    bool any = false;
    while (true) {
        const auto start = value.find("=?UTF-8?B?", pos);
        if (start == std::string::npos)
            break;
        const auto end = value.find("?=", start + 10);
        if (end == std::string::npos)
            break;
        out += Base64Decode(value.substr(start + 10, end - start - 10));
        pos = end + 2;
        any = true;
    }
    return any ? out : value;
}
