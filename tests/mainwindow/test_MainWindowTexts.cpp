// The main window's fixed texts and the threshold rules, without widgets.
#include "mainwindow/MainWindowTexts.h"
#include "sound/SoundTexts.h"

#include <gtest/gtest.h>

TEST(MainWindowTexts, CaptionAndVersionCarryTheBuildVersionInPlainDecimal) {
    const std::string numbers = std::to_string(PAWLINEX_VERSION_MAJOR) + "." +
                                std::to_string(PAWLINEX_VERSION_MINOR) + "." +
                                std::to_string(PAWLINEX_VERSION_PATCH);
    EXPECT_EQ(ProgramCaption(), "Pawlinex(Ver " + numbers + ")");
    EXPECT_EQ(AboutVersionText(), "ﾊﾞｰｼﾞｮﾝ " + numbers);
    EXPECT_EQ(ProgramCaption(), "Pawlinex(Ver 1.1.1)");
}

// What the threshold box confirms: a number as it reads, anything else 100, no range check.
TEST(MainWindowTexts, ThresholdFromText) {
    const struct {
        const char* text;
        int16_t expected;
    } cases[] = {
        {"", 100},    {"   ", 100}, {"abc", 100},     {"12a", 100},   {"0", 0},
        {"0000", 0},  {"40", 40},   {"9999", 9999},   {" 250 ", 250}, {"2.5", 2},
        {"3.5", 4},   {"-7", -7},   {"32767", 32767}, {"32768", 100}, {"-32769", 100},
        {"1e3", 100}, {".", 100},   {"+", 100},       {"\t5", 100},   {"５", 100},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThresholdFromText(c.text), c.expected) << '"' << c.text << '"';
}

TEST(MainWindowTexts, OnlyDigitsBackspaceAndBellReachTheThresholdBox) {
    for (char32_t c = 0; c < 128; ++c) {
        const bool expected = c == 7 || c == 8 || (c >= '0' && c <= '9');
        EXPECT_EQ(ThresholdKeyAccepted(c), expected) << static_cast<int>(c);
    }
    EXPECT_FALSE(ThresholdKeyAccepted(U'１')); // full-width digit
    EXPECT_FALSE(ThresholdKeyAccepted(U'٣'));  // a digit of another script
}

TEST(MainWindowTexts, StatusPanelTexts) {
    EXPECT_EQ(ResolutionPanelText(320, 240), "解像度: 320×240");
    EXPECT_EQ(ResolutionPanelText(0, 0), "解像度: 0×0");
    EXPECT_EQ(ResolutionPanelText(4294967295u, 1), "解像度: 4294967295×1");
    EXPECT_EQ(SoundPanelText(""), "警告音: なし");
    EXPECT_EQ(SoundPanelText("chimes.wav"), "警告音: chimes.wav");
}
