#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct AVChannelLayout;

// A sound input opened with FFmpeg ("fmt:url", e.g. "lavfi:sine=frequency=440",
// "alsa:default", "pulse:default"; empty text is ALSA "default"), delivered as interleaved
// signed 16-bit samples at the input's own rate and channel count.
//
// One thread reads; interrupt() may come from any other thread and ends a waiting open or read
// at once (false). A failed open leaves nothing open.
class AudioInput {
public:
    AudioInput();
    ~AudioInput();
    AudioInput(const AudioInput&) = delete;
    AudioInput& operator=(const AudioInput&) = delete;

    bool open(const std::string& spec);
    void close();
    bool isOpen() const;
    void interrupt();

    int rate() const;
    int channels() const;
    const AVChannelLayout* layout() const;
    // False for a filter graph, which produces sound as fast as it is read; a device delivers it
    // in real time.
    bool live() const;

    // Replaces `samples` with the next decoded stretch (possibly none). False at the end of the
    // input, on an error, or when interrupted.
    bool read(std::vector<int16_t>& samples);

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};
