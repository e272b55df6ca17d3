// Frame bytes in a memory file: what another process reads from the file must be the frame, and a
// growing frame must move to a new file without losing what it held.
#include "detection/Frame.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <numeric>
#include <vector>

namespace {

// The bytes as another process mapping the file sees them.
std::vector<uint8_t> FromFile(const FrameBytes& b) {
    std::vector<uint8_t> out(b.size());
    const ssize_t got = pread(b.memoryFile(), out.data(), out.size(),
                              static_cast<off_t>(FrameBytes::memoryFileOffset()));
    EXPECT_EQ(got, static_cast<ssize_t>(out.size()));
    return out;
}

void Fill(FrameBytes& b, uint8_t first) {
    std::iota(b.begin(), b.end(), first);
}

} // namespace

TEST(FrameBytes, InAMemoryFileTheFileHoldsTheFrame) {
    struct Step {
        size_t size;
        bool newFile; // the bytes had to move
    };
    // Growing moves the bytes to a larger file; shrinking and growing back within it does not.
    const Step steps[] = {{640 * 480 * 4, true},
                          {320 * 240 * 4, false},
                          {640 * 480 * 4, false},
                          {1920 * 1080 * 4, true},
                          {1, false}};
    FrameBytes b{FrameBytes::InMemoryFile{}};
    EXPECT_EQ(b.memoryFile(), -1); // nothing made before the first size
    uint64_t serial = 0;
    uint8_t first = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(s.size);
        const std::vector<uint8_t> before(b.begin(), b.end());
        b.resize(s.size);
        ASSERT_EQ(b.size(), s.size);
        ASSERT_GE(b.memoryFile(), 0);
        EXPECT_EQ(b.memoryFileSerial() != serial, s.newFile);
        serial = b.memoryFileSerial();
        // What was there before stays, as far as it reaches.
        const size_t kept = std::min(before.size(), s.size);
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + kept, b.begin()));
        Fill(b, ++first);
        EXPECT_EQ(FromFile(b), std::vector<uint8_t>(b.begin(), b.end()));
    }
}

TEST(FrameBytes, OrdinaryAndBorrowedBytes) {
    std::vector<uint8_t> own(48, 7);
    FrameBytes heap(std::move(own));
    EXPECT_EQ(heap.memoryFile(), -1);
    EXPECT_EQ(heap.takeVector(), std::vector<uint8_t>(48, 7));
    EXPECT_TRUE(heap.empty());

    const std::vector<uint8_t> theirs(16, 9);
    FrameBytes borrowed(FrameBytes::Borrowed{}, theirs.data(), theirs.size());
    EXPECT_EQ(borrowed.data(), theirs.data());
    EXPECT_TRUE(borrowed.takeVector().empty()); // not this one's to hand over
    EXPECT_EQ(borrowed.size(), 16u);
    // Resized, borrowed bytes become a copy of their own; the lender's stay as they were.
    borrowed.resize(20);
    EXPECT_NE(borrowed.data(), theirs.data());
    EXPECT_EQ(std::vector<uint8_t>(borrowed.begin(), borrowed.begin() + 16), theirs);
    Fill(borrowed, 0);
    EXPECT_EQ(theirs, std::vector<uint8_t>(16, 9));
}
