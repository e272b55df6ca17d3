#include "settings/basSettings.h"

#include "settings/ProfileFile.h"
#include "settings/TextCodec.h"
#include "settings/basCommon.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

constexpr char kBodyExtraKey[] = "BODYX";

std::string printable(std::string_view text) {
    std::string out;
    for (char c : text)
        out.push_back(IsControlCharacter(c) ? '?' : c);
    return out;
}

// Decimal text of a 16-bit number. A fraction rounds to the nearest whole number, halves to the
// even neighbour (2.5 -> 2, 3.5 -> 4), as the Windows version's number conversion did.
bool parseNumber(std::string_view text, int16_t& out) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int64_t whole = 0;
    bool digits = false, huge = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        whole = whole * 10 + (text[i++] - '0');
        digits = true;
        if (whole > 1000000) {
            huge = true;
            whole = 1000000;
        }
    }
    int roundUp = 0; // -1 below half, 0 exactly half, 1 above half, 2 no fraction
    bool anyFraction = false;
    if (i < text.size() && text[i] == '.') {
        ++i;
        size_t first = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        if (i > first) {
            digits = true;
            anyFraction = true;
            std::string_view frac = text.substr(first, i - first);
            if (frac[0] > '5') {
                roundUp = 1;
            } else if (frac[0] < '5') {
                roundUp = -1;
            } else {
                roundUp = frac.find_first_not_of('0', 1) != std::string_view::npos ? 1 : 0;
            }
        }
    }
    if (!digits || i != text.size() || huge)
        return false;
    if (anyFraction && (roundUp == 1 || (roundUp == 0 && whole % 2 == 1)))
        ++whole;
    if (negative)
        whole = -whole;
    if (whole < INT16_MIN || whole > INT16_MAX)
        return false;
    out = static_cast<int16_t>(whole);
    return true;
}

std::string escapeBody(std::string_view body) {
    std::string out;
    for (char c : body) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else
            out.push_back(c);
    }
    return out;
}

std::string unescapeBody(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        char next = text[i + 1];
        if (next == '\\' || next == 'r' || next == 'n') {
            out.push_back(next == '\\' ? '\\' : next == 'r' ? '\r' : '\n');
            ++i;
        } else {
            out.push_back('\\');
        }
    }
    return out;
}

std::string firstLine(std::string_view text) {
    return std::string(text.substr(0, text.find_first_of("\r\n")));
}

// Reads keys one by one with the profile rules: a key that yields no text leaves its target
// alone, so the zero-filled record plus the clamps give the defaults.
class Reader {
public:
    explicit Reader(const ProfileFile& file) : m_file(file) {}

    void text(const char* section, const char* key, std::string& target) const {
        std::string value = m_file.value(section, key);
        if (!value.empty())
            target = std::move(value);
    }

    // Passwords are taken untrimmed: a plain "!" at either end is stored as a space.
    void password(const char* section, const char* key, std::string& target) const {
        auto raw = m_file.rawValue(section, key);
        if (raw && !raw->empty())
            target = UnscramblePass(*raw);
    }

    void flag(const char* section, const char* key, bool& target) const {
        std::string value;
        text(section, key, value);
        target = value == "True";
    }

    bool number(const char* section, const char* key, int16_t& target) {
        std::string value = m_file.value(section, key);
        if (value.empty())
            return true;
        if (parseNumber(value, target))
            return true;
        AppSettings.File.LastError = "Settings file " + SettingsFilePath() + ": [" + section +
                                     "] " + key + "=" + printable(value) +
                                     " is not a number from -32768 to 32767";
        return false;
    }

private:
    const ProfileFile& m_file;
};

// A whole number for the keys of [EXTRA], which hold more than 16 bits (KEEPFREE) and never stop
// a start: a value out of range is clamped, anything else loads as the default with one line on
// standard error.
void extraNumber(const Reader& r, const char* key, int low, int high, int& target) {
    std::string value;
    r.text("EXTRA", key, value);
    if (value.empty())
        return;
    size_t i = value[0] == '+' || value[0] == '-' ? 1 : 0;
    bool digits = i < value.size();
    long long whole = 0;
    for (; i < value.size() && digits; ++i) {
        if (value[i] < '0' || value[i] > '9')
            digits = false;
        else if (whole < 100000000000LL)
            whole = whole * 10 + (value[i] - '0');
    }
    if (!digits) {
        std::fprintf(stderr, "Settings file %s: [EXTRA] %s=%s is not a number; using %d\n",
                     SettingsFilePath().c_str(), key, printable(value).c_str(), target);
        return;
    }
    if (value[0] == '-')
        whole = -whole;
    target = static_cast<int>(std::clamp<long long>(whole, low, high));
}

