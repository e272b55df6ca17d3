#pragma once

#include <cstddef>
#include <cstdint>

// Decodes JPEG pictures, Motion-JPEG camera frames among them (a frame without Huffman tables
// uses the standard ones), straight into 32-bit BGRX rows: the camera engine's fast way for
// the most common camera format. One decoder per thread.
class JpegFrameDecoder {
public:
    JpegFrameDecoder();
    ~JpegFrameDecoder();
    JpegFrameDecoder(const JpegFrameDecoder&) = delete;
    JpegFrameDecoder& operator=(const JpegFrameDecoder&) = delete;

    // The picture's size from its header; false when `data` is not a JPEG it can read.
    bool size(const uint8_t* data, size_t bytes, int& width, int& height);
    // Decodes a `width` x `height` picture into `bgrx` (width * 4 bytes a row, the fourth byte
    // of a pixel as the decoder leaves it). False for damaged data, even damage the decoder
    // could paper over: the caller hands such a picture to a more forgiving decoder.
    bool decode(const uint8_t* data, size_t bytes, uint8_t* bgrx, int width, int height);

private:
    void* m_handle;
};
