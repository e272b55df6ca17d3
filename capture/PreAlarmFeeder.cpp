#include "capture/PreAlarmFeeder.h"

#include "capture/CaptureEngine.h"
#include "capture/PreAlarmRing.h"

#include <algorithm>
#include <chrono>

using Clock = std::chrono::steady_clock;

PreAlarmFeeder::PreAlarmFeeder(const CaptureEngine& engine, PreAlarmRing& ring)
    : m_engine(engine), m_ring(ring) {}

PreAlarmFeeder::~PreAlarmFeeder() {
    stopThread();
}

void PreAlarmFeeder::setSeconds(int seconds, uint32_t microSecPerFrame) {
    if (seconds <= 0) {
        stopThread();
        m_ring.setSpan(0);
        return;
    }
    m_ring.setSpan(seconds);
    {
        std::lock_guard lock(m_mutex);
        m_period =
            std::clamp<uint32_t>(microSecPerFrame ? microSecPerFrame : 33333, 10000, 10000000);
    }
    if (!m_thread.joinable()) {
        m_stop = false;
        m_thread = std::thread([this] { run(); });
    }
}

void PreAlarmFeeder::setPaused(bool paused) {
    {
        std::lock_guard lock(m_mutex);
        m_paused = paused;
    }
    m_cv.notify_all();
}

void PreAlarmFeeder::stopThread() {
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void PreAlarmFeeder::run() {
    uint64_t serial = m_engine.frameSerial();
    Clock::time_point last{};
    for (;;) {
        std::chrono::microseconds period;
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_stop || !m_paused; });
            if (m_stop)
                return;
            period = std::chrono::microseconds(m_period);
        }
        // A short wait keeps a stop prompt; a camera without frames costs a wake-up per wait.
        if (!m_engine.waitForFrameAfter(serial, 100))
            continue;
        SharedFrame f;
        uint64_t now_serial = 0;
        if (!m_engine.latestShared(f.header, f.bits, &now_serial) || now_serial == serial)
            continue;
        serial = now_serial;
        const Clock::time_point now = Clock::now();
        // A camera faster than the clip gives more frames than the clip can show; the slack of a
        // quarter period keeps a camera at the clip's own rate from losing every other frame to
        // jitter.
        if (last != Clock::time_point{} && now - last < period * 3 / 4)
            continue;
        if (m_ring.pushFrame(f, now))
            last = now;
    }
}
