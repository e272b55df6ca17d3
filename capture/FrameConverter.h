#pragma once

#include "capture/FfmpegUtil.h"
#include "capture/FrameProducer.h"
#include "detection/Frame.h"

#include <atomic>
#include <cstdint>
#include <vector>

class FramePool;

// Turns a producer's pictures into frames: 32-bit BGRX at the chosen output size, in a buffer
// from the pool, with the fourth byte of every pixel cleared. Belongs to one producer and is
// used by the thread that runs it, except setOutputSize and sourceSize, which any thread may
// call.
class FrameConverter {
public:
    explicit FrameConverter(FramePool& pool) : m_pool(pool) {}

    // 0 x 0 keeps the source's own size.
    void setOutputSize(int width, int height);
    // The size of the latest picture made into a frame; 0 x 0 before the first.
    void sourceSize(int& width, int& height) const;

    // Scales a decoded picture into a frame. False for a picture or an output size beyond the
    // size limit: that picture then counts as damaged.
    bool convert(const uint8_t* const* data, const int* linesize, int width, int height,
                 AVPixelFormat format, ProducedFrame& frame);

    // Whether a `width` x `height` picture makes a frame of its own size, so that a decoder that
    // writes BGRX itself may write the frame directly: into directBuffer(), then finishDirect().
    bool keepsSize(int width, int height) const;
    FrameBytes& directBuffer();
    // `clearFourthByte` for a writer that may leave something other than 0 there.
    void finishDirect(int width, int height, bool clearFourthByte, ProducedFrame& frame);

private:
    FramePool& m_pool;
    capture_detail::Scaler m_scaler;
    std::atomic<int> m_wantW{0}, m_wantH{0};
    std::atomic<int> m_sourceW{0}, m_sourceH{0};
};
