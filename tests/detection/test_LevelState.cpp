#include "detection/LevelState.h"

#include <gtest/gtest.h>

namespace {

struct ClassifyCase {
    int T;
    int32_t L;
    LevelState expected;
};

// The boundaries belong to the lower state; 0.8 T and 0.9 T are taken in double precision.
TEST(Classify, BoundariesBelongToTheLowerState) {
    const ClassifyCase cases[] = {
        {100, 0, LevelState::Calm},
        {100, 80, LevelState::Calm},
        {100, 81, LevelState::Doubt},
        {100, 90, LevelState::Doubt},
        {100, 91, LevelState::Suspect},
        {100, 100, LevelState::Suspect},
        {100, 101, LevelState::Alarm},
        {1, 0, LevelState::Calm},
        {1, 1, LevelState::Suspect},
        {1, 2, LevelState::Alarm},
        {10, 8, LevelState::Calm},
        {10, 9, LevelState::Doubt},
        {10, 10, LevelState::Suspect},
        {10, 11, LevelState::Alarm},
        {9999, 25500, LevelState::Alarm},
        // A threshold of 0 can be confirmed in the editor: any level above it alarms.
        {0, 0, LevelState::Calm},
        {0, 1, LevelState::Alarm},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Classify(c.L, c.T), c.expected) << "T=" << c.T << " L=" << c.L;
}

TEST(LevelStateDisplay, TextsColoursAndLampsPerState) {
    struct Row {
        LevelState s;
        const char* text;
        uint32_t colour;
        int lamp;
    };
    const Row rows[] = {
        {LevelState::Calm, "Pawlinex: 大丈夫ワン！", 16711680, 0},
        {LevelState::Doubt, "Pawlinex: 気のせいワン？", 65535, 1},
        {LevelState::Suspect, "Pawlinex: 誰か居るワン？", 16711935, 2},
        {LevelState::Alarm, "Pawlinex: 警報！ 誰かいるワン！!", 255, 2},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(StateText(r.s), r.text);
        EXPECT_EQ(StateColor(r.s), r.colour);
        EXPECT_EQ(StateLamp(r.s), r.lamp);
    }
    EXPECT_EQ(ColorValueToRgb(16711935), (Rgb{255, 0, 255}));
    EXPECT_EQ(ColorValueToRgb(65535), (Rgb{255, 255, 0}));
    EXPECT_EQ(std::string(kAlarmOverText), "Pawlinex: 警報！ 誰かいたワン！!");
}

TEST(FormatCount, ThreeDigitsAndThousandsGroups) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "000"},
        {7, "007"},
        {99, "099"},
        {999, "999"},
        {1000, "1,000"},
        {1234, "1,234"},
        {25500, "25,500"},
        {999999, "999,999"},
        {1000000, "1,000,000"},
        {INT32_MAX, "2,147,483,647"},
    };
    for (const auto& [value, text] : cases)
        EXPECT_EQ(FormatCount(value, ","), text);
    EXPECT_EQ(FormatCount(1234567, "."), "1.234.567");
    EXPECT_EQ(FormatCount(12345, "\u00a0"), "12\u00a0345"); // multi-byte separators
    EXPECT_EQ(FormatCount(INT32_MIN, ","), "-2,147,483,648");
}

} // namespace
