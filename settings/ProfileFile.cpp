#include "settings/ProfileFile.h"

#include "settings/TextCodec.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string_view trimNameBlanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

std::string_view trimSpaces(std::string_view s) {
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

bool isCp932Lead(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

// Decodes what can be decoded and marks the rest with U+FFFD; only used for lines that are not
// valid CP932, which are otherwise written back as their original bytes.
std::string lossyFromCp932(std::string_view bytes) {
    std::string out, piece;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        size_t len = (isCp932Lead(c) && i + 1 < bytes.size()) ? 2 : 1;
        if (TextCodec::fromCp932(bytes.substr(i, len), piece))
            out += piece;
        else
            out += "\xEF\xBF\xBD";
        i += len;
    }
    return out;
}

std::string lossyFromUtf8(std::string_view bytes) {
    if (TextCodec::isValidUtf8(bytes))
        return std::string(bytes);
    std::string out;
    for (char32_t cp : TextCodec::toCodePoints(bytes))
        out += (cp >= 0x80 && cp < 0x100) ? std::string("\xEF\xBF\xBD")
                                          : TextCodec::fromCodePoints(std::u32string(1, cp));
    return out;
}

std::vector<std::string_view> splitLines(std::string_view body) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] != '\r' && body[i] != '\n')
            continue;
        lines.push_back(body.substr(start, i - start));
        if (body[i] == '\r' && i + 1 < body.size() && body[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < body.size())
        lines.push_back(body.substr(start));
    return lines;
}

std::string errnoText(const std::string& what, int err) {
    return what + ": " + std::strerror(err);
}

// Far beyond any settings file; a bound so that a huge file in its place cannot exhaust memory.
constexpr size_t kMaxFileSize = 16 * 1024 * 1024;

} // namespace

ProfileFile::LoadResult ProfileFile::load(const std::string& path, std::string* error) {
    m_lines.clear();
    m_source = Encoding::Cp932;
    auto unreadable = [&](const std::string& why) {
        if (error)
            *error = why;
        return LoadResult::Unreadable;
    };
    // A pipe would wait for a writer, a device might never end or react to being opened: only a
    // regular file is opened, and non-blocking in case it was swapped for a pipe meanwhile.
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return LoadResult::Missing;
        return unreadable(errnoText("cannot be read", errno));
    }
    if (!S_ISREG(st.st_mode))
        return unreadable("is not a regular file (a folder, pipe or device)");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return unreadable(errnoText("cannot be read", errno));
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return unreadable("is not a regular file (a folder, pipe or device)");
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return unreadable(errnoText("cannot be read", err));
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
        if (bytes.size() > kMaxFileSize) {
            ::close(fd);
            return unreadable("is too large for a settings file");
        }
    }
    ::close(fd);
    return parse(bytes, error) ? LoadResult::Loaded : LoadResult::Unreadable;
}

bool ProfileFile::looksLikeUtf8(std::string_view bytes) {
    if (!TextCodec::isValidUtf8(bytes))
        return false;
    // In valid UTF-8 every byte from 0xE0 up leads a sequence of three or four bytes.
    for (char c : bytes)
        if (static_cast<unsigned char>(c) >= 0xE0)
            return true;
    return false;
}