template <typename T> void clampLow(T& v, T below, T becomes) {
    if (v < below)
        v = becomes;
}
template <typename T> void clampHigh(T& v, T above) {
    if (v > above)
        v = above;
}

bool loadInto(const ProfileFile& file) {
    Reader r(file);
    AppSettingsRecord& s = AppSettings;

    auto& com = s.Com;
    if (!r.number("COM", "TIMER", com.Timer))
        return false;
    clampLow<int16_t>(com.Timer, 1, 20);
    clampHigh<int16_t>(com.Timer, 50);
    if (!r.number("COM", "CKSUM", com.CkSum))
        return false;
    clampLow<int16_t>(com.CkSum, 1, 100);
    clampHigh<int16_t>(com.CkSum, 9999);
    if (!r.number("COM", "ACCURACY", com.Accuracy))
        return false;
    clampLow<int16_t>(com.Accuracy, 1, 1);
    clampHigh<int16_t>(com.Accuracy, 100);
    r.text("COM", "SOUND", com.Sound);
    if (!com.Sound.empty())
        com.SoundPath = GetShortPath(MediaDir() + com.Sound);
    int16_t noize = 0;
    if (!r.number("COM", "NOIZE", noize))
        return false;
    com.Noize = noize >= 1;
    std::string comp;
    r.text("COM", "COMP", comp);
    com.Comp = comp == "ON";

    auto& mail = s.Mail;
    r.text("MAIL", "MAIL", mail.Mail);
    r.text("MAIL", "SMTP", mail.Smtp);
    r.text("MAIL", "POP", mail.Pop);
    r.text("MAIL", "USER", mail.User);
    r.password("MAIL", "PASS", mail.Pass);
    r.text("MAIL", "ATT", mail.Att);
    r.text("MAIL", "OPTATT", mail.OptAtt);
    r.text("MAIL", "AtCRAM", mail.AtCram);
    r.text("MAIL", "SMTPUSER", mail.SmtpUser);
    r.password("MAIL", "SMTPPASS", mail.SmtpPass);

    for (int n = 0; n < 4; ++n) {
        const std::string section = std::to_string(n) + "TRG";
        const char* sec = section.c_str();
        MailTrigger& t = s.Trg[static_cast<size_t>(n)];
        r.flag(sec, "ENABLED", t.Enabled);
        r.text(sec, "MAILTO", t.MailTo);
        r.text(sec, "SUBJECT", t.Subject);
        r.text(sec, "BODY", t.Body);
        // The whole multi-line body lives beside BODY; it counts only while BODY still holds its
        // first line, so a body edited by a program that knows only BODY is not overridden.
        if (auto extra = file.rawValue(sec, kBodyExtraKey); extra && !extra->empty()) {
            std::string whole = unescapeBody(*extra);
            if (TrimSpaces(firstLine(whole)) == t.Body)
                t.Body = std::move(whole);
        }
        if (!r.number(sec, "GRP", t.Grp))
            return false;
        r.text(sec, "FILES", t.Files);
        if (!r.number(sec, "MINSIZE", t.MinSize))
            return false;
        if (!r.number(sec, "ARC", t.Arc))
            return false;
        // 0 is a valid quality of its own; only negative values are lifted.
        clampLow<int16_t>(t.Arc, 0, 1);
        clampHigh<int16_t>(t.Arc, 100);
    }

    auto& ftp = s.Ftp;
    r.flag("FTP", "MOVE", ftp.Move);
    r.flag("FTP", "FTP", ftp.Ftp);
    r.text("FTP", "HOST", ftp.Host);
    r.text("FTP", "USER", ftp.User);
    r.password("FTP", "PASS", ftp.Pass);
    r.text("FTP", "HOLDER", ftp.Holder);
    r.flag("FTP", "FILENAME", ftp.FileName);
    if (!r.number("FTP", "TIME", ftp.Time))
        return false;
    r.flag("FTP", "AUDIO", ftp.Audio);
    ftp.Pass = TrimSpaces(ftp.Pass);
    clampLow<int16_t>(ftp.Time, 5, 5);
    clampHigh<int16_t>(ftp.Time, 30);

    ExtraSettings& extra = s.Extra;
    extra = ExtraSettings{};
    extraNumber(r, "PRE", 0, 10, extra.Pre);
    extraNumber(r, "LIGHT", 0, 100, extra.Light);
    extraNumber(r, "KEEPFREE", 0, 1000000, extra.KeepFree);
    std::string mask;
    r.text("EXTRA", "MASK", mask);
    if (mask.empty() || IsUsableMask(mask))
        extra.Mask = mask;
    else
        std::fprintf(stderr,
                     "Settings file %s: [EXTRA] MASK=%s is not 48 hexadecimal digits leaving a "
                     "cell unmasked; detection uses no mask\n",
                     SettingsFilePath().c_str(), printable(mask).c_str());
    r.text("EXTRA", "ONALARM", extra.OnAlarm);
    return true;
}

