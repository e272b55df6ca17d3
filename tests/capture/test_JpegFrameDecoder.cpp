// The camera engine's JPEG decoder on pictures made by the library's own encoder.
#include "capture/JpegFrameDecoder.h"

#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <array>
#include <cstdlib>
#include <vector>

namespace {

using Bgr = std::array<int, 3>;

// Top left red, top right green, bottom left blue, bottom right near white.
Bgr quadrantColour(int x, int y, int w, int h) {
    static const Bgr colours[4] = {{20, 20, 200}, {20, 200, 20}, {200, 20, 20}, {240, 240, 240}};
    return colours[(y >= h / 2 ? 2 : 0) + (x >= w / 2 ? 1 : 0)];
}

std::vector<uint8_t> quadrantsJpeg(int w, int h, int flags = 0) {
    std::vector<uint8_t> bgrx(size_t(w) * size_t(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bgr c = quadrantColour(x, y, w, h);
            uint8_t* p = &bgrx[(size_t(y) * size_t(w) + size_t(x)) * 4];
            p[0] = uint8_t(c[0]);
            p[1] = uint8_t(c[1]);
            p[2] = uint8_t(c[2]);
        }
    tjhandle tj = tjInitCompress();
    unsigned char* raw = nullptr;
    unsigned long size = 0;
    std::vector<uint8_t> jpeg;
    if (tjCompress2(tj, bgrx.data(), w, w * 4, h, TJPF_BGRX, &raw, &size, TJSAMP_420, 90, flags) ==
        0)
        jpeg.assign(raw, raw + size);
    tjFree(raw);
    tjDestroy(tj);
    return jpeg;
}

} // namespace

// Camera frames: a JPEG decodes straight into BGRX with its colours, a Motion-JPEG frame that
// leaves out its Huffman tables (as USB cameras send them) decodes all the same, and a picture
// cut short or anything that is not a JPEG is refused rather than shown as a whole picture.
TEST(JpegFrameDecoder, ReadsCameraPictures) {
    const std::vector<uint8_t> jpeg = quadrantsJpeg(64, 48);
    ASSERT_FALSE(jpeg.empty());

    // The same picture without its DHT segments.
    std::vector<uint8_t> bare(jpeg.begin(), jpeg.begin() + 2);
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        const size_t length = (size_t(jpeg[at + 2]) << 8 | jpeg[at + 3]) + 2;
        if (jpeg[at + 1] != 0xC4)
            bare.insert(bare.end(), jpeg.begin() + long(at), jpeg.begin() + long(at + length));
        at += length;
    }
    bare.insert(bare.end(), jpeg.begin() + long(at), jpeg.end());
    ASSERT_LT(bare.size(), jpeg.size());

    JpegFrameDecoder decoder;
    for (const std::vector<uint8_t>* bytes :
         {&jpeg, static_cast<const std::vector<uint8_t>*>(&bare)}) {
        int w = 0, h = 0;
        ASSERT_TRUE(decoder.size(bytes->data(), bytes->size(), w, h));
        ASSERT_EQ(w, 64);
        ASSERT_EQ(h, 48);
        std::vector<uint8_t> bgrx(size_t(w) * size_t(h) * 4);
        ASSERT_TRUE(decoder.decode(bytes->data(), bytes->size(), bgrx.data(), w, h));
        for (auto [x, y] : {std::pair{16, 12}, {48, 12}, {16, 36}, {48, 36}}) {
            SCOPED_TRACE(testing::Message() << "pixel " << x << "," << y);
            const uint8_t* p = &bgrx[(size_t(y) * size_t(w) + size_t(x)) * 4];
            const Bgr want = quadrantColour(x, y, w, h);
            for (int i = 0; i < 3; ++i)
                EXPECT_NEAR(p[i], want[size_t(i)], 16);
        }
    }

