#include "detection/LevelState.h"

#include <array>

LevelState Classify(int32_t L, int T) {
    const double level = static_cast<double>(L);
    const double threshold = static_cast<double>(T);
    if (threshold < level)
        return LevelState::Alarm;
    if (0.9 * threshold < level)
        return LevelState::Suspect;
    if (0.8 * threshold < level)
        return LevelState::Doubt;
    return LevelState::Calm;
}

std::string StateText(LevelState state) {
    switch (state) {
    case LevelState::Calm:
        return "Pawlinex: 大丈夫ワン！";
    case LevelState::Doubt:
        return "Pawlinex: 気のせいワン？";
    case LevelState::Suspect:
        return "Pawlinex: 誰か居るワン？";
    case LevelState::Alarm:
        return "Pawlinex: 警報！ 誰かいるワン！!";
    }
    return {};
}

uint32_t StateColor(LevelState state) {
    switch (state) {
    case LevelState::Calm:
        return 16711680; // blue
    case LevelState::Doubt:
        return 65535; // yellow
    case LevelState::Suspect:
        return 16711935; // magenta
    case LevelState::Alarm:
        return 255; // red
    }
    return 0;
}

int StateLamp(LevelState state) {
    switch (state) {
    case LevelState::Calm:
        return 0;
    case LevelState::Doubt:
        return 1;
    case LevelState::Suspect:
    case LevelState::Alarm:
        return 2;
    }
    return 0;
}

namespace {
constexpr std::array<Rgb, 3> kLit{{{0, 0, 255}, {255, 255, 0}, {255, 0, 0}}};
constexpr std::array<Rgb, 3> kDim{{{0, 0, 64}, {64, 64, 0}, {64, 0, 0}}};
constexpr std::array<Rgb, 3> kBorder{{{0, 0, 192}, {192, 192, 0}, {192, 0, 0}}};

int ClampLamp(int index) {
    return index < 0 ? 0 : (index > 2 ? 2 : index);
}
} // namespace

Rgb LampLitColor(int index) {
    return kLit[ClampLamp(index)];
}
Rgb LampDimColor(int index) {
    return kDim[ClampLamp(index)];
}
Rgb LampBorderColor(int index) {
    return kBorder[ClampLamp(index)];
}

std::string FormatCount(int32_t value, const std::string& groupSeparator) {
    const bool negative = value < 0;
    // Widen before negating: -INT32_MIN does not fit.
    std::string digits = std::to_string(negative ? -static_cast<int64_t>(value) : value);
    if (digits.size() < 3)
        digits.insert(0, 3 - digits.size(), '0');
    std::string out;
    const size_t n = digits.size();
    for (size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += groupSeparator;
        out += digits[i];
    }
    return negative ? "-" + out : out;
}
