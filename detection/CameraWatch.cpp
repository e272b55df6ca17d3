#include "detection/CameraWatch.h"

CameraWatch::Step CameraWatch::tick(int64_t nowMs, bool newFrame,
                                    const std::function<bool()>& mailReady) {
    Step step;
    if (newFrame) {
        if (m_lost) {
            step.backNow = true;
            step.mailBack = m_lostMailed;
        }
        m_lost = false;
        m_lostMailed = false;
        m_haveBase = true;
        m_lastFrameMs = nowMs;
        return step;
    }
    // A clock set back would otherwise hold the silence below zero for as long as it was moved.
    if (!m_haveBase || nowMs < m_lastFrameMs) {
        m_haveBase = true;
        m_lastFrameMs = nowMs;
        return step;
    }
    const int64_t silent = nowMs - m_lastFrameMs;
    if (!m_lost && silent >= kLostAfterMs) {
        m_lost = true;
        step.lostNow = true;
    }
    const bool pairAllowed =
        !m_everMailed || nowMs - m_lastMailMs >= kMailPairEveryMs || nowMs < m_lastMailMs;
    if (m_lost && !m_lostMailed && silent >= kMailAfterMs && pairAllowed && mailReady &&
        mailReady()) {
        m_lostMailed = true;
        m_everMailed = true;
        m_lastMailMs = nowMs;
        step.mailLost = true;
    }
    return step;
}
