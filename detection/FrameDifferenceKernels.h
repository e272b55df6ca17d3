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

// The light guard's count over a difference image of 4-byte pixels (B, G, R, unused): how many
// of the `pixels` pixels at `diff` have a colour byte that is not zero.
using CountKernel = uint64_t (*)(const uint8_t* diff, size_t pixels);

uint64_t scalarCount(const uint8_t* diff, size_t pixels);

struct NamedKernel {
    const char* name;
    Kernel fn;
    CountKernel count;
};
// Every path this CPU can run, the scalar one first; the last entry is the one CompareFrame uses.
size_t availableKernels(NamedKernel* out, size_t capacity);

} // namespace framediff
