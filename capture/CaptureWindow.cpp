#include "capture/CaptureWindow.h"

#include "capture/VideoSources.h"
#include "capture/X11PreviewSurface.h"

#include <QApplication>
#include <QEventLoop>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QRegion>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

namespace {
constexpr uint32_t kVkEscape = 0x1B;
constexpr int kConnectTimeoutMs = 5000;

// Checks that a 32-bit bitmap can be shown as an RGB32 image (whose ignored fourth byte is the
// pixel's unused one) and returns the bytes it needs.
size_t CheckedImageBytes(const BitmapHeader& h, size_t size) {
    if (h.bmWidth <= 0 || h.bmHeight <= 0 || h.bmWidthBytes <= 0)
        throw std::domain_error("frame without pixels");
    if (h.bmBitsPixel != 32)
        throw std::domain_error("unsupported pixel format");
    if (int64_t(h.bmWidthBytes) < int64_t(h.bmWidth) * 4)
        throw std::length_error("row shorter than its pixels");
    const size_t bytes = size_t(h.bmWidthBytes) * size_t(h.bmHeight);
    if (size < bytes)
        throw std::length_error("frame shorter than its header");
    return bytes;
}

} // namespace

QImage SharedFrameImage(const SharedFrame& f) {
    const BitmapHeader& h = f.header;
    CheckedImageBytes(h, f.bits ? f.bits->size() : 0);
    if (h.bmWidthBytes % 4 != 0) {
        QImage img(h.bmWidth, h.bmHeight, QImage::Format_RGB32);
        if (img.isNull())
            throw std::bad_alloc();
        for (int y = 0; y < h.bmHeight; ++y)
            std::memcpy(img.scanLine(y), f.bits->data() + size_t(y) * size_t(h.bmWidthBytes),
                        size_t(h.bmWidth) * 4);
        return img;
    }
    auto* keep = new SharedBits(f.bits);
    QImage img((*keep)->data(), h.bmWidth, h.bmHeight, h.bmWidthBytes, QImage::Format_RGB32,
               [](void* p) { delete static_cast<SharedBits*>(p); }, keep);
    if (img.isNull()) { // an image that was never made never lets go of the buffer itself
        delete keep;
        throw std::bad_alloc();
    }
    return img;
}

CaptureWindow::CaptureWindow(VideoSourceList& sources, QWidget* parent)
    : QWidget(parent), m_sources(sources), m_engine(std::make_shared<CaptureEngine>()),
      m_preFeeder(std::make_unique<PreAlarmFeeder>(*m_engine, m_preRing)),
      m_setup(defaultCaptureSetup()) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A Motion-JPEG camera's pictures go into the pre-alarm ring as they came (the ring ignores
    // them while it is off), so keeping them costs a copy, not an encoding.
    m_engine->setJpegListener([this](const uint8_t* data, size_t size, int width, int height) {
        m_preRing.pushJpeg(data, size, width, height, PreAlarmRing::Clock::now());
    });
    m_previewTimer.setInterval(m_previewRate);
    connect(&m_previewTimer, &QTimer::timeout, this, &CaptureWindow::refreshPreview);
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        m_surface = new X11PreviewSurface(this);
        m_surface->setGeometry(rect());
    }
}

CaptureWindow::~CaptureWindow() {
    // A recording still running when the window goes (the program is closing) must leave a
    // playable file: stop it and write its index before the engine goes away.
    if (m_recorder) {
        m_recorder->stop();
        m_recorder->finish();
        m_recorder.reset();
    }
    m_preFeeder.reset();
    m_engine->setJpegListener({}); // the engine may outlive this window and its ring
    qApp->removeEventFilter(this);
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_engine->close();
}

CAPTUREPARMS CaptureWindow::defaultCaptureSetup() {
    CAPTUREPARMS p{};
    p.dwRequestMicroSecPerFrame = 66667; // 15 frames a second
    p.fMakeUserHitOKToCapture = 0;
    p.wPercentDropForError = 10;
    p.fYield = 0;
    p.dwIndexSize = 27000;
    p.wChunkGranularity = 0;
    p.wNumVideoRequested = 5;
    p.fCaptureAudio = 1;
    p.wNumAudioRequested = 4;
    p.vKeyAbort = kVkEscape;
    p.fAbortLeftMouse = 0;
    p.fAbortRightMouse = 0;
    p.fLimitEnabled = 0;
    p.wTimeLimit = 30;
    p.dwAudioBufferSize = 0;
    return p;
}

std::string CaptureWindow::audioSource() {
    const char* a = std::getenv("PAWLINEX_AUDIO_SOURCE");
    return a && *a ? std::string(a) : std::string();
}

