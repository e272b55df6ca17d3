#include "detection/FrameDifference.h"
#include "detection/FrameDifferenceKernels.h"

#include <algorithm>
#include <array>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define PAWLINEX_X86 1
#endif

namespace {

// Byte count of one frame: bytes per row times rows, which must fit the 32-bit count the
// level is divided by. Checked before anything of the state is touched, so a bad frame leaves
// the reference as it was.
int32_t checkedByteCount(const BitmapHeader& header, size_t size) {
    const int64_t count = int64_t(header.bmWidthBytes) * int64_t(header.bmHeight);
    if (count > std::numeric_limits<int32_t>::max() || count < std::numeric_limits<int32_t>::min())
        throw std::overflow_error("frame byte count " + std::to_string(count) +
                                  " does not fit 32 bits");
    if (header.bmWidthBytes <= 0 || header.bmHeight <= 0)
        throw std::domain_error("frame has no bytes (" + std::to_string(header.bmWidthBytes) +
                                " bytes per row, " + std::to_string(header.bmHeight) + " rows)");
    if (size < size_t(count))
        throw std::length_error("frame holds " + std::to_string(size) + " bytes, header says " +
                                std::to_string(count));
    return int32_t(count);
}

// Whether the reference can be compared with this frame. The width is left out on purpose: a
// format that only changes the pixel count of a row but keeps its byte length compares byte by
// byte all the same.
bool sameShape(const BitmapHeader& a, const BitmapHeader& b) {
    return a.bmHeight == b.bmHeight && a.bmWidthBytes == b.bmWidthBytes &&
           a.bmBitsPixel == b.bmBitsPixel && a.bmType == b.bmType && a.bmBits == b.bmBits &&
           a.bmPlanes == b.bmPlanes;
}

// Mean difference per byte times the precision, rounded half to even, as a 32-bit level. The
// division comes before the multiplication so that both implementations round identically.
int32_t levelFrom(double sum, int32_t byteCount, int accuracy) {
    const double level = sum / double(byteCount) * double(accuracy);
    const int oldMode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double rounded = std::nearbyint(level);
    std::fesetround(oldMode);
    if (!(rounded >= double(std::numeric_limits<int32_t>::min()) &&
          rounded <= double(std::numeric_limits<int32_t>::max())))
        throw std::overflow_error("change level out of range");
    return int32_t(rounded);
}

} // namespace

// Scalar tail shared by the vector kernels; also the whole kernel where no vector unit exists.
uint64_t framediff::scalar(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n,
                           unsigned floor) {
    uint64_t sum = 0;
    for (size_t i = 0; i < n; ++i) {
        unsigned d = unsigned(std::abs(int(prev[i]) - int(cur[i])));
        if (d < floor)
            d = 0;
        diff[i] = uint8_t(d);
        sum += d;
    }
    return sum;
}

uint64_t framediff::scalarCount(const uint8_t* diff, size_t pixels) {
    uint64_t changed = 0;
    for (size_t i = 0; i < pixels; ++i, diff += 4)
        changed += (diff[0] | diff[1] | diff[2]) != 0 ? 1 : 0;
    return changed;
}

namespace {
using framediff::CountKernel;
using framediff::Kernel;
const auto diffScalar = framediff::scalar;
const auto countScalar = framediff::scalarCount;

#ifdef PAWLINEX_X86
// |a - b| per byte is the OR of the two saturated differences; the noise floor is a mask of
// the bytes where max(d, floor) == d; the sum runs through SAD against zero, which adds eight
// bytes into a 64-bit lane without any chance of overflow.
__attribute__((target("sse2"))) uint64_t diffSse2(const uint8_t* prev, const uint8_t* cur,
                                                  uint8_t* diff, size_t n, unsigned floor) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i vfloor = _mm_set1_epi8(char(floor));
    __m128i acc = zero;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur + i));
        __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
        if (floor > 1)
            d = _mm_and_si128(d, _mm_cmpeq_epi8(_mm_max_epu8(d, vfloor), d));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + i), d);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(d, zero));
    }
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    return lanes[0] + lanes[1] + diffScalar(prev + i, cur + i, diff + i, n - i, floor);
}