const char* flagText(bool on) {
    return on ? "True" : "False";
}

void writeAll(ProfileFile& f) {
    const AppSettingsRecord& s = AppSettings;
    const auto& com = s.Com;
    f.setValue("COM", "TIMER", std::to_string(com.Timer));
    f.setValue("COM", "CKSUM", std::to_string(com.CkSum));
    f.setValue("COM", "SOUND", com.Sound);
    f.setValue("COM", "ACCURACY", std::to_string(com.Accuracy));
    f.setValue("COM", "NOIZE", com.Noize ? "1" : "0");
    // "ON" is only ever typed by hand; leaving the key alone keeps it.
    if (!com.Comp)
        f.setValue("COM", "COMP", "OFF");

    const auto& mail = s.Mail;
    f.setValue("MAIL", "MAIL", mail.Mail);
    f.setValue("MAIL", "SMTP", mail.Smtp);
    f.setValue("MAIL", "POP", mail.Pop);
    f.setValue("MAIL", "USER", mail.User);
    f.setValue("MAIL", "PASS", ScramblePass(mail.Pass));
    f.setValue("MAIL", "ATT", mail.Att);
    f.setValue("MAIL", "OPTATT", mail.OptAtt);
    f.setValue("MAIL", "AtCRAM", mail.AtCram);
    f.setValue("MAIL", "SMTPUSER", mail.SmtpUser);
    f.setValue("MAIL", "SMTPPASS", ScramblePass(mail.SmtpPass));

    for (int n = 0; n < 4; ++n) {
        const std::string sec = std::to_string(n) + "TRG";
        const MailTrigger& t = s.Trg[static_cast<size_t>(n)];
        f.setValue(sec, "ENABLED", flagText(t.Enabled));
        f.setValue(sec, "MAILTO", t.MailTo);
        f.setValue(sec, "SUBJECT", t.Subject);
        const std::string first = firstLine(t.Body);
        f.setValue(sec, "BODY", first);
        if (first.size() != t.Body.size())
            f.setValue(sec, kBodyExtraKey, escapeBody(t.Body));
        else
            f.removeKey(sec, kBodyExtraKey);
        f.setValue(sec, "GRP", std::to_string(t.Grp));
        f.setValue(sec, "FILES", t.Files);
        f.setValue(sec, "MINSIZE", std::to_string(t.MinSize));
        f.setValue(sec, "ARC", std::to_string(t.Arc));
    }

    const auto& ftp = s.Ftp;
    f.setValue("FTP", "MOVE", flagText(ftp.Move));
    f.setValue("FTP", "FTP", flagText(ftp.Ftp));
    f.setValue("FTP", "HOST", ftp.Host);
    f.setValue("FTP", "USER", ftp.User);
    f.setValue("FTP", "PASS", ScramblePass(ftp.Pass));
    f.setValue("FTP", "HOLDER", ftp.Holder);
    f.setValue("FTP", "FILENAME", flagText(ftp.FileName));
    f.setValue("FTP", "TIME", std::to_string(ftp.Time));
    f.setValue("FTP", "AUDIO", flagText(ftp.Audio));

    const auto& extra = s.Extra;
    f.setValue("EXTRA", "PRE", std::to_string(extra.Pre));
    f.setValue("EXTRA", "MASK", extra.Mask);
    f.setValue("EXTRA", "LIGHT", std::to_string(extra.Light));
    f.setValue("EXTRA", "KEEPFREE", std::to_string(extra.KeepFree));
    f.setValue("EXTRA", "ONALARM", extra.OnAlarm);
}

// Scrambled characters that cannot be stored as a CP932 neighbour (the code below is not a
// character, or the result would be a line break) are stored as a supplementary private-use
// character holding the plain code point. Such characters never occur in files of the Windows
// version, which could not store these passwords at all.
constexpr char32_t kFallbackBase = 0xF0000;
constexpr char32_t kFallbackLast = 0xFFFFD;

