#pragma once

#include "capture/PreviewPaint.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

// The live picture shown in a native child window that this program fills through memory shared
// with the X display server, outside the main window's paint passes. A picture larger than the
// window is stretched here straight into that memory, with the pixels the window's own stretch
// picks; a smaller one is copied and the server enlarges it (X Render, nearest pixel). Either
// way a new picture costs no paint pass of the main window and no copy through its backing
// store. Where the server cannot do it (not X11, no MIT-SHM with shared pixmaps or no RENDER, a
// high-density screen, a visual or byte order this does not know) present() says false and the
// owner paints the picture itself. User-interface thread only.
class X11PreviewSurface : public QWidget {
    Q_OBJECT
public:
    explicit X11PreviewSurface(QWidget* parent);
    ~X11PreviewSurface() override;

    // Shows an RGB32 picture stretched over the whole surface (`scale`) or at its top left with
    // black where it does not reach. False when the display server cannot show it, and from
    // then on: the owner paints instead.
    bool present(const QImage& picture, bool scale);
    // False once setting up or a present has failed.
    bool usable() const { return !m_failed; }

    // Painted by the display server, never through QPainter.
    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Server;
    bool setUp();
    void tearDown();
    bool makeBuffer(QSize size);
    bool showPicture();
    // Shows the buffer over the surface's w x h pixels, enlarged by the server or as it is.
    void compose(bool serverScales, uint16_t w, uint16_t h);
    void fail();

    std::unique_ptr<Server> m_server;
    bool m_failed = false;
    QImage m_picture; // shown last; shares the frame's buffer
    bool m_scale = false;
    PreviewPainter m_painter;
};
