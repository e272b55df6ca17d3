#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// Header of a frame bitmap, the seven values a bitmap-object query returns. A grabbed camera
// frame is a 32-bit device-dependent bitmap: type 0, planes 1, 32 bits per pixel, bytes per
// row = 4 * width, bits pointer 0, rows top to bottom, each pixel B, G, R, 0.
struct BitmapHeader {
    int32_t bmType = 0;
    int32_t bmWidth = 0;
    int32_t bmHeight = 0;
    int32_t bmWidthBytes = 0;
    uint16_t bmPlanes = 0;
    uint16_t bmBitsPixel = 0;
    uint32_t bmBits = 0;

    bool operator==(const BitmapHeader&) const = default;
};

struct Frame {
    BitmapHeader header;
    std::vector<uint8_t> bits; // bmWidthBytes * bmHeight bytes

    bool empty() const { return bits.empty(); }
};

// Frame bits shared instead of copied. Whoever made the buffer never writes it again once it is
// handed out this way, so any holder may read it for as long as it keeps the pointer.
using SharedBits = std::shared_ptr<const std::vector<uint8_t>>;

struct SharedFrame {
    BitmapHeader header;
    SharedBits bits;

    bool empty() const { return !bits || bits->empty(); }
};
