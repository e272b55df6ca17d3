#include "detection/FrameDifference.h"
#include "detection/FrameDifferenceKernels.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>

namespace {

std::vector<uint8_t> Bytes(const FrameBytes& b) {
    return {b.begin(), b.end()};
}

using CompareFn = CompareResult (*)(Frame&, DetectorState&, bool&, int, bool, std::vector<uint8_t>&,
                                    const CompareExtras&);

struct Impl {
    const char* name;
    CompareFn fn;
};
const Impl kImpls[] = {{"fast", &CompareFrame}, {"reference", &CompareFrameReference}};

CompareResult run(const Impl& impl, Frame& f, DetectorState& state, bool& skip, int accuracy,
                  bool noise, std::vector<uint8_t>& diff, const CompareExtras& extras = {}) {
    return impl.fn(f, state, skip, accuracy, noise, diff, extras);
}

BitmapHeader header(int32_t width, int32_t height, int32_t rowBytes, uint16_t bpp) {
    BitmapHeader h;
    h.bmType = 0;
    h.bmWidth = width;
    h.bmHeight = height;
    h.bmWidthBytes = rowBytes;
    h.bmPlanes = 1;
    h.bmBitsPixel = bpp;
    h.bmBits = 0;
    return h;
}

Frame filled(const BitmapHeader& h, uint8_t value) {
    return Frame{h, std::vector<uint8_t>(size_t(h.bmWidthBytes) * size_t(h.bmHeight), value)};
}

// Primes a fresh detector with `first`, then compares `second` against it.
CompareResult primeThenCompare(const Impl& impl, Frame first, Frame second, int accuracy,
                               bool noise, std::vector<uint8_t>* diffOut = nullptr,
                               const CompareExtras& extras = {}) {
    DetectorState state;
    bool skip = false;
    std::vector<uint8_t> diff;
    const CompareResult primed = run(impl, first, state, skip, accuracy, noise, diff, extras);
    EXPECT_FALSE(primed.Compared);
    EXPECT_EQ(primed.ChangeLevel, 0);
    EXPECT_FALSE(primed.LightChange);
    const CompareResult r = run(impl, second, state, skip, accuracy, noise, diff, extras);
    if (diffOut)
        *diffOut = diff;
    return r;
}

// The level rules: mean byte difference times the precision, halves to even, the noise floor
// at the bits-per-pixel value, every byte counted.
TEST(FrameDifference, LevelRules) {
    struct Case {
        const char* what;
        BitmapHeader h;
        uint8_t a, b;
        int accuracy;
        bool noise;
        int32_t level;
    };
    const BitmapHeader h32 = header(8, 6, 32, 32);
    const BitmapHeader h24 = header(5, 3, 16, 24); // 15 colour bytes + 1 filler byte per row
    const Case cases[] = {
        {"identical frames", h32, 77, 77, 100, false, 0},
        {"every byte off by 255", h32, 0, 255, 100, false, 25500},
        {"every byte off by 255, precision 1", h32, 255, 0, 1, false, 255},
        {"24-bit, noise on, 23 dropped", h24, 100, 123, 7, true, 0},
        {"24-bit, noise on, 24 kept", h24, 100, 124, 7, true, 24 * 7},
        {"24-bit, noise off, 23 kept", h24, 123, 100, 7, false, 23 * 7},
        {"32-bit, noise on, 31 dropped", h32, 0, 31, 100, true, 0},
        {"32-bit, noise on, 32 kept", h32, 32, 0, 100, true, 3200},
        {"16-bit, noise on, 15 dropped", header(4, 2, 8, 16), 0, 15, 10, true, 0},
        {"16-bit, noise on, 16 kept", header(4, 2, 8, 16), 0, 16, 10, true, 160},
    };
    for (const Impl& impl : kImpls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            const CompareResult r =
                primeThenCompare(impl, filled(c.h, c.a), filled(c.h, c.b), c.accuracy, c.noise);
            EXPECT_TRUE(r.Compared);
            EXPECT_EQ(r.ChangeLevel, c.level);
        }
    }
}

