#include "detection/ExtraSettingsForm.h"

#include <gtest/gtest.h>

namespace {

MaskCells cellsAt(std::initializer_list<int> indexes) {
    MaskCells cells;
    for (int i : indexes)
        cells.set(i);
    return cells;
}

// The stored text and the grid agree cell for cell: the first cell is the highest bit of the
// first digit, rows run from the top left, and an empty grid stores nothing at all.
TEST(MaskText, CellsAndTextRoundTrip) {
    const std::string zeros(48, '0');
    struct Row {
        MaskCells cells;
        std::string text;
    } rows[] = {
        {MaskCells{}, ""},
        {cellsAt({0}), "8" + zeros.substr(1)},
        {cellsAt({3}), "1" + zeros.substr(1)},
        {cellsAt({4}), "08" + zeros.substr(2)},
        {cellsAt({16}), "0000"
                        "8" +
                            zeros.substr(5)},    // first cell of the second row
        {cellsAt({191}), zeros.substr(1) + "1"}, // bottom right
        {cellsAt({0, 1, 2, 3, 188, 189, 190}), "F" + zeros.substr(2) + "E"},
        {~cellsAt({191}), std::string(47, 'F') + "E"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(MaskTextFromCells(r.cells), r.text);
        EXPECT_EQ(MaskCellsFromText(r.text), r.cells) << r.text;
    }
}

// Text the settings would not take gives an empty grid, as detection uses no mask for it; lower
// case digits are read and written back in upper case.
TEST(MaskText, UnusableTextGivesNoCells) {
    for (const std::string& text :
         {std::string(47, '0') + "1" + "0", std::string(47, '0'), std::string(47, '0') + "g",
          std::string(48, 'F'), std::string(48, 'f')})
        EXPECT_TRUE(MaskCellsFromText(text).none()) << text;
    const std::string lower = "a" + std::string(46, '0') + "f";
    EXPECT_EQ(MaskCellsFromText(lower).count(), 2u + 4u);
    EXPECT_EQ(MaskTextFromCells(MaskCellsFromText(lower)), "A" + std::string(46, '0') + "F");
}

// Only a grid with no cell left to watch and a command with a line break are refused; each
// refusal names the field the focus goes to.
TEST(ExtraForm, RefusesAFullMaskAndControlCharacters) {
    using Field = ExtraFormRefusal::Field;
    struct Row {
        MaskCells mask;
        std::string command;
        Field field;
    } rows[] = {
        {MaskCells{}, "", Field::None},
        {~cellsAt({191}), "curl -d \"$PAWLINEX_LEVEL\"\thttps://example.org", Field::None},
        {~MaskCells{}, "", Field::Mask},
        {~MaskCells{}, "a\nb", Field::Mask},
        {MaskCells{}, "echo a\nrm -rf x", Field::OnAlarm},
        {MaskCells{}, "echo a\r", Field::OnAlarm},
        {MaskCells{}, std::string("echo \x7f"), Field::OnAlarm},
    };
    for (const auto& r : rows) {
        ExtraFormInput input;
        input.mask = r.mask;
        input.onAlarm = r.command;
        const ExtraFormRefusal refusal = CheckExtraForm(input);
        EXPECT_EQ(refusal.field, r.field) << r.command;
        EXPECT_EQ(refusal.message.empty(), r.field == Field::None) << r.command;
    }
}

// What OK stores: every field, numbers held to the ranges of the settings file, the command
// trimmed of spaces only; and what the dialog shows from stored settings.
TEST(ExtraForm, StoresEachFieldWithinItsRange) {
    struct Row {
        int pre, light, keepFree;
        std::string command;
        int storedPre, storedLight, storedKeepFree;
        std::string storedCommand;
    } rows[] = {
        {0, 0, 0, "", 0, 0, 0, ""},
        {10, 100, 1000000, "  notify.sh  ", 10, 100, 1000000, "notify.sh"},
        {11, 101, 1000001, "\tx\t", 10, 100, 1000000, "\tx\t"},
        {-1, -1, -1, "　全角　", 0, 0, 0, "　全角　"},
    };
    for (const auto& r : rows) {
        ExtraFormInput input;
        input.pre = r.pre;
        input.light = r.light;
        input.keepFree = r.keepFree;
        input.onAlarm = r.command;
        input.mask = cellsAt({5});
        const ExtraSettings s = ExtraSettingsFromForm(input);
        EXPECT_EQ(s.Pre, r.storedPre);
        EXPECT_EQ(s.Light, r.storedLight);
        EXPECT_EQ(s.KeepFree, r.storedKeepFree);
        EXPECT_EQ(s.OnAlarm, r.storedCommand);
        EXPECT_EQ(s.Mask, "04" + std::string(46, '0'));

        const ExtraFormInput back = ExtraFormFromSettings(s);
        EXPECT_EQ(back.pre, s.Pre);
        EXPECT_EQ(back.light, s.Light);
        EXPECT_EQ(back.keepFree, s.KeepFree);
        EXPECT_EQ(back.onAlarm, s.OnAlarm);
        EXPECT_EQ(back.mask, input.mask);
    }
}

} // namespace
