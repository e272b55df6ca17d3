#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// An INI-style profile file with the semantics that stored pawlinex.ini files rely on:
// - section and key names compare without regard to (ASCII) case; the first section and the
//   first key of a name win;
// - values are read trimmed of U+0020 spaces only (rawValue() gives the untrimmed text);
// - every line that is not changed through setValue()/removeKey() is written back byte for byte
//   (comments, unknown keys, sections of other tools), only line ends become CR LF;
// - a new key goes after the last non-blank line of its section, a new section at the end;
// - text is CP932 on disk unless some line needs a character CP932 lacks, or the CP932 bytes
//   would pass for UTF-8 (see looksLikeUtf8), then the whole file is UTF-8 with a byte-order mark;
// - on reading, a UTF-8 or UTF-16 (LE or BE) byte-order mark decides the encoding (repeated marks
//   are skipped); without one the file is CP932 unless looksLikeUtf8 holds for it. A UTF-32
//   file, broken UTF-16, or a section or key line that cannot be decoded fails the load: reading
//   part of such a file and saving it would lose the rest. Comments and other lines that cannot
//   be decoded are kept byte for byte.
// All texts passed in and out are UTF-8. Not thread-safe; one owner at a time.
class ProfileFile {
public:
    enum class Encoding { Cp932, Utf8, Utf8Bom, Utf16LeBom, Utf16BeBom };
    enum class LoadResult { Loaded, Missing, Unreadable };

    // Reads the file at `path` (through symbolic links). A missing file gives an empty profile.
    // Unreadable covers everything else that cannot be read as a whole: not a regular file (a
    // pipe or device would block or never end), an I/O error, text that cannot be decoded. The
    // profile is then empty, `error` (when given) says why in one line without the path, and
    // the caller must not save over the file.
    LoadResult load(const std::string& path, std::string* error = nullptr);
    // Parses bytes as they would be on disk (byte-order mark included). On false the profile is
    // empty and `error` says why.
    bool parse(std::string_view bytes, std::string* error = nullptr);

    // Bytes without a byte-order mark count as UTF-8 when they are valid UTF-8 and hold at least
    // one character of three or more bytes, as Japanese text from a Linux editor does. CP932
    // text is valid UTF-8 by accident far more often with two-byte pairs alone (half-width kana
    // pairs such as "ﾃｽ" are), so those are left to CP932.
    static bool looksLikeUtf8(std::string_view bytes);

    // The value text after the first '=', untrimmed; nullopt when the key is not there.
    std::optional<std::string> rawValue(std::string_view section, std::string_view key) const;
    // The value trimmed of U+0020 spaces; empty when the key is missing.
    std::string value(std::string_view section, std::string_view key) const;
    bool hasKey(std::string_view section, std::string_view key) const;

    // Creates the section and key as needed. A value cannot span lines: anything from its first
    // line break on is dropped (a raw line break would plant stray lines in the file).
    void setValue(std::string_view section, std::string_view key, std::string_view value);
    void removeKey(std::string_view section, std::string_view key);

    // The bytes save() writes, and the encoding they are in.
    std::string serialize(Encoding* used = nullptr) const;

    // Writes atomically: a temporary file in the same folder, mode 0600, flushed to disk, then
    // renamed over `path` (over the target when `path` is a symbolic link). An existing target
    // that is not a regular file, or that the user may not write, is not replaced. On failure
    // the old file is untouched, no temporary file is left and `error` (when given) says why.
    bool save(const std::string& path, std::string* error = nullptr) const;

    Encoding sourceEncoding() const { return m_source; }

private:
    struct Line {
        std::string raw;  // bytes as read, in m_source's encoding, without the line end
        std::string text; // UTF-8
        bool dirty = false;
        bool undecodable = false; // text is a stand-in; only raw may be written
    };

    struct Location {
        size_t sectionHeader = npos; // index of the section's header line
        size_t sectionEnd = npos;    // one past the section's last line
        size_t keyLine = npos;
    };
    static constexpr size_t npos = static_cast<size_t>(-1);

    Location locate(std::string_view section, std::string_view key) const;
    static std::optional<std::string> sectionName(const std::string& text);
    static std::optional<std::string> keyName(const std::string& text);

    std::vector<Line> m_lines;
    Encoding m_source = Encoding::Cp932;
};
