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

uint64_t framediff::scalarMasked(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n,
                                 unsigned floor, const uint8_t* keep, uint64_t* changed, bool) {
    uint64_t sum = 0;
    for (size_t group = 0; group < n; group += 4) {
        unsigned seen = 0;
        for (size_t i = group; i < std::min(n, group + 4); ++i) {
            unsigned d = unsigned(std::abs(int(prev[i]) - int(cur[i])));
            if (d < floor)
                d = 0;
            diff[i] = uint8_t(d);
            sum += d & keep[i];
            if (i - group < 3)
                seen |= d & keep[i];
        }
        if (changed && seen)
            ++*changed;
    }
    return sum;
}

namespace {
using framediff::Kernel;
using framediff::MaskedKernel;
using framediff::SpanKernel;
const auto diffScalar = framediff::scalar;
const auto maskedScalar = framediff::scalarMasked;

// Above this size the difference image goes out with non-temporal stores: it is not read again
// in this tick, and writing it around the cache spares the read of every destination line that
// an ordinary store costs, which on a frame larger than the caches is a quarter of the traffic.
constexpr size_t kStreamBytes = 4 * 1024 * 1024;

#ifdef PAWLINEX_X86
// |a - b| per byte is the OR of the two saturated differences; the noise floor is a mask of
// the bytes where max(d, floor) == d.
__attribute__((target("sse2"), always_inline)) inline __m128i
absDiffSse2(const uint8_t* prev, const uint8_t* cur, __m128i vfloor, bool floored) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(prev));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cur));
    const __m128i d = _mm_or_si128(_mm_subs_epu8(a, b), _mm_subs_epu8(b, a));
    return floored ? _mm_and_si128(d, _mm_cmpeq_epi8(_mm_max_epu8(d, vfloor), d)) : d;
}

// The sum runs through SAD against zero, which adds eight bytes into a 64-bit lane without any
// chance of overflow.
__attribute__((target("sse2"))) uint64_t diffSse2(const uint8_t* prev, const uint8_t* cur,
                                                  uint8_t* diff, size_t n, unsigned floor) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i vfloor = _mm_set1_epi8(char(floor));
    __m128i acc = zero;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i d = absDiffSse2(prev + i, cur + i, vfloor, floor > 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + i), d);
        acc = _mm_add_epi64(acc, _mm_sad_epu8(d, zero));
    }
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    return lanes[0] + lanes[1] + diffScalar(prev + i, cur + i, diff + i, n - i, floor);
}

// The masked row: the sum goes through SAD of the difference ANDed with the keep mask; the
// count compares each 4-byte group of that, its fourth byte dropped, with zero, so a group whose
// kept colour bytes did not change is one lane of the compare.
__attribute__((target("sse2,popcnt"))) uint64_t maskedSse2(const uint8_t* prev, const uint8_t* cur,
                                                           uint8_t* diff, size_t n, unsigned floor,
                                                           const uint8_t* keep, uint64_t* changed,
                                                           bool) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i vfloor = _mm_set1_epi8(char(floor));
    const __m128i colour = _mm_set1_epi32(0x00FFFFFF);
    __m128i acc = zero;
    uint64_t still = 0;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m128i d = absDiffSse2(prev + i, cur + i, vfloor, floor > 1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(diff + i), d);
        const __m128i kept =
            _mm_and_si128(d, _mm_loadu_si128(reinterpret_cast<const __m128i*>(keep + i)));
        acc = _mm_add_epi64(acc, _mm_sad_epu8(kept, zero));
        if (changed) {
            const __m128i same = _mm_cmpeq_epi32(_mm_and_si128(kept, colour), zero);
            still += unsigned(_mm_popcnt_u32(unsigned(_mm_movemask_ps(_mm_castsi128_ps(same)))));
        }
    }
    if (changed)
        *changed += i / 4 - still;
    uint64_t lanes[2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), acc);
    return lanes[0] + lanes[1] +
           maskedScalar(prev + i, cur + i, diff + i, n - i, floor, keep + i, changed, false);
}

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

