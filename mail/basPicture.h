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
