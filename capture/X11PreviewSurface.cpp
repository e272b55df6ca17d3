#include "capture/X11PreviewSurface.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QRegion>
#include <QWindow>

#include <xcb/render.h>
#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <typename T> struct FreeReply {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply<T>>;

// Sends a request and waits for its outcome: only while setting up, where a refusal must turn
// into the owner painting instead, not into an error the server reports later.
bool Accepted(xcb_connection_t* c, xcb_void_cookie_t cookie) {
    xcb_generic_error_t* error = xcb_request_check(c, cookie);
    std::free(error);
    return error == nullptr;
}

// Shared memory is handed to the server as a file descriptor, which only a local (Unix) socket
// can carry: a display reached over TCP (ssh forwarding) never gets one.
bool LocalSocket(xcb_connection_t* c) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    return getsockname(xcb_get_file_descriptor(c), reinterpret_cast<sockaddr*>(&address),
                       &length) == 0 &&
           address.ss_family == AF_UNIX;
}

// Render's picture transform maps the window's pixels back to the picture's, in 16.16 fixed
// point. The step is cut the way QPainter cuts its own, so the server picks the very source
// pixels the window's own stretch would.
xcb_render_fixed_t Step(int from, int to) {
    return static_cast<xcb_render_fixed_t>(65536.0 / (double(to) / double(from)));
}

xcb_render_transform_t Scaling(QSize from, QSize to) {
    xcb_render_transform_t t{};
    t.matrix11 = Step(from.width(), to.width());
    t.matrix22 = Step(from.height(), to.height());
    t.matrix33 = Step(1, 1);
    return t;
}

const xcb_render_transform_t kIdentity = Scaling(QSize(1, 1), QSize(1, 1));
const xcb_render_color_t kBlack{0, 0, 0, 0xffff};

bool SameTransform(const xcb_render_transform_t& a, const xcb_render_transform_t& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// Frame pixmaps kept: one for each of the camera's buffers, and a little more.
constexpr size_t kFramePixmaps = 10;

} // namespace

// A picture the server draws from: a pixmap over shared memory, and the transform it holds.
struct X11PreviewSurface::Source {
    xcb_shm_seg_t segment = 0;
    xcb_pixmap_t pixmap = 0;
    xcb_render_picture_t picture = 0;
    QSize size;
    xcb_render_transform_t transform{};
    uint64_t serial = 0; // of the frame's memory file; 0 for the surface's own buffer
    uint64_t shown = 0;  // when a frame's pixmap was shown last
    std::weak_ptr<const FrameBytes> frame;

    // Makes the pixmap over `file` from `offset` on; the request takes the file and closes it.
    // False where the server refuses.
    bool attach(xcb_connection_t* c, xcb_window_t window, xcb_render_pictformat_t format, int file,
                uint32_t offset, QSize pixmapSize) {
        segment = xcb_generate_id(c);
        if (!Accepted(c, xcb_shm_attach_fd_checked(c, segment, file, 0))) {
            segment = 0;
            return false;
        }
        pixmap = xcb_generate_id(c);
        if (!Accepted(c, xcb_shm_create_pixmap_checked(
                             c, pixmap, window, static_cast<uint16_t>(pixmapSize.width()),
                             static_cast<uint16_t>(pixmapSize.height()), 24, segment, offset))) {
            pixmap = 0;
            return false;
        }
        picture = xcb_generate_id(c);
        if (!Accepted(c,
                      xcb_render_create_picture_checked(c, picture, pixmap, format, 0, nullptr))) {
            picture = 0;
            return false;
        }
        transform = kIdentity;
        size = pixmapSize;
        return true;
    }

    void release(xcb_connection_t* c) {
        if (picture)
            xcb_render_free_picture(c, picture);
        if (pixmap)
            xcb_free_pixmap(c, pixmap);
        if (segment)
            xcb_shm_detach(c, segment);
        *this = Source{};
    }
};

struct X11PreviewSurface::Server {
    xcb_connection_t* c = nullptr;
    xcb_window_t window = 0;
    xcb_render_picture_t windowPicture = 0;
    xcb_render_pictformat_t pictureFormat = 0; // 32 bits a pixel, the fourth unused (BGRX bytes)

