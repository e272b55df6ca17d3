#pragma once

#include <QImage>
#include <QWidget>

#include <memory>

// The live picture handed to the X display server: each new picture is copied once into memory
// shared with the server, which stretches it onto this native child window itself (X Render,
// nearest pixel). A new picture then costs that copy and a few requests, not a paint pass of the
// main window with a stretch of its own. Where the server cannot do it (not X11, no MIT-SHM
// with shared pixmaps or no RENDER, a high-density screen, a visual or byte order this does not
// know) present() says false and the owner paints the picture itself.
// User-interface thread only.
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
    bool makeBuffers(QSize size);
    void compose();
    void fail();

    std::unique_ptr<Server> m_server;
    bool m_failed = false;
    bool m_scale = false;
};