bool CaptureWindow::connectDriver(int index) {
    if (m_recording || m_connecting)
        return false;
    const auto list = m_sources.entries();
    if (index < 0 || index >= static_cast<int>(list.size()))
        return false;
    std::string spec = list[static_cast<size_t>(index)].spec;
    // A camera can take seconds to answer, or never answer: the open runs on a worker while
    // this thread keeps the windows painting and hears the close box and the signals. Closing
    // lets go of the engine, which cuts the open short. The worker keeps the engine alive and
    // the wait below ends only when the worker has posted its end.
    QPointer<CaptureWindow> self(this);
    m_connecting = true;
    std::shared_ptr<CaptureEngine> engine = m_engine;
    std::atomic<bool> opened{false};
    QEventLoop wait;
    std::thread worker([engine, spec, &opened, &wait] {
        opened = engine->open(spec, kConnectTimeoutMs);
        QMetaObject::invokeMethod(&wait, &QEventLoop::quit, Qt::QueuedConnection);
    });
    wait.exec();
    worker.join();
    if (!self)
        return false; // the window went while the camera was being opened
    m_connecting = false;
    if (!opened)
        return false;
    m_connectedSpec = spec;
    m_connectedIndex = index;
    m_shownSerial = 0;
    refreshPreview();
    return true;
}

void CaptureWindow::disconnectDriver() {
    stopCapture();
    m_engine->close();
    m_connectedSpec.clear();
    m_connectedIndex = -1;
}

bool CaptureWindow::connected() const {
    return m_engine->isOpen();
}

int CaptureWindow::connectedIndex() const {
    if (m_connectedSpec.empty())
        return -1;
    // The list may have been read again since (a camera plugged in): find the camera by what it
    // is, not by where it was.
    const auto list = m_sources.entries();
    if (m_connectedIndex >= 0 && m_connectedIndex < static_cast<int>(list.size()) &&
        list[static_cast<size_t>(m_connectedIndex)].spec == m_connectedSpec)
        return m_connectedIndex;
    for (size_t i = 0; i < list.size(); ++i)
        if (list[i].spec == m_connectedSpec)
            return static_cast<int>(i);
    return m_connectedIndex;
}

void CaptureWindow::setPreview(bool on) {
    // The detection tick turns preview on after every grab: while it is on already, that must
    // not restart the preview timer, or a preview rate slower than the tick would never come.
    if (on && m_preview && m_previewTimer.isActive())
        return;
    m_preview = on;
    if (on) {
        watchWindow();
        m_previewTimer.start(m_previewRate);
        refreshPreview();
    } else {
        m_previewTimer.stop();
    }
}

void CaptureWindow::setPreviewRate(int milliseconds) {
    // A QTimer at 0 ms would spin; a preview faster than 10 ms shows nothing more anyway.
    m_previewRate = std::max(10, milliseconds);
    m_previewTimer.setInterval(m_previewRate);
}

void CaptureWindow::setScale(bool on) {
    m_scale = on;
    if (!showOnSurface())
        update();
}

// The display server shows the picture when it can; otherwise this window paints it.
bool CaptureWindow::showOnSurface() {
    if (!m_surface || m_image.isNull())
        return false;
    if (m_surface->present(m_image, m_scale, m_imageBytes))
        return true;
    if (!m_surface->usable()) {
        delete m_surface;
        m_surface = nullptr;
    }
    return false;
}

void CaptureWindow::resizeEvent(QResizeEvent* event) {
    if (m_surface)
        m_surface->setGeometry(rect());
    QWidget::resizeEvent(event);
}

void CaptureWindow::watchWindow() {
    QWidget* top = window();
    if (top == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = top;
    if (top != this)
        top->installEventFilter(this);
}

// The window is about to repaint for some other reason (the detection tick's displays, ten
// times a second): a newer frame painted in that same pass costs far less than a pass of its
// own at the next preview tick, which then finds nothing new. Never sooner than half the
// preview interval after the last picture, so the preview keeps about its rate.
void CaptureWindow::refreshWithWindow() {
    if (!m_preview || !m_previewTimer.isActive() || !isVisible())
        return;
    if (m_sinceRefresh.isValid() && m_sinceRefresh.elapsed() < m_previewRate / 2)
        return;
    refreshPreview();
}

void CaptureWindow::refreshPreview() {
    BitmapHeader h;
    CaptureEngine::FrameBits bits;
    uint64_t serial = 0;
    if (!m_engine->latestShared(h, bits, &serial) || serial == m_shownSerial)
        return;
    m_shownSerial = serial;
    m_sinceRefresh.start();
    // Painted straight from the engine's buffer; the image keeps the buffer alive.
    try {
        m_image = SharedFrameImage(SharedFrame{h, bits});
        m_imageBytes = std::move(bits);
    } catch (const std::exception&) {
        return; // nothing the engine hands out, but a picture that cannot be shown is skipped
    }
    if (!showOnSurface())
        update();
}

void CaptureWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Black only where the picture does not cover: painting the whole window black first would
    // double the cost of every preview frame.
    if (m_image.isNull()) {
        p.fillRect(rect(), Qt::black);
        return;
    }
    if (m_scale) {
        m_previewPainter.draw(p, rect(), m_image);
        return;
    }
    p.drawImage(QPoint(0, 0), m_image);
    const QRegion uncovered = QRegion(rect()) - QRegion(m_image.rect());
    for (const QRect& r : uncovered)
        p.fillRect(r, Qt::black);
}