    // The surface's own buffer in shared memory, for pictures that are not in a memory file. The
    // server reads it while it carries out the composite requests, so it is written again only
    // once a request sent after them has been answered.
    Source buffer;
    uint8_t* bits = nullptr;
    size_t bytes = 0;
    // Frames shown straight from their memory files, the least recently shown first to go. A
    // frame is let go of only once the server has answered a request sent after its last draw.
    std::vector<Source> frames;
    uint64_t shows = 0;
    bool framesRefused = false;
    xcb_get_input_focus_cookie_t fence{}; // a request sent after the last draw
    bool fenced = false;

    // Returns once the server is done with everything sent before the fence.
    void waitForServer() {
        if (!fenced)
            return;
        std::free(xcb_get_input_focus_reply(c, fence, nullptr));
        fenced = false;
    }

    void releaseBuffer() {
        waitForServer();
        buffer.release(c);
        if (bits)
            munmap(bits, bytes);
        bits = nullptr;
        bytes = 0;
    }

    void releaseFrames() {
        for (Source& f : frames)
            f.release(c);
        frames.clear();
    }
};

X11PreviewSurface::X11PreviewSurface(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_NativeWindow);
    setAttribute(Qt::WA_DontCreateNativeAncestors);
    setAttribute(Qt::WA_PaintOnScreen);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
}

X11PreviewSurface::~X11PreviewSurface() {
    tearDown();
}

bool X11PreviewSurface::setUp() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    auto s = std::make_unique<Server>();
    xcb_connection_t* c = s->c = x11->connection();
    if (!LocalSocket(c))
        return false;

    const xcb_query_extension_reply_t* shm = xcb_get_extension_data(c, &xcb_shm_id);
    const xcb_query_extension_reply_t* render = xcb_get_extension_data(c, &xcb_render_id);
    if (!shm || !shm->present || !render || !render->present)
        return false;
    // Shared memory handed over as a file, and pixmaps the server reads straight from it.
    Reply<xcb_shm_query_version_reply_t> shmVersion(
        xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
    if (!shmVersion || !shmVersion->shared_pixmaps ||
        shmVersion->pixmap_format != XCB_IMAGE_FORMAT_Z_PIXMAP ||
        (shmVersion->major_version == 1 && shmVersion->minor_version < 2))
        return false;
    // Picture transforms came with Render 0.6.
    Reply<xcb_render_query_version_reply_t> renderVersion(
        xcb_render_query_version_reply(c, xcb_render_query_version(c, 0, 11), nullptr));
    if (!renderVersion || (renderVersion->major_version == 0 && renderVersion->minor_version < 6))
        return false;

    // A 24-bit pixmap must hold the picture's bytes as they are: 32 bits a pixel, rows without
    // padding, least significant byte first.
    const xcb_setup_t* setup = xcb_get_setup(c);
    if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST)
        return false;
    bool plainPixels = false;
    for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it))
        if (it.data->depth == 24)
            plainPixels = it.data->bits_per_pixel == 32 && it.data->scanline_pad == 32;
    if (!plainPixels)
        return false;

    s->window = static_cast<xcb_window_t>(winId());
    Reply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, s->window), nullptr));
    Reply<xcb_render_query_pict_formats_reply_t> formats(
        xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr));
    if (!attributes || !formats)
        return false;
    const xcb_render_pictforminfo_t* info = xcb_render_query_pict_formats_formats(formats.get());
    const int count = xcb_render_query_pict_formats_formats_length(formats.get());
    for (int i = 0; i < count && !s->pictureFormat; ++i) {
        const xcb_render_directformat_t& d = info[i].direct;
        if (info[i].type == XCB_RENDER_PICT_TYPE_DIRECT && info[i].depth == 24 &&
            d.red_shift == 16 && d.red_mask == 0xff && d.green_shift == 8 && d.green_mask == 0xff &&
            d.blue_shift == 0 && d.blue_mask == 0xff && d.alpha_mask == 0)
            s->pictureFormat = info[i].id;
    }
    xcb_render_pictformat_t windowFormat = 0;
    for (auto screen = xcb_render_query_pict_formats_screens_iterator(formats.get());
         screen.rem && !windowFormat; xcb_render_pictscreen_next(&screen))
        for (auto depth = xcb_render_pictscreen_depths_iterator(screen.data);
             depth.rem && !windowFormat; xcb_render_pictdepth_next(&depth))
            for (auto visual = xcb_render_pictdepth_visuals_iterator(depth.data); visual.rem;
                 xcb_render_pictvisual_next(&visual))
                if (visual.data->visual == attributes->visual)
                    windowFormat = visual.data->format;
    if (!s->pictureFormat || !windowFormat)
        return false;

    s->windowPicture = xcb_generate_id(c);
    if (!Accepted(c, xcb_render_create_picture_checked(c, s->windowPicture, s->window, windowFormat,
                                                       0, nullptr))) {
        s->windowPicture = 0;
        return false;
    }
    m_server = std::move(s);
    return true;
}

