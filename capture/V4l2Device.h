#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Direct V4L2 queries the FFmpeg device input does not offer: the frame formats a device can
// deliver and its user controls (brightness, contrast, ...). Controls are set through a second
// file descriptor, which V4L2 allows while another one streams, so changes apply live.

struct V4l2Format {
    int width = 0;
    int height = 0;
    std::string pixelFormat; // FFmpeg's name for the device's pixel format
};

struct V4l2Control {
    uint32_t id = 0;
    std::string name;
    enum class Kind { Integer, Boolean, Menu, Button } kind = Kind::Integer;
    int32_t minimum = 0, maximum = 0, step = 1, defaultValue = 0, value = 0;
    std::vector<std::pair<int32_t, std::string>> menu; // for Menu: index and name
};

// FFmpeg's pixel format name for a V4L2 fourcc, or empty text for one it cannot take.
std::string FfmpegNameForFourcc(uint32_t fourcc);

std::vector<V4l2Format> ListV4l2Formats(const std::string& device);
std::vector<V4l2Control> ListV4l2Controls(const std::string& device);
bool SetV4l2Control(const std::string& device, uint32_t id, int32_t value);
