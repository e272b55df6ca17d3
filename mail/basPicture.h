#pragma once

#include <QImage>
#include <cstdint>
#include <string>

// Size of a mailed picture: 0 = 640x480, 1 = 320x240, 2 = 110x82, anything else as 0.
struct PictureDimensions {
    int width;
    int height;
};
PictureDimensions PictureSize(int choice);

// Makes `target` a `width` x `height` surface and draws `source` stretched into it with
// nearest-neighbour sampling: every target pixel is a plain copy of one source pixel. Height
// comes before width, as the callers pass them. An empty source leaves a black target.
void ScalePicture(const QImage& source, QImage& target, int height, int width);

// Writes the top-left `width` x `height` pixels of `surface` as a baseline JPEG at `quality`
// (0 is taken as the lowest quality). `path` may end in a NUL, which is not part of the name.
// Returns 0 when written, 1 when the file cannot be opened, 2 when it cannot be written (or
// the surface is unusable). `reserved` is always 0.
int DCSavetoJPEG(const QImage& surface, int width, int height, const std::string& path,
                 uint8_t quality, int reserved);

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