// One block of a masked row. `still` gains -1 in each 32-bit lane whose kept colour bytes did
// not change: a vector sum, so the count costs no trip through the general registers.
template <bool Counting>
__attribute__((target("avx2"), always_inline)) inline __m256i
spanBlockAvx2(const uint8_t* prev, const uint8_t* cur, __m256i keep, __m256i vfloor, bool floored,
              __m256i& acc, __m256i& still) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i d = absDiffAvx2(prev, cur, vfloor, floored);
    const __m256i kept = _mm256_and_si256(d, keep);
    acc = _mm256_add_epi64(acc, _mm256_sad_epu8(kept, zero));
    if constexpr (Counting) {
        const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
        still = _mm256_add_epi32(still, _mm256_cmpeq_epi32(_mm256_and_si256(kept, colour), zero));
    }
    return d;
}

// Read from 32 - k on: the first k of 32 bytes set, for k from 0 to 32.
alignas(64) constexpr uint8_t kFirstBytes[64] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

__attribute__((target("avx2"))) inline __m256i firstBytes(size_t k) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kFirstBytes + 32 - k));
}

// The keep mask of the 32 bytes from `at`, the spans walked from `span` on, which must not lie
// past the one holding `at`. Only a block across a cell border needs more than a broadcast.
__attribute__((target("avx2"))) inline __m256i keepFrom(size_t at, const framediff::Span* span) {
    while (span->end <= at)
        ++span;
    if (span->end >= at + 32)
        return span->kept ? _mm256_set1_epi8(-1) : _mm256_setzero_si256();
    __m256i keep = _mm256_setzero_si256();
    for (size_t begin = at; begin < at + 32; begin = span->end, ++span) {
        if (span->kept)
            keep = _mm256_or_si256(
                keep, _mm256_andnot_si256(firstBytes(begin - at),
                                          firstBytes(std::min(span->end, at + 32) - at)));
    }
    return keep;
}

template <bool Stream>
__attribute__((target("avx2"))) inline void storeAvx2(uint8_t* to, __m256i d) {
    if constexpr (Stream)
        _mm256_stream_si256(reinterpret_cast<__m256i*>(to), d);
    else
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), d);
}

template <bool Kept, bool Counting>
__attribute__((target("avx2"), always_inline)) inline void addBlockAvx2(__m256i d, __m256i& acc,
                                                                        __m256i& still) {
    const __m256i zero = _mm256_setzero_si256();
    if constexpr (Kept) {
        acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d, zero));
        if constexpr (Counting) {
            const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
            still = _mm256_add_epi32(still, _mm256_cmpeq_epi32(_mm256_and_si256(d, colour), zero));
        }
    }
}

// Whole blocks from `i` up to `stop` inside one span: a kept span adds every byte and counts
// every group, a masked one only gets its difference, so neither does more than the plain loop.
// Two blocks a turn and the noise floor decided outside the loop keep the loop's own work low;
// the count packs the groups of both blocks into one vector of 16-bit lanes, a chunk at a time
// so that no lane overflows.
template <bool Kept, bool Counting, bool Stream, bool Floored>
__attribute__((target("avx2"), always_inline)) inline size_t
spanRunAvx2(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t i, size_t stop,
            __m256i vfloor, __m256i& acc, __m256i& still) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i colour = _mm256_set1_epi32(0x00FFFFFF);
    while (i + 64 <= stop) {
        const size_t chunkStop = std::min(stop, i + size_t(32767) * 64);
        __m256i still16 = zero;
        for (; i + 64 <= chunkStop; i += 64) {
            const __m256i d0 = absDiffAvx2(prev + i, cur + i, vfloor, Floored);
            const __m256i d1 = absDiffAvx2(prev + i + 32, cur + i + 32, vfloor, Floored);
            storeAvx2<Stream>(diff + i, d0);
            storeAvx2<Stream>(diff + i + 32, d1);
            if constexpr (Kept) {
                acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d0, zero));
                acc = _mm256_add_epi64(acc, _mm256_sad_epu8(d1, zero));
            }
            if constexpr (Kept && Counting) {
                // Unsigned saturation keeps a changed group nonzero.
                const __m256i groups =
                    _mm256_packus_epi32(_mm256_and_si256(d0, colour), _mm256_and_si256(d1, colour));
                still16 = _mm256_add_epi16(still16, _mm256_cmpeq_epi16(groups, zero));
            }
        }
        if constexpr (Kept && Counting)
            still = _mm256_add_epi32(still, _mm256_madd_epi16(still16, _mm256_set1_epi16(1)));
    }
    if (i + 32 <= stop) {
        const __m256i d = absDiffAvx2(prev + i, cur + i, vfloor, Floored);
        storeAvx2<Stream>(diff + i, d);
        addBlockAvx2<Kept, Counting>(d, acc, still);
        i += 32;
    }
    return i;
}

