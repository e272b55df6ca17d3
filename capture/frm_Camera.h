#pragma once

#include "capture/capApi.h"
#include "detection/AlarmActions.h"
#include "detection/AlarmSequence.h"
#include "detection/CameraWatch.h"
#include "detection/FrameDifference.h"
#include "detection/FrameSource.h"

#include <QImage>
#include <QWidget>
#include <memory>
#include <string>
#include <vector>

class DetectionHost;
struct Services;
class StatusPanels;
class ScopePanel;
class QTimer;

// Stand-ins for the capture host's live edges, for tests and benchmarks: a member left empty is
// the live one (a nullptr port too). The objects must outlive the window.
struct CameraStandIns {
    FrameSource* frames = nullptr;
    AlarmActionPorts ports;
    AlarmSound* sound = nullptr;
    const Clock* clock = nullptr;
    std::string programFolder; // empty: the program folder
};

// The capture host: the child window that holds the live capture window and runs detection.
// Timer1 fires the detection tick (grab, compare, show the level, classify, draw the timeline);
// Timer2 keeps the warning sound looping from an alarm until the next calm tick. Every tick stops
// Timer1 first and re-arms it last, so ticks never overlap however long an alarm takes. Nothing
// a tick does lets an exception out into Qt.
class frm_Camera : public QWidget, private AlarmHost {
    Q_OBJECT
public:
    // `services` must outlive the window.
    frm_Camera(DetectionHost* host, ScopePanel* scope, Services& services,
               QWidget* parent = nullptr, const CameraStandIns& standIns = {});
    ~frm_Camera() override;

    QTimer* Timer1 = nullptr; // detection tick; stopped = QTimer::stop(), never interval 0
    QTimer* Timer2 = nullptr; // warning-sound repeat, 100 ms while an alarm sound runs

    // The one capture window of the run, made at start-up inside this window; 0 before and after.
    HCAPWND hCapWnd = 0;

    // When set, the next grabbed frame only becomes the reference. Set by the alarm, by
    // threshold editing, by the two video buttons, by a switch of camera and by a camera's first
    // picture after it was lost; cleared by the comparison.
    bool SkipNextCompare = false;

    // Interval AppSettings.Com.Timer * 100 ms, started.
    void startTimer1();
    void stopTimer1();

    // Fits the capture window to this window's inner size at (0, 0).
    void ResizeCaptureWindow(HCAPWND lwnd);

    // The two alarm actions; the tick runs them, public for the main window and tests.
    void sStartAVI() override;
    void sStartMailSend() override;

    // The settings dialog's trial of an alarm command (see AlarmCommandTrial): an empty `frame`
    // uses the last frame the camera gave.
    AlarmCommandResult tryAlarmCommand(const std::string& command, const QImage& frame);
    // Ends the alarm commands still running; the close sequence calls it.
    void endAlarmCommands();

    // Results of the last tick that got a frame.
    int32_t ChangeLevel() const { return m_changeLevel; }
    LevelState lastState() const { return m_lastState; }
    const QImage& picViewA() const { return pic_ViewA; }

public slots:
    // Timer1's tick.
    void Timer1_Timer();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void tickBody();
    // Tells the camera watch whether this tick got a new frame and shows or mails what it
    // finds; false while the camera counts as lost (the tick then compares nothing).
    bool watchCamera(bool newFrame);
    void dumpPanel1();
    AlarmActions actions();
    FrameSource& frameSource() { return m_frameSource; }
    AlarmSound& sound() { return m_sound; }
    const Clock& clock() { return m_clock; }

    // AlarmHost
    void startSoundRepeat() override;
    void stopSoundRepeat() override;
    void showLamps(LevelState state, bool repaintNow) override;
    void sDispEnabled(bool enabled) override;
    bool commandsHeldByUser() const override;
    bool updateMailAccountState() override;

    DetectionHost* m_host;
    ScopePanel* m_scope;
    StatusPanels& m_panels;

    DetectorState m_detector;
    std::vector<uint8_t> m_diff;
    QImage pic_ViewA; // the grabbed frame (sharing its buffer): the alarm picture's source
    QImage pic_ViewC; // canvas the alarm picture is scaled into
    int32_t m_changeLevel = 0;
    LevelState m_lastState = LevelState::Calm;

    struct Live;
    std::unique_ptr<Live> m_live;
    FrameSource& m_frameSource;
    AlarmActionPorts m_ports;
    AlarmSound& m_sound;
    const Clock& m_clock;
    std::string m_programFolder;
    std::string m_dumpedPanel1;
    bool m_inTick = false;
    CameraWatch m_cameraWatch;
    SharedBits m_lastGrabbed; // the last frame grabbed, to tell a new one from the same again
};
