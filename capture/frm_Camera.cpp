#include "capture/frm_Camera.h"

#include "capture/CaptureWindow.h"
#include "detection/AlarmPortsLive.h"
#include "detection/DetectionHost.h"
#include "detection/LevelState.h"
#include "detection/ScopePanel.h"
#include "mail/basPicture.h"
#include "settings/AppSettings.h"
#include "settings/Services.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace {

// The capture window's frame hand-over.
class CapFrameSource final : public FrameSource {
public:
    explicit CapFrameSource(const HCAPWND& hwnd) : hCapWnd(hwnd) {}
    bool grabFrame() override { return capGrabFrame(hCapWnd); }
    bool editCopy() override { return capEditCopy(hCapWnd); }
    void previewOn() override { capPreview(hCapWnd, true); }
    bool takeFrame(Frame& f) override { return capTakeGrabbedFrame(hCapWnd, f); }
    bool takeSharedFrame(SharedFrame& f) override { return capTakeGrabbedFrame(hCapWnd, f); }

private:
    const HCAPWND& hCapWnd; // the capture form's, which changes at start-up and close
};

class CapClipRecorder final : public ClipRecorder {
public:
    explicit CapClipRecorder(const HCAPWND& hwnd) : hCapWnd(hwnd) {}
    bool getSetup(CAPTUREPARMS& p) override {
        return capCaptureGetSetup(hCapWnd, &p, sizeof(CAPTUREPARMS));
    }
    bool setSetup(const CAPTUREPARMS& p) override {
        return capCaptureSetSetup(hCapWnd, &p, sizeof(CAPTUREPARMS));
    }
    bool setCaptureFile(const std::string& path) override {
        return capFileSetCaptureFile(hCapWnd, path);
    }
    bool captureSequence() override { return capCaptureSequence(hCapWnd); }
    bool captureStop() override { return capCaptureStop(hCapWnd); }

private:
    const HCAPWND& hCapWnd;
};

} // namespace

struct frm_Camera::Live {
    Live(Services& services, const HCAPWND& hwnd)
        : frames(hwnd), recorder(hwnd), uploader(services.ftp), mailer(services.mail),
          clock(services.clock) {}

    CapFrameSource frames;
    CapClipRecorder recorder;
    AutoFtpUploader uploader;
    AccountMailer mailer;
    JpegPictureWriter pictures;
    BasAlarmSound sound;
    const Clock& clock;
    StatvfsFreeSpace freeSpace;
    DiskGuard disk{freeSpace};
    AlarmCommand command;
};

frm_Camera::frm_Camera(DetectionHost* host, ScopePanel* scope, Services& services, QWidget* parent,
                       const CameraStandIns& standIns)
    : QWidget(parent), m_host(host), m_scope(scope), m_panels(services.panels),
      m_live(std::make_unique<Live>(services, hCapWnd)),
      m_frameSource(standIns.frames ? *standIns.frames : m_live->frames),
      m_sound(standIns.sound ? *standIns.sound : m_live->sound),
      m_clock(standIns.clock ? *standIns.clock : m_live->clock),
      m_programFolder(standIns.programFolder) {
    setObjectName(QStringLiteral("frm_Camera"));
    const AlarmActionPorts& ports = standIns.ports;
    m_ports.recorder = ports.recorder ? ports.recorder : &m_live->recorder;
    m_ports.uploader = ports.uploader ? ports.uploader : &m_live->uploader;
    m_ports.mailer = ports.mailer ? ports.mailer : &m_live->mailer;
    m_ports.pictures = ports.pictures ? ports.pictures : &m_live->pictures;
    m_ports.clock = ports.clock ? ports.clock : &m_live->clock;
    m_ports.disk = ports.disk ? ports.disk : &m_live->disk;
    m_ports.command = ports.command ? ports.command : &m_live->command;
    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    connect(Timer1, &QTimer::timeout, this, &frm_Camera::Timer1_Timer);
    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(100);
    connect(Timer2, &QTimer::timeout, this, [this] {
        try {
            sound().repeat(AppSettings.Com.SoundPath);
        } catch (...) {
        }
    });
}

frm_Camera::~frm_Camera() = default;

