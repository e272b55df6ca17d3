#pragma once

#include <mutex>
#include <string>
#include <vector>

// The numbered list of cameras the capture wrappers connect by index. Order: the sources the
// person starting the program named in PAWLINEX_VIDEO_SOURCES, then the hand-edited [SOURCES]
// section of pawlinex.ini (SOURCE0..SOURCE9), then the V4L2 capture devices in device-number
// order; at most ten entries. The list is read once and kept until it is refreshed.

struct VideoSourceEntry {
    std::string spec;    // what the engine opens: "demo", "lavfi:GRAPH", a path, a URL, /dev/videoN
    std::string name;    // what the driver list shows
    std::string version; // a short description of the kind of input
};

inline constexpr int kMaxVideoSources = 10;

// The list the driver dialog shows and the capture window connects by index: made once by
// main() and handed to both, so that an index means the same camera to each. Copies go out, so
// a refresh never changes a list someone is still reading.
class VideoSourceList {
public:
    // The list as last read (read now on first use).
    std::vector<VideoSourceEntry> entries();
    // Reads the list again (environment, settings file, devices).
    std::vector<VideoSourceEntry> refresh();

private:
    std::mutex m_mutex;
    std::vector<VideoSourceEntry> m_list;
    bool m_read = false;
};

// Builds the list from its three parts; the pure core of the listing.
std::vector<VideoSourceEntry> MergeVideoSources(const std::string& envValue,
                                                const std::vector<std::string>& iniSources,
                                                const std::vector<VideoSourceEntry>& devices);

// Capture-capable /dev/video* nodes, in device-number order, named by their card name.
std::vector<VideoSourceEntry> ListV4l2Devices();

// The name and description shown for a source spec that is not a device.
VideoSourceEntry DescribeSource(const std::string& spec);

// `text` cut to at most `maxBytes` bytes without splitting a UTF-8 character (driver names
// travel in fixed 100-character buffers).
std::string TruncateUtf8(const std::string& text, size_t maxBytes);
