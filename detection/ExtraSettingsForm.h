#pragma once

#include "detection/DetectionMask.h"
#include "settings/AppSettings.h"

#include <string>

// The decisions behind the extended settings dialog, apart from its widgets: the detection mask
// as cells and as the stored text, what the dialog refuses and what OK stores. Pure standard C++.

// One bit per cell of the 16 x 12 grid over the picture, index row * kMaskColumns + column from
// the top left; a set bit is a cell that detection ignores.
using MaskCells = DetectionMask::Cells;

// The cells of a stored mask. Empty text, and text that is no usable mask, give no cell masked:
// that is what detection makes of it as well.
MaskCells MaskCellsFromText(const std::string& text);
// The text stored for `cells`: 48 upper-case hexadecimal digits, the first cell in the highest
// bit of the first digit; empty when no cell is masked, so an unused grid keeps the file as it
// was before masks existed.
std::string MaskTextFromCells(const MaskCells& cells);

// What the dialog holds when OK is pressed.
struct ExtraFormInput {
    int pre = 0;
    MaskCells mask;
    int light = 0;
    int keepFree = 0;
    std::string onAlarm; // as typed
};

ExtraFormInput ExtraFormFromSettings(const ExtraSettings& settings);

// The field a refusal sends the focus to, and the message (in the program's own words) that says
// why. `field` None: nothing to refuse.
struct ExtraFormRefusal {
    enum class Field { None, Mask, OnAlarm } field = Field::None;
    std::string message;
};
ExtraFormRefusal CheckExtraForm(const ExtraFormInput& input);

// The settings OK stores: numbers held to the ranges the settings file accepts, the command
// trimmed of spaces. Call only for input CheckExtraForm accepts.
ExtraSettings ExtraSettingsFromForm(const ExtraFormInput& input);
