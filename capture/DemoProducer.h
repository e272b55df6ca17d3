#pragma once

#include "capture/DemoRoom.h"
#include "capture/FfmpegUtil.h"
#include "capture/FrameConverter.h"
#include "capture/FrameProducer.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class FramePool;

// The "demo" source: the synthetic room, rendered at its own frame rate from the moment of its
// first frame, at its own size or scaled to the chosen one. It never ends and never fails; only
// a stop ends its wait for the next frame.
class DemoProducer final : public FrameProducer {
public:
    DemoProducer(capture_detail::Interrupter& stop, FramePool& pool);

    bool open(int timeoutMs) override;
    void close() override;
    Result next(ProducedFrame& frame, int timeoutMs, bool atOnce) override;
    bool rewind(int timeoutMs) override;
    void setOutputSize(int width, int height) override;
    void sourceSize(int& width, int& height) const override;

private:
    capture_detail::Interrupter& m_stop;
    FrameConverter m_converter;
    std::unique_ptr<DemoRoom> m_room;
    std::vector<uint8_t> m_unscaled; // the room before scaling to another size
    int64_t m_index = 0;
    bool m_started = false;
    std::chrono::steady_clock::time_point m_start{};
};