// Four pixels at a time: the unused fourth byte is masked off, and a pixel whose colour bytes
// are all zero compares equal to zero as a whole 32-bit lane.
__attribute__((target("sse2"))) uint64_t countSse2(const uint8_t* diff, size_t pixels) {
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    const __m128i zero = _mm_setzero_si128();
    uint64_t still = 0;
    size_t i = 0;
    for (; i + 4 <= pixels; i += 4) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(diff + i * 4));
        const __m128i same = _mm_cmpeq_epi32(_mm_and_si128(d, colour), zero);
        still += unsigned(__builtin_popcount(unsigned(_mm_movemask_ps(_mm_castsi128_ps(same)))));
    }
    return i - still + countScalar(diff + i * 4, pixels - i);
}

__attribute__((target("avx2,popcnt"))) uint64_t countAvx2(const uint8_t* diff, size_t pixels) {
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    const __m256i zero = _mm256_setzero_si256();
    uint64_t still = 0;
    size_t i = 0;
    for (; i + 8 <= pixels; i += 8) {
        const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(diff + i * 4));
        const __m256i same = _mm256_cmpeq_epi32(_mm256_and_si256(d, colour), zero);
        still += unsigned(_mm_popcnt_u32(unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(same)))));
    }
    return i - still + countScalar(diff + i * 4, pixels - i);
}

// Above this size the difference image goes out with non-temporal stores: it is not read again
// in this tick, and writing it around the cache spares the read of every destination line that
// an ordinary store costs, which on a frame larger than the caches is a quarter of the traffic.
constexpr size_t kStreamBytes = 4 * 1024 * 1024;

__attribute__((target("avx2"))) inline __m256i absDiffAvx2(const uint8_t* prev, const uint8_t* cur,
                                                           __m256i vfloor, bool masked) {
    const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(prev));
    const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(cur));
    const __m256i d = _mm256_or_si256(_mm256_subs_epu8(a, b), _mm256_subs_epu8(b, a));
    return masked ? _mm256_and_si256(d, _mm256_cmpeq_epi8(_mm256_max_epu8(d, vfloor), d)) : d;
}

__attribute__((target("avx2"))) uint64_t diffAvx2(const uint8_t* prev, const uint8_t* cur,
                                                  uint8_t* diff, size_t n, unsigned floor) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i vfloor = _mm256_set1_epi8(char(floor));
    const bool masked = floor > 1;
    uint64_t sum = 0;
    size_t i = 0;
    __m256i acc = zero;
    if (n >= kStreamBytes) {
        // Non-temporal stores need an aligned destination: the few bytes before it go scalar.
        const size_t head = (32 - (reinterpret_cast<uintptr_t>(diff) & 31)) & 31;
        sum += diffScalar(prev, cur, diff, head, floor);
        i = head;
        for (; i + 64 <= n; i += 64) {
            const __m256i d0 = absDiffAvx2(prev + i, cur + i, vfloor, masked);
            const __m256i d1 = absDiffAvx2(prev + i + 32, cur + i + 32, vfloor, masked);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(diff + i), d0);
            _mm256_stream_si256(reinterpret_cast<__m256i*>(diff + i + 32), d1);
            acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d0, zero));
            acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d1, zero));
        }
        _mm_sfence();
    }
    for (; i + 32 <= n; i += 32) {
        const __m256i d = absDiffAvx2(prev + i, cur + i, vfloor, masked);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(diff + i), d);
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d, zero));
    }
    uint64_t lanes[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), acc);
    return sum + lanes[0] + lanes[1] + lanes[2] + lanes[3] +
           diffScalar(prev + i, cur + i, diff + i, n - i, floor);
}

#endif

size_t listKernels(framediff::NamedKernel* out, size_t capacity) {
    size_t n = 0;
    auto add = [&](const char* name, Kernel fn, CountKernel count) {
        if (n < capacity)
            out[n] = {name, fn, count};
        ++n;
    };
    add("scalar", diffScalar, countScalar);
#ifdef PAWLINEX_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        add("sse2", diffSse2, countSse2);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt"))
        add("avx2", diffAvx2, countAvx2);
#endif
    return std::min(n, capacity);
}

