#pragma once

// Small helpers shared by the engine and the clip recorder. Private to capture/; includes FFmpeg.

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <chrono>
#include <string>

namespace capture_detail {

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

} // namespace capture_detail
