#pragma once

#include <string>

// One picture format a source offers: a size, and for a V4L2 device its pixel format.
struct VideoFormatOption {
    int width = 0;
    int height = 0;
    // For a V4L2 device the FFmpeg name of the device's pixel format ("yuyv422", "mjpeg", ...);
    // empty for sources whose frames the engine scales itself.
    std::string pixelFormat;
    std::string label;

    bool operator==(const VideoFormatOption&) const = default;
};
