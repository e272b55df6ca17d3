#include "capture/JpegFrameDecoder.h"

#include <turbojpeg.h>

JpegFrameDecoder::JpegFrameDecoder() : m_handle(tjInitDecompress()) {}

JpegFrameDecoder::~JpegFrameDecoder() {
    if (m_handle)
        tjDestroy(m_handle);
}

namespace {

// The size in the frame header (SOF0 to SOF15), reached by skipping the segments before it by
// their lengths, as the decoder itself reads the header. False when no frame header comes before
// the picture data or it states no size.
bool FrameHeaderSize(const uint8_t* data, size_t bytes, int& width, int& height) {
    if (bytes < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    size_t at = 2;
    while (at + 4 <= bytes) {
        if (data[at] != 0xFF)
            return false;
        const uint8_t marker = data[at + 1];
        if (marker == 0xFF) { // a fill byte before the marker
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) { // markers without a length
            at += 2;
            continue;
        }
        if (marker == 0xD9 || marker == 0xDA) // the end, or picture data, before a frame header
            return false;
        const size_t length = size_t(data[at + 2]) << 8 | data[at + 3];
        if (length < 2 || length > bytes - at - 2)
            return false;
        const bool frameHeader = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 &&
                                 marker != 0xC8 && marker != 0xCC; // DHT, JPG and DAC are not
        if (frameHeader) {
            if (length < 7)
                return false;
            height = data[at + 5] << 8 | data[at + 6];
            width = data[at + 7] << 8 | data[at + 8];
            return width > 0 && height > 0;
        }
        at += 2 + length;
    }
    return false;
}

} // namespace

bool JpegFrameDecoder::size(const uint8_t* data, size_t bytes, int& width, int& height) {
    int subsampling = 0, colourspace = 0;
    if (!m_handle || !data || bytes == 0 || bytes > 0x7FFFFFFF)
        return false;
    // Reading the whole header costs about a twelfth of a camera picture's decoding, which reads
    // it again: the frame header alone says the size. Anything it cannot tell is left to the
    // decoder's own header reading.
    if (FrameHeaderSize(data, bytes, width, height))
        return true;
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