    const std::vector<uint8_t> junk = {0xFF, 0xD8, 0x12, 0x34, 0x56, 0xFF, 0xD9};
    std::vector<uint8_t> bgrx(64 * 48 * 4);
    int w = 0, h = 0;
    // Cut halfway through the picture data, after the headers.
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + long(at + (jpeg.size() - at) / 2));
    cut.insert(cut.end(), {0xFF, 0xD9});
    ASSERT_TRUE(decoder.size(cut.data(), cut.size(), w, h));
    EXPECT_FALSE(decoder.decode(cut.data(), cut.size(), bgrx.data(), 64, 48));
    EXPECT_FALSE(decoder.decode(junk.data(), junk.size(), bgrx.data(), 64, 48));
    EXPECT_FALSE(decoder.size(nullptr, 0, w, h));
}

// The size comes from the frame header, past whatever segments come first, and agrees with the
// decoder's own reading of the header; a stream with no readable frame header has none.
TEST(JpegFrameDecoder, ReadsTheSizeFromTheFrameHeader) {
    const std::vector<uint8_t> plain = quadrantsJpeg(64, 48);
    ASSERT_FALSE(plain.empty());
    const auto after = [&](const std::vector<uint8_t>& inserted) { // inserted right after SOI
        std::vector<uint8_t> out = plain;
        for (size_t i = 0; i < inserted.size(); ++i)
            out.insert(out.begin() + long(2 + i), inserted[i]);
        return out;
    };
    // An EXIF-like segment carrying a small picture's own frame header, which is not the size.
    const std::vector<uint8_t> thumbnail = {0xFF, 0xE1, 0x00, 0x0F, 'E',  'x',  'i',  'f', 0,
                                            0,    0xFF, 0xC0, 0x00, 0x11, 0x08, 0x00, 0x10};
    std::vector<uint8_t> sosFirst = plain;
    sosFirst[2] = 0xFF;
    sosFirst[3] = 0xDA;
    const std::vector<uint8_t> noSize = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x0B, 0x08, 0x00,
                                         0x00, 0x00, 0x40, 0x03, 0x01, 0x22, 0x00};
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        int width; // 0: no size
        int height;
    };
    const Case cases[] = {
        {"baseline", plain, 64, 48},
        {"progressive", quadrantsJpeg(40, 30, TJFLAG_PROGRESSIVE), 40, 30},
        {"odd size", quadrantsJpeg(33, 17), 33, 17},
        {"large", quadrantsJpeg(1920, 1080), 1920, 1080},
        {"thumbnail segment first", after(thumbnail), 64, 48},
        {"fill bytes before a marker", after({0xFF, 0xFF}), 64, 48},
        {"restart marker before the header", after({0xFF, 0xD0}), 64, 48},
        {"picture data before any frame header", sosFirst, 0, 0},
        {"frame header without a height", noSize, 0, 0},
        {"cut inside the header", std::vector<uint8_t>(plain.begin(), plain.begin() + 30), 0, 0},
        {"not a JPEG", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}, 0, 0},
        {"start marker only", {0xFF, 0xD8}, 0, 0},
    };
    JpegFrameDecoder decoder;
    tjhandle tj = tjInitDecompress();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int w = -1, h = -1;
        const bool known = decoder.size(c.bytes.data(), c.bytes.size(), w, h);
        ASSERT_EQ(known, c.width > 0);
        if (!known)
            continue;
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        int tw = 0, th = 0, sub = 0, space = 0;
        ASSERT_EQ(tjDecompressHeader3(tj, c.bytes.data(),
                                      static_cast<unsigned long>(c.bytes.size()), &tw, &th, &sub,
                                      &space),
                  0);
        EXPECT_EQ(w, tw);
        EXPECT_EQ(h, th);
        std::vector<uint8_t> bgrx(size_t(w) * size_t(h) * 4);
        EXPECT_TRUE(decoder.decode(c.bytes.data(), c.bytes.size(), bgrx.data(), w, h));
    }
    tjDestroy(tj);
}
