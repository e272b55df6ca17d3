#include "capture/JpegFrameDecoder.h"

#include <turbojpeg.h>

JpegFrameDecoder::JpegFrameDecoder() : m_handle(tjInitDecompress()) {}

JpegFrameDecoder::~JpegFrameDecoder() {
    if (m_handle)
        tjDestroy(m_handle);
}

bool JpegFrameDecoder::size(const uint8_t* data, size_t bytes, int& width, int& height) {
    int subsampling = 0, colourspace = 0;
    if (!m_handle || !data || bytes == 0 || bytes > 0x7FFFFFFF)
        return false;
    return tjDecompressHeader3(m_handle, data, static_cast<unsigned long>(bytes), &width, &height,
                               &subsampling, &colourspace) == 0 &&
           width > 0 && height > 0;
}

bool JpegFrameDecoder::decode(const uint8_t* data, size_t bytes, uint8_t* bgrx, int width,
                              int height) {
    if (!m_handle || !data || bytes == 0 || bytes > 0x7FFFFFFF || width <= 0 || height <= 0)
        return false;
    // The fast inverse DCT and plain chroma doubling: a live camera picture gains nothing
    // visible from the exact ones, and they cost a fifth of the decoding. Stopping at the first
    // warning keeps a damaged picture from passing as a whole one.
    return tjDecompress2(m_handle, data, static_cast<unsigned long>(bytes), bgrx, width, width * 4,
                         height, TJPF_BGRX,
                         TJFLAG_FASTDCT | TJFLAG_FASTUPSAMPLE | TJFLAG_STOPONWARNING) == 0;
}