bool CaptureWindow::grabFrame() {
    m_grabbed = {};
    return m_engine->latestShared(m_grabbed.header, m_grabbed.bits);
}

bool CaptureWindow::takeGrabbedFrame(Frame& out) {
    if (m_grabbed.empty())
        return false;
    out.header = m_grabbed.header;
    out.bits.assign(m_grabbed.bits->begin(), m_grabbed.bits->end());
    m_grabbed = {};
    return true;
}

bool CaptureWindow::takeGrabbedFrame(SharedFrame& out) {
    if (m_grabbed.empty())
        return false;
    out = std::move(m_grabbed);
    m_grabbed = {};
    return true;
}

bool CaptureWindow::captureSequence() {
    if (m_recording || m_captureFile.empty() || !m_engine->isOpen())
        return false;
    AviRecorderSettings cs;
    cs.path = m_captureFile;
    cs.microSecPerFrame =
        m_setup.dwRequestMicroSecPerFrame ? m_setup.dwRequestMicroSecPerFrame : 33333;
    cs.limitEnabled = m_setup.fLimitEnabled != 0;
    cs.limitSeconds = m_setup.wTimeLimit;
    cs.audio = m_setup.fCaptureAudio != 0;
    cs.audioSource = audioSource();
    cs.quality = m_engine->clipQuality();
    // The seconds before go into this clip; the ring starts afresh after it, so a later clip
    // never spans the time this one recorded.
    if (m_preRing.enabled()) {
        m_preFeeder->setPaused(true);
        cs.preAlarm = m_preRing.snapshot(PreAlarmRing::Clock::now());
        m_preRing.clear();
    }

    m_recording = true;
    m_abortRequested = false;
    m_recorder = std::make_unique<AviRecorder>(*m_engine);
    if (!m_recorder->start(cs)) {
        m_recorder.reset();
        m_recording = false;
        m_preFeeder->setPaused(false);
        return false;
    }
    emit recordingStarted();
    qApp->installEventFilter(this);

    const int limit = cs.limitEnabled ? static_cast<int>(cs.limitSeconds) : 0;
    QEventLoop loop;
    QTimer poll;
    int lastReported = -1;
    // The program may close while the clip records (the close box is handled inside this
    // loop); the window's destructor then finishes the file, and nothing here may touch it.
    QPointer<CaptureWindow> self(this);
    connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!self || !m_recorder) {
            loop.quit();
            return;
        }
        if (m_abortRequested)
            m_recorder->stop();
        int secs = static_cast<int>(m_recorder->elapsedSeconds());
        if (secs != lastReported) {
            lastReported = secs;
            emit recordingProgress(secs, limit);
            if (m_progressCallback)
                m_progressCallback(secs, limit);
        }
        if (!m_recorder->running())
            loop.quit();
    });
    poll.start(250);
    loop.exec();
    if (!self)
        return false;
    poll.stop();

    qApp->removeEventFilter(this);
    bool ok = false;
    if (m_recorder) {
        m_recorder->finish();
        ok = m_recorder->framesWritten() > 0;
        m_recorder.reset();
    }
    m_recording = false;
    m_preRing.clear(); // a picture that slipped in as the clip began
    m_preFeeder->setPaused(false);
    emit recordingFinished();
    return ok;
}

void CaptureWindow::setPreAlarmSeconds(int seconds, bool sound, uint32_t microSecPerFrame) {
    m_preRing.setQuality(m_engine->clipQuality());
    m_preFeeder->setSeconds(seconds, microSecPerFrame);
    m_preFeeder->setSound(seconds > 0 && sound, audioSource());
}

bool CaptureWindow::stopCapture() {
    if (!m_recorder)
        return false;
    m_recorder->stop();
    m_recorder->finish();
    return true;
}

bool CaptureWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_watchedWindow && event->type() == QEvent::UpdateRequest)
        refreshWithWindow();
    if (m_recording) {
        // Esc (or the abort key set) anywhere in the program ends the recording, as do the mouse
        // buttons when the set-up asks for it. The key is swallowed so no dialog reacts to it.
        if (event->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(event);
            if (m_setup.vKeyAbort == kVkEscape && k->key() == Qt::Key_Escape) {
                m_abortRequested = true;
                if (m_recorder)
                    m_recorder->stop();
                return true;
            }
        } else if (event->type() == QEvent::MouseButtonPress) {
            auto* m = static_cast<QMouseEvent*>(event);
            if ((m->button() == Qt::LeftButton && m_setup.fAbortLeftMouse) ||
                (m->button() == Qt::RightButton && m_setup.fAbortRightMouse)) {
                m_abortRequested = true;
                if (m_recorder)
                    m_recorder->stop();
                return true;
            }
        }
    }
    return QWidget::eventFilter(watched, event);
}
