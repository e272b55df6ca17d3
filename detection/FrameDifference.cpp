#include "detection/FrameDifference.h"
#include "detection/FrameDifferenceKernels.h"

#include <algorithm>
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

namespace {
using framediff::Kernel;
const auto diffScalar = framediff::scalar;

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
    auto add = [&](const char* name, Kernel fn) {
        if (n < capacity)
            out[n] = {name, fn};
        ++n;
    };
    add("scalar", diffScalar);
#ifdef PAWLINEX_X86
    __builtin_cpu_init();
    if (__builtin_cpu_supports("sse2"))
        add("sse2", diffSse2);
    if (__builtin_cpu_supports("avx2"))
        add("avx2", diffAvx2);
#endif
    return std::min(n, capacity);
}

Kernel pickKernel() {
    framediff::NamedKernel all[4];
    const size_t n = listKernels(all, 4);
    return all[n - 1].fn;
}

const Kernel kernel = pickKernel();

// The steps after the comparison, the same for both implementations: the frame just taken
// always becomes the next reference.
CompareResult finish(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                     int32_t byteCount, bool compared, double sum, int accuracy) {
    const int32_t level = compared ? levelFrom(sum, byteCount, accuracy) : 0;
    skipNextCompare = false;
    state.PrevFrame = cur.bits;
    state.PrevHeader = cur.header;
    return CompareResult{level, compared};
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
                                        std::vector<uint8_t>&);

// A frame in its own buffer goes in as the reference without a copy; the old reference's buffer
// comes back to the caller when nobody else holds it. The buffers were all made writable (they
// are only shared read-only), so taking one back for writing is sound.
CompareResult compareOwned(SharedCompare compare, Frame& cur, DetectorState& state,
                           bool& skipNextCompare, int accuracy, bool noise,
                           std::vector<uint8_t>& diff) {
    auto own = std::make_shared<std::vector<uint8_t>>(std::move(cur.bits));
    cur.bits.clear();
    SharedBits old = state.PrevFrame;
    CompareResult r{};
    try {
        r = compare(SharedFrame{cur.header, own}, state, skipNextCompare, accuracy, noise, diff);
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

CompareResult CompareFrame(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                           int accuracy, bool noise, std::vector<uint8_t>& diff) {
    int32_t byteCount = 0;
    const bool compare = prepare(cur, state, skipNextCompare, byteCount, diff);
    double sum = 0;
    if (compare) {
        // A difference is at most 255, so a floor above it drops every byte.
        const unsigned floor = noise ? std::min<unsigned>(cur.header.bmBitsPixel, 256u) : 0u;
        if (floor > 255) {
            std::fill(diff.begin(), diff.end(), uint8_t(0));
        } else {
            // At most 255 * 2^31 < 2^53: exact as an integer and exact again as a double, so the
            // level matches the plain version's double sum bit for bit.
            sum = double(kernel(state.PrevFrame->data(), cur.bits->data(), diff.data(),
                                size_t(byteCount), floor));
        }
    }
    return finish(cur, state, skipNextCompare, byteCount, compare, sum, accuracy);
}

CompareResult CompareFrame(Frame& cur, DetectorState& state, bool& skipNextCompare, int accuracy,
                           bool noise, std::vector<uint8_t>& diff) {
    return compareOwned(static_cast<SharedCompare>(CompareFrame), cur, state, skipNextCompare,
                        accuracy, noise, diff);
}

namespace {

CompareResult compareReference(const SharedFrame& cur, DetectorState& state, bool& skipNextCompare,
                               int accuracy, bool noise, std::vector<uint8_t>& diff) {
    int32_t byteCount = 0;
    const bool compare = prepare(cur, state, skipNextCompare, byteCount, diff);
    double sum = 0;
    if (compare) {
        const int32_t rowBytes = cur.header.bmWidthBytes;
        const int32_t rows = cur.header.bmHeight;
        const double noiseFloor = double(cur.header.bmBitsPixel);
        for (int32_t y = 0; y < rows; ++y) {
            for (int32_t x = 0; x < rowBytes; ++x) {
                const size_t at = size_t(y) * size_t(rowBytes) + size_t(x);
                double d = std::fabs(double((*state.PrevFrame)[at]) - double((*cur.bits)[at]));
                if (noise && d < noiseFloor)
                    d = 0;
                diff[at] = uint8_t(d);
                sum += d;
            }
        }
    }
    return finish(cur, state, skipNextCompare, byteCount, compare, sum, accuracy);
}

} // namespace

CompareResult CompareFrameReference(Frame& cur, DetectorState& state, bool& skipNextCompare,
                                    int accuracy, bool noise, std::vector<uint8_t>& diff) {
    return compareOwned(compareReference, cur, state, skipNextCompare, accuracy, noise, diff);
}