bool ProfileFile::parse(std::string_view bytes, std::string* error) {
    m_lines.clear();
    m_source = Encoding::Cp932;
    auto fail = [&](const std::string& why) {
        m_lines.clear();
        if (error)
            *error = why;
        return false;
    };
    constexpr std::string_view utf8Bom = "\xEF\xBB\xBF";
    std::string utf16Text;
    std::string_view body = bytes;
    // UTF-32LE's mark begins with UTF-16LE's, so it is looked for first.
    if (body.starts_with(std::string_view("\xFF\xFE\0\0", 4)) ||
        body.starts_with(std::string_view("\0\0\xFE\xFF", 4)))
        return fail("is UTF-32 text, which is not read; save it as UTF-8 or Shift-JIS");
    if (body.starts_with(utf8Bom)) {
        m_source = Encoding::Utf8Bom;
    } else if (body.starts_with("\xFF\xFE") || body.starts_with("\xFE\xFF")) {
        const bool bigEndian = body[0] == '\xFE';
        m_source = bigEndian ? Encoding::Utf16BeBom : Encoding::Utf16LeBom;
        if (!TextCodec::fromUtf16(body.substr(2), bigEndian, utf16Text))
            return fail("is broken UTF-16 text (an odd byte or an unpaired surrogate)");
        body = utf16Text;
    } else if (looksLikeUtf8(body)) {
        m_source = Encoding::Utf8;
    }
    // Editors that add a mark to a file that has one leave a second one behind; it is not text.
    while (m_source != Encoding::Cp932 && body.starts_with(utf8Bom))
        body.remove_prefix(utf8Bom.size());

    size_t number = 0;
    for (std::string_view rawLine : splitLines(body)) {
        ++number;
        Line line;
        line.raw = std::string(rawLine);
        if (m_source == Encoding::Cp932) {
            line.undecodable = !TextCodec::fromCp932(rawLine, line.text);
            if (line.undecodable)
                line.text = lossyFromCp932(rawLine);
        } else {
            line.undecodable = !TextCodec::isValidUtf8(rawLine);
            line.text = line.undecodable ? lossyFromUtf8(rawLine) : line.raw;
        }
        // A garbled name or value would be read as something else, and the next save would make
        // that permanent.
        if (line.undecodable && (sectionName(line.text) || keyName(line.text)))
            return fail(std::string("has text that is not valid ") +
                        (m_source == Encoding::Cp932 ? "Shift-JIS (CP932)" : "UTF-8") +
                        " on line " + std::to_string(number));
        m_lines.push_back(std::move(line));
    }
    return true;
}

std::optional<std::string> ProfileFile::sectionName(const std::string& text) {
    std::string_view s = trimNameBlanks(text);
    if (!s.starts_with('['))
        return std::nullopt;
    s.remove_prefix(1);
    size_t close = s.find(']');
    if (close != std::string_view::npos)
        s = s.substr(0, close);
    return std::string(trimNameBlanks(s));
}

std::optional<std::string> ProfileFile::keyName(const std::string& text) {
    std::string_view s = trimNameBlanks(text);
    if (s.empty() || s.front() == ';' || s.front() == '[')
        return std::nullopt;
    size_t eq = s.find('=');
    if (eq == std::string_view::npos)
        return std::nullopt;
    std::string_view name = trimNameBlanks(s.substr(0, eq));
    if (name.empty())
        return std::nullopt;
    return std::string(name);
}

ProfileFile::Location ProfileFile::locate(std::string_view section, std::string_view key) const {
    Location loc;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        auto name = sectionName(m_lines[i].text);
        if (loc.sectionHeader == npos) {
            if (name && equalsNoCase(*name, section))
                loc.sectionHeader = i;
            continue;
        }
        if (name) {
            loc.sectionEnd = i;
            break;
        }
        if (loc.keyLine == npos && !key.empty()) {
            auto k = keyName(m_lines[i].text);
            if (k && equalsNoCase(*k, key))
                loc.keyLine = i;
        }
    }
    if (loc.sectionHeader != npos && loc.sectionEnd == npos)
        loc.sectionEnd = m_lines.size();
    return loc;
}

std::optional<std::string> ProfileFile::rawValue(std::string_view section,
                                                 std::string_view key) const {
    Location loc = locate(section, key);
    if (loc.keyLine == npos)
        return std::nullopt;
    const std::string& text = m_lines[loc.keyLine].text;
    return text.substr(text.find('=') + 1);
}

std::string ProfileFile::value(std::string_view section, std::string_view key) const {
    auto raw = rawValue(section, key);
    return raw ? std::string(trimSpaces(*raw)) : std::string();
}

bool ProfileFile::hasKey(std::string_view section, std::string_view key) const {
    return locate(section, key).keyLine != npos;
}

