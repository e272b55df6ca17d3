#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

// Hands a Motion-JPEG camera's own pictures, as they arrive, to one listener (the pre-alarm
// ring), so that keeping them costs a copy instead of a second JPEG encoding.
//
// Thread use: the decoding thread offers; any thread sets the listener. Setting waits for an
// offer in progress, so once set() returns the previous listener is never called again and its
// owner may go away.
class JpegPacketTap {
public:
    using Listener = std::function<void(const uint8_t* data, size_t size, int width, int height)>;

    void set(Listener listener) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_listener = std::move(listener);
    }

    // A picture that decoded cleanly at `width` x `height`.
    void offer(const uint8_t* data, size_t size, int width, int height) {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_listener)
            m_listener(data, size, width, height);
    }

private:
    std::mutex m_mutex;
    Listener m_listener;
};
