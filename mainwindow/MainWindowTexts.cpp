#include "mainwindow/MainWindowTexts.h"

#include "settings/basCommon.h"

#include <cmath>
#include <limits>

namespace {

std::string VersionNumbers() {
    return std::to_string(PAWLINEX_VERSION_MAJOR) + "." + std::to_string(PAWLINEX_VERSION_MINOR) +
           "." + std::to_string(PAWLINEX_VERSION_PATCH);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads [sign] digits [. digits] with nothing else; false for anything that is not such a number.
bool ReadPlainNumber(const std::string& text, double& value) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    double whole = 0;
    size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i, ++digits)
        whole = whole * 10 + (text[i] - '0');
    if (i < text.size() && text[i] == '.') {
        double scale = 0.1;
        for (++i; i < text.size() && IsDigit(text[i]); ++i, ++digits, scale /= 10)
            whole += (text[i] - '0') * scale;
    }
    if (digits == 0 || i != text.size())
        return false;
    value = negative ? -whole : whole;
    return true;
}

} // namespace

std::string ProgramCaption() {
    return "Pawlinex(Ver " + VersionNumbers() + ")";
}

std::string AboutVersionText() {
    return "ﾊﾞｰｼﾞｮﾝ " + VersionNumbers();
}

int16_t ThresholdFromText(const std::string& text) {
    const std::string trimmed = TrimSpaces(text);
    if (trimmed.empty())
        return 100;
    double value = 0;
    if (!ReadPlainNumber(trimmed, value))
        return 100;
    const double rounded = std::nearbyint(value); // the default rounding mode is half to even
    // A number that does not fit the 16-bit setting is treated like any other unreadable text
    // rather than wrapping into a negative threshold.
    if (rounded < std::numeric_limits<int16_t>::min() ||
        rounded > std::numeric_limits<int16_t>::max())
        return 100;
    return static_cast<int16_t>(rounded);
}

bool ThresholdKeyAccepted(char32_t code) {
    return code == 7 || code == 8 || (code >= '0' && code <= '9');
}

std::string ResolutionPanelText(uint32_t width, uint32_t height) {
    return "解像度: " + std::to_string(width) + "×" + std::to_string(height);
}
