#pragma once

#include "capture/FfmpegUtil.h"

#include <chrono>

// Holds back the pictures of a source that would otherwise come as fast as the CPU decodes them
// (a file, a filter graph) until their timestamps say they are due, so the source plays at its
// own rate. Belongs to one producer and is used by whichever thread runs it; every wait ends at
// once when the producer's Interrupter is stopped.
class FramePacer {
public:
    explicit FramePacer(capture_detail::Interrupter& stop) : m_stop(stop) {}

    // The nominal time between pictures: the gap for pictures without timestamps, and between
    // the last picture of a loop and the first of the next.
    void setFramePeriod(double seconds) { m_frameDuration = seconds; }
    // The next timestamp starts a new count (after an open or a seek).
    void restart() { m_haveBase = false; }
    // Waits until the picture stamped `seconds` is due.
    void waitForStamp(double seconds);
    // Waits one frame period after the previous picture (a stream without timestamps).
    void waitForUnstamped();

private:
    using Clock = std::chrono::steady_clock;

    capture_detail::Interrupter& m_stop;
    bool m_haveBase = false;
    Clock::time_point m_wallBase{};
    double m_tsBase = 0;
    Clock::time_point m_lastTarget{};
    double m_frameDuration = 1.0 / 25;
};
