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
// survive the pane being hidden or covered and stay until their slot comes round again. The
// image holds the black background with the white 6-hour grid lines and the bars drawn over
// them: a bar in a grid column hides the line where it stands (an alarm at 11:57 must show), and
// wiping the column brings the line back. The frame and legends are the widget's.
class TimelineChart {
public:
    static constexpr int kWidth = 145; // the timeline box in pixels
    static constexpr int kHeight = 119;
    static constexpr int kBaseline = 90;
    static constexpr int kFullTop = 5;
    // The 6-hour boundaries: 05:48-05:59, 11:48-11:59 and 18:00-18:11 share their column with a
    // grid line. The lines run from y 4 to 91, both ends included.
    static constexpr int kGridColumns[3] = {49, 79, 110};
    static constexpr int kGridTop = 4;
    static constexpr int kGridBottom = 91;

    TimelineChart();

    // One tick: wipes the column back to the background when it differs from the last one
    // wiped, then draws the bar from the baseline up to its top in `stateColor` (platform colour
    // value).
    TimelineStep draw(int32_t L, int T, uint32_t stateColor, const QTime& now);

    const QImage& image() const { return m_image; }
    int16_t LastTimelineX() const { return m_lastTimelineX; }

private:
    // A vertical line from (x, fromY) towards (x, toY), the end point excluded, as the
    // platform's line drawing does: a line from 90 to 90 sets nothing.
    void verticalLine(int x, int fromY, int toY, QRgb colour);

    QImage m_background; // black with the grid: what a wiped column returns to
    QImage m_image;
    int16_t m_lastTimelineX = 0;
};