void ProfileFile::setValue(std::string_view section, std::string_view key, std::string_view value) {
    value = value.substr(0, value.find_first_of("\r\n"));
    Line line;
    line.text = std::string(key) + "=" + std::string(value);
    line.dirty = true;

    Location loc = locate(section, key);
    if (loc.keyLine != npos) {
        if (m_lines[loc.keyLine].text != line.text)
            m_lines[loc.keyLine] = std::move(line);
        return;
    }
    if (loc.sectionHeader != npos) {
        size_t pos = loc.sectionHeader + 1;
        for (size_t i = loc.sectionHeader + 1; i < loc.sectionEnd; ++i)
            if (!trimNameBlanks(m_lines[i].text).empty())
                pos = i + 1;
        m_lines.insert(m_lines.begin() + static_cast<std::ptrdiff_t>(pos), std::move(line));
        return;
    }
    Line header;
    header.text = "[" + std::string(section) + "]";
    header.dirty = true;
    m_lines.push_back(std::move(header));
    m_lines.push_back(std::move(line));
}

void ProfileFile::removeKey(std::string_view section, std::string_view key) {
    Location loc = locate(section, key);
    if (loc.keyLine != npos)
        m_lines.erase(m_lines.begin() + static_cast<std::ptrdiff_t>(loc.keyLine));
}

std::string ProfileFile::serialize(Encoding* used) const {
    std::string out;
    bool cp932 = true;
    std::string encoded;
    for (const Line& line : m_lines) {
        if (line.undecodable || (!line.dirty && m_source == Encoding::Cp932)) {
            out += line.raw;
        } else if (TextCodec::toCp932(line.text, encoded)) {
            out += encoded;
        } else {
            cp932 = false;
            break;
        }
        out += "\r\n";
    }
    // CP932 bytes that would be taken for UTF-8 on reading go out as UTF-8 with a mark instead.
    if (cp932 && !looksLikeUtf8(out)) {
        if (used)
            *used = Encoding::Cp932;
        return out;
    }

    out = "\xEF\xBB\xBF";
    for (const Line& line : m_lines) {
        out += line.undecodable ? line.raw : line.text;
        out += "\r\n";
    }
    if (used)
        *used = Encoding::Utf8Bom;
    return out;
}

bool ProfileFile::save(const std::string& requestedPath, std::string* error) const {
    const std::string bytes = serialize();
    // Replace the file a symbolic link points to, not the link itself; also when the target
    // does not exist yet, so a link into a folder that is missing fails instead of being
    // replaced by a file of its own.
    std::string path = requestedPath;
    char target[PATH_MAX];
    for (int hops = 0; hops < 40; ++hops) {
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        if (n < 0)
            break;
        std::string next(target, static_cast<size_t>(n));
        const size_t slash = path.find_last_of('/');
        if (!next.starts_with('/') && slash != std::string::npos)
            next = path.substr(0, slash + 1) + next;
        path = std::move(next);
    }
    struct stat st;
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            if (error)
                *error = path + " is not a regular file; not replacing it";
            return false;
        }
        // The rename would succeed in a writable folder, so the file's own permission is asked
        // for explicitly. No write bit at all counts even for root, who passes access().
        if ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0) {
            if (error)
                *error = path + " is read-only; not replacing it";
            return false;
        }
    }
    std::string tempPath = path + ".XXXXXX";
    int fd = ::mkstemp(tempPath.data());
    if (fd < 0) {
        if (error)
            *error = errnoText("cannot create a temporary file beside " + path, errno);
        return false;
    }
    auto fail = [&](const std::string& what, int err) {
        ::close(fd);
        ::unlink(tempPath.c_str());
        if (error)
            *error = errnoText(what, err);
        return false;
    };
    if (::fchmod(fd, 0600) != 0)
        return fail("cannot set the mode of " + tempPath, errno);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return fail("cannot write " + tempPath, errno);
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0)
        return fail("cannot flush " + tempPath, errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(tempPath.c_str());
        if (error)
            *error = errnoText("cannot write " + tempPath, err);
        return false;
    }
    if (::rename(tempPath.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(tempPath.c_str());
        if (error)
            *error = errnoText("cannot replace " + path, err);
        return false;
    }
    // Make the rename itself durable; a failure here loses nothing that is not already on disk.
    std::string folder = path.substr(0, path.find_last_of('/') + 1);
    int dirFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}
