#pragma once

#include <cstdint>
#include <string>

// The four states a change level is judged into against the alarm threshold.
enum class LevelState { Calm, Doubt, Suspect, Alarm };

// Pure: no memory between ticks. A level on a boundary belongs to the lower state (L = T is
// Suspect). The 0.8 and 0.9 products are taken in double precision.
LevelState Classify(int32_t L, int T);

// Panel 1 text of a state. For Alarm this is the text shown while the actions run.
std::string StateText(LevelState state);
inline constexpr const char* kAlarmOverText = "Pawlinex: 警報！ 誰かいたワン！!";
inline constexpr const char* kLastAlarmPrefix = "最終警報: ";
// Panel 1 when nearly the whole picture changed at once: a lamp or the sun, not an intruder.
inline constexpr const char* kLightChangeText = "Pawlinex: 明るさが変わっただけワン！";

// Timeline colour of a state as a platform colour value, red + 256 * green + 65536 * blue.
uint32_t StateColor(LevelState state);

// Index of the lamp (and stroke) a state lights: 0 blue, 1 yellow, 2 red.
int StateLamp(LevelState state);

struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
// Colours of lamp `index` (0..2): bright when lit, dark when dim, its border and its stroke.
Rgb LampLitColor(int index);
Rgb LampDimColor(int index);
Rgb LampBorderColor(int index); // the stroke has the same colour

// Splits a platform colour value into its channels.
inline Rgb ColorValueToRgb(uint32_t value) {
    return {int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF)};
}

// The level read-out: at least three digits with leading zeros, grouped by thousands with
// `groupSeparator` (0 -> "000", 7 -> "007", 1234 -> "1,234" with ",").
std::string FormatCount(int32_t value, const std::string& groupSeparator);
