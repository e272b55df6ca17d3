#pragma once

#include <string>
#include <string_view>

// Strict conversions between UTF-8 (the program's own strings) and the encodings a settings file
// may use on disk. Every function returns false instead of substituting a character, so callers
// can tell a faithful conversion from a lossy one.
namespace TextCodec {

// UTF-8 -> CP932 (Shift-JIS as Windows uses it). Also fails for the characters that glibc maps
// one way only (a yen sign becomes 0x5C, a wave dash becomes the full-width tilde): text that
// would not read back identically counts as not representable.
bool toCp932(std::string_view utf8, std::string& out);

// CP932 -> UTF-8. Fails on bytes that are not a CP932 character.
bool fromCp932(std::string_view bytes, std::string& out);

// UTF-16 (little- or big-endian, no byte-order mark) -> UTF-8. Fails on an odd byte count and
// on a surrogate without its partner.
bool fromUtf16(std::string_view bytes, bool bigEndian, std::string& out);

bool isValidUtf8(std::string_view bytes);

// Splits UTF-8 text into its characters (one string per code point). Invalid bytes come out
// one byte per element.
std::u32string toCodePoints(std::string_view utf8);
std::string fromCodePoints(std::u32string_view codePoints);

} // namespace TextCodec
