#pragma once

// Small helpers shared by the engine and the clip recorder. Private to capture/; includes FFmpeg.

extern "C" {
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace capture_detail {

// The largest picture a source may declare. A stream states its own size, and a hostile or
// broken one can claim tens of thousands of pixels a side: every buffer sized from a stream is
// checked against these first, and a picture beyond them counts as damaged.
inline constexpr int kMaxPictureSide = 8192;
inline constexpr int64_t kMaxPicturePixels = 40'000'000;
inline bool PictureSizeAcceptable(int64_t width, int64_t height) {
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide &&
           width * height <= kMaxPicturePixels;
}
// The same limit for FFmpeg's own decoders (the "max_pixels" codec option), added to `opts`.
void LimitPictureSize(AVDictionary** opts);

// Quiets FFmpeg's console chatter, once.
void InitFfmpeg();

// The input devices (V4L2 cameras, lavfi graphs, ALSA and PulseAudio inputs) live in
// libavdevice, which drags in libavfilter and dozens of libraries behind it: some 16 MB of
// resident memory that a network or file camera never needs. It is loaded and its devices
// registered on the first source that names one. False, with one line on standard error, when
// it cannot be loaded; such sources then fail to open like any unknown one. Any thread.
bool LoadInputDevices();

// A deadline that the blocking FFmpeg calls check through the interrupt callback, plus a stop
// switch that ends them, and the sleeps between them, at once.
struct Interrupter {
    std::atomic<bool> stop{false};
    std::atomic<int64_t> deadlineNs{0}; // steady clock; 0 = none

    void arm(int milliseconds);
    void disarm() { deadlineNs = 0; }
    bool expired() const;
    static int callback(void* self);

    // Sets the stop switch and wakes a sleepUntil in progress. Any thread.
    void cancel();
    // Sleeps until `t` unless the switch is set first; false when it is.
    bool sleepUntil(std::chrono::steady_clock::time_point t);

private:
    std::mutex m_sleepMutex;
    std::condition_variable m_sleepCv;
};

// Arms an Interrupter's deadline for as long as it lives.
class ArmedDeadline {
public:
    ArmedDeadline(Interrupter& i, int milliseconds) : m_i(i) { m_i.arm(milliseconds); }
    ~ArmedDeadline() { m_i.disarm(); }
    ArmedDeadline(const ArmedDeadline&) = delete;
    ArmedDeadline& operator=(const ArmedDeadline&) = delete;

private:
    Interrupter& m_i;
};

// Splits an input spec into an FFmpeg input format and the URL it opens. "lavfi:GRAPH" and any
// "<registered input format>:<url>" name their format; "/dev/videoN" is a V4L2 device; anything
// with "://" is a network URL; the rest is a file path.
struct InputSpec {
    const AVInputFormat* format = nullptr;
    std::string url;
    bool device = false;  // V4L2 device node
    bool network = false; // rtsp/http/... camera
};
InputSpec ParseInputSpec(const std::string& spec);

std::string AvError(int code);

// A picture converter kept for as long as the sizes and formats stay the same. It stands in for
// sws_getCachedContext, which builds a new context for every frame when either side is one of
// the JPEG-range formats (it compares them after rewriting them), and MJPEG cameras and clips
// are exactly that.
class Scaler {
public:
    Scaler() = default;
    Scaler(const Scaler&) = delete;
    Scaler& operator=(const Scaler&) = delete;
    ~Scaler();

    // The context for this conversion (SWS_BILINEAR), or nullptr when FFmpeg refuses it.
    SwsContext* get(int w, int h, AVPixelFormat from, int tw, int th, AVPixelFormat to);
    void reset();
    // How many contexts have been made so far.
    int contextsMade() const { return m_made; }

private:
    struct Key {
        int w = 0, h = 0, from = -1, tw = 0, th = 0, to = -1;
        bool operator==(const Key&) const = default;
    };
    SwsContext* m_sws = nullptr;
    Key m_key;
    int m_made = 0;
};

} // namespace capture_detail