// Adds `delta` to bytes [firstByte, lastByte] of each pixel in columns [x0, x1) and rows
// [y0, y1) of a frame with `pixelBytes` bytes per pixel.
Frame changed(Frame f, int x0, int x1, int y0, int y1, int delta, int pixelBytes = 4,
              int firstByte = 0, int lastByte = 3) {
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x)
            for (int b = firstByte; b <= lastByte && b < pixelBytes; ++b) {
                uint8_t& byte = f.bits[size_t(y * f.header.bmWidthBytes + x * pixelBytes + b)];
                byte = uint8_t(byte + delta);
            }
    return f;
}

// Adds `delta` to the filler bytes after the pixels of every row.
Frame fillers(Frame f, int delta) {
    const int pixelEnd = f.header.bmWidth * f.header.bmBitsPixel / 8;
    for (int y = 0; y < f.header.bmHeight; ++y)
        for (int x = pixelEnd; x < f.header.bmWidthBytes; ++x)
            f.bits[size_t(y * f.header.bmWidthBytes + x)] += uint8_t(delta);
    return f;
}

// Masked cells add nothing and the level is the mean over the unmasked bytes, so a change
// keeps its level whatever is masked around it. The light guard counts pixels with a changed
// colour byte (the fourth byte is none) over the unmasked picture.
TEST(FrameDifference, MaskAndLightRules) {
    const BitmapHeader h32 = header(32, 24, 128, 32); // cells of 2 x 2 pixels
    const BitmapHeader h24 = header(16, 12, 50, 24);  // one pixel a cell, 2 filler bytes a row
    const Frame a32 = filled(h32, 100);
    const Frame a24 = filled(h24, 100);
    DetectionMask leftHalf;
    for (int c = 0; c < 8; ++c)
        for (int r = 0; r < DetectionMask::kRows; ++r)
            leftHalf.setMasked(c, r, true);
    DetectionMask lastColumn;
    for (int r = 0; r < DetectionMask::kRows; ++r)
        lastColumn.setMasked(15, r, true);
    struct Case {
        const char* what;
        Frame b;
        DetectionMask mask;
        int light;
        bool noise;
        int32_t level;
        bool lightChange;
        uint64_t watched, changedPixels;
    };
    const Case cases[] = {
        {"half changed, no mask", changed(a32, 0, 16, 0, 24, 100), {}, 0, false, 500, false, 0, 0},
        {"change in masked cells only", changed(a32, 0, 16, 0, 24, 100), leftHalf, 0, false, 0,
         false, 0, 0},
        {"change in unmasked cells keeps its weight", changed(a32, 16, 32, 0, 24, 100), leftHalf, 0,
         false, 1000, false, 0, 0},
        {"cell boundary: column 15 of 32 is cell 7", changed(a32, 15, 16, 0, 24, 100), leftHalf, 0,
         false, 0, false, 0, 0},
        {"cell boundary: column 16 of 32 is cell 8", changed(a32, 16, 17, 0, 24, 128), leftHalf, 0,
         false, 80, false, 0, 0},
        {"whole picture brighter",
         changed(a32, 0, 32, 0, 24, 40, 4, 0, 2),
         {},
         50,
         false,
         300,
         true,
         768,
         768},
        {"fourth byte only: no pixel changed",
         changed(a32, 0, 32, 0, 24, 40, 4, 3, 3),
         {},
         1,
         false,
         100,
         false,
         768,
         0},
        {"a quarter changed, guard at 30 %",
         changed(a32, 0, 16, 0, 12, 8, 4, 1, 1),
         {},
         30,
         false,
         5,
         false,
         768,
         192},
        {"a quarter changed, guard at 24 %",
         changed(a32, 0, 16, 0, 12, 8, 4, 1, 1),
         {},
         24,
         false,
         5,
         true,
         768,
         192},
        {"a quarter changed, guard at 25 %: not more",
         changed(a32, 0, 16, 0, 12, 8, 4, 1, 1),
         {},
         25,
         false,
         5,
         false,
         768,
         192},
        {"all changed, guard at 100 %",
         changed(a32, 0, 32, 0, 24, 40),
         {},
         100,
         false,
         400,
         false,
         768,
         768},
        {"masked change is no light", changed(a32, 0, 16, 0, 24, 40), leftHalf, 10, false, 0, false,
         384, 0},
        {"noise on, 31 dropped", changed(a32, 0, 32, 0, 24, 31), {}, 50, true, 0, false, 768, 0},
        {"noise on, 32 kept", changed(a32, 0, 32, 0, 24, 32), {}, 50, true, 320, true, 768, 768},
        {"noise off, 1 counts",
         changed(a32, 0, 32, 0, 24, 1, 4, 2, 2),
         {},
         99,
         false,
         2,
         true,
         768,
         768},
        {"24-bit, last column masked", changed(a24, 0, 8, 0, 12, 50, 3), lastColumn, 60, false, 267,
         false, 180, 96},
        {"24-bit, noise on", changed(a24, 0, 16, 0, 12, 24, 3), lastColumn, 90, true, 240, true,
         180, 180},
        {"24-bit: fillers count, but are no pixels",
         fillers(a24, 24),
         {},
         1,
         true,
         10,
         false,
         192,
         0},
        {"24-bit: fillers belong to the last cell", fillers(a24, 24), lastColumn, 1, true, 0, false,
         180, 0},
    };
    for (const Impl& impl : kImpls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            const Frame& a = c.b.header == h32 ? a32 : a24;
            const CompareResult r = primeThenCompare(impl, a, c.b, 10, c.noise, nullptr,
                                                     CompareExtras{c.mask, c.light});
            EXPECT_TRUE(r.Compared);
            EXPECT_EQ(r.ChangeLevel, c.level);
            EXPECT_EQ(r.LightChange, c.lightChange);
            EXPECT_EQ(r.WatchedPixels, c.watched);
            EXPECT_EQ(r.ChangedPixels, c.changedPixels);
        }
    }
}