template <bool Counting, bool Stream>
__attribute__((target("avx2"), always_inline)) inline size_t
spanRunAvx2(bool kept, bool floored, const uint8_t* prev, const uint8_t* cur, uint8_t* diff,
            size_t i, size_t stop, __m256i vfloor, __m256i& acc, __m256i& still) {
    if (kept)
        return floored ? spanRunAvx2<true, Counting, Stream, true>(prev, cur, diff, i, stop, vfloor,
                                                                   acc, still)
                       : spanRunAvx2<true, Counting, Stream, false>(prev, cur, diff, i, stop,
                                                                    vfloor, acc, still);
    return floored ? spanRunAvx2<false, Counting, Stream, true>(prev, cur, diff, i, stop, vfloor,
                                                                acc, still)
                   : spanRunAvx2<false, Counting, Stream, false>(prev, cur, diff, i, stop, vfloor,
                                                                 acc, still);
}

// Bytes `from` to `to` of a row (at least a block), span by span: inside a span the keep mask is
// no work at all, only a block across a cell border is masked byte by byte. A range that does
// not end on a block goes out in one last block that overlaps the one before it, its overlap
// left out of the sums. `span` is a cursor that only moves forward.
template <bool Counting, bool Stream>
__attribute__((target("avx2"), always_inline)) inline void
spanRangeAvx2(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t from, size_t to,
              const framediff::Span*& span, __m256i vfloor, bool floored, __m256i& acc,
              __m256i& still, uint64_t& counted) {
    size_t i = from;
    while (i + 32 <= to) {
        while (span->end <= i)
            ++span;
        if (span->end >= i + 32) {
            const size_t stop = std::min(span->end, to);
            const size_t start = i;
            i = spanRunAvx2<Counting, Stream>(span->kept, floored, prev, cur, diff, i, stop, vfloor,
                                              acc, still);
            if (span->kept)
                counted += (i - start) / 32;
        } else {
            const __m256i d = spanBlockAvx2<Counting>(prev + i, cur + i, keepFrom(i, span), vfloor,
                                                      floored, acc, still);
            storeAvx2<Stream>(diff + i, d);
            i += 32;
            ++counted;
        }
    }
    if (i < to) {
        const size_t at = to - 32;
        const __m256i keep = _mm256_andnot_si256(firstBytes(i - at), keepFrom(at, span));
        const __m256i d =
            spanBlockAvx2<Counting>(prev + at, cur + at, keep, vfloor, floored, acc, still);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(diff + at), d);
        ++counted;
    }
}

// The masked row. With `Stream`, the difference goes around the cache, to whole aligned lines
// only: a line that also got bytes through the cache would be written out piecemeal, once a row,
// which costs more than streaming saves. The ends of the row, a block or more each, go through
// the cache; the caller leaves room for both, and keeps the lines at pixels when counting.
template <bool Counting, bool Stream>
__attribute__((target("avx2"))) uint64_t
spansAvx2(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t from, size_t to,
          unsigned floor, const framediff::Span* spans, uint64_t* changed) {
    const __m256i vfloor = _mm256_set1_epi8(char(floor));
    const bool floored = floor > 1;
    __m256i acc = _mm256_setzero_si256();
    __m256i still = _mm256_setzero_si256(); // minus the unchanged groups, per lane
    uint64_t counted = 0;                   // blocks whose groups went into `still`
    const framediff::Span* span = spans;
    if constexpr (Stream) {
        const uintptr_t base = reinterpret_cast<uintptr_t>(diff);
        const size_t lines = ((base + from + 32 + 63) & ~uintptr_t(63)) - base;
        const size_t linesEnd = ((base + to - 32) & ~uintptr_t(63)) - base;
        spanRangeAvx2<Counting, false>(prev, cur, diff, from, lines, span, vfloor, floored, acc,
                                       still, counted);
        spanRangeAvx2<Counting, true>(prev, cur, diff, lines, linesEnd, span, vfloor, floored, acc,
                                      still, counted);
        spanRangeAvx2<Counting, false>(prev, cur, diff, linesEnd, to, span, vfloor, floored, acc,
                                       still, counted);
    } else {
        spanRangeAvx2<Counting, false>(prev, cur, diff, from, to, span, vfloor, floored, acc, still,
                                       counted);
    }
    if constexpr (Counting) {
        int32_t lanes[8];
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), still);
        int64_t unchanged = 0;
        for (int32_t lane : lanes)
            unchanged -= lane;
        *changed += counted * 8 - uint64_t(unchanged);
    }
    uint64_t sums[4];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(sums), acc);
    return sums[0] + sums[1] + sums[2] + sums[3];
}