framediff::NamedKernel pickKernel() {
    framediff::NamedKernel all[4];
    const size_t n = listKernels(all, 4);
    return all[n - 1];
}

const framediff::NamedKernel picked = pickKernel();
const Kernel kernel = picked.fn;
const CountKernel countKernel = picked.count;

// How the bytes of a row fall into pixels, and so into cells. A format whose pixels are whole
// bytes (8 to 32 bits) and whose width fits the row has `width` pixels of `pixelBytes` bytes;
// anything else (bits packed below a byte, a width the row cannot hold) is taken byte by byte,
// each byte a pixel of its own, so the grid still covers the row evenly.
struct PixelGeometry {
    int pixelBytes = 1;
    int64_t width = 0;    // pixels per row
    int64_t pixelEnd = 0; // bytes of a row that hold pixels; the rest is filler
};

PixelGeometry pixelGeometry(const BitmapHeader& h) {
    PixelGeometry g;
    const int bpp = h.bmBitsPixel;
    if (bpp >= 8 && bpp <= 32 && bpp % 8 == 0 && h.bmWidth > 0 &&
        int64_t(h.bmWidth) * (bpp / 8) <= h.bmWidthBytes) {
        g.pixelBytes = bpp / 8;
        g.width = h.bmWidth;
    } else {
        g.width = h.bmWidthBytes;
    }
    g.pixelEnd = g.width * g.pixelBytes;
    return g;
}

// Colour bytes of a pixel that has changed: any of the first three (B, G, R), or of as many as
// the pixel has.
bool pixelChanged(const uint8_t* diff, int pixelBytes) {
    for (int i = 0; i < std::min(pixelBytes, 3); ++i)
        if (diff[i] != 0)
            return true;
    return false;
}

// The totals a comparison ends with: the sum and the byte count the level is taken over, and
// the light guard's pixel counts.
struct Totals {
    double sum = 0;
    int32_t bytes = 0;
    uint64_t pixels = 0;  // unmasked pixels, counted only for the light guard
    uint64_t changed = 0; // of them, the changed ones
};

// The steps after the comparison, the same for both implementations: the frame just taken
// always becomes the next reference.
CompareResult finish(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                     bool compared, const Totals& t, int accuracy, int lightPercent) {
    // A mask that leaves no byte of this frame (a frame narrower than the grid) watches nothing.
    const int32_t level = compared && t.bytes > 0 ? levelFrom(t.sum, t.bytes, accuracy) : 0;
    const bool light = compared && lightPercent > 0 && t.pixels > 0 &&
                       t.changed * 100 > uint64_t(lightPercent) * t.pixels;
    skipNextCompare = false;
    state.PrevFrame = cur.bits;
    state.PrevHeader = cur.header;
    return CompareResult{level, compared, light, t.pixels, t.changed};
}

// Common preamble: validates the frame, primes the state on the first frame and says whether a
// comparison is due. `diff` is shaped like the frame either way.
bool prepare(const SharedFrame& cur, DetectorState& state, bool skipNextCompare, int32_t& byteCount,
             std::vector<uint8_t>& diff) {
    if (!cur.bits)
        throw std::domain_error("frame has no bits");
    byteCount = checkedByteCount(cur.header, cur.bits->size());
    state.FramesReady = true;
    const bool compare = !skipNextCompare && state.PrevFrame &&
                         sameShape(cur.header, state.PrevHeader) &&
                         state.PrevFrame->size() >= size_t(byteCount);
    diff.resize(size_t(byteCount));
    if (!compare)
        std::fill(diff.begin(), diff.end(), uint8_t(0));
    return compare;
}

using SharedCompare = CompareResult (*)(const SharedFrame&, DetectorState&, bool&, int, bool,
                                        std::vector<uint8_t>&, const CompareExtras&);

