#pragma once

// Shared by the preview tests: a camera picture in which every pixel can be told from every
// other, so a stretch that picks a wrong source pixel shows in the colour.

#include <QImage>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace capture_test {

// Every pixel different (its column in the low twelve bits, its row above), the fourth byte
// zero as the engine leaves it. `stride` above four bytes a pixel leaves padding at the end of
// each row.
inline QImage CodedPicture(QSize size, qsizetype stride = 0) {
    stride = std::max<qsizetype>(stride, size.width() * 4);
    auto* bytes = new std::vector<uchar>(size_t(stride * size.height()), 0xee);
    QImage image(
        bytes->data(), size.width(), size.height(), stride, QImage::Format_RGB32,
        [](void* p) { delete static_cast<std::vector<uchar>*>(p); }, bytes);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = (uint32_t(y) << 12 | uint32_t(x)) & 0xffffffu;
    }
    return image;
}

} // namespace capture_test
