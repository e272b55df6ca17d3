#pragma once

#include <cstddef>
#include <cstdint>

// The inner loop of the frame comparison: diff[i] = |prev[i] - cur[i]|, zeroed where it is below
// `floor` (0 or 1 keep every difference; `floor` must be at most 255), and the sum of diff.
// Exposed so that every vector path can be checked against the scalar one on any machine that
// has it, not only the path the dispatcher picks there.
namespace framediff {

using Kernel = uint64_t (*)(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n,
                            unsigned floor);

uint64_t scalar(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n, unsigned floor);

// The same for one row of a masked comparison: the returned sum only takes the bytes where
// `keep` is 0xFF (0 elsewhere). With `changed`, it grows by the number of 4-byte groups from
// `diff` on whose first three bytes have a kept difference (the colour bytes of unmasked
// pixels). With `stream`, the difference may bypass the cache (for frames larger than it); the
// caller then fences the stores before the difference is read by anyone else.
using MaskedKernel = uint64_t (*)(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n,
                                  unsigned floor, const uint8_t* keep, uint64_t* changed,
                                  bool stream);

uint64_t scalarMasked(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t n,
                      unsigned floor, const uint8_t* keep, uint64_t* changed, bool stream);

// A stretch of a row whose bytes all count or all do not: from the previous span's end (the
// first from the row start) up to `end`. Masks are whole cells, so a row is a few of these.
struct Span {
    size_t end;
    bool kept;
};

// The masked row again, with the keep mask given as spans that cover the row, and the bytes
// `from` to `to` of it compared (the pointers are to the row start). The same results as the
// masked kernel with the spans' keep bytes; with `changed`, `to - from` must be whole 4-byte
// groups.
using SpanKernel = uint64_t (*)(const uint8_t* prev, const uint8_t* cur, uint8_t* diff, size_t from,
                                size_t to, unsigned floor, const Span* spans, uint64_t* changed,
                                bool stream);

struct NamedKernel {
    const char* name;
    Kernel fn;
    MaskedKernel masked;
    SpanKernel spans; // null where the masked kernel is the fastest way
};
// Every path this CPU can run, the scalar one first; the last entry is the one CompareFrame uses.
size_t availableKernels(NamedKernel* out, size_t capacity);

} // namespace framediff
