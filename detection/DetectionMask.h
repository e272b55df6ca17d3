#pragma once

#include "settings/basSettings.h"

#include <bitset>
#include <cstdint>
#include <string>

// The cells of the picture that detection ignores: a grid of 16 columns by 12 rows laid over
// any frame size. Pixel x of a frame `width` pixels wide lies in cell column x * 16 / width, row
// y of a frame `height` rows high in cell row y * 12 / height (integer division), so every cell
// gets its share of the picture to within one pixel whatever the camera delivers.
class DetectionMask {
public:
    static constexpr int kColumns = kMaskColumns;
    static constexpr int kRows = kMaskRows;
    // Cell `row * kColumns + column`, set when ignored.
    using Cells = std::bitset<kColumns * kRows>;

    // Nothing masked.
    DetectionMask() = default;
    explicit DetectionMask(const Cells& cells) : m_cells(cells) {}

    // The stored form: 48 hexadecimal digits (either case), row by row from the top left, the
    // first cell in the highest bit of the first digit, a set bit for an ignored cell. Anything
    // else, and a mask of every cell (which would watch nothing), gives no mask at all.
    static DetectionMask fromText(const std::string& text);
    // The stored form (upper-case digits); empty when nothing is masked.
    std::string toText() const;

    bool masked(int column, int row) const { return m_cells.test(size_t(row * kColumns + column)); }
    void setMasked(int column, int row, bool on) {
        m_cells.set(size_t(row * kColumns + column), on);
    }
    bool empty() const { return m_cells.none(); }
    const Cells& cells() const { return m_cells; }
    bool operator==(const DetectionMask&) const = default;

    static int cellColumn(int64_t x, int64_t width) { return int(x * kColumns / width); }
    static int cellRow(int64_t y, int64_t height) { return int(y * kRows / height); }
    // The first pixel of cell column `column` and the first row of cell row `row` (kColumns and
    // kRows give the size), the inverses of cellColumn and cellRow.
    static int64_t columnStart(int column, int64_t width) {
        return (int64_t(column) * width + kColumns - 1) / kColumns;
    }
    static int64_t rowStart(int row, int64_t height) {
        return (int64_t(row) * height + kRows - 1) / kRows;
    }

private:
    Cells m_cells;
};