void frm_Camera::startTimer1() {
    const int tenths = std::clamp<int>(AppSettings.Com.Timer, 1, 50);
    Timer1->start(tenths * 100);
}

void frm_Camera::stopTimer1() {
    Timer1->stop();
    m_cameraWatch.pause();
}

void frm_Camera::ResizeCaptureWindow(HCAPWND lwnd) {
    if (QWidget* w = capWindowWidget(lwnd))
        w->setGeometry(0, 0, width(), height());
}

void frm_Camera::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ResizeCaptureWindow(hCapWnd);
}

AlarmActions frm_Camera::actions() {
    return AlarmActions(m_ports, m_panels,
                        m_programFolder.empty() ? ProgramFolder() : m_programFolder);
}

void frm_Camera::sStartAVI() {
    // The command hears of the alarm once its clip is uploaded, or at once without a clip.
    const QDateTime alarmTime = m_ports.clock->now();
    AlarmActions alarm = actions();
    const std::string clip = alarm.sStartAVI();
    alarm.sStartAlarmCommand(pic_ViewA, clip, m_changeLevel, alarmTime);
}

AlarmCommandResult frm_Camera::tryAlarmCommand(const std::string& command, const QImage& frame) {
    return actions().sTryAlarmCommand(command, frame.isNull() ? pic_ViewA : frame, m_changeLevel);
}

void frm_Camera::endAlarmCommands() {
    m_ports.command->endAll();
}

void frm_Camera::sStartMailSend() {
    actions().sStartMailSend(pic_ViewA, pic_ViewC);
}

void frm_Camera::Timer1_Timer() {
    if (!Timer1->isActive())
        return;
    Timer1->stop();
    // A handler running inside this tick's event processing (step 8, the waits of the alarm
    // actions) may have started the timer again; a nested tick would start a second recording
    // or mail from inside the first. The outer tick re-arms the timer when it ends.
    if (m_inTick)
        return;
    // The pre-alarm ring costs an encoding per camera frame: it runs only while an alarm could
    // record a clip.
    const bool stopped = m_host && m_host->isStopSelected();
    capSetPreAlarm(hCapWnd, !stopped && AppSettings.Ftp.Move ? AppSettings.Extra.Pre : 0,
                   AppSettings.Ftp.Audio);
    if (m_host && (m_host->isStopSelected() || m_host->isThresholdEditing())) {
        m_cameraWatch.pause();
        return;
    }
    m_inTick = true;
    try {
        tickBody();
    } catch (...) {
        // A failing tick shows nothing; the next one starts afresh.
    }
    m_inTick = false;
    dumpPanel1();
    startTimer1();
}

void frm_Camera::dumpPanel1() {
    // For end-to-end runs without a screen: PAWLINEX_PANEL_DUMP names a file that gets panel 1's
    // text, one line each time a tick leaves it changed.
    static const QByteArray path = qgetenv("PAWLINEX_PANEL_DUMP");
    if (path.isEmpty())
        return;
    const std::string text = m_panels.text(1);
    if (text == m_dumpedPanel1)
        return;
    m_dumpedPanel1 = text;
    QFile file(QString::fromLocal8Bit(path));
    if (file.open(QIODevice::Append | QIODevice::Text))
        file.write(QByteArray::fromStdString(text + "\n"));
}