// A frame in its own buffer goes in as the reference without a copy; the old reference's buffer
// comes back to the caller when nobody else holds it. The buffers were all made writable (they
// are only shared read-only), so taking one back for writing is sound.
CompareResult compareOwned(SharedCompare compare, Frame& cur, DetectorState& state,
                           bool& skipNextCompare, int accuracy, bool noise,
                           std::vector<uint8_t>& diff, const CompareExtras& extras) {
    auto own = std::make_shared<std::vector<uint8_t>>(std::move(cur.bits));
    cur.bits.clear();
    SharedBits old = state.PrevFrame;
    CompareResult r{};
    try {
        r = compare(SharedFrame{cur.header, own}, state, skipNextCompare, accuracy, noise, diff,
                    extras);
    } catch (...) {
        cur.bits = std::move(*own); // a rejected frame stays the caller's
        throw;
    }
    if (old && old.use_count() == 1)
        cur.bits = std::move(const_cast<std::vector<uint8_t>&>(*old));
    return r;
}

} // namespace

size_t framediff::availableKernels(NamedKernel* out, size_t capacity) {
    return listKernels(out, capacity);
}

namespace {

// One stretch of a row's bytes that is all masked or all unmasked.
struct Segment {
    int32_t begin, end;
    bool masked;
};

// The segments of each cell row for this frame's shape. Neighbouring cells in the same state
// are one segment, so an unmasked row is a single kernel call.
using RowLayout = std::array<std::vector<Segment>, DetectionMask::kRows>;

RowLayout rowLayout(const DetectionMask& mask, const PixelGeometry& g, int32_t rowBytes) {
    RowLayout layout;
    // The filler bytes after the last pixel go with its cell; on a frame narrower than the grid
    // that is not the last column, and the columns after it hold nothing.
    const int lastColumn = DetectionMask::cellColumn(g.width - 1, g.width);
    for (int r = 0; r < DetectionMask::kRows; ++r) {
        std::vector<Segment>& segments = layout[size_t(r)];
        for (int c = 0; c <= lastColumn; ++c) {
            const auto begin = int32_t(DetectionMask::columnStart(c, g.width) * g.pixelBytes);
            const auto end =
                c == lastColumn
                    ? rowBytes
                    : int32_t(DetectionMask::columnStart(c + 1, g.width) * g.pixelBytes);
            if (begin >= end)
                continue; // a frame narrower than the grid leaves some cells without a pixel
            const bool masked = mask.masked(c, r);
            if (!segments.empty() && segments.back().masked == masked)
                segments.back().end = end;
            else
                segments.push_back({begin, end, masked});
        }
    }
    return layout;
}

// The comparison cell by cell: every byte still gets its difference, but only unmasked ones
// add to the sum, and the light guard counts the changed pixels of a segment while its
// difference bytes are still in the cache.
Totals compareByCells(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, const BitmapHeader& h,
                      unsigned floor, const CompareExtras& extras) {
    const PixelGeometry g = pixelGeometry(h);
    const RowLayout layout = rowLayout(extras.mask, g, h.bmWidthBytes);
    const bool counting = extras.lightPercent > 0;
    Totals t;
    uint64_t sum = 0;
    int64_t bytes = 0;
    for (int32_t y = 0; y < h.bmHeight; ++y) {
        const size_t row = size_t(y) * size_t(h.bmWidthBytes);
        for (const Segment& s : layout[size_t(DetectionMask::cellRow(y, h.bmHeight))]) {
            const size_t at = row + size_t(s.begin);
            const size_t n = size_t(s.end - s.begin);
            // A difference is at most 255, so a floor above it drops every byte.
            uint64_t part = 0;
            if (floor > 255)
                std::memset(diff + at, 0, n);
            else
                part = kernel(prev + at, cur + at, diff + at, n, floor);
            if (s.masked)
                continue;
            sum += part;
            bytes += int64_t(n);
            if (!counting)
                continue;
            const int64_t pixelBytes =
                std::max<int64_t>(0, std::min<int64_t>(s.end, g.pixelEnd) - s.begin);
            const size_t pixels = size_t(pixelBytes / g.pixelBytes);
            t.pixels += pixels;
            if (g.pixelBytes == 4) {
                t.changed += countKernel(diff + at, pixels);
            } else {
                for (size_t p = 0; p < pixels; ++p)
                    t.changed +=
                        pixelChanged(diff + at + p * size_t(g.pixelBytes), g.pixelBytes) ? 1 : 0;
            }
        }
    }
    t.sum = double(sum); // exact: see CompareFrame
    t.bytes = int32_t(bytes);
    return t;
}

} // namespace

