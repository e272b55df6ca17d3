#include "capture/FramePool.h"

#include <atomic>

FrameBytes& FramePool::fresh() {
    for (auto& b : m_buffers)
        if (b.use_count() == 1 && b != m_current) {
            // Pairs with the release of the last reader's reference: its reads are done.
            std::atomic_thread_fence(std::memory_order_acquire);
            m_current = b;
            return *m_current;
        }
    m_current = std::make_shared<FrameBytes>(FrameBytes::InMemoryFile{});
    if (m_buffers.size() < kSize)
        m_buffers.push_back(m_current);
    return *m_current;
}