void frm_Camera::tickBody() {
    FrameSource& source = frameSource();
    source.grabFrame();
    const bool copied = source.editCopy();
    source.previewOn();
    if (!copied) {
        watchCamera(false);
        return;
    }
    QCoreApplication::processEvents();

    // The frame is the engine's own buffer, shared: the alarm picture and the detector's
    // reference both keep it without a copy.
    SharedFrame frame;
    if (!source.takeSharedFrame(frame) || frame.empty()) {
        watchCamera(false);
        return;
    }
    // The engine never hands out a buffer again while anyone holds it, so the same buffer as
    // last time is the same picture: the camera has sent nothing new.
    const bool fresh = frame.bits != m_lastGrabbed;
    m_lastGrabbed = frame.bits;
    if (!watchCamera(fresh))
        return;
    pic_ViewA = SharedFrameImage(frame);

    const CompareExtras extras{DetectionMask::fromText(AppSettings.Extra.Mask),
                               AppSettings.Extra.Light};
    const CompareResult result =
        CompareFrame(frame, m_detector, SkipNextCompare, AppSettings.Com.Accuracy,
                     AppSettings.Com.Noize, m_diff, extras);
    if (m_scope)
        m_scope->setMaskedCells(extras.mask);
    if (result.Compared && m_scope) {
        // The difference image is read in place (an alias that owns nothing: the image lives
        // only for this step); the scope keeps only its scaled copy.
        const FrameBytes diffBytes(FrameBytes::Borrowed{}, m_diff.data(), m_diff.size());
        const QImage diff =
            SharedFrameImage(SharedFrame{frame.header, SharedBits(SharedBits(), &diffBytes)});
        const QSize inner = m_scope->scopeInnerSize();
        QImage scope;
        ScalePicture(diff, scope, inner.height(), inner.width());
        m_scope->setScopeImage(scope);
    }

    m_changeLevel = result.ChangeLevel;
    // A change of light is shown as measured but judged as no change at all.
    const int32_t judged = result.LightChange ? 0 : m_changeLevel;
    m_lastState = Classify(judged, AppSettings.Com.CkSum);
    if (m_scope)
        m_scope->lblCount()->setText(QString::fromStdString(
            FormatCount(m_changeLevel, QLocale().groupSeparator().toStdString())));

    const int threshold = AppSettings.Com.CkSum;
    const ClassifyOutcome outcome = ClassifyAndShow(judged, threshold, AppSettings.Com.SoundPath,
                                                    static_cast<AlarmHost&>(*this), sound(),
                                                    clock(), m_panels, SkipNextCompare);
    m_lastState = outcome.state;
    if (result.LightChange) {
        // The camera's exposure takes a few frames to settle: the next frame starts afresh.
        m_panels.setText(1, kLightChangeText);
        SkipNextCompare = true;
    }
    if (m_scope) {
        const TimelineStep step =
            m_scope->timeline().draw(judged, threshold, outcome.stateColor, clock().timeOfDay());
        m_scope->showTimelineStep(step);
    }
}

bool frm_Camera::watchCamera(bool newFrame) {
    const CameraWatch::Step step = m_cameraWatch.tick(clock().msecsSinceEpoch(), newFrame, [this] {
        return m_ports.mailer->updateAccountState();
    });
    if (step.lostNow) {
        // Saying nothing would leave the last state's text and lamp on, telling the user all is
        // well while nothing is watched. The warning sound is left as it is.
        m_panels.setText(1, kCameraLostText);
        if (m_scope)
            m_scope->setLamps(-1, false);
        std::fprintf(stderr, "pawlinex: no new camera picture for %d s\n",
                     int(CameraWatch::kLostAfterMs / 1000));
    }
    if (step.backNow) {
        // The first picture after the gap starts a fresh reference: the scene may have changed
        // meanwhile, and that is no intruder.
        SkipNextCompare = true;
        std::fprintf(stderr, "pawlinex: camera pictures are back\n");
    }
    if (step.mailLost || step.mailBack) {
        // Locked like an alarm's actions: the mail waits with events running, and nothing may
        // start another send from inside it.
        sDispEnabled(false);
        try {
            actions().sStartCameraMail(step.mailBack);
        } catch (...) {
            if (!commandsHeldByUser())
                sDispEnabled(true);
            throw;
        }
        if (!commandsHeldByUser())
            sDispEnabled(true);
    }
    return !m_cameraWatch.lost();
}

void frm_Camera::startSoundRepeat() {
    Timer2->start(100);
}
void frm_Camera::stopSoundRepeat() {
    Timer2->stop();
}

void frm_Camera::showLamps(LevelState state, bool repaintNow) {
    if (m_scope)
        m_scope->setLamps(StateLamp(state), repaintNow);
}

void frm_Camera::sDispEnabled(bool enabled) {
    if (m_host)
        m_host->sDispEnabled(enabled);
}

bool frm_Camera::commandsHeldByUser() const {
    return m_host && (m_host->isStopSelected() || m_host->isThresholdEditing());
}

bool frm_Camera::updateMailAccountState() {
    return m_ports.mailer->updateAccountState();
}
