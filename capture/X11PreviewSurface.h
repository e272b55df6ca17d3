#pragma once

#include "capture/PreviewPaint.h"
#include "detection/Frame.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

// The live picture shown in a native child window, through memory shared with the X display
// server, outside the main window's paint passes. A camera frame that lives in a memory file is
// shown from there: the server maps the file and scales the frame itself (X Render, nearest
// pixel, the pixels the window's own stretch picks), so this program neither copies nor stretches
// it. Any other picture goes through a buffer of the surface's own: stretched here into it when
// larger than the window, copied into it and enlarged by the server when smaller. Either way a
// new picture costs no paint pass of the main window and no copy through its backing store. Where
// the server cannot do it (not X11, no MIT-SHM with shared pixmaps or no RENDER, a high-density
// screen, a visual or byte order this does not know) present() says false and the owner paints the
// picture itself. User-interface thread only.
class X11PreviewSurface : public QWidget {
    Q_OBJECT
public:
    explicit X11PreviewSurface(QWidget* parent);
    ~X11PreviewSurface() override;

    // Shows an RGB32 picture stretched over the whole surface (`scale`) or at its top left with
    // black where it does not reach. `bytes`, when given, are the frame bytes the picture shows
    // in place. False when the display server cannot show it, and from then on: the owner paints
    // instead.
    bool present(const QImage& picture, bool scale, SharedBits bytes = {});
    // False once setting up or a present has failed.
    bool usable() const { return !m_failed; }
    // Whether the picture shown last went to the server straight from its frame's memory file.
    bool shownInPlace() const { return m_shownInPlace; }

    // Painted by the display server, never through QPainter.
    QPaintEngine* paintEngine() const override { return nullptr; }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Server;
    struct Source;
    bool setUp();
    void tearDown();
    bool makeBuffer(QSize size);
    bool showPicture();
    // The server's picture of the frame's memory file; null where the server has none.
    Source* frameSource();
    // Shows a picture over the surface's w x h pixels, scaled by the server or as it is.
    void compose(Source& from, bool serverScales, uint16_t w, uint16_t h);
    void fail();

    std::unique_ptr<Server> m_server;
    bool m_failed = false;
    QImage m_picture;   // shown last; shares the frame's buffer
    SharedBits m_bytes; // the frame bytes m_picture shows, when known
    bool m_scale = false;
    bool m_shownInPlace = false;
    PreviewPainter m_painter;
};