// Mean 0.125 (one byte in eight changed by 1): 0.5 rounds to 0, 1.5 to 2, 2.5 to 2, 3.5 to 4.
TEST(FrameDifference, RoundsHalvesToEven) {
    const BitmapHeader h = header(4, 4, 16, 32);
    Frame a = filled(h, 10);
    Frame b = filled(h, 10);
    for (size_t i = 0; i < b.bits.size(); i += 8)
        b.bits[i] = 11;
    const std::pair<int, int32_t> cases[] = {{4, 0}, {12, 2}, {20, 2}, {28, 4}, {3, 0}, {5, 1}};
    for (const Impl& impl : kImpls) {
        for (auto [accuracy, level] : cases) {
            SCOPED_TRACE(std::string(impl.name) + " accuracy " + std::to_string(accuracy));
            EXPECT_EQ(primeThenCompare(impl, a, b, accuracy, false).ChangeLevel, level);
        }
    }
}

// The filler bytes at the end of each row and the fourth byte of a 32-bit pixel count like
// colour bytes, and appear in the difference image.
TEST(FrameDifference, CountsPaddingAndFillerBytes) {
    const BitmapHeader h = header(3, 2, 10, 24); // 9 colour bytes + 1 filler per row
    Frame a = filled(h, 0);
    Frame b = filled(h, 0);
    b.bits[9] = 200;  // filler of row 0
    b.bits[19] = 100; // filler of row 1
    for (const Impl& impl : kImpls) {
        SCOPED_TRACE(impl.name);
        std::vector<uint8_t> diff;
        const CompareResult r = primeThenCompare(impl, a, b, 20, false, &diff);
        EXPECT_EQ(r.ChangeLevel, 300); // 300 / 20 bytes * 20
        ASSERT_EQ(diff.size(), 20u);
        EXPECT_EQ(diff[9], 200);
        EXPECT_EQ(diff[19], 100);
        EXPECT_EQ(diff[0], 0);
    }
}

