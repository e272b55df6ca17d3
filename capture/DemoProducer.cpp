#include "capture/DemoProducer.h"

using Clock = std::chrono::steady_clock;

DemoProducer::DemoProducer(capture_detail::Interrupter& stop, FramePool& pool)
    : m_stop(stop), m_converter(pool) {}

bool DemoProducer::open(int /*timeoutMs*/) {
    m_room =
        std::make_unique<DemoRoom>(static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
    m_index = 0;
    m_started = false;
    return true;
}

void DemoProducer::close() {
    m_room.reset();
}

FrameProducer::Result DemoProducer::next(ProducedFrame& frame, int /*timeoutMs*/, bool atOnce) {
    if (!m_room)
        return Result::Error;
    const double t = static_cast<double>(m_index) / DemoRoom::kFrameRate;
    if (!m_started) {
        m_start = Clock::now();
        m_started = true;
    }
    if (!atOnce && !m_stop.sleepUntil(m_start + std::chrono::duration_cast<Clock::duration>(
                                                    std::chrono::duration<double>(t))))
        return Result::Error;
    ++m_index;
    if (!m_converter.keepsSize(DemoRoom::kWidth, DemoRoom::kHeight)) {
        m_room->render(t, m_unscaled);
        const uint8_t* src[4] = {m_unscaled.data(), nullptr, nullptr, nullptr};
        const int srcStride[4] = {DemoRoom::kWidth * 4, 0, 0, 0};
        return m_converter.convert(src, srcStride, DemoRoom::kWidth, DemoRoom::kHeight,
                                   AV_PIX_FMT_BGR0, frame)
                   ? Result::Frame
                   : Result::Error;
    }
    // The room is rendered with the fourth byte 0 already.
    FrameBytes& buf = m_converter.directBuffer();
    buf.resize(size_t(DemoRoom::kWidth) * DemoRoom::kHeight * 4);
    m_room->render(t, buf.data());
    m_converter.finishDirect(DemoRoom::kWidth, DemoRoom::kHeight, false, frame);
    return Result::Frame;
}

bool DemoProducer::rewind(int /*timeoutMs*/) {
    return m_room != nullptr; // the room never ends: nothing to go back to
}

void DemoProducer::setOutputSize(int width, int height) {
    m_converter.setOutputSize(width, height);
}

void DemoProducer::sourceSize(int& width, int& height) const {
    m_converter.sourceSize(width, height);
}
