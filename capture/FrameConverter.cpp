#include "capture/FrameConverter.h"

#include "capture/FramePool.h"

#include <algorithm>
#include <bit>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace capture_detail;

namespace {

// Clears the fourth byte of every 32-bit BGRX pixel (the top byte of each little-endian pixel),
// sixteen bytes at a time where SSE2 is there: this runs over every decoded frame.
void ClearUnusedPixelBytes(uint8_t* px, size_t size) {
    static_assert(std::endian::native == std::endian::little);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i mask = _mm_set1_epi32(0x00FFFFFF);
    for (; i + 16 <= size; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(px + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(px + i), _mm_and_si128(v, mask));
    }
#endif
    for (; i + 4 <= size; i += 4)
        px[i + 3] = 0;
}

} // namespace

void FrameConverter::setOutputSize(int width, int height) {
    m_wantW = width;
    m_wantH = height;
}

void FrameConverter::sourceSize(int& width, int& height) const {
    width = m_sourceW;
    height = m_sourceH;
}

bool FrameConverter::convert(const uint8_t* const* data, const int* linesize, int width, int height,
                             AVPixelFormat format, ProducedFrame& frame) {
    const int tw = m_wantW > 0 ? m_wantW.load() : width;
    const int th = m_wantH > 0 ? m_wantH.load() : height;
    if (!PictureSizeAcceptable(width, height) || !PictureSizeAcceptable(tw, th))
        return false;
    m_sourceW = width;
    m_sourceH = height;
    SwsContext* sws = m_scaler.get(width, height, format, tw, th, AV_PIX_FMT_BGR0);
    FrameBytes& buf = m_pool.fresh();
    buf.resize(static_cast<size_t>(tw) * static_cast<size_t>(th) * 4);
    frame = {m_pool.current(), tw, th};
    if (!sws) {
        std::fill(buf.begin(), buf.end(), 0);
        return true;
    }
    uint8_t* dst[4] = {buf.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {tw * 4, 0, 0, 0};
    sws_scale(sws, data, linesize, 0, height, dst, dstStride);
    // The fourth byte is compared like every other byte by the detector; whatever the converter
    // leaves there must not look like motion.
    ClearUnusedPixelBytes(buf.data(), buf.size());
    return true;
}

bool FrameConverter::keepsSize(int width, int height) const {
    const int tw = m_wantW, th = m_wantH;
    return tw <= 0 || (tw == width && th == height);
}

FrameBytes& FrameConverter::directBuffer() {
    return m_pool.fresh();
}

void FrameConverter::finishDirect(int width, int height, bool clearFourthByte,
                                  ProducedFrame& frame) {
    const std::shared_ptr<FrameBytes>& buf = m_pool.current();
    if (clearFourthByte)
        ClearUnusedPixelBytes(buf->data(), buf->size());
    m_sourceW = width;
    m_sourceH = height;
    frame = {buf, width, height};
}
