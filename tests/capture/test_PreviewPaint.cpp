// The preview's stretched draw: the very pixels QPainter's own unsmoothed draw paints, only
// inside the area being repainted, and QPainter's own draw wherever the direct path does not
// apply.
#include "capture/PreviewPaint.h"
#include "capture/PreviewTestPicture.h"

#include <gtest/gtest.h>

#include <QPainter>

#include <functional>

namespace {

using capture_test::CodedPicture;

QImage Device(QImage::Format format) {
    QImage device(700, 600, format);
    device.fill(0xff123456u);
    return device;
}

// What QPainter itself paints for the picture, shown opaque.
QImage QtDraw(QImage::Format format, const QRect& target, const QImage& picture,
              const std::function<void(QPainter&)>& setUp = {}) {
    QImage opaque = picture.copy();
    for (int y = 0; y < opaque.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x)
            row[x] |= 0xff000000u;
    }
    QImage device = Device(format);
    QPainter painter(&device);
    if (setUp)
        setUp(painter);
    painter.drawImage(target, opaque);
    return device;
}

struct Stretch {
    QSize picture;
    QRect target;
};

const Stretch kStretches[] = {
    {{640, 480}, {5, 7, 475, 520}},  // the main window's preview: narrower and taller
    {{640, 480}, {0, 0, 320, 240}},  // halved: every boundary falls on a pixel's middle
    {{640, 480}, {10, 3, 641, 479}}, // one pixel either way
    {{640, 480}, {3, 1, 275, 206}},  // the narrowest whose every four columns lie in eight
    {{640, 480}, {0, 0, 274, 205}},  // one narrower: some four columns span nine
    {{640, 480}, {2, 2, 100, 75}},   // much smaller
    {{160, 120}, {1, 9, 333, 250}},  // enlarged by an uneven factor
    {{7, 5}, {0, 0, 13, 11}},        // tiny
    {{64, 48}, {30, 40, 600, 520}},  // enlarged ten times
};

TEST(PreviewPainter, PaintsWhatQPainterPaints) {
    for (const QImage::Format format :
         {QImage::Format_RGB32, QImage::Format_ARGB32_Premultiplied}) {
        for (const Stretch& s : kStretches) {
            const QImage picture = CodedPicture(s.picture);
            const QRect local(QPoint(0, 0), s.target.size());
            const auto moved = [&](QPainter& p) { p.translate(s.target.topLeft()); };
            QImage device = Device(format);
            {
                QPainter painter(&device);
                moved(painter);
                PreviewPainter().draw(painter, local, picture);
            }
            EXPECT_EQ(device, QtDraw(format, local, picture, moved))
                << s.picture.width() << "x" << s.picture.height() << " on " << s.target.width()
                << "x" << s.target.height() << " format " << format;
        }
    }
}

TEST(PreviewPainter, WritesOnlyInsideTheRepaintedArea) {
    const QImage picture = CodedPicture({640, 480});
    const QRect target(5, 7, 475, 520);
    QRegion clip(10, 20, 100, 50);
    clip += QRect(300, 400, 250, 150); // reaches past the target's right edge
    QImage device = Device(QImage::Format_RGB32);
    PreviewPainter painter;
    ASSERT_TRUE(painter.scaleInto(device, target, picture, clip));
    const QImage whole = QtDraw(QImage::Format_RGB32, target, picture);
    const QImage untouched = Device(QImage::Format_RGB32);
    const QRegion painted = clip.intersected(target);
    int inside = 0;
    for (int y = 0; y < device.height(); ++y)
        for (int x = 0; x < device.width(); ++x) {
            const bool in = painted.contains(QPoint(x, y));
            inside += in;
            ASSERT_EQ(device.pixel(x, y), (in ? whole : untouched).pixel(x, y)) << x << "," << y;
        }
    EXPECT_EQ(inside, 100 * 50 + 180 * 127);
}

TEST(PreviewPainter, LeavesEverythingElseToQPainter) {
    const QImage picture = CodedPicture({160, 120});
    const QRect target(3, 4, 333, 250);
    struct Case {
        const char* what;
        QImage::Format format;
        std::function<void(QPainter&)> setUp;
    };
    const Case cases[] = {
        {"scaled painter", QImage::Format_RGB32, [](QPainter& p) { p.scale(1.5, 0.5); }},
        {"half a pixel off", QImage::Format_RGB32, [](QPainter& p) { p.translate(0.5, 0); }},
        {"half opaque", QImage::Format_RGB32, [](QPainter& p) { p.setOpacity(0.5); }},
        {"own clip", QImage::Format_RGB32, [](QPainter& p) { p.setClipRect(50, 50, 60, 60); }},
        {"other mode", QImage::Format_RGB32,
         [](QPainter& p) { p.setCompositionMode(QPainter::CompositionMode_Xor); }},
        {"24-bit device", QImage::Format_RGB888, {}},
    };
    for (const Case& c : cases) {
        QImage device = Device(c.format);
        {
            QPainter painter(&device);
            if (c.setUp)
                c.setUp(painter);
            PreviewPainter().draw(painter, target, picture);
        }
        QImage expected = Device(c.format);
        {
            QPainter painter(&expected);
            if (c.setUp)
                c.setUp(painter);
            painter.drawImage(target, picture);
        }
        EXPECT_EQ(device, expected) << c.what;
    }
}

TEST(PreviewPainter, NeverWritesIntoAnImageSharedWithAnother) {
    // Writing would copy the image first, and the pixels would land in the copy.
    QImage device = Device(QImage::Format_RGB32);
    const QImage other = device;
    EXPECT_FALSE(PreviewPainter().scaleInto(device, {0, 0, 100, 100}, CodedPicture({64, 48}),
                                            QRegion(device.rect())));
    EXPECT_EQ(device.constBits(), other.constBits());
    EXPECT_EQ(device, Device(QImage::Format_RGB32));
}

} // namespace
