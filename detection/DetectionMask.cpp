#include "detection/DetectionMask.h"

#include <cctype>

DetectionMask DetectionMask::fromText(const std::string& text) {
    DetectionMask mask;
    // The settings file's own rule: digits only, and at least one cell left to watch.
    if (!IsUsableMask(text))
        return mask;
    for (size_t digit = 0; digit < text.size(); ++digit) {
        const unsigned char c = static_cast<unsigned char>(text[digit]);
        const int value = std::isdigit(c) ? c - '0' : std::tolower(c) - 'a' + 10;
        for (int bit = 0; bit < 4; ++bit)
            mask.m_cells.set(digit * 4 + size_t(bit), (value >> (3 - bit)) & 1);
    }
    return mask;
}

std::string DetectionMask::toText() const {
    if (empty())
        return {};
    std::string text;
    for (size_t digit = 0; digit < size_t(kColumns * kRows / 4); ++digit) {
        int value = 0;
        for (int bit = 0; bit < 4; ++bit)
            value = value * 2 + (m_cells.test(digit * 4 + size_t(bit)) ? 1 : 0);
        text += "0123456789ABCDEF"[value];
    }
    return text;
}
