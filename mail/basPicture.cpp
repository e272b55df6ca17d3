#include "mail/basPicture.h"

#include <turbojpeg.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

PictureDimensions PictureSize(int choice) {
    switch (choice) {
    case 1:
        return {320, 240};
    case 2:
        return {110, 82}; // 82.5 rounded half to even
    default:
        return {640, 480};
    }
}

void ScalePicture(const QImage& source, QImage& target, int height, int width) {
    if (width <= 0 || height <= 0) {
        target = QImage();
        return;
    }
    target = QImage(width, height, QImage::Format_RGB32);
    if (target.isNull())
        return; // too large to allocate: an empty target rather than a crash
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) {
        target.fill(Qt::black);
        return;
    }
    // Frames and difference images arrive as 32-bit rows already; anything else is brought to
    // that layout once instead of converting pixel by pixel.
    const QImage src =
        (source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32)
            ? source
            : source.convertToFormat(QImage::Format_RGB32);
    const int sw = src.width();
    const int sh = src.height();

    // Each target pixel takes the source pixel under its centre. Integer arithmetic, so the
    // same sizes always pick the same pixels, and no source pixel outside the picture is read.
    std::vector<int> columns(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x)
        columns[size_t(x)] = int((int64_t(2 * x + 1) * sw) / (int64_t(2) * width));
    for (int y = 0; y < height; ++y) {
        const int sy = int((int64_t(2 * y + 1) * sh) / (int64_t(2) * height));
        const auto* in = reinterpret_cast<const uint32_t*>(src.constScanLine(sy));
        auto* out = reinterpret_cast<uint32_t*>(target.scanLine(y));
        // The fourth byte of a grabbed frame (and of a difference image) is 0; an RGB32 image
        // wants it opaque. The colour bytes are copied as they are.
        for (int x = 0; x < width; ++x)
            out[x] = in[columns[size_t(x)]] | 0xFF000000u;
    }
}

namespace {

struct TjHandle {
    void operator()(void* h) const { tjDestroy(h); }
};
struct TjBuffer {
    void operator()(unsigned char* p) const { tjFree(p); }
};

// Closes the file and, when it is a regular file that could not be written whole, removes what
// was written, so that no truncated picture is left behind to be mailed later. Device files
// (a test writing to /dev/full, say) are never removed.
int finishWrite(FILE* f, const std::string& name, bool writtenWhole) {
    struct stat st {};
    const bool regular = fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode);
    const bool flushed = std::fflush(f) == 0;
    const bool synced = !regular || fsync(fileno(f)) == 0;
    const bool closed = std::fclose(f) == 0;
    if (writtenWhole && flushed && synced && closed)
        return 0;
    if (regular)
        std::remove(name.c_str());
    return 2;
}

} // namespace

int DCSavetoJPEG(const QImage& surface, int width, int height, const std::string& path,
                 uint8_t quality, int /*reserved*/) {
    // The callers hand over the path with a NUL after it; the name ends there.
    const std::string name = path.substr(0, path.find('\0'));

    if (surface.isNull() || width <= 0 || height <= 0 || width > surface.width() ||
        height > surface.height())
        return 2;
    const QImage pixels =
        (surface.format() == QImage::Format_RGB32 || surface.format() == QImage::Format_ARGB32)
            ? surface
            : surface.convertToFormat(QImage::Format_RGB32);
    if (pixels.isNull())
        return 2;

    std::unique_ptr<void, TjHandle> tj(tjInitCompress());
    if (!tj)
        return 2;
    unsigned char* raw = nullptr;
    unsigned long size = 0;
    // 0 is allowed by the callers and means the lowest quality the encoder has.
    const int q = quality < 1 ? 1 : (quality > 100 ? 100 : int(quality));
    // 4:2:0, the usual choice for photographs: a camera picture loses nothing visible by it and
    // the mailed file is half the size of 4:4:4.
    const int rc = tjCompress2(tj.get(), pixels.constBits(), width, int(pixels.bytesPerLine()),
                               height, TJPF_BGRX, &raw, &size, TJSAMP_420, q, TJFLAG_ACCURATEDCT);
    std::unique_ptr<unsigned char, TjBuffer> jpeg(raw);
    if (rc != 0 || !jpeg || size == 0)
        return 2;

    // The JPEG is made in memory first, so the file is only opened once there is something to
    // write, and an encoder failure never leaves an empty file.
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f)
        return 1;
    const bool whole = std::fwrite(jpeg.get(), 1, size, f) == size;
    return finishWrite(f, name, whole);
}
