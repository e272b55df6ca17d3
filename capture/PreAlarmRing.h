#pragma once

#include "detection/Frame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

// The last few seconds of compressed video (and, when fed, sound) kept so an alarm clip can
// start before the frame that raised the alarm.
//
// Pictures are JPEG packets with the time they were taken. Two ways in: pushJpeg for a
// Motion-JPEG camera's own packets (no work beyond a copy), pushFrame for any other camera,
// which encodes the decoded frame at the clip quality. Memory is bounded twice: by time (the
// span in seconds) and by a hard byte cap, so a camera sending huge pictures only shortens the
// span the ring covers. A packet that alone exceeds the cap is refused.
//
// Thread use: every function may be called from any thread; the feeding threads (the camera's
// decoding thread, a feeder) and the recorder's snapshot never block each other for longer than
// a list operation (the encoding in pushFrame runs outside the lock).
//
// Time is the caller's: every push and snapshot names its own moment, so tests move the clock.
class PreAlarmRing {
public:
    using Clock = std::chrono::steady_clock;
    using Bytes = std::shared_ptr<const std::vector<uint8_t>>;

    // 10 s at 30 frames a second of 1920x1080 at quality 85 is about 60 MB for a common scene;
    // noisy scenes can reach three times that, so the cap cuts the span instead.
    static constexpr size_t kDefaultMaxBytes = size_t(64) << 20;

    struct Picture {
        Bytes jpeg;
        int width = 0;
        int height = 0;
        Clock::time_point time;
    };
    struct Sound {
        std::vector<int16_t> samples; // interleaved
        int rate = 0;
        int channels = 0;
        Clock::time_point time; // of the first sample
    };
    // What a clip takes over: the pictures and sound of the span before `end`, oldest first.
    struct Snapshot {
        std::vector<Picture> pictures;
        std::vector<Sound> sounds;
        Clock::time_point end;
        bool empty() const { return pictures.empty(); }
    };

    explicit PreAlarmRing(size_t maxBytes = kDefaultMaxBytes);

    // The span in seconds, 0 to switch the ring off (which also empties it). Frames are encoded
    // only while the ring is on.
    void setSpan(double seconds);
    double span() const;
    bool enabled() const;
    // JPEG quality (1..100) of encoded frames; the clip's quality.
    void setQuality(int quality);

    // A camera's own JPEG picture, taken as it is. False when the ring is off or the packet is
    // refused (empty, too big, or older than the newest picture).
    bool pushJpeg(const uint8_t* data, size_t size, int width, int height, Clock::time_point time);
    // A decoded 32-bit frame, encoded at the clip quality. Skipped (false) while the ring is off
    // or while a camera's own packets arrive, so a Motion-JPEG camera is never encoded twice.
    bool pushFrame(const SharedFrame& frame, Clock::time_point time);
    // Interleaved 16-bit sound starting at `time`.
    bool pushAudio(const int16_t* samples, size_t frames, int rate, int channels,
                   Clock::time_point time);
    // True when pushFrame would encode now: the ring is on and no camera packet came lately.
    bool wantsFrames(Clock::time_point now) const;

    // The pictures and sound of the last span seconds before `now`; packets are shared, not
    // copied.
    Snapshot snapshot(Clock::time_point now) const;
    void clear();

    size_t bytes() const;
    size_t pictureCount() const;
    size_t maxBytes() const { return m_maxBytes; }

private:
    bool insertPicture(Picture p, bool fromCamera);
    void evictLocked(Clock::time_point now);

    const size_t m_maxBytes;
    mutable std::mutex m_mutex;
    std::deque<Picture> m_pictures;
    std::deque<Sound> m_sounds;
    size_t m_bytes = 0;
    double m_span = 0;
    int m_quality = 85;
    Clock::time_point m_lastCameraPacket{};
};
