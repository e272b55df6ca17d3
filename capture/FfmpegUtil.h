#pragma once

// Small helpers shared by the engine and the clip recorder. Private to capture/; includes FFmpeg.

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <atomic>
#include <chrono>
#include <string>

namespace capture_detail {

// Whether Motion-JPEG pictures go straight to TurboJPEG (on unless a test compares the two
// decoders); FFmpeg's decoder takes every picture TurboJPEG cannot.
inline std::atomic<bool> DecodeJpegDirectly{true};

// Registers the devices once and quiets FFmpeg's console chatter.
void InitFfmpeg();

// A deadline that the blocking FFmpeg calls check through the interrupt callback, plus a stop
// switch that ends them at once.
struct Interrupter {
    std::atomic<bool> stop{false};
    std::atomic<int64_t> deadlineNs{0}; // steady clock; 0 = none

    void arm(int milliseconds);
    void disarm() { deadlineNs = 0; }
    bool expired() const;
    static int callback(void* self);
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
