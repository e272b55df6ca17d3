#include "capture/PreAlarmFeeder.h"

#include "capture/CaptureEngine.h"
#include "capture/PreAlarmRing.h"

#include <algorithm>
#include <chrono>

using Clock = std::chrono::steady_clock;

PreAlarmFeeder::PreAlarmFeeder(const CaptureEngine& engine, PreAlarmRing& ring)
    : m_engine(engine), m_ring(ring) {}

PreAlarmFeeder::~PreAlarmFeeder() {
    stopSound();
    stopThread();
}

void PreAlarmFeeder::setSeconds(int seconds, uint32_t microSecPerFrame) {
    if (seconds <= 0) {
        stopSound();
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
    if (!paused)
        return;
    // The recorder opens the sound input next: a device may take one opener only.
    m_audio.interrupt();
    std::unique_lock lock(m_mutex);
    m_cv.wait_for(lock, std::chrono::seconds(3), [this] { return !m_soundIsOpen; });
}

bool PreAlarmFeeder::soundOpen() const {
    std::lock_guard lock(m_mutex);
    return m_soundIsOpen;
}

void PreAlarmFeeder::setSound(bool on, const std::string& spec) {
    if (!on || !m_thread.joinable()) {
        stopSound();
        return;
    }
    if (m_soundThread.joinable() && spec == m_soundSpec)
        return;
    stopSound();
    m_soundSpec = spec;
    m_soundStop = false;
    m_soundThread = std::thread([this] { runSound(); });
}

void PreAlarmFeeder::stopSound() {
    {
        std::lock_guard lock(m_mutex);
        m_soundStop = true;
    }
    m_audio.interrupt();
    m_cv.notify_all();
    if (m_soundThread.joinable())
        m_soundThread.join();
}

void PreAlarmFeeder::runSound() {
    std::vector<int16_t> pcm;
    Clock::time_point t0;
    int64_t samples = 0;
    auto setOpen = [this](bool open) {
        {
            std::lock_guard lock(m_mutex);
            m_soundIsOpen = open;
        }
        m_cv.notify_all();
    };
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            m_cv.wait(lock, [this] { return m_soundStop || !m_paused; });
            if (m_soundStop)
                break;
        }
        if (!m_audio.isOpen()) {
            if (!m_audio.open(m_soundSpec)) {
                // No input (yet): try again now and then, as a microphone may be plugged in.
                std::unique_lock lock(m_mutex);
                m_cv.wait_for(lock, std::chrono::seconds(2), [this] { return m_soundStop; });
                continue;
            }
            setOpen(true);
            t0 = Clock::now();
            samples = 0;
        }
        const int rate = m_audio.rate();
        if (!m_audio.live()) {
            // A generated sound comes as fast as it is read: take it at the pace of a device.
            const auto due = t0 + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(samples) / rate));
            std::unique_lock lock(m_mutex);
            m_cv.wait_until(lock, due, [this] { return m_soundStop || m_paused; });
        }
        bool paused = false;
        {
            std::lock_guard lock(m_mutex);
            paused = m_paused || m_soundStop;
        }
        if (paused || !m_audio.read(pcm)) {
            m_audio.close();
            setOpen(false);
            continue;
        }
        const size_t frames = pcm.size() / size_t(m_audio.channels());
        if (frames == 0)
            continue;
        const auto length = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(double(frames) / rate));
        // A device hands over what it has just heard; a generated sound is laid on its own clock.
        const Clock::time_point at =
            m_audio.live() ? Clock::now() - length
                           : t0 + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(samples) / rate));
        m_ring.pushAudio(pcm.data(), frames, rate, m_audio.channels(), at);
        samples += int64_t(frames);
    }
    m_audio.close();
    setOpen(false);
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
