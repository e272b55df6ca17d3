#include "capture/PreviewPaint.h"

#include <QPaintEngine>
#include <QPainter>

#include <algorithm>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {
// The picture's fourth byte carries nothing; in the window it is the pixel's alpha, fully opaque.
constexpr uint32_t kOpaque = 0xff000000u;

// Which source pixel each target pixel shows along one axis. QPainter's unsmoothed scaling steps
// through the source in 16.16 fixed point from the middle of the first target pixel, a hair to the
// lower side; doing the same paints exactly the pixels QPainter would.
class AxisMap {
public:
    AxisMap(int sourceSize, int targetSize)
        : m_step(static_cast<int64_t>(65536.0 / (double(targetSize) / double(sourceSize)))),
          m_base(static_cast<int64_t>(0.5 * double(m_step)) - 1), m_last(sourceSize - 1) {}
    int operator()(int t) const {
        const int64_t s = (m_base + int64_t(t) * m_step) >> 16;
        return static_cast<int>(s < 0 ? 0 : s > m_last ? m_last : s);
    }

private:
    int64_t m_step;
    int64_t m_base;
    int64_t m_last;
};

// One row of the stretched picture. Only the display server reads the window's pixels back:
// streaming stores spare fetching each of their cache lines just to overwrite it.
void StretchRow(uint32_t* out, const uint32_t* in, const int* from, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 15) != 0; ++i)
        out[i] = in[from[i]] | kOpaque;
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(kOpaque));
    for (; i + 4 <= count; i += 4) {
        const __m128i four =
            _mm_setr_epi32(static_cast<int>(in[from[i]]), static_cast<int>(in[from[i + 1]]),
                           static_cast<int>(in[from[i + 2]]), static_cast<int>(in[from[i + 3]]));
        _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), _mm_or_si128(four, opaque));
    }
#endif
    for (; i < count; ++i)
        out[i] = in[from[i]] | kOpaque;
}

#if defined(__x86_64__) || defined(__i386__)
// The same row when every four neighbouring target pixels take their pixels from among eight
// neighbouring source pixels (a picture narrowed to no less than about 0.43 of its width, or
// widened): each four come from one load of eight, picked in place by a permute, instead of one
// load a pixel.
// A source row of at least eight pixels, `lastStart` its width less eight: no load reaches past
// the row.
__attribute__((target("avx2"))) void StretchRowAvx2(uint32_t* out, const uint32_t* in,
                                                    const int* from, size_t count, int lastStart) {
    size_t i = 0;
    for (; i < count && (reinterpret_cast<uintptr_t>(out + i) & 31) != 0; ++i)
        out[i] = in[from[i]] | kOpaque;
    const __m256i opaque = _mm256_set1_epi32(static_cast<int>(kOpaque));
    for (; i + 8 <= count; i += 8) {
        const int low = std::min(from[i], lastStart);
        const int high = std::min(from[i + 4], lastStart);
        const __m256i pick =
            _mm256_sub_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i)),
                             _mm256_setr_epi32(low, low, low, low, high, high, high, high));
        const __m256i a = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + low)), pick);
        const __m256i b = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + high)), pick);
        _mm256_stream_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_or_si256(_mm256_blend_epi32(a, b, 0xF0), opaque));
    }
    for (; i < count; ++i)
        out[i] = in[from[i]] | kOpaque;
}

const bool kHaveAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();
#endif

} // namespace

const std::vector<int>& PreviewPainter::columns(int sourceWidth, int targetWidth) {
    if (sourceWidth != m_sourceWidth || targetWidth != m_targetWidth) {
        const AxisMap column(sourceWidth, targetWidth);
        m_columns.resize(static_cast<size_t>(targetWidth));
        for (int x = 0; x < targetWidth; ++x)
            m_columns[static_cast<size_t>(x)] = column(x);
        m_fourInEight = sourceWidth >= 8;
        for (size_t x = 3; x < m_columns.size() && m_fourInEight; ++x)
            m_fourInEight = m_columns[x] - m_columns[x - 3] < 8;
        m_sourceWidth = sourceWidth;
        m_targetWidth = targetWidth;
    }
    return m_columns;
}

bool PreviewPainter::scaleInto(QImage& device, const QRect& target, const QImage& picture,
                               const QRegion& clip) {
    // A shared image would be copied by the first write access and the window would never see
    // the pixels: only an image this painter alone holds is written.
    const bool plain = device.format() == QImage::Format_RGB32 ||
                       device.format() == QImage::Format_ARGB32_Premultiplied;
    if (!plain || picture.format() != QImage::Format_RGB32 || device.devicePixelRatio() != 1.0 ||
        !device.isDetached() || picture.isNull() || target.isEmpty())
        return false;
    const std::vector<int>& column = columns(picture.width(), target.width());
    const AxisMap row(picture.height(), target.height());
    const QRegion area = clip.intersected(target).intersected(device.rect());
    uchar* const bits = device.bits();
    const qsizetype stride = device.bytesPerLine();
    for (const QRect& r : area) {
        const int* from = column.data() + (r.left() - target.left());
        const size_t count = static_cast<size_t>(r.width());
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const auto* in =
                reinterpret_cast<const uint32_t*>(picture.constScanLine(row(y - target.top())));
            auto* out = reinterpret_cast<uint32_t*>(bits + y * stride) + r.left();
#if defined(__x86_64__) || defined(__i386__)
            if (kHaveAvx2 && m_fourInEight) {
                StretchRowAvx2(out, in, from, count, picture.width() - 8);
                continue;
            }
#endif
            StretchRow(out, in, from, count);
        }
    }
#if defined(__SSE2__)
    _mm_sfence(); // the streamed pixels are in place before the window is handed to the server
#endif
    return true;
}

void PreviewPainter::draw(QPainter& painter, const QRect& target, const QImage& picture) {
    // A widget's painter draws into the window's backing image, moved by the widget's place in
    // the window and clipped to the area being repainted (the engine's system clip).
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    const QTransform transform = painter.deviceTransform();
    if (device && device->devType() == QInternal::Image &&
        transform.type() <= QTransform::TxTranslate && !painter.hasClipping() &&
        painter.opacity() == 1.0 &&
        painter.compositionMode() == QPainter::CompositionMode_SourceOver) {
        const int dx = static_cast<int>(transform.dx());
        const int dy = static_cast<int>(transform.dy());
        if (dx == transform.dx() && dy == transform.dy()) {
            auto& image = *static_cast<QImage*>(device);
            QRegion clip = engine->systemClip();
            if (clip.isEmpty())
                clip = QRegion(image.rect());
            if (scaleInto(image, target.translated(dx, dy), picture, clip))
                return;
        }
    }
    painter.drawImage(target, picture);
}
