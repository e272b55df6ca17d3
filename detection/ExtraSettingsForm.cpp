#include "detection/ExtraSettingsForm.h"

#include "settings/basCommon.h"

#include <algorithm>

namespace {

// A line break would split the command's line in the settings file, and a shell would run what
// follows it as a command of its own. A tab is ordinary shell white space.
bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return c != '\t' && IsControlCharacter(c); });
}

} // namespace

MaskCells MaskCellsFromText(const std::string& text) {
    return DetectionMask::fromText(text).cells();
}

std::string MaskTextFromCells(const MaskCells& cells) {
    return DetectionMask(cells).toText();
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
