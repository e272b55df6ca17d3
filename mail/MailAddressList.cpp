#include "mail/MailAddressList.h"

#include "settings/basCommon.h"

#include <cstdio>

namespace {

std::string trimBlanks(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && s[b] == ' ')
        ++b;
    while (e > b && s[e - 1] == ' ')
        --e;
    return s.substr(b, e - b);
}

// Byte length of the entry separator starting at `i`, 0 when there is none.
size_t separatorAt(const std::string& text, size_t i) {
    if (text[i] == ',' || text[i] == ';')
        return 1;
    static const char* wide[] = {"\xEF\xBC\x8C" /* ， */, "\xE3\x80\x81" /* 、 */};
    for (const char* w : wide)
        if (text.compare(i, 3, w) == 0)
            return 3;
    return 0;
}

// Collects one entry; each call of finish() turns it into addresses or a problem.
class EntryBuilder {
public:
    explicit EntryBuilder(AddressListResult& out) : m_out(out) {}

    void raw(const std::string& bytes) { m_raw += bytes; }
    void wordChar(char c) { m_word += c; }
    void endWord() {
        if (!m_word.empty())
            m_words.push_back(std::move(m_word));
        m_word.clear();
    }
    void quoted(std::string text) {
        endWord();
        m_words.push_back(std::move(text));
        m_hasQuoted = true;
    }
    void angle(std::string address) {
        endWord();
        m_angle = std::move(address);
        m_hasAngle = true;
    }
    bool complete() const { return m_hasAngle; }
    bool empty() const { return m_words.empty() && m_word.empty() && !m_hasAngle; }

    // False when the entry has a problem (recorded in the result).
    bool finish() {
        endWord();
        const std::string raw = trimBlanks(m_raw);
        bool good = true;
        if (m_hasAngle) {
            std::string name;
            for (const auto& w : m_words)
                name += (name.empty() ? "" : " ") + w;
            AddressProblem p = HasControlCharacter(name) ? AddressProblem::ControlCharacter
                                                         : CheckMailAddress(m_angle);
            if (p != AddressProblem::None)
                good = fail(p, raw);
            else
                m_out.addresses.push_back({m_angle, name});
        } else if (m_hasQuoted) {
            good = fail(AddressProblem::NameWithoutAddress, raw);
        } else {
            for (const auto& w : m_words) {
                const AddressProblem p = CheckMailAddress(w);
                if (p != AddressProblem::None) {
                    good = fail(p, w);
                    break;
                }
                m_out.addresses.push_back({w, {}});
            }
        }
        m_raw.clear();
        m_words.clear();
        m_angle.clear();
        m_hasAngle = m_hasQuoted = false;
        return good;
    }

    bool fail(AddressProblem p, const std::string& entry) {
        m_out.problem = p;
        m_out.badEntry = entry;
        m_out.addresses.clear();
        return false;
    }

private:
    AddressListResult& m_out;
    std::string m_raw;
    std::string m_word;
    std::vector<std::string> m_words; // display-name words, or bare addresses
    std::string m_angle;
    bool m_hasAngle = false;
    bool m_hasQuoted = false;
};

} // namespace

AddressListResult ParseAddressList(const std::string& text) {
    AddressListResult out;
    EntryBuilder entry(out);
    size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (const size_t sep = separatorAt(text, i)) {
            if (!entry.finish())
                return out;
            i += sep;
            continue;
        }
        if (c == ' ') {
            entry.raw(" ");
            entry.endWord();
            ++i;
            continue;
        }
        // Text after "<addr>" starts the next entry, as blanks do between bare addresses.
        if (entry.complete() && !entry.finish())
            return out;
        if (c == '"') {
            std::string name;
            size_t k = i + 1;
            for (; k < text.size() && text[k] != '"'; ++k) {
                if (text[k] == '\\' && k + 1 < text.size())
                    ++k;
                name += text[k];
            }
            entry.raw(text.substr(i, k + 1 - i));
            if (k >= text.size()) {
                entry.fail(AddressProblem::Unclosed, trimBlanks(text.substr(i)));
                return out;
            }
            entry.quoted(std::move(name));
            i = k + 1;
            continue;
        }
        if (c == '<') {
            const size_t close = text.find('>', i + 1);
            const size_t reopen = text.find('<', i + 1);
            if (close == std::string::npos || reopen < close) {
                entry.raw(text.substr(i));
                entry.fail(AddressProblem::Unclosed, trimBlanks(text.substr(i)));
                return out;
            }
            entry.raw(text.substr(i, close + 1 - i));
            entry.angle(trimBlanks(text.substr(i + 1, close - i - 1)));
            i = close + 1;
            continue;
        }
        entry.raw(std::string(1, c));
        entry.wordChar(c);
        ++i;
    }
    if (!entry.empty() && !entry.finish())
        return out;
    if (out.addresses.empty())
        out.problem = AddressProblem::Empty;
    return out;
}

AddressProblem CheckMailAddress(const std::string& address) {
    if (HasControlCharacter(address))
        return AddressProblem::ControlCharacter;
    if (address.find(' ') != std::string::npos)
        return AddressProblem::Space;
    if (address.find_first_of("<>") != std::string::npos)
        return AddressProblem::AngleBracket;
    const auto at = address.rfind('@');
    if (at == std::string::npos || at == 0 || at + 1 == address.size())
        return AddressProblem::NoAtSign;
    return AddressProblem::None;
}

std::string AddressProblemText(AddressProblem problem) {
    switch (problem) {
    case AddressProblem::None:
        return {};
    case AddressProblem::ControlCharacter:
        return "control character in address";
    case AddressProblem::Space:
        return "blank inside address";
    case AddressProblem::AngleBracket:
        return "'<' or '>' inside address";
    case AddressProblem::NoAtSign:
        return "not an address of the form name@domain";
    case AddressProblem::Unclosed:
        return "unclosed '\"' or '<'";
    case AddressProblem::NameWithoutAddress:
        return "name without <address>";
    case AddressProblem::Empty:
        return "no recipient";
    }
    return {};
}

std::string AddressProblemTextJa(AddressProblem problem) {
    switch (problem) {
    case AddressProblem::None:
        return {};
    case AddressProblem::ControlCharacter:
        return "制御文字が含まれています";
    case AddressProblem::Space:
        return "ｱﾄﾞﾚｽに空白が含まれています";
    case AddressProblem::AngleBracket:
        return "ｱﾄﾞﾚｽに < または > が含まれています";
    case AddressProblem::NoAtSign:
        return "ﾒｰﾙｱﾄﾞﾚｽ(名前@ﾄﾞﾒｲﾝ)の形ではありません";
    case AddressProblem::Unclosed:
        return "\" または < が閉じていません";
    case AddressProblem::NameWithoutAddress:
        return "名前の後に <ﾒｰﾙｱﾄﾞﾚｽ> がありません";
    case AddressProblem::Empty:
        return "ﾒｰﾙｱﾄﾞﾚｽがありません";
    }
    return {};
}

std::string RecipientProblemMessage(const AddressListResult& result) {
    std::string message = "宛先のﾒｰﾙｱﾄﾞﾚｽを確認して下さい。";
    if (result.ok())
        return message;
    message += "\n";
    if (!result.badEntry.empty()) {
        // Control bytes would be invisible in a message box: show them as \xNN.
        std::string shown;
        for (unsigned char c : result.badEntry) {
            if (IsControlCharacter(char(c))) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\x%02X", c);
                shown += buf;
            } else {
                shown += static_cast<char>(c);
            }
        }
        message += "「" + shown + "」: ";
    }
    return message + AddressProblemTextJa(result.problem);
}