// Every header field but the width must match for a comparison; a mismatch, the skip flag or
// the very first frame only re-primes: level 0, no comparison, the new frame becomes the
// reference and the flag is cleared.
TEST(FrameDifference, ReprimesOnHeaderChangeAndSkipFlag) {
    const BitmapHeader base = header(8, 4, 32, 32);
    struct Case {
        const char* what;
        std::function<void(BitmapHeader&)> change;
        bool skip;
        bool compares;
    };
    const Case cases[] = {
        {"same header", [](BitmapHeader&) {}, false, true},
        {"width only", [](BitmapHeader& h) { h.bmWidth = 7; }, false, true},
        {"skip flag", [](BitmapHeader&) {}, true, false},
        {"height", [](BitmapHeader& h) { h.bmHeight = 5; }, false, false},
        {"bytes per row", [](BitmapHeader& h) { h.bmWidthBytes = 28; }, false, false},
        {"bits per pixel", [](BitmapHeader& h) { h.bmBitsPixel = 24; }, false, false},
        {"type", [](BitmapHeader& h) { h.bmType = 1; }, false, false},
        {"planes", [](BitmapHeader& h) { h.bmPlanes = 2; }, false, false},
        {"bits pointer", [](BitmapHeader& h) { h.bmBits = 4096; }, false, false},
    };
    for (const Impl& impl : kImpls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            DetectorState state;
            bool skip = false;
            std::vector<uint8_t> diff;
            Frame first = filled(base, 0);
            run(impl, first, state, skip, 100, false, diff);
            EXPECT_TRUE(state.FramesReady);

            BitmapHeader h2 = base;
            c.change(h2);
            Frame second = filled(h2, 255);
            skip = c.skip;
            const CompareResult r = run(impl, second, state, skip, 100, false, diff);
            EXPECT_EQ(r.Compared, c.compares);
            EXPECT_EQ(r.ChangeLevel, c.compares ? 25500 : 0);
            EXPECT_FALSE(skip);
            EXPECT_EQ(state.PrevHeader, h2);
            ASSERT_TRUE(state.PrevFrame);
            ASSERT_EQ(state.PrevFrame->size(), size_t(h2.bmWidthBytes) * size_t(h2.bmHeight));
            EXPECT_EQ((*state.PrevFrame)[0], 255);
            if (!c.compares) {
                // Shaped like the frame, and black: no stale image from an earlier tick.
                EXPECT_EQ(diff.size(), state.PrevFrame->size());
                EXPECT_EQ(std::count(diff.begin(), diff.end(), 0), std::ptrdiff_t(diff.size()));
            }

            // The re-primed reference is compared at the next frame.
            Frame third = filled(h2, 254);
            const CompareResult next = run(impl, third, state, skip, 100, false, diff);
            EXPECT_TRUE(next.Compared);
            EXPECT_EQ(next.ChangeLevel, 100);
        }
    }
}

// A frame with no bytes or a byte count beyond 32 bits is an error for the tick to catch, and
// leaves the reference untouched.
TEST(FrameDifference, RejectsFramesItCannotCount) {
    struct Case {
        const char* what;
        BitmapHeader h;
        size_t bytes;
        bool overflow;
    };
    const Case cases[] = {
        {"no rows", header(4, 0, 16, 32), 0, false},
        {"no bytes per row", header(0, 4, 0, 32), 0, false},
        {"negative rows", header(4, -3, 16, 32), 0, false},
        {"negative both", header(4, -3, -16, 32), 48, false},
        {"byte count over 32 bits", header(65536, 65536, 65536 * 4, 32), 0, true},
    };
    for (const Impl& impl : kImpls) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(impl.name) + ": " + c.what);
            DetectorState state;
            bool skip = true;
            std::vector<uint8_t> diff;
            Frame ok = filled(header(2, 2, 8, 32), 9);
            bool noSkip = false;
            run(impl, ok, state, noSkip, 100, false, diff);
            const DetectorState before = state;

            Frame bad{c.h, std::vector<uint8_t>(c.bytes, 1)};
            if (c.overflow)
                EXPECT_THROW(run(impl, bad, state, skip, 100, false, diff), std::overflow_error);
            else
                EXPECT_THROW(run(impl, bad, state, skip, 100, false, diff), std::domain_error);
            EXPECT_EQ(state.PrevFrame, before.PrevFrame);
            EXPECT_EQ(state.PrevHeader, before.PrevHeader);
            EXPECT_TRUE(skip);
        }
    }
}

