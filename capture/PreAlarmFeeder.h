#pragma once

#include "capture/AudioInput.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

class CaptureEngine;
class PreAlarmRing;

// Keeps a PreAlarmRing filled from a running camera: a thread of its own waits for each new
// frame of the engine and hands it to the ring, at most one per clip frame period, so the
// encoding never runs on the user-interface thread. It sleeps while the ring is off or feeding is
// paused (a clip is recording from the same camera), and it steps aside by itself while a
// Motion-JPEG camera pushes its own packets into the ring (PreAlarmRing::wantsFrames).
// With sound on, a second thread keeps the sound input open and feeds the ring from it too; a
// pause closes the input before it returns, so the recorder can open the same device.
//
// The engine and the ring must outlive the feeder. Control functions are for one thread.
class PreAlarmFeeder {
public:
    PreAlarmFeeder(const CaptureEngine& engine, PreAlarmRing& ring);
    ~PreAlarmFeeder();
    PreAlarmFeeder(const PreAlarmFeeder&) = delete;
    PreAlarmFeeder& operator=(const PreAlarmFeeder&) = delete;

    // Starts feeding at most one frame per `microSecPerFrame`; 0 seconds stops the thread and
    // switches the ring off (emptying it).
    void setSeconds(int seconds, uint32_t microSecPerFrame = 33333);
    // Sound from `spec` (an AudioInput spec; empty is the default input) while the ring is on;
    // false closes the input.
    void setSound(bool on, const std::string& spec = {});
    void setPaused(bool paused);
    bool feeding() const { return m_thread.joinable(); }
    bool soundOpen() const;

private:
    void run();
    void runSound();
    void stopThread();
    void stopSound();

    const CaptureEngine& m_engine;
    PreAlarmRing& m_ring;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_stop = false;
    bool m_paused = false;
    uint32_t m_period = 33333;
    std::thread m_thread;

    bool m_soundStop = false;
    bool m_soundIsOpen = false;
    std::string m_soundSpec;
    AudioInput m_audio; // used by the sound thread alone, but for interrupt()
    std::thread m_soundThread;
};
