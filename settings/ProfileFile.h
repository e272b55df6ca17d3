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
// - text is CP932 on disk unless some line needs a character CP932 lacks, then the whole file
//   is UTF-8 with a byte-order mark. CP932, UTF-8 (with or without BOM) and UTF-16LE with a BOM
//   are read alike.
// All texts passed in and out are UTF-8. Not thread-safe; one owner at a time.
class ProfileFile {
public:
    enum class Encoding { Cp932, Utf8, Utf8Bom, Utf16LeBom };
    enum class LoadResult { Loaded, Missing, Unreadable };

    // Reads the file at `path`. A missing file gives an empty profile; an unreadable one too,
    // but the caller learns about it and must not save over it.
    LoadResult load(const std::string& path);
    // Parses bytes as they would be on disk (byte-order mark included).
    void parse(std::string_view bytes);

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
    // renamed over `path`. On failure the old file is untouched, no temporary file is left and
    // `error` (when given) says why.
    bool save(const std::string& path, std::string* error = nullptr) const;

    Encoding sourceEncoding() const { return m_source; }

private:
    struct Line {
        std::string raw;  // bytes as read, in m_source's encoding, without the line end
        std::string text; // UTF-8
        bool dirty = false;
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