std::string cp932Code(unsigned code) {
    std::string bytes;
    if (code > 0xFF)
        bytes.push_back(static_cast<char>(code >> 8));
    bytes.push_back(static_cast<char>(code & 0xFF));
    return bytes;
}

// The code of one character in CP932, or -1 when CP932 lacks it.
long cp932CodeOf(char32_t c) {
    std::string bytes;
    if (!TextCodec::toCp932(TextCodec::fromCodePoints(std::u32string(1, c)), bytes))
        return -1;
    if (bytes.size() == 1)
        return static_cast<unsigned char>(bytes[0]);
    if (bytes.size() == 2)
        return static_cast<unsigned char>(bytes[0]) * 256L + static_cast<unsigned char>(bytes[1]);
    return -1;
}

// The one character whose CP932 code is `code` and whose code that is both ways, if any.
std::optional<char32_t> cp932Char(long code) {
    if (code < 0 || code > 0xFFFF)
        return std::nullopt;
    std::string utf8;
    if (!TextCodec::fromCp932(cp932Code(static_cast<unsigned>(code)), utf8))
        return std::nullopt;
    std::u32string cps = TextCodec::toCodePoints(utf8);
    if (cps.size() != 1 || cp932CodeOf(cps[0]) != code)
        return std::nullopt;
    return cps[0];
}

char32_t scrambleChar(char32_t c) {
    long code = cp932CodeOf(c);
    if (code < 0)
        return c; // unscrambling leaves it alone as well
    auto stored = cp932Char(code - 1);
    if (stored && *stored != 0 && *stored != '\r' && *stored != '\n')
        return *stored;
    return kFallbackBase + c;
}

char32_t unscrambleChar(char32_t c) {
    if (c >= kFallbackBase && c <= kFallbackLast)
        return c - kFallbackBase;
    long code = cp932CodeOf(c);
    if (code < 0)
        return c;
    auto plain = cp932Char(code + 1);
    return plain ? *plain : c;
}

} // namespace

std::string SettingsFilePath() {
    return ProgramFolder() + "/pawlinex.ini";
}

std::string LastSettingsError() {
    return AppSettings.File.LastError;
}

bool LoadSettings() {
    AppSettings = AppSettingsRecord{};
    ProfileFile file;
    const std::string path = SettingsFilePath();
    std::string error;
    if (file.load(path, &error) == ProfileFile::LoadResult::Unreadable) {
        AppSettings.File.LastError = "Settings file " + path + " " + error;
        AppSettings.File.LoadFailed = true;
        return false;
    }
    AppSettings.File.LoadFailed = !loadInto(file);
    return !AppSettings.File.LoadFailed;
}

bool SaveSettings() {
    const std::string path = SettingsFilePath();
    // Nobody else looks at the result, so the reason goes to standard error as well.
    auto fail = [](std::string why) {
        AppSettings.File.LastError = std::move(why);
        std::fprintf(stderr, "%s\n", AppSettings.File.LastError.c_str());
        return false;
    };
    if (AppSettings.File.LoadFailed)
        return fail("Settings file " + path + " was not loaded; not overwriting it");
    ProfileFile file;
    std::string error;
    if (file.load(path, &error) == ProfileFile::LoadResult::Unreadable)
        return fail("Settings file " + path + " " + error + "; not overwriting it");
    writeAll(file);
    if (!file.save(path, &error))
        return fail("Settings file " + error);
    return true;
}

std::string ScramblePass(const std::string& plain) {
    std::u32string out;
    for (char32_t c : TextCodec::toCodePoints(plain))
        out.push_back(scrambleChar(c));
    return TextCodec::fromCodePoints(out);
}

std::string UnscramblePass(const std::string& stored) {
    std::u32string out;
    for (char32_t c : TextCodec::toCodePoints(stored))
        out.push_back(unscrambleChar(c));
    return TextCodec::fromCodePoints(out);
}

std::vector<std::string> ReadSourcesSection() {
    ProfileFile file;
    file.load(SettingsFilePath());
    std::vector<std::string> sources;
    for (int i = 0; i < 10; ++i) {
        std::string value = file.value("SOURCES", "SOURCE" + std::to_string(i));
        if (!value.empty())
            sources.push_back(std::move(value));
    }
    return sources;
}

bool IsUsableMask(const std::string& text) {
    if (text.size() != kMaskColumns * kMaskRows / 4)
        return false;
    bool anyClear = false;
    for (char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        anyClear = anyClear || (c != 'f' && c != 'F');
    }
    return anyClear;
}