uint64_t spansAvx2Either(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t from,
                         size_t to, unsigned floor, const framediff::Span* spans, uint64_t* changed,
                         bool stream) {
    if (to - from < 32) { // shorter than a block: byte by byte
        uint8_t keep[32];
        const framediff::Span* span = spans;
        for (size_t k = 0; k < to - from; ++k) {
            while (span->end <= from + k)
                ++span;
            keep[k] = span->kept ? 0xFF : 0;
        }
        return maskedScalar(prev + from, cur + from, diff + from, to - from, floor, keep, changed,
                            false);
    }
    // Streaming needs room for a few aligned lines between the ends, and when counting, lines
    // that start at a pixel.
    const bool lined =
        to - from >= 256 && (!changed || (reinterpret_cast<uintptr_t>(diff + from) & 3) == 0);
    if (stream && lined)
        return changed ? spansAvx2<true, true>(prev, cur, diff, from, to, floor, spans, changed)
                       : spansAvx2<false, true>(prev, cur, diff, from, to, floor, spans, changed);
    return changed ? spansAvx2<true, false>(prev, cur, diff, from, to, floor, spans, changed)
                   : spansAvx2<false, false>(prev, cur, diff, from, to, floor, spans, changed);
}

#endif

// Non-temporal stores are weakly ordered: this makes them visible before anything that follows.
void fenceStreamedStores() {
#ifdef PAWLINEX_X86
    _mm_sfence();
#endif
}

size_t listKernels(framediff::NamedKernel* out, size_t capacity) {
    size_t n = 0;
    auto add = [&](const char* name, Kernel fn, MaskedKernel masked, SpanKernel spans) {
        if (n < capacity)
            out[n] = {name, fn, masked, spans};
        ++n;
    };
    add("scalar", diffScalar, maskedScalar, nullptr);
#ifdef PAWLINEX_X86
    __builtin_cpu_init();
    const MaskedKernel masked128 = __builtin_cpu_supports("popcnt") ? maskedSse2 : maskedScalar;
    if (__builtin_cpu_supports("sse2"))
        add("sse2", diffSse2, masked128, nullptr);
    if (__builtin_cpu_supports("avx2"))
        add("avx2", diffAvx2, masked128, spansAvx2Either);
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
const MaskedKernel maskedKernel = picked.masked;
const SpanKernel spanKernel = picked.spans;

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
    auto own = std::make_shared<FrameBytes>(std::move(cur.bits));
    cur.bits.clear();
    SharedBits old = state.PrevFrame;
    CompareResult r{};
    try {
        r = compare(SharedFrame{cur.header, own}, state, skipNextCompare, accuracy, noise, diff,
                    extras);
    } catch (...) {
        cur.bits = own->takeVector(); // a rejected frame stays the caller's
        throw;
    }
    if (old && old.use_count() == 1)
        cur.bits = const_cast<FrameBytes&>(*old).takeVector();
    return r;
}

} // namespace

size_t framediff::availableKernels(NamedKernel* out, size_t capacity) {
    return listKernels(out, capacity);
}

namespace {

// What every row of one cell row keeps: 0xFF in `keep` for the bytes of unmasked cells, the
// same again as `spans` (runs of cells alike), and the number of those bytes and of their pixels
// in one row.
struct RowMask {
    std::vector<uint8_t> keep;
    std::vector<framediff::Span> spans;
    int64_t bytes = 0;
    int64_t pixels = 0;
};

} // namespace

// The masks of the twelve cell rows for one frame shape, with what they were made for. The
// filler bytes after the last pixel go with its cell; on a frame narrower than the grid that is
// not the last column.
struct CellMasks {
    DetectionMask mask;
    PixelGeometry geometry;
    int32_t rowBytes = 0;
    std::array<RowMask, DetectionMask::kRows> rows;