TEST(FrameDifference, RejectsFrameShorterThanItsHeader) {
    for (const Impl& impl : kImpls) {
        DetectorState state;
        bool skip = false;
        std::vector<uint8_t> diff;
        Frame shortFrame{header(4, 4, 16, 32), std::vector<uint8_t>(63, 0)};
        EXPECT_THROW(run(impl, shortFrame, state, skip, 100, false, diff), std::length_error)
            << impl.name;
    }
}

// A precision the level cannot hold in 32 bits is an error, not a wrapped number.
TEST(FrameDifference, LevelBeyond32BitsThrows) {
    const BitmapHeader h = header(2, 2, 8, 32);
    for (const Impl& impl : kImpls) {
        EXPECT_THROW(primeThenCompare(impl, filled(h, 0), filled(h, 255), 1 << 30, false),
                     std::overflow_error)
            << impl.name;
    }
}

// The fast comparison must give the very same level, difference bytes and light count as the
// plain one, for odd shapes that exercise every vector tail and every cell boundary, with and
// without noise removal, with no mask and with random ones, with the light guard off and on,
// over a run of frames (so the buffer swapping is exercised as well).
TEST(FrameDifference, FastMatchesReferenceOnRandomFrames) {
    std::mt19937 rng(20261207);
    const uint16_t bppChoices[] = {8, 16, 24, 32, 1, 300};
    const struct {
        const char* what;
        bool mask;
        bool light;
    } variants[] = {
        {"no mask", false, false},
        {"random mask", true, false},
        {"light guard", false, true},
        {"random mask, light guard", true, true},
    };
    int compared = 0;
    for (int width = 1; width <= 67; ++width) {
        for (uint16_t bpp : bppChoices) {
            const int32_t rowBytes = int32_t(((width * std::max<int>(bpp, 8) + 15) / 16) * 2 +
                                             (width % 3 == 0 ? 1 : 0)); // odd rows too
            const int32_t rows = 1 + int32_t(rng() % 29);
            const BitmapHeader h = header(width, rows, rowBytes, bpp);
            for (bool noise : {false, true}) {
                for (const auto& v : variants) {
                    SCOPED_TRACE("width " + std::to_string(width) + " bpp " + std::to_string(bpp) +
                                 " rows " + std::to_string(rows) + (noise ? " noise, " : ", ") +
                                 v.what);
                    CompareExtras extras;
                    for (int c = 0; v.mask && c < DetectionMask::kColumns; ++c)
                        for (int r = 0; r < DetectionMask::kRows; ++r)
                            extras.mask.setMasked(c, r, rng() % 5 < 2);
                    extras.lightPercent = v.light ? 1 + int(rng() % 99) : 0;
                    DetectorState fastState, refState;
                    bool fastSkip = false, refSkip = false;
                    std::vector<uint8_t> fastDiff, refDiff;
                    const int accuracy = 1 + int(rng() % 100);
                    uint8_t base = uint8_t(rng());
                    for (int frameNo = 0; frameNo < 3; ++frameNo) {
                        Frame f = filled(h, 0);
                        // Mostly small changes around the noise floor, with some wild bytes and
                        // some unchanged ones.
                        for (uint8_t& byte : f.bits) {
                            const int r = int(rng() % 100);
                            byte = r < 30   ? base
                                   : r < 85 ? uint8_t(base + int(rng() % 61) - 30)
                                            : uint8_t(rng());
                        }
                        Frame g = f;
                        const CompareResult fr =
                            CompareFrame(f, fastState, fastSkip, accuracy, noise, fastDiff, extras);
                        const CompareResult rr = CompareFrameReference(
                            g, refState, refSkip, accuracy, noise, refDiff, extras);
                        ASSERT_EQ(fr.Compared, rr.Compared);
                        ASSERT_EQ(fr.ChangeLevel, rr.ChangeLevel);
                        ASSERT_EQ(fr.LightChange, rr.LightChange);
                        ASSERT_EQ(fr.WatchedPixels, rr.WatchedPixels);
                        ASSERT_EQ(fr.ChangedPixels, rr.ChangedPixels);
                        ASSERT_EQ(fastDiff, refDiff);
                        ASSERT_EQ(Bytes(*fastState.PrevFrame), Bytes(*refState.PrevFrame));
                        // Without the guard nothing is counted at all.
                        if (!v.light) {
                            ASSERT_EQ(fr.WatchedPixels, 0u);
                        }
                        compared += fr.Compared ? 1 : 0;
                    }
                }
            }
        }
    }
    EXPECT_EQ(compared, 67 * 6 * 2 * 4 * 2);
}

