#include "detection/Timeline.h"

#include "detection/LevelState.h"

#include <cmath>
#include <cstdio>

int TimelineBarTop(int32_t L, int T) {
    if (T <= 0)
        return TimelineChart::kFullTop;
    double top = (1.0 - static_cast<double>(L) / static_cast<double>(T)) * 90.0;
    if (top < TimelineChart::kFullTop)
        top = TimelineChart::kFullTop;
    else if (top > TimelineChart::kBaseline)
        top = TimelineChart::kBaseline;
    // Default floating-point rounding is to nearest with ties to even.
    return static_cast<int>(std::nearbyint(top));
}

namespace {
std::string TwoDigits(int v) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02d", v % 100);
    return buf;
}
} // namespace

std::string TimelineClockText(const QTime& time) {
    return TwoDigits(time.hour()) + ":" + TwoDigits(time.minute()) + ":" + TwoDigits(time.second());
}

int TimelineColumn(int hour, int minute, int second) {
    if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
        return 0;
    struct Window {
        int fromHour;
        int base;
    };
    static constexpr Window windows[] = {{0, 20}, {6, 50}, {12, 80}, {18, 110}};
    for (const Window& w : windows) {
        if (hour >= w.fromHour && hour < w.fromHour + 6) {
            const int minutes = (hour - w.fromHour) * 60 + minute;
            return w.base + minutes / 12;
        }
    }
    return 0;
}

TimelineChart::TimelineChart() : m_background(kWidth, kHeight, QImage::Format_RGB32) {
    m_background.fill(qRgb(0, 0, 0));
    for (int x : kGridColumns)
        for (int y = kGridTop; y <= kGridBottom; ++y)
            m_background.setPixel(x, y, qRgb(255, 255, 255));
    m_image = m_background.copy();
}

void TimelineChart::verticalLine(int x, int fromY, int toY, QRgb colour) {
    if (x < 0 || x >= m_image.width())
        return;
    const int step = toY < fromY ? -1 : 1;
    for (int y = fromY; y != toY; y += step) {
        if (y >= 0 && y < m_image.height())
            m_image.setPixel(x, y, colour);
    }
}

TimelineStep TimelineChart::draw(int32_t L, int T, uint32_t stateColor, const QTime& now) {
    TimelineStep step;
    step.y = TimelineBarTop(L, T);
    step.timeText = TimelineClockText(now);
    step.x = TimelineColumn(now.hour(), now.minute(), now.second());
    if (step.x != m_lastTimelineX) {
        // The wipe covers the rows a bar can reach, from the baseline up to (not including)
        // the top of a full bar, and returns them to the background, grid included.
        if (step.x >= 0 && step.x < kWidth)
            for (int y = kBaseline; y > kFullTop; --y)
                m_image.setPixel(step.x, y, m_background.pixel(step.x, y));
        m_lastTimelineX = static_cast<int16_t>(step.x);
        step.cleared = true;
    }
    const Rgb c = ColorValueToRgb(stateColor);
    verticalLine(step.x, kBaseline, step.y, qRgb(c.r, c.g, c.b));
    return step;
}
