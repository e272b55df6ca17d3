#include "capture/PreAlarmRing.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cmath>

namespace {

// A camera's packets count as arriving while the last one is younger than this; a camera that
// stalls (or a format change to raw) hands the ring back to the encoder.
constexpr auto kCameraPacketsFresh = std::chrono::seconds(1);

size_t SoundBytes(const PreAlarmRing::Sound& s) {
    return s.samples.size() * sizeof(int16_t);
}

} // namespace

PreAlarmRing::PreAlarmRing(size_t maxBytes) : m_maxBytes(maxBytes) {}

void PreAlarmRing::setSpan(double seconds) {
    std::lock_guard lock(m_mutex);
    m_span = std::isfinite(seconds) ? std::clamp(seconds, 0.0, 60.0) : 0.0;
    if (m_span <= 0) {
        m_pictures.clear();
        m_sounds.clear();
        m_bytes = 0;
    }
}

double PreAlarmRing::span() const {
    std::lock_guard lock(m_mutex);
    return m_span;
}

bool PreAlarmRing::enabled() const {
    return span() > 0;
}

void PreAlarmRing::setQuality(int quality) {
    std::lock_guard lock(m_mutex);
    m_quality = std::clamp(quality, 1, 100);
}

bool PreAlarmRing::pushJpeg(const uint8_t* data, size_t size, int width, int height,
                            Clock::time_point time) {
    if (!data || size == 0 || width <= 0 || height <= 0 || size > m_maxBytes || !enabled())
        return false;
    return insertPicture(
        {std::make_shared<const std::vector<uint8_t>>(data, data + size), width, height, time},
        true);
}

bool PreAlarmRing::wantsFrames(Clock::time_point now) const {
    std::lock_guard lock(m_mutex);
    return m_span > 0 && (m_lastCameraPacket == Clock::time_point{} ||
                          now - m_lastCameraPacket > kCameraPacketsFresh);
}

bool PreAlarmRing::pushFrame(const SharedFrame& frame, Clock::time_point time) {
    if (!wantsFrames(time) || frame.empty())
        return false;
    const BitmapHeader& h = frame.header;
    if (h.bmWidth <= 0 || h.bmHeight <= 0 || h.bmBitsPixel != 32 ||
        int64_t(h.bmWidthBytes) < int64_t(h.bmWidth) * 4 ||
        frame.bits->size() < size_t(h.bmWidthBytes) * size_t(h.bmHeight))
        return false;
    int quality = 85;
    {
        std::lock_guard lock(m_mutex);
        quality = m_quality;
    }
    // One compressor per feeding thread: making one costs more than a small picture's encoding.
    thread_local std::unique_ptr<void, int (*)(tjhandle)> tj(tjInitCompress(), tjDestroy);
    if (!tj)
        return false;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    const int rc = tjCompress2(tj.get(), frame.bits->data(), h.bmWidth, h.bmWidthBytes, h.bmHeight,
                               TJPF_BGRX, &out, &outSize, TJSAMP_420, quality, TJFLAG_FASTDCT);
    if (rc != 0 || !out) {
        tjFree(out);
        return false;
    }
    auto bytes = std::make_shared<const std::vector<uint8_t>>(out, out + outSize);
    tjFree(out);
    if (bytes->size() > m_maxBytes)
        return false;
    return insertPicture({std::move(bytes), h.bmWidth, h.bmHeight, time}, false);
}

bool PreAlarmRing::insertPicture(Picture p, bool fromCamera) {
    std::lock_guard lock(m_mutex);
    if (m_span <= 0)
        return false;
    // The clip lays pictures out by time: one older than the newest would run the timeline back.
    if (!m_pictures.empty() && p.time < m_pictures.back().time)
        return false;
    if (fromCamera)
        m_lastCameraPacket = p.time;
    m_bytes += p.jpeg->size();
    const Clock::time_point now = p.time;
    m_pictures.push_back(std::move(p));
    evictLocked(now);
    return true;
}

bool PreAlarmRing::pushAudio(const int16_t* samples, size_t frames, int rate, int channels,
                             Clock::time_point time) {
    if (!samples || frames == 0 || rate <= 0 || channels <= 0)
        return false;
    const size_t count = frames * size_t(channels);
    if (count * sizeof(int16_t) > m_maxBytes)
        return false;
    std::lock_guard lock(m_mutex);
    if (m_span <= 0 || (!m_sounds.empty() && time < m_sounds.back().time))
        return false;
    Sound s{std::vector<int16_t>(samples, samples + count), rate, channels, time};
    m_bytes += SoundBytes(s);
    m_sounds.push_back(std::move(s));
    evictLocked(time);
    return true;
}

void PreAlarmRing::evictLocked(Clock::time_point now) {
    const auto horizon =
        now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_span));
    while (!m_pictures.empty() && m_pictures.front().time < horizon) {
        m_bytes -= m_pictures.front().jpeg->size();
        m_pictures.pop_front();
    }
    while (!m_sounds.empty() && m_sounds.front().time < horizon) {
        m_bytes -= SoundBytes(m_sounds.front());
        m_sounds.pop_front();
    }
    // Over the cap: the oldest go first, pictures or sound, whichever is older.
    while (m_bytes > m_maxBytes && (!m_pictures.empty() || !m_sounds.empty())) {
        const bool dropSound =
            !m_sounds.empty() &&
            (m_pictures.empty() || m_sounds.front().time <= m_pictures.front().time);
        if (dropSound) {
            m_bytes -= SoundBytes(m_sounds.front());
            m_sounds.pop_front();
        } else {
            m_bytes -= m_pictures.front().jpeg->size();
            m_pictures.pop_front();
        }
    }
}

PreAlarmRing::Snapshot PreAlarmRing::snapshot(Clock::time_point now) const {
    std::lock_guard lock(m_mutex);
    Snapshot s;
    s.end = now;
    if (m_span <= 0)
        return s;
    const auto horizon =
        now - std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(m_span));
    for (const Picture& p : m_pictures)
        if (p.time >= horizon && p.time <= now)
            s.pictures.push_back(p);
    for (const Sound& a : m_sounds)
        if (a.time >= horizon && a.time <= now)
            s.sounds.push_back(a);
    return s;
}

void PreAlarmRing::clear() {
    std::lock_guard lock(m_mutex);
    m_pictures.clear();
    m_sounds.clear();
    m_bytes = 0;
    m_lastCameraPacket = {};
}

size_t PreAlarmRing::bytes() const {
    std::lock_guard lock(m_mutex);
    return m_bytes;
}

size_t PreAlarmRing::pictureCount() const {
    std::lock_guard lock(m_mutex);
    return m_pictures.size();
}