// Large frame: the vector loop carries the sum across many blocks without losing any of it.
TEST(FrameDifference, FastSumsLargeFrameExactly) {
    const BitmapHeader h = header(1921, 1081, 1921 * 4, 32);
    std::mt19937 rng(7);
    Frame a = filled(h, 0);
    for (uint8_t& byte : a.bits)
        byte = uint8_t(rng());
    Frame b = filled(h, 0);
    for (uint8_t& byte : b.bits)
        byte = uint8_t(rng());
    CompareExtras checkered, leftThird;
    for (int c = 0; c < DetectionMask::kColumns; ++c) {
        for (int r = 0; r < DetectionMask::kRows; ++r) {
            checkered.mask.setMasked(c, r, (c + r) % 2 == 0);
            leftThird.mask.setMasked(c, r, c < 5);
        }
    }
    checkered.lightPercent = 50;
    const struct {
        CompareExtras extras;
        bool noise;
    } variants[] = {{{}, true}, {checkered, true}, {leftThird, false}};
    for (const auto& [extras, noise] : variants) {
        std::vector<uint8_t> fastDiff, refDiff;
        const CompareResult fr = primeThenCompare(kImpls[0], a, b, 97, noise, &fastDiff, extras);
        const CompareResult rr = primeThenCompare(kImpls[1], a, b, 97, noise, &refDiff, extras);
        EXPECT_EQ(fr.ChangeLevel, rr.ChangeLevel);
        EXPECT_GT(fr.ChangeLevel, 0);
        EXPECT_EQ(fr.ChangedPixels, rr.ChangedPixels);
        EXPECT_EQ(fr.LightChange, rr.LightChange);
        EXPECT_TRUE(fastDiff == refDiff);
    }
}

