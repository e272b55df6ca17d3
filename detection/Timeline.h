#pragma once

#include <QImage>
#include <QTime>
#include <cstdint>
#include <string>

// Top of the timeline bar for level `L` against threshold `T`: (1 - L / T) * 90, kept within
// 5 (full bar) .. 90 (no bar), rounded with halves to even. The clamp happens in double
// precision before rounding, so huge levels still draw a full bar; a threshold of 0 or less
// draws a full bar instead of dividing by zero.
int TimelineBarTop(int32_t L, int T);

// Column of the 24-hour chart for a time of day: 20 at 00:00:00, one column per 12 minutes,
// 139 at 23:59:59. The four 6-hour windows start at columns 20, 50, 80 and 110. Returns 0 for a
// time outside 00:00:00..23:59:59.
int TimelineColumn(int hour, int minute, int second);

// "hh:nn:ss" with hours 00..23.
std::string TimelineClockText(const QTime& time);

struct TimelineStep {
    int x = 0;            // column drawn
    int y = 90;           // bar top
    bool cleared = false; // the column was wiped because the slot changed
    std::string timeText; // "hh:nn:ss"
};

// The 24-hour chart kept in an off-screen image the size of the timeline box, so drawn columns
// survive the pane being hidden or covered and stay until their slot comes round again. Only
// the bars live here; the frame, grid and legends are painted over it by the widget.
class TimelineChart {
public:
    static constexpr int kWidth = 145; // the timeline box in pixels
    static constexpr int kHeight = 119;
    static constexpr int kBaseline = 90;
    static constexpr int kFullTop = 5;

    TimelineChart();

    // One tick: wipes the column when it differs from the last one wiped, then draws the bar
    // from the baseline up to its top in `stateColor` (platform colour value).
    TimelineStep draw(int32_t L, int T, uint32_t stateColor, const QTime& now);

    const QImage& image() const { return m_image; }
    int16_t LastTimelineX() const { return m_lastTimelineX; }

private:
    // A vertical line from (x, fromY) towards (x, toY), the end point excluded, as the
    // platform's line drawing does: a line from 90 to 90 sets nothing.
    void verticalLine(int x, int fromY, int toY, QRgb colour);

    QImage m_image;
    int16_t m_lastTimelineX = 0;
};
