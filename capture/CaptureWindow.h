#pragma once

#include "capture/AviRecorder.h"
#include "capture/CaptureEngine.h"
#include "capture/PreAlarmFeeder.h"
#include "capture/PreAlarmRing.h"
#include "capture/PreviewPaint.h"
#include "capture/VideoSources.h"
#include "detection/CaptureRecords.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

class X11PreviewSurface;

// A frame as an image that shares its buffer instead of copying it: the image keeps the buffer
// alive, and the buffer is never written again, so the image stays as the frame was. Throws
// std::domain_error / std::length_error for a header that does not describe a 32-bit picture
// within the bits.
QImage SharedFrameImage(const SharedFrame& frame);

// The capture window: the live picture of the connected camera, and the owner of the camera
// engine and the clip recorder behind the capture wrappers. Preview repaints at the preview
// rate; with preview off the picture on screen freezes while the engine keeps decoding, so a
// grab always gets the current frame. User-interface thread only.
class CaptureWindow : public QWidget {
    Q_OBJECT
public:
    // `sources` is the driver list the indexes refer to; it must outlive the window.
    explicit CaptureWindow(VideoSourceList& sources, QWidget* parent = nullptr);
    ~CaptureWindow() override;

    CaptureEngine& engine() { return *m_engine; }

    // Connects driver `index` of the driver list; a refused connection keeps the old camera.
    // Waits in a local event loop while the camera opens (windows paint, a close is heard);
    // disconnectDriver or destroying the window meanwhile ends the attempt with false. A second
    // connect while one is waiting is refused.
    bool connectDriver(int index);
    void disconnectDriver();
    bool connected() const;
    // Position of the connected camera in the driver list (-1 when none).
    int connectedIndex() const;

    void setPreview(bool on);
    bool preview() const { return m_preview; }
    void setPreviewRate(int milliseconds);
    int previewRate() const { return m_previewRate; }
    void setScale(bool on);
    bool scale() const { return m_scale; }

    // The grab slot holds the engine's frame itself; taking it as a shared frame copies nothing,
    // taking it as a Frame copies the bits into the caller's buffer.
    bool grabFrame();
    bool grabbedFrameReady() const { return !m_grabbed.empty(); }
    bool takeGrabbedFrame(Frame& out);
    bool takeGrabbedFrame(SharedFrame& out);

    // The recording set-up block; unset fields hold the engine's defaults.
    CAPTUREPARMS captureSetup() const { return m_setup; }
    void setCaptureSetup(const CAPTUREPARMS& parms) { m_setup = parms; }
    static CAPTUREPARMS defaultCaptureSetup();
    void setCaptureFile(const std::string& path) { m_captureFile = path; }
    std::string captureFile() const { return m_captureFile; }

    // Records a clip to the capture file and returns when it has ended (limit, Esc, or
    // stopCapture). Waits in a local event loop, so windows keep painting. False when a
    // recording is already running or none could be started.
    bool captureSequence();
    // Ends a running recording and finishes its file; returns when the file is closed.
    bool stopCapture();
    bool recording() const { return m_recording; }

    // Keeps the last `seconds` of the camera (0: none), and with `sound` of the sound input (which
    // then stays open), so the next clip starts with them.
    void setPreAlarmSeconds(int seconds, bool sound = false, uint32_t microSecPerFrame = 33333);
    PreAlarmRing& preAlarmRing() { return m_preRing; }

    // Called about four times a second while recording, with whole seconds recorded so far and
    // the limit (0 without limit). The signal below says the same.
    void setRecordingProgressCallback(std::function<void(int, int)> cb) {
        m_progressCallback = std::move(cb);
    }

signals:
    void recordingProgress(int elapsedSeconds, int limitSeconds);
    void recordingStarted();
    void recordingFinished();

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void refreshPreview();
    bool showOnSurface();
    void watchWindow();
    void refreshWithWindow();
    // The sound input of clips: PAWLINEX_AUDIO_SOURCE, or the default input (empty text).
    static std::string audioSource();

    VideoSourceList& m_sources;
    std::shared_ptr<CaptureEngine> m_engine; // shared with a connect's worker
    bool m_connecting = false;
    std::unique_ptr<AviRecorder> m_recorder;
    PreAlarmRing m_preRing;
    std::unique_ptr<PreAlarmFeeder> m_preFeeder; // reads the engine and fills the ring
    std::string m_connectedSpec;
    int m_connectedIndex = -1;
    bool m_preview = false;
    bool m_scale = false;
    int m_previewRate = 66;
    QTimer m_previewTimer;
    QElapsedTimer m_sinceRefresh;      // since the picture on screen last changed
    QPointer<QWidget> m_watchedWindow; // the top-level window whose repaints the preview joins
    QImage m_image;
    SharedBits m_imageBytes; // the frame bytes m_image shows
    PreviewPainter m_previewPainter;
    X11PreviewSurface* m_surface = nullptr; // a child; null where the window paints the picture
    uint64_t m_shownSerial = 0;
    SharedFrame m_grabbed;
    CAPTUREPARMS m_setup;
    std::string m_captureFile;
    bool m_recording = false;
    bool m_abortRequested = false;
    std::function<void(int, int)> m_progressCallback;
};