    bool fits(const DetectionMask& m, const PixelGeometry& g, int32_t bytes) const {
        return mask == m && geometry.pixelBytes == g.pixelBytes && geometry.width == g.width &&
               rowBytes == bytes;
    }
};

namespace {

std::shared_ptr<const CellMasks> cellMasks(const DetectionMask& mask, const PixelGeometry& g,
                                           int32_t rowBytes) {
    auto made = std::make_shared<CellMasks>();
    made->mask = mask;
    made->geometry = g;
    made->rowBytes = rowBytes;
    const int lastColumn = DetectionMask::cellColumn(g.width - 1, g.width);
    for (int r = 0; r < DetectionMask::kRows; ++r) {
        RowMask& m = made->rows[size_t(r)];
        m.keep.assign(size_t(rowBytes), 0);
        for (int c = 0; c <= lastColumn; ++c) {
            const int64_t begin = DetectionMask::columnStart(c, g.width) * g.pixelBytes;
            const int64_t end = c == lastColumn
                                    ? rowBytes
                                    : DetectionMask::columnStart(c + 1, g.width) * g.pixelBytes;
            if (begin >= end)
                continue; // a cell of a frame narrower than the grid, without pixels
            const bool kept = !mask.masked(c, r);
            if (!m.spans.empty() && m.spans.back().kept == kept)
                m.spans.back().end = size_t(end);
            else
                m.spans.push_back({size_t(end), kept});
            if (!kept)
                continue;
            std::memset(m.keep.data() + begin, 0xFF, size_t(end - begin));
            m.bytes += end - begin;
            m.pixels += (std::min(end, g.pixelEnd) - begin) / g.pixelBytes;
        }
    }
    return made;
}

// The comparison cell by cell: every byte still gets its difference, but only unmasked ones
// add to the sum, and the light guard counts the changed pixels in the same pass (for pixels
// of other than four bytes, right after each row, while it is in the cache).
Totals compareByCells(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, const BitmapHeader& h,
                      unsigned floor, const CompareExtras& extras,
                      std::shared_ptr<const CellMasks>& cache) {
    const PixelGeometry g = pixelGeometry(h);
    const int32_t rowBytes = h.bmWidthBytes;
    if (!cache || !cache->fits(extras.mask, g, rowBytes))
        cache = cellMasks(extras.mask, g, rowBytes);
    const bool counting = extras.lightPercent > 0;
    // Like the whole-frame kernel, a frame larger than the caches writes its difference around
    // them.
    const bool stream = size_t(rowBytes) * size_t(h.bmHeight) >= kStreamBytes;
    // The kernel counts 4-byte groups: only the pixels of 4-byte formats, never the filler.
    const size_t counted = counting && g.pixelBytes == 4 ? size_t(g.pixelEnd) : 0;
    Totals t;
    uint64_t sum = 0;
    int64_t bytes = 0;
    for (int32_t y = 0; y < h.bmHeight; ++y) {
        const RowMask& m = cache->rows[size_t(DetectionMask::cellRow(y, h.bmHeight))];
        const size_t at = size_t(y) * size_t(rowBytes);
        bytes += m.bytes;
        if (counting)
            t.pixels += uint64_t(m.pixels);
        if (floor > 255) { // a difference is at most 255: the floor drops every byte
            std::memset(diff + at, 0, size_t(rowBytes));
            continue;
        }
        const uint8_t* keep = m.keep.data();
        if (spanKernel) {
            sum += spanKernel(prev + at, cur + at, diff + at, 0, counted, floor, m.spans.data(),
                              &t.changed, stream);
            sum += spanKernel(prev + at, cur + at, diff + at, counted, size_t(rowBytes), floor,
                              m.spans.data(), nullptr, stream);
        } else {
            sum += maskedKernel(prev + at, cur + at, diff + at, counted, floor, keep, &t.changed,
                                stream);
            sum += maskedKernel(prev + at + counted, cur + at + counted, diff + at + counted,
                                size_t(rowBytes) - counted, floor, keep + counted, nullptr, stream);
        }
        if (counting && counted == 0) {
            for (int64_t x = 0; x < g.pixelEnd; x += g.pixelBytes)
                if (keep[x] && pixelChanged(diff + at + size_t(x), g.pixelBytes))
                    ++t.changed;
        }
    }
    if (stream)
        fenceStreamedStores();
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
                               floor, extras, state.Masks);
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
