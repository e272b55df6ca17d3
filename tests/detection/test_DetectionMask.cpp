#include "detection/DetectionMask.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// The stored form: row by row from the top left, the first cell in the highest bit of the first
// digit; anything that is not 48 hex digits, or that masks every cell, is no mask.
TEST(DetectionMask, ReadsTheStoredForm) {
    using Cell = std::pair<int, int>; // column, row
    const std::string none(48, '0');
    struct Case {
        const char* what;
        std::string text;
        std::vector<Cell> masked; // every masked cell
        std::string stored;       // what toText gives back
    };
    const Case cases[] = {
        {"empty", "", {}, ""},
        {"all clear", none, {}, ""},
        {"first cell", "8" + none.substr(1), {{0, 0}}, "8" + none.substr(1)},
        {"last cell of the first row", "0001" + none.substr(4), {{15, 0}}, "0001" + none.substr(4)},
        {"first cell of the second row",
         "00008" + none.substr(5),
         {{0, 1}},
         "00008" + none.substr(5)},
        {"last cell", none.substr(1) + "1", {{15, 11}}, none.substr(1) + "1"},
        {"lower case", "a" + none.substr(1), {{0, 0}, {2, 0}}, "A" + none.substr(1)},
        {"every cell", std::string(48, 'F'), {}, ""},
        {"every cell, lower case", std::string(48, 'f'), {}, ""},
        {"47 digits", "8" + none.substr(2), {}, ""},
        {"49 digits", "8" + none, {}, ""},
        {"not hex", "G" + none.substr(1), {}, ""},
        {"blank inside", "8 " + none.substr(2), {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const DetectionMask mask = DetectionMask::fromText(c.text);
        int count = 0;
        for (int row = 0; row < DetectionMask::kRows; ++row)
            for (int column = 0; column < DetectionMask::kColumns; ++column)
                count += mask.masked(column, row) ? 1 : 0;
        EXPECT_EQ(count, int(c.masked.size()));
        for (auto [column, row] : c.masked)
            EXPECT_TRUE(mask.masked(column, row)) << column << "," << row;
        EXPECT_EQ(mask.empty(), c.masked.empty());
        EXPECT_EQ(mask.toText(), c.stored);
        EXPECT_EQ(DetectionMask::fromText(mask.toText()), mask);
    }
}

// Cell geometry for any frame size: column x * 16 / width, row y * 12 / height, and the first
// pixel of each cell is the inverse.
TEST(DetectionMask, GeometryOfAnyFrameSize) {
    for (int64_t width : {1, 7, 16, 17, 160, 640, 1921}) {
        for (int64_t x = 0; x < width; ++x) {
            const int c = DetectionMask::cellColumn(x, width);
            ASSERT_GE(c, 0);
            ASSERT_LT(c, DetectionMask::kColumns);
            ASSERT_LE(DetectionMask::columnStart(c, width), x) << width << " " << x;
            ASSERT_GT(DetectionMask::columnStart(c + 1, width), x) << width << " " << x;
        }
        EXPECT_EQ(DetectionMask::columnStart(DetectionMask::kColumns, width), width);
    }
    for (int64_t height : {1, 11, 12, 13, 120, 480, 1081}) {
        for (int64_t y = 0; y < height; ++y) {
            const int r = DetectionMask::cellRow(y, height);
            ASSERT_LE(DetectionMask::rowStart(r, height), y) << height << " " << y;
            ASSERT_GT(DetectionMask::rowStart(r + 1, height), y) << height << " " << y;
        }
    }
    EXPECT_EQ(DetectionMask::cellColumn(39, 640), 0);
    EXPECT_EQ(DetectionMask::cellColumn(40, 640), 1);
    EXPECT_EQ(DetectionMask::cellColumn(639, 640), 15);
    EXPECT_EQ(DetectionMask::cellRow(39, 480), 0);
    EXPECT_EQ(DetectionMask::cellRow(40, 480), 1);
}

} // namespace
