// The live picture as the display server shows it: read back from the X window, it must be the
// pixels the window would have painted itself.
#include "capture/CaptureWindow.h"
#include "capture/PreviewPaint.h"
#include "capture/PreviewTestPicture.h"
#include "capture/X11PreviewSurface.h"

#include <QGuiApplication>
#include <QScreen>
#include <QtTest>

#include <cstring>
#include <memory>

namespace {

using capture_test::CodedPicture;

// What a native window shows now, with its child windows, opaque RGB32.
QImage OnScreen(QWidget& window) {
    QImage shot = QGuiApplication::primaryScreen()->grabWindow(window.winId()).toImage();
    return shot.convertToFormat(QImage::Format_RGB32);
}

// What the window would paint itself for the picture: the same stretch, or the picture at the
// top left with black beyond.
QImage Painted(const QImage& picture, QSize area, bool scale) {
    QImage expected(area, QImage::Format_RGB32);
    expected.fill(Qt::black);
    if (scale) {
        PreviewPainter().scaleInto(expected, expected.rect(), picture, expected.rect());
        return expected;
    }
    for (int y = 0; y < std::min(area.height(), picture.height()); ++y)
        for (int x = 0; x < std::min(area.width(), picture.width()); ++x)
            expected.setPixel(x, y, picture.pixel(x, y) | 0xff000000u);
    return expected;
}

// Where two pictures differ, for a readable failure.
QString FirstDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size())
        return QStringLiteral("sizes %1x%2 and %3x%4")
            .arg(a.width())
            .arg(a.height())
            .arg(b.width())
            .arg(b.height());
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if ((a.pixel(x, y) & 0xffffffu) != (b.pixel(x, y) & 0xffffffu))
                return QStringLiteral("at %1,%2: %3 against %4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y) & 0xffffffu, 6, 16)
                    .arg(b.pixel(x, y) & 0xffffffu, 6, 16);
    return {};
}

// The picture in frame bytes of a memory file, as the camera's frames come, and an image over them.
QImage InMemoryFile(const QImage& picture, SharedBits& bytes) {
    auto file = std::make_shared<FrameBytes>(FrameBytes::InMemoryFile{});
    file->resize(size_t(picture.sizeInBytes()));
    std::memcpy(file->data(), picture.constBits(), file->size());
    bytes = file;
    return QImage(file->data(), picture.width(), picture.height(), picture.bytesPerLine(),
                  QImage::Format_RGB32);
}

} // namespace

class TestX11PreviewSurface : public QObject {
    Q_OBJECT
private slots:
    void showsWhatTheWindowWouldPaint_data();
    void showsWhatTheWindowWouldPaint();
    void leavesOtherPicturesToTheOwner();
    void showsThePictureOnceTheWindowIsShown();
    void captureWindowShowsTheCameraThroughIt();
};

void TestX11PreviewSurface::showsWhatTheWindowWouldPaint_data() {
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<int>("stride");
    QTest::addColumn<QSize>("area");
    QTest::addColumn<bool>("scale");
    QTest::addColumn<bool>("inFile"); // in a memory file, shown from there by the server
    QTest::newRow("main window: narrower and taller")
        << QSize(640, 480) << 0 << QSize(475, 520) << true << false;
    QTest::newRow("halved") << QSize(640, 480) << 0 << QSize(320, 240) << true << false;
    QTest::newRow("one pixel either way")
        << QSize(640, 480) << 0 << QSize(641, 479) << true << false;
    QTest::newRow("uneven enlargement") << QSize(160, 120) << 0 << QSize(333, 250) << true << false;
    QTest::newRow("tiny picture") << QSize(7, 5) << 0 << QSize(13, 11) << true << false;
    QTest::newRow("padded rows") << QSize(150, 100) << 640 << QSize(401, 299) << true << false;
    QTest::newRow("unscaled, black beyond")
        << QSize(160, 120) << 0 << QSize(300, 200) << false << false;
    QTest::newRow("unscaled, cut off") << QSize(640, 480) << 0 << QSize(300, 200) << false << false;
    QTest::newRow("file: main window") << QSize(640, 480) << 0 << QSize(475, 520) << true << true;
    QTest::newRow("file: shrunk to a third")
        << QSize(640, 480) << 0 << QSize(213, 160) << true << true;
    QTest::newRow("file: one pixel either way")
        << QSize(640, 480) << 0 << QSize(641, 479) << true << true;
    QTest::newRow("file: uneven enlargement")
        << QSize(160, 120) << 0 << QSize(333, 250) << true << true;
    QTest::newRow("file: unscaled, black beyond")
        << QSize(160, 120) << 0 << QSize(300, 200) << false << true;
    QTest::newRow("file: padded rows, through the own buffer")
        << QSize(150, 100) << 640 << QSize(401, 299) << true << true;
}

