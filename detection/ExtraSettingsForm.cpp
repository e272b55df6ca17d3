#include "detection/ExtraSettingsForm.h"

#include "settings/basCommon.h"

#include <algorithm>

namespace {

constexpr int kDigits = kMaskColumns * kMaskRows / 4;

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10; // IsUsableMask has let only hexadecimal digits through
}

// A line break would split the command's line in the settings file, and a shell would run what
// follows it as a command of its own. A tab is ordinary shell white space.
bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && u != '\t') || u == 0x7F;
    });
}

} // namespace

MaskCells MaskCellsFromText(const std::string& text) {
    MaskCells cells;
    if (!IsUsableMask(text))
        return cells;
    for (int digit = 0; digit < kDigits; ++digit) {
        const int value = hexValue(text[digit]);
        for (int bit = 0; bit < 4; ++bit)
            cells[digit * 4 + bit] = (value >> (3 - bit)) & 1;
    }
    return cells;
}

std::string MaskTextFromCells(const MaskCells& cells) {
    if (cells.none())
        return {};
    static const char kHex[] = "0123456789ABCDEF";
    std::string text(kDigits, '0');
    for (int digit = 0; digit < kDigits; ++digit) {
        int value = 0;
        for (int bit = 0; bit < 4; ++bit)
            value = value << 1 | (cells[digit * 4 + bit] ? 1 : 0);
        text[digit] = kHex[value];
    }
    return text;
}

ExtraFormInput ExtraFormFromSettings(const ExtraSettings& settings) {
    ExtraFormInput input;
    input.pre = settings.Pre;
    input.mask = MaskCellsFromText(settings.Mask);
    input.light = settings.Light;
    input.keepFree = settings.KeepFree;
    input.onAlarm = settings.OnAlarm;
    return input;
}

ExtraFormRefusal CheckExtraForm(const ExtraFormInput& input) {
    using Field = ExtraFormRefusal::Field;
    // With every cell masked nothing is left to watch, and the level would have no pixels to be
    // taken over.
    if (input.mask.all())
        return {Field::Mask, "全ての区画をﾏｽｸすると何も検知できません。\n"
                             "検知する区画を1つ以上残して下さい。"};
    if (hasControlCharacter(input.onAlarm))
        return {Field::OnAlarm, "ｺﾏﾝﾄﾞに改行などの制御文字は使えません。"};
    return {};
}

ExtraSettings ExtraSettingsFromForm(const ExtraFormInput& input) {
    ExtraSettings settings;
    settings.Pre = std::clamp(input.pre, 0, 10);
    settings.Mask = MaskTextFromCells(input.mask);
    settings.Light = std::clamp(input.light, 0, 100);
    settings.KeepFree = std::clamp(input.keepFree, 0, 1000000);
    settings.OnAlarm = TrimSpaces(input.onAlarm);
    return settings;
}
