// The demo camera must behave like a quiet room with an occasional intruder at the settings the
// demo run writes (TIMER=5 -> a tick every 0.5 s, CKSUM=40, ACCURACY=20, NOIZE=1): still scene
// calm, every walk-through an alarm. Fed through the detector's real comparison.
#include "capture/DemoRoom.h"
#include "detection/FrameDifference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kTick = 0.5;
constexpr int kAccuracy = 20;
constexpr int kThreshold = 40;

Frame frameAt(DemoRoom& room, double t) {
    Frame f;
    room.render(t, f.bits);
    f.header = BitmapHeader{0, DemoRoom::kWidth, DemoRoom::kHeight, DemoRoom::kWidth * 4, 1, 32, 0};
    return f;
}

} // namespace

TEST(DemoRoom, FrameIsBgrxWithZeroFourthByte) {
    DemoRoom room(1);
    Frame f = frameAt(room, 0.0);
    ASSERT_EQ(f.bits.size(), size_t(640) * 480 * 4);
    for (size_t i = 3; i < f.bits.size(); i += 4)
        ASSERT_EQ(f.bits[i], 0) << "byte " << i;
}

TEST(DemoRoom, StillSceneStaysCalmAndEveryWalkRaisesAnAlarm) {
    for (uint64_t seed : {1ull, 12345ull}) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        DemoRoom room(seed);
        DetectorState state;
        bool skip = false;
        std::vector<uint8_t> diff;
        int maxStill = 0;
        int walks = 0;
        int walksWithAlarm = 0;
        int bestInWalk = 0;
        int weakestWalk = 1 << 30;
        bool inWalk = false;
        for (double t = 0; t < 120.0; t += kTick) {
            int left = 0;
            bool now = room.figureLeft(t, left);
            bool before = t >= kTick && room.figureLeft(t - kTick, left);
            Frame f = frameAt(room, t);
            int level = CompareFrame(f, state, skip, kAccuracy, true, diff).ChangeLevel;
            if (!now && !before)
                maxStill = std::max(maxStill, level);
            if (now && !inWalk)
                bestInWalk = 0;
            if (now || before)
                bestInWalk = std::max(bestInWalk, level);
            if (inWalk && !now) { // a walk has just ended
                ++walks;
                weakestWalk = std::min(weakestWalk, bestInWalk);
                if (bestInWalk >= kThreshold)
                    ++walksWithAlarm;
            }
            inWalk = now;
        }
        std::printf("seed %llu: %d walks, weakest walk peaks at level %d, still scene at most %d\n",
                    static_cast<unsigned long long>(seed), walks, weakestWalk, maxStill);
        EXPECT_EQ(maxStill, 0) << "noise must vanish under noise removal";
        EXPECT_GE(walks, 120 / 20 - 1);
        EXPECT_EQ(walksWithAlarm, walks);
    }
}

TEST(DemoRoom, WalksComeEveryTenToTwentySeconds) {
    DemoRoom room(99);
    std::vector<DemoRoom::Crossing> seen;
    for (double t = 0; t < 600; t += 1.0) {
        auto c = room.crossingAt(t);
        if (seen.empty() || seen.back().start != c.start)
            seen.push_back(c);
    }
    ASSERT_GT(seen.size(), 20u);
    for (size_t i = 1; i < seen.size(); ++i) {
        double gap = seen[i].start - seen[i - 1].start;
        EXPECT_GE(gap, 10.0);
        EXPECT_LE(gap, 20.0);
    }
}

TEST(DemoRoom, NoiseWithoutNoiseRemovalStaysBelowTheDemoThreshold) {
    // Someone who switches noise removal off should see a restless but not alarming room.
    DemoRoom room(3);
    DetectorState state;
    bool skip = false;
    std::vector<uint8_t> diff;
    Frame f0 = frameAt(room, 0.0);
    CompareFrame(f0, state, skip, kAccuracy, false, diff);
    Frame f1 = frameAt(room, kTick);
    int level = CompareFrame(f1, state, skip, kAccuracy, false, diff).ChangeLevel;
    EXPECT_GT(level, 0);
    EXPECT_LT(level, kThreshold);
}