// Each vector path this CPU has, not only the one the dispatcher picks, against the scalar loop:
// every length up to a few vector widths (all tails), unaligned starts, and every floor.
TEST(FrameDifference, EveryKernelMatchesScalar) {
    framediff::NamedKernel kernels[8];
    const size_t count = framediff::availableKernels(kernels, 8);
    ASSERT_GE(count, 1u);
    EXPECT_STREQ(kernels[0].name, "scalar");
    std::mt19937 rng(99);
    std::vector<uint8_t> prev(400), cur(400), want(400), got(400);
    for (size_t k = 1; k < count; ++k) {
        SCOPED_TRACE(kernels[k].name);
        for (size_t n = 0; n <= 200; ++n) {
            for (unsigned floor : {0u, 1u, 2u, 16u, 24u, 32u, 128u, 255u}) {
                const size_t offset = n % 7;
                for (size_t i = 0; i < n + offset; ++i) {
                    prev[i] = uint8_t(rng());
                    cur[i] = rng() % 2 ? uint8_t(prev[i] + int(rng() % 65) - 32) : uint8_t(rng());
                }
                const uint64_t ws = framediff::scalar(prev.data() + offset, cur.data() + offset,
                                                      want.data(), n, floor);
                const uint64_t gs =
                    kernels[k].fn(prev.data() + offset, cur.data() + offset, got.data(), n, floor);
                ASSERT_EQ(gs, ws) << "n " << n << " floor " << floor;
                ASSERT_TRUE(std::equal(want.begin(), want.begin() + n, got.begin()))
                    << "n " << n << " floor " << floor;
            }
        }
    }
    // The masked row kernels: every length up to ten vector widths (streaming wants a few lines
    // between the ends of a row), unaligned starts, every floor, random keep masks (byte by
    // byte, or in runs as whole cells make them), streaming or not, with the count and without.
    // The span kernels get the same masks as spans.
    std::vector<uint8_t> keep(400);
    for (size_t k = 1; k < count; ++k) {
        SCOPED_TRACE(std::string(kernels[k].name) + " masked");
        for (size_t n = 0; n <= 330; ++n) {
            for (unsigned floor : {0u, 24u, 32u, 255u}) {
                const size_t offset = n % 37;
                const size_t longestRun = n % 2 ? 3 : 90;
                std::vector<framediff::Span> spans;
                for (size_t i = 0; i < n + offset;) {
                    const size_t end = std::min(n + offset, i + 1 + rng() % longestRun);
                    const bool kept = rng() % 3 != 0;
                    spans.push_back({end, kept});
                    for (; i < end; ++i) {
                        prev[i] = uint8_t(rng());
                        cur[i] = rng() % 3 ? prev[i] : uint8_t(prev[i] + int(rng() % 65) - 32);
                        keep[i] = kept ? 0xFF : 0;
                    }
                }
                for (bool counting : {false, true}) {
                    for (bool stream : {false, true}) {
                        uint64_t wantChanged = 7, gotChanged = 7;
                        const uint64_t ws = framediff::scalarMasked(
                            prev.data() + offset, cur.data() + offset, want.data() + offset, n,
                            floor, keep.data() + offset, counting ? &wantChanged : nullptr, false);
                        const uint64_t gs = kernels[k].masked(
                            prev.data() + offset, cur.data() + offset, got.data() + offset, n,
                            floor, keep.data() + offset, counting ? &gotChanged : nullptr, stream);
                        ASSERT_EQ(gs, ws) << "n " << n << " floor " << floor;
                        ASSERT_EQ(gotChanged, wantChanged) << "n " << n << " floor " << floor;
                        ASSERT_TRUE(std::equal(want.begin() + offset, want.begin() + offset + n,
                                               got.begin() + offset))
                            << "n " << n << " floor " << floor;
                        if (!kernels[k].spans || (counting && n % 4 != 0))
                            continue;
                        std::fill(got.begin(), got.end(), uint8_t(0));
                        uint64_t spanChanged = 7;
                        const uint64_t ss = kernels[k].spans(
                            prev.data(), cur.data(), got.data(), offset, offset + n, floor,
                            spans.data(), counting ? &spanChanged : nullptr, stream);
                        ASSERT_EQ(ss, ws) << "spans, n " << n << " floor " << floor;
                        ASSERT_EQ(spanChanged, wantChanged) << "spans, n " << n;
                        ASSERT_TRUE(std::equal(want.begin() + offset, want.begin() + offset + n,
                                               got.begin() + offset))
                            << "spans, n " << n << " floor " << floor;
                    }
                }
            }
        }
    }
    // Frame-sized runs take the path that writes the difference image around the cache, with
    // an unaligned start: the bytes before the first aligned block must not be lost.
    const size_t big = 4 * 1024 * 1024 + 77;
    std::vector<uint8_t> bigPrev(big + 8), bigCur(big + 8), bigWant(big + 8), bigGot(big + 8);
    for (size_t i = 0; i < bigPrev.size(); ++i) {
        bigPrev[i] = uint8_t(rng());
        bigCur[i] = uint8_t(rng());
    }
    for (size_t k = 1; k < count; ++k) {
        for (size_t offset : {0u, 3u}) {
            SCOPED_TRACE(std::string(kernels[k].name) + " large, offset " + std::to_string(offset));
            const uint64_t ws =
                framediff::scalar(bigPrev.data(), bigCur.data(), bigWant.data() + offset, big, 24);
            const uint64_t gs =
                kernels[k].fn(bigPrev.data(), bigCur.data(), bigGot.data() + offset, big, 24);
            EXPECT_EQ(gs, ws);
            EXPECT_TRUE(bigWant == bigGot);
            // A row that long in one span, counted and hardly changed: the count's narrow lanes
            // must not overflow.
            if (!kernels[k].spans)
                continue;
            const framediff::Span whole[] = {{big, true}};
            const std::vector<uint8_t> keepAll(big, 0xFF);
            std::vector<uint8_t> bigStill = bigPrev;
            for (size_t i = 0; i < big; i += 1001)
                bigStill[i] = uint8_t(bigStill[i] + 100);
            uint64_t wantChanged = 0, gotChanged = 0;
            const uint64_t wm = framediff::scalarMasked(bigPrev.data() + 1, bigStill.data() + 1,
                                                        bigWant.data() + offset + 1, big - 1, 24,
                                                        keepAll.data(), &wantChanged, false);
            const uint64_t gm =
                kernels[k].spans(bigPrev.data(), bigStill.data(), bigGot.data() + offset, 1, big,
                                 24, whole, &gotChanged, true);
            EXPECT_EQ(gm, wm);
            EXPECT_EQ(gotChanged, wantChanged);
            EXPECT_TRUE(bigWant == bigGot);
        }
    }
}

} // namespace

