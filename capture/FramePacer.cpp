#include "capture/FramePacer.h"

#include <algorithm>

namespace {

std::chrono::steady_clock::duration asDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

} // namespace

void FramePacer::waitForUnstamped() {
    const Clock::time_point now = Clock::now();
    Clock::time_point target = std::max(now, m_lastTarget + asDuration(m_frameDuration));
    if (target > now + std::chrono::seconds(2))
        target = now;
    m_lastTarget = target;
    m_haveBase = false;
    m_stop.sleepUntil(target);
}

void FramePacer::waitForStamp(double seconds) {
    const Clock::time_point now = Clock::now();
    if (!m_haveBase) {
        // After a loop the first frame follows the last one by one frame period.
        m_wallBase = m_lastTarget == Clock::time_point{}
                         ? now
                         : std::max(now - asDuration(m_frameDuration),
                                    m_lastTarget + asDuration(m_frameDuration));
        m_tsBase = seconds;
        m_haveBase = true;
    }
    Clock::time_point target = m_wallBase + asDuration(seconds - m_tsBase);
    // Far behind (a slow machine) or a jump in the timestamps: start counting again.
    if (target < now - std::chrono::seconds(1) || target > now + std::chrono::seconds(2)) {
        m_wallBase = now;
        m_tsBase = seconds;
        target = now;
    }
    m_lastTarget = target;
    m_stop.sleepUntil(target);
}