void TestX11PreviewSurface::showsWhatTheWindowWouldPaint() {
    QFETCH(QSize, picture);
    QFETCH(int, stride);
    QFETCH(QSize, area);
    QFETCH(bool, scale);
    QFETCH(bool, inFile);
    QWidget top;
    top.resize(area + QSize(20, 30));
    X11PreviewSurface surface(&top);
    surface.setGeometry(QRect(QPoint(7, 11), area));
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    // A picture of another size first, so the buffers are made again for the one checked.
    QVERIFY(surface.present(CodedPicture(QSize(64, 48)), true));
    SharedBits bytes;
    const QImage coded = CodedPicture(picture, stride);
    const QImage shown = inFile ? InMemoryFile(coded, bytes) : coded;
    QVERIFY(surface.present(shown, scale, bytes));
    // A frame in a memory file is shown from there, unless its rows are padded.
    QCOMPARE(surface.shownInPlace(), inFile && stride == 0);
    const QImage expected = Painted(shown, area, scale);
    QCOMPARE(FirstDifference(OnScreen(surface), expected), QString());
    // Resized, the surface shows the same picture again without being handed it.
    const QSize larger = area + QSize(9, 5);
    surface.resize(larger);
    QTRY_COMPARE(FirstDifference(OnScreen(surface), Painted(shown, larger, scale)), QString());
}

void TestX11PreviewSurface::leavesOtherPicturesToTheOwner() {
    QWidget top;
    top.resize(200, 150);
    X11PreviewSurface surface(&top);
    surface.setGeometry(top.rect());
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QVERIFY(!surface.present(QImage(), true));
    QVERIFY(!surface.present(CodedPicture({40, 30}).convertToFormat(QImage::Format_RGB888), true));
    // Refusing a picture is not a failure of the server: the next RGB32 picture is shown.
    QVERIFY(surface.usable());
    QVERIFY(surface.present(CodedPicture({40, 30}), true));
}

void TestX11PreviewSurface::showsThePictureOnceTheWindowIsShown() {
    QWidget top;
    top.resize(200, 150);
    X11PreviewSurface surface(&top);
    surface.setGeometry(top.rect());
    const QImage picture = CodedPicture({160, 120});
    QVERIFY(surface.present(picture, true));
    top.show();
    QVERIFY(QTest::qWaitForWindowExposed(&top));
    QTRY_COMPARE(FirstDifference(OnScreen(surface), Painted(picture, surface.size(), true)),
                 QString());
}

void TestX11PreviewSurface::captureWindowShowsTheCameraThroughIt() {
    qputenv("PAWLINEX_VIDEO_SOURCES", "lavfi:smptebars=size=160x120:rate=15"); // a still picture
    VideoSourceList sources;
    CaptureWindow window(sources);
    window.resize(333, 250);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.connectDriver(0));
    window.setScale(true);
    window.setPreview(true);
    Frame frame;
    QVERIFY(window.engine().latestFrame(frame));
    const QImage picture(frame.bits.data(), frame.header.bmWidth, frame.header.bmHeight,
                         frame.header.bmWidthBytes, QImage::Format_RGB32);
    QTRY_COMPARE(FirstDifference(OnScreen(window), Painted(picture, window.size(), true)),
                 QString());
    window.setScale(false);
    QTRY_COMPARE(FirstDifference(OnScreen(window), Painted(picture, window.size(), false)),
                 QString());
    window.disconnectDriver();
}

QTEST_MAIN(TestX11PreviewSurface)
#include "test_X11PreviewSurface.moc"