// A camera frame is shared, not copied: it becomes the reference as it is and is never written.
// A frame in a buffer of its own goes in as the reference too, and the buffer of the reference
// it replaces comes back for the next frame unless something else still holds it.
TEST(FrameDifference, ReferenceIsTheFrameBufferItself) {
    const BitmapHeader h = header(4, 3, 16, 32);
    DetectorState state;
    bool skip = false;
    std::vector<uint8_t> diff;

    const SharedFrame first{h, std::make_shared<FrameBytes>(48, 10)};
    const SharedFrame second{h, std::make_shared<FrameBytes>(48, 30)};
    CompareFrame(first, state, skip, 100, false, diff);
    EXPECT_EQ(state.PrevFrame, first.bits);
    const CompareResult r = CompareFrame(second, state, skip, 100, false, diff);
    EXPECT_TRUE(r.Compared);
    EXPECT_EQ(r.ChangeLevel, 2000);
    EXPECT_EQ(state.PrevFrame, second.bits);
    EXPECT_EQ(Bytes(*first.bits), std::vector<uint8_t>(48, 10));
    EXPECT_EQ(Bytes(*second.bits), std::vector<uint8_t>(48, 30));

    // Owned frames: the shared reference above is still held by `second`, so nothing comes back.
    Frame own = filled(h, 31);
    CompareFrame(own, state, skip, 100, false, diff);
    EXPECT_TRUE(own.bits.empty());
    ASSERT_TRUE(state.PrevFrame);
    EXPECT_EQ(Bytes(*state.PrevFrame), std::vector<uint8_t>(48, 31));
    const uint8_t* kept = state.PrevFrame->data();
    // Now the reference is only the detector's: its buffer is handed back with its bytes.
    Frame next = filled(h, 33);
    const CompareResult r2 = CompareFrame(next, state, skip, 100, false, diff);
    EXPECT_EQ(r2.ChangeLevel, 200);
    EXPECT_EQ(next.bits.data(), kept);
    EXPECT_EQ(next.bits, std::vector<uint8_t>(48, 31));

    // A frame the detector refuses stays with its owner.
    Frame bad{header(4, 3, 16, 32), std::vector<uint8_t>(10, 1)};
    EXPECT_THROW(CompareFrame(bad, state, skip, 100, false, diff), std::length_error);
    EXPECT_EQ(bad.bits.size(), 10u);
    EXPECT_EQ(Bytes(*state.PrevFrame), std::vector<uint8_t>(48, 33));
}
