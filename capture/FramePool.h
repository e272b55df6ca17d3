#pragma once

#include "detection/Frame.h"

#include <cstddef>
#include <memory>
#include <vector>

// The buffers frames are made in. A published frame is shared with readers who may keep it as
// long as they like and never see it change, so a buffer is handed out again only once nobody
// but the pool holds it any more. Buffers live in memory files where the system gives them, so the
// display server can show a frame without a copy. Used by the decoding thread only; the buffers
// travel.
class FramePool {
public:
    // Enough for the frame being made, the latest one, the one on screen, the detector's
    // reference and the alarm picture, with room to spare while they change hands.
    static constexpr size_t kSize = 8;

    // A buffer nobody else holds, which becomes the current one. With all kSize taken, a new
    // buffer is made outside the pool and freed when its last reader lets go of it.
    FrameBytes& fresh();
    // The buffer fresh() handed out last; empty before the first.
    const std::shared_ptr<FrameBytes>& current() const { return m_current; }

private:
    std::vector<std::shared_ptr<FrameBytes>> m_buffers;
    std::shared_ptr<FrameBytes> m_current;
};