bool X11PreviewSurface::makeBuffer(QSize size) {
    Server& s = *m_server;
    s.releaseBuffer();
    const size_t bytes = size_t(size.width()) * 4 * size_t(size.height());
    const int fd = memfd_create("pawlinex-preview", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    void* bits = ftruncate(fd, static_cast<off_t>(bytes)) == 0
                     ? mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                     : MAP_FAILED;
    if (bits == MAP_FAILED) {
        ::close(fd);
        return false;
    }
    s.bits = static_cast<uint8_t*>(bits);
    s.bytes = bytes;
    return s.buffer.attach(s.c, s.window, s.pictureFormat, fd, 0, size);
}

X11PreviewSurface::Source* X11PreviewSurface::frameSource() {
    Server& s = *m_server;
    const FrameBytes* b = m_bytes.get();
    const qsizetype row = qsizetype(m_picture.width()) * 4;
    if (s.framesRefused || !b || b->memoryFile() < 0 || m_picture.constBits() != b->data() ||
        m_picture.bytesPerLine() != row || b->size() < size_t(row) * size_t(m_picture.height()))
        return nullptr;
    ++s.shows;
    for (Source& f : s.frames)
        if (f.serial == b->memoryFileSerial() && f.size == m_picture.size()) {
            f.shown = s.shows;
            return &f;
        }
    // A pixmap over the file of a frame that is gone only keeps the server's mapping of it alive.
    std::erase_if(s.frames, [&s](Source& f) {
        const bool gone = f.frame.expired();
        if (gone)
            f.release(s.c);
        return gone;
    });
    if (s.frames.size() >= kFramePixmaps) {
        auto oldest =
            std::min_element(s.frames.begin(), s.frames.end(),
                             [](const Source& x, const Source& y) { return x.shown < y.shown; });
        oldest->release(s.c);
        s.frames.erase(oldest);
    }
    // The server gets a descriptor of its own: the request closes the one it takes.
    const int file = fcntl(b->memoryFile(), F_DUPFD_CLOEXEC, 0);
    Source f;
    if (file < 0 || !f.attach(s.c, s.window, s.pictureFormat, file,
                              uint32_t(FrameBytes::memoryFileOffset()), m_picture.size())) {
        // Shown through the surface's own buffer from now on.
        f.release(s.c);
        s.framesRefused = true;
        return nullptr;
    }
    f.serial = b->memoryFileSerial();
    f.shown = s.shows;
    f.frame = m_bytes;
    s.frames.reserve(kFramePixmaps);
    s.frames.push_back(f);
    return &s.frames.back();
}

void X11PreviewSurface::tearDown() {
    if (!m_server)
        return;
    Server& s = *m_server;
    s.releaseBuffer();
    s.releaseFrames();
    if (s.windowPicture)
        xcb_render_free_picture(s.c, s.windowPicture);
    xcb_flush(s.c);
    m_server.reset();
}

void X11PreviewSurface::fail() {
    tearDown();
    m_failed = true;
    // Out of the way, so the owner's own painting beneath shows; not from inside a paint event.
    QMetaObject::invokeMethod(this, &QWidget::hide, Qt::QueuedConnection);
}

bool X11PreviewSurface::present(const QImage& picture, bool scale, SharedBits bytes) {
    if (m_failed || picture.format() != QImage::Format_RGB32 || picture.isNull() ||
        picture.width() > 32767 || picture.height() > 32767)
        return false;
    // The server may still be reading the picture shown last, in place in its frame: the frame
    // goes back to its maker only once the server is done with it.
    if (m_server)
        m_server->waitForServer();
    m_picture = picture;
    m_bytes = std::move(bytes);
    m_scale = scale;
    if (!showPicture()) {
        fail();
        return false;
    }
    return true;
}

bool X11PreviewSurface::showPicture() {
    // Nothing to show in a window that is not on screen: the exposure that brings it back shows
    // the picture kept by then.
    const QWindow* top = window()->windowHandle();
    if (!isVisible() || !top || !top->isExposed())
        return true;
    // Moved to a high-density screen: the owner paints from now on.
    if (devicePixelRatioF() != 1.0 || (!m_server && !setUp()))
        return false;
    Server& s = *m_server;
    const QSize area = size();
    if (area.isEmpty())
        return true;
    const auto w = static_cast<uint16_t>(std::min(area.width(), 32767));
    const auto h = static_cast<uint16_t>(std::min(area.height(), 32767));
    if (m_picture.isNull()) { // no camera picture yet
        const xcb_rectangle_t all{0, 0, w, h};
        xcb_render_fill_rectangles(s.c, XCB_RENDER_PICT_OP_SRC, s.windowPicture, kBlack, 1, &all);
        xcb_flush(s.c);
        return true;
    }
    Source* frame = frameSource();
    m_shownInPlace = frame != nullptr;
    if (frame) {
        compose(*frame, m_scale, w, h);
        return true;
    }
    // A picture larger than the surface is stretched here, straight into the shared memory: that
    // reads only the pixels shown and writes fewer than copying it whole would, and the server
    // then only copies. A smaller one is copied and the server enlarges it.
    const bool here = m_scale && qint64(m_picture.width()) * m_picture.height() >
                                     qint64(area.width()) * area.height();
    const QSize need = here ? area : m_picture.size();
    if (need != s.buffer.size && !makeBuffer(need))
        return false;
    s.waitForServer();
    if (here) {
        QImage buffer(s.bits, need.width(), need.height(), need.width() * 4, QImage::Format_RGB32);
        if (!m_painter.scaleInto(buffer, buffer.rect(), m_picture, QRegion(buffer.rect())))
            return false;
    } else {
        const size_t row = size_t(need.width()) * 4;
        if (size_t(m_picture.bytesPerLine()) == row) {
            std::memcpy(s.bits, m_picture.constBits(), s.bytes);
        } else {
            for (int y = 0; y < need.height(); ++y)
                std::memcpy(s.bits + size_t(y) * row, m_picture.constScanLine(y), row);
        }
    }
    compose(s.buffer, m_scale && !here, w, h);
    return true;
}

void X11PreviewSurface::compose(Source& from, bool serverScales, uint16_t w, uint16_t h) {
    Server& s = *m_server;
    const xcb_render_transform_t t = serverScales ? Scaling(from.size, size()) : kIdentity;
    if (!SameTransform(t, from.transform)) {
        xcb_render_set_picture_transform(s.c, from.picture, t);
        from.transform = t;
    }
    if (m_scale) {
        xcb_render_composite(s.c, XCB_RENDER_PICT_OP_SRC, from.picture, XCB_NONE, s.windowPicture,
                             0, 0, 0, 0, 0, 0, w, h);
    } else {
        const auto pw = static_cast<uint16_t>(std::min<int>(w, from.size.width()));
        const auto ph = static_cast<uint16_t>(std::min<int>(h, from.size.height()));
        xcb_render_composite(s.c, XCB_RENDER_PICT_OP_SRC, from.picture, XCB_NONE, s.windowPicture,
                             0, 0, 0, 0, 0, 0, pw, ph);
        // Black where the picture does not reach: right of it, and below it across the width.
        const std::array<xcb_rectangle_t, 2> rest{
            {{static_cast<int16_t>(pw), 0, static_cast<uint16_t>(w - pw), ph},
             {0, static_cast<int16_t>(ph), w, static_cast<uint16_t>(h - ph)}}};
        for (const xcb_rectangle_t& r : rest)
            if (r.width && r.height)
                xcb_render_fill_rectangles(s.c, XCB_RENDER_PICT_OP_SRC, s.windowPicture, kBlack, 1,
                                           &r);
    }
    s.fence = xcb_get_input_focus(s.c);
    s.fenced = true;
    xcb_flush(s.c);
}

void X11PreviewSurface::paintEvent(QPaintEvent*) {
    // Shown again from the picture itself: the surface may have changed size since. A grab of
    // the window gets the owner's own painting beneath.
    if (!m_failed && !showPicture())
        fail();
}

bool X11PreviewSurface::event(QEvent* e) {
    // The native window was replaced: the server let go of the window's picture with the old
    // window; the rest is made again for the new one at the next picture.
    if (e->type() == QEvent::WinIdChange && m_server) {
        m_server->windowPicture = 0;
        tearDown();
    }
    return QWidget::event(e);
}