CompareResult CompareFrame(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                           int accuracy, bool noise, std::vector<uint8_t>& diff,
                           const CompareExtras& extras) {
    int32_t byteCount = 0;
    const bool compare = prepare(cur, state, skipNextCompare, byteCount, diff);
    Totals t;
    t.bytes = byteCount;
    if (compare) {
        // A difference is at most 255, so a floor above it drops every byte.
        const unsigned floor = noise ? std::min<unsigned>(cur.header.bmBitsPixel, 256u) : 0u;
        if (!extras.mask.empty() || extras.lightPercent > 0) {
            t = compareByCells(state.PrevFrame->data(), cur.bits->data(), diff.data(), cur.header,
                               floor, extras);
        } else if (floor > 255) {
            std::fill(diff.begin(), diff.end(), uint8_t(0));
        } else {
            // At most 255 * 2^31 < 2^53: exact as an integer and exact again as a double, so the
            // level matches the plain version's double sum bit for bit.
            t.sum = double(kernel(state.PrevFrame->data(), cur.bits->data(), diff.data(),
                                  size_t(byteCount), floor));
        }
    }
    return finish(cur, state, skipNextCompare, compare, t, accuracy, extras.lightPercent);
}

CompareResult CompareFrame(Frame& cur, DetectorState& state, bool& skipNextCompare, int accuracy,
                           bool noise, std::vector<uint8_t>& diff, const CompareExtras& extras) {
    return compareOwned(static_cast<SharedCompare>(CompareFrame), cur, state, skipNextCompare,
                        accuracy, noise, diff, extras);
}

namespace {

CompareResult compareReference(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                               int accuracy, bool noise, std::vector<uint8_t>& diff,
                               const CompareExtras& extras) {
    int32_t byteCount = 0;
    const bool compare = prepare(cur, state, skipNextCompare, byteCount, diff);
    Totals t;
    t.bytes = byteCount;
    if (compare) {
        const int32_t rowBytes = cur.header.bmWidthBytes;
        const int32_t rows = cur.header.bmHeight;
        const double noiseFloor = double(cur.header.bmBitsPixel);
        const PixelGeometry g = pixelGeometry(cur.header);
        // Filler bytes past the last pixel belong to the last pixel's cell.
        auto maskedAt = [&](int32_t y, int64_t x) {
            if (extras.mask.empty())
                return false;
            const int64_t pixel = std::min<int64_t>(x / g.pixelBytes, g.width - 1);
            return extras.mask.masked(DetectionMask::cellColumn(pixel, g.width),
                                      DetectionMask::cellRow(y, rows));
        };
        t.bytes = 0;
        for (int32_t y = 0; y < rows; ++y) {
            for (int32_t x = 0; x < rowBytes; ++x) {
                const size_t at = size_t(y) * size_t(rowBytes) + size_t(x);
                double d = std::fabs(double((*state.PrevFrame)[at]) - double((*cur.bits)[at]));
                if (noise && d < noiseFloor)
                    d = 0;
                diff[at] = uint8_t(d);
                if (!maskedAt(y, x)) {
                    t.sum += d;
                    ++t.bytes;
                }
            }
        }
        if (extras.lightPercent > 0) {
            for (int32_t y = 0; y < rows; ++y) {
                for (int64_t p = 0; p < g.width; ++p) {
                    if (maskedAt(y, p * g.pixelBytes))
                        continue;
                    ++t.pixels;
                    const size_t at = size_t(y) * size_t(rowBytes) + size_t(p * g.pixelBytes);
                    t.changed += pixelChanged(&diff[at], g.pixelBytes) ? 1 : 0;
                }
            }
        }
    }
    return finish(cur, state, skipNextCompare, compare, t, accuracy, extras.lightPercent);
}

} // namespace

CompareResult CompareFrameReference(Frame& cur, DetectorState& state, bool& skipNextCompare,
                                    int accuracy, bool noise, std::vector<uint8_t>& diff,
                                    const CompareExtras& extras) {
    return compareOwned(compareReference, cur, state, skipNextCompare, accuracy, noise, diff,
                        extras);
}
