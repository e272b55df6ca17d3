#include "detection/Timeline.h"

#include "detection/AlarmPortsLive.h"
#include "detection/LevelState.h"

#include <gtest/gtest.h>

#include <ctime>

namespace {

// The system clock's time of day, which places the timeline's columns, is the local time, also in
// the seconds around a change of offset.
TEST(SystemClockTimeOfDay, IsTheLocalTimeAcrossOffsetChanges) {
    struct Case {
        const char* zone;
        QDateTime change; // in UTC
    };
    const Case cases[] = {
        {"America/New_York", {QDate(2026, 3, 8), QTime(7, 0), Qt::UTC}},      // summer time begins
        {"America/New_York", {QDate(2026, 11, 1), QTime(6, 0), Qt::UTC}},     // and ends
        {"Australia/Lord_Howe", {QDate(2026, 4, 4), QTime(15, 0), Qt::UTC}},  // half an hour back
        {"Asia/Kathmandu", {QDate(2026, 12, 7), QTime(18, 14, 59), Qt::UTC}}, // local midnight
        {"UTC", {QDate(2026, 12, 31), QTime(23, 59, 59), Qt::UTC}},
    };
    const QByteArray saved = qgetenv("TZ");
    const bool hadZone = qEnvironmentVariableIsSet("TZ");
    for (const Case& c : cases) {
        qputenv("TZ", c.zone);
        tzset();
        const SystemClock clock;
        const qint64 at = c.change.toMSecsSinceEpoch();
        for (qint64 ms = at - 3000; ms <= at + 3000; ms += 125)
            ASSERT_EQ(clock.timeOfDayAt(ms), QDateTime::fromMSecsSinceEpoch(ms).time())
                << c.zone << " " << ms - at << " ms from the change";
    }
    if (hadZone)
        qputenv("TZ", saved);
    else
        qunsetenv("TZ");
    tzset();
}

TEST(TimelineColumn, SixHourWindowsAndTwelveMinuteColumns) {
    struct Case {
        int h, m, s, x;
    };
    const Case cases[] = {
        {0, 0, 0, 20},    {0, 11, 59, 20},  {0, 12, 0, 21},    {5, 59, 59, 49}, {6, 0, 0, 50},
        {11, 59, 59, 79}, {12, 0, 0, 80},   {12, 11, 59, 80},  {12, 12, 0, 81}, {17, 59, 59, 109},
        {18, 0, 0, 110},  {23, 48, 0, 139}, {23, 59, 59, 139}, {24, 0, 0, 0},   {-1, 0, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimelineColumn(c.h, c.m, c.s), c.x) << c.h << ":" << c.m << ":" << c.s;
    // Every minute of the day agrees with 20 + minutes since midnight / 12.
    for (int minute = 0; minute < 24 * 60; ++minute)
        ASSERT_EQ(TimelineColumn(minute / 60, minute % 60, 30), 20 + minute / 12);
}

TEST(TimelineBarTop, HalvesToEvenAndClamps) {
    struct Case {
        int32_t L;
        int T;
        int y;
    };
    const Case cases[] = {
        {0, 100, 90},
        {50, 100, 45},
        {100, 100, 5},
        {101, 100, 5},
        {1, 4, 68},   // 67.5 -> 68
        {3, 4, 22},   // 22.5 -> 22
        {95, 100, 5}, // 4.5 clamps to 5
        {94, 100, 5}, // 5.4 -> 5
        {93, 100, 6}, // 6.3 -> 6
        // Far above the threshold: the unclamped value does not fit 16 bits and must still
        // give a full bar.
        {25500, 3, 5},
        {25500, 1, 5},
        {INT32_MAX, 1, 5},
        // A threshold of 0 draws a full bar instead of dividing by zero.
        {0, 0, 5},
        {1, 0, 5},
        {25500, 0, 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TimelineBarTop(c.L, c.T), c.y) << "L=" << c.L << " T=" << c.T;
}

// Column pixels from the baseline upwards that hold `colour`.
int BarHeight(const QImage& img, int x, QRgb colour) {
    int n = 0;
    for (int y = TimelineChart::kBaseline; y >= 0 && img.pixel(x, y) == colour; --y)
        ++n;
    return n;
}

TEST(TimelineChart, DrawsClearsAndRemembersColumns) {
    TimelineChart chart;
    const QRgb red = qRgb(255, 0, 0);
    const QRgb blue = qRgb(0, 0, 255);
    const QRgb black = qRgb(0, 0, 0);

    // The first tick always clears its column, because the last column starts at 0.
    TimelineStep s = chart.draw(25500, 3, StateColor(LevelState::Alarm), QTime(0, 0, 0));
    EXPECT_TRUE(s.cleared);
    EXPECT_EQ(s.x, 20);
    EXPECT_EQ(s.y, 5);
    EXPECT_EQ(s.timeText, "00:00:00");
    EXPECT_EQ(chart.LastTimelineX(), 20);
    EXPECT_EQ(BarHeight(chart.image(), 20, red), 85); // 90 down to 6: the end point is not set
    EXPECT_EQ(chart.image().pixel(20, 5), black);

    // Same slot: a lower calm bar paints over the bottom of the red one only.
    s = chart.draw(50, 100, StateColor(LevelState::Calm), QTime(0, 11, 59));
    EXPECT_FALSE(s.cleared);
    EXPECT_EQ(BarHeight(chart.image(), 20, blue), 45);
    EXPECT_EQ(chart.image().pixel(20, 40), red);

    // Next slot clears its column before drawing; level 0 draws nothing.
    s = chart.draw(0, 100, StateColor(LevelState::Calm), QTime(0, 12, 0));
    EXPECT_TRUE(s.cleared);
    EXPECT_EQ(s.x, 21);
    EXPECT_EQ(BarHeight(chart.image(), 21, blue), 0);
    // The earlier column stays for the rest of the day.
    EXPECT_EQ(chart.image().pixel(20, 40), red);

    // A day later the same slot comes round and is wiped first.
    s = chart.draw(0, 100, StateColor(LevelState::Calm), QTime(0, 5, 0));
    EXPECT_TRUE(s.cleared);
    for (int y = 6; y <= 90; ++y)
        ASSERT_EQ(chart.image().pixel(20, y), black) << y;
}

TEST(TimelineChart, ClockTextIsZeroPadded24Hour) {
    EXPECT_EQ(TimelineClockText(QTime(7, 5, 9)), "07:05:09");
    EXPECT_EQ(TimelineClockText(QTime(23, 59, 59)), "23:59:59");
}

} // namespace
