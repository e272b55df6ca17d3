#pragma once

#include "capture/capApi.h"
#include "capture/frm_Camera.h"
#include "detection/DetectionHost.h"
#include "settings/Services.h"

#include <QMainWindow>

#include <array>
#include <functional>

class ScopePanel;
class QAction;
class QCheckBox;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QProgressBar;
class QPushButton;
class QSlider;
class QToolButton;
class QUrl;

// The main window: the capture host in an MDI area between the detection controls (left) and the
// scope panel (right), the menus, and the status bar. It owns the run: Start() brings the camera
// up and starts detection, and every way of closing runs the same close sequence, which ends the
// process. The handlers are split over several files by concern (start-up and close, detection
// controls, status bar, menus and commands). User-interface thread only.
class frmSw_Mail : public QMainWindow, public DetectionHost {
    Q_OBJECT
public:
    // Shows a settings dialog modally and returns its result.
    using DialogRunner = std::function<int(QDialog&)>;
    // Hands a file or folder to the desktop; false when nothing could be started.
    using UrlOpener = std::function<bool(const QUrl&)>;
    // What tests put in place of the window's ways out, to see which dialog would open and what
    // the window looks like meanwhile. An empty runner means exec(), an empty opener means
    // QDesktopServices; `camera` goes to the capture host.
    struct StandIns {
        DialogRunner dialogs;
        UrlOpener urls;
        CameraStandIns camera;
    };

    // `endProcess` is the last step of the close sequence; the default flushes the standard
    // streams and ends the process at once (so nothing of an interrupted handler runs again).
    // Tests pass their own. The services are handed on to every dialog and must outlive the
    // window.
    explicit frmSw_Mail(const Services& services, std::function<void()> endProcess = {},
                        StandIns standIns = {}, QWidget* parent = nullptr);
    ~frmSw_Mail() override;

    // Start-up after the settings were loaded: fills the controls, shows the window, creates the
    // capture window, connects the first source that accepts, starts preview and detection.
    // When no source connects it says so and runs the close sequence; it then returns false.
    bool Start();

    // DetectionHost
    bool isStopSelected() const override;
    bool isThresholdEditing() const override;
    void sDispEnabled(bool bolEnabled) override;

    // Around every settings dialog: stop the timer and preview and lock the commands, and back.
    void sPauseDetection();
    void sResumeDetection();
    // Panel 3 from the capture status, then fits the capture window to its host.
    void RefreshCaptureFormat(HCAPWND lwnd);
    // Hides or shows the scope panel and refits the capture window.
    void ToggleScope();

    // The commands that only need the capture window (menus and the two video buttons).
    void RunVideoFormat();
    void RunVideoSource();
    void RunVideoCompression();
    void RunVideoButton(bool format); // bcmd_VideoSetting / bcmd_VideoSetting2
    void RunVersion();

    // The settings dialogs of the other parts of the program, each paused around.
    void RunSoundSettings();
    void RunMailAccount();
    void RunAutoMail();   // a new automatic mail dialog per use
    void RunManualSend(); // a new manual send window per use, with the current picture
    void RunFtpSettings();
    void RunDriverSelection();
    // The extended settings (mask over the live picture, pre-alarm video, guards, alarm command).
    void RunExtraSettings();
    // The mail history in the desktop's text editor, and the program's sub-folders in its file
    // browser; each says so in a message box when there is nothing to open or nothing started.
    void RunMailLog();
    void RunOpenFolder(const char* name);
    // F1: help/index.html in the desktop's browser through xdg-open; a message with the path
    // when the file is missing or nothing could open it.
    void RunHelp();

    frm_Camera* camera() const { return m_camera; }
    ScopePanel* scope() const { return m_scope; }
    bool closeSequenceDone() const { return m_closing; }

private:
    // The layout, each control with its design name as object name (tests find them by it).
    QWidget* Picture2 = nullptr;
    QWidget* picSideWindow = nullptr;
    QWidget* picSideScope = nullptr;
    QMdiArea* mdiArea = nullptr;
    QMdiSubWindow* cameraSubWindow = nullptr;

    QLabel* Picture1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QToolButton* cmd_Sound = nullptr;
    QFrame* Frame1 = nullptr;
    std::array<QToolButton*, 2> optPrv{};
    QPushButton* bcmd_SendMail = nullptr;
    QPushButton* bcmd_VideoSetting = nullptr;
    QPushButton* bcmd_VideoSetting2 = nullptr;
    QPushButton* bcmd_MailSetting = nullptr;
    QPushButton* bcmd_SendMailA = nullptr;
    QPushButton* bcmd_Ftp = nullptr;
    QPushButton* bcmd_End = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    QLabel* Label4 = nullptr;
    QPushButton* cmdKenchi = nullptr;
    QLineEdit* txtCKData = nullptr;
    QLabel* Label13 = nullptr;
    QSlider* SliderCKTime = nullptr;
    QLabel* Label14 = nullptr;
    QSlider* SliderSeido = nullptr;
    QCheckBox* ckNoize = nullptr;

    std::array<QLabel*, 5> StatusBarPanels{}; // panels 1..5 at 0..4
    // Inside panel 1, right of its text, while a clip records (seconds of the clip length) or
    // uploads.
    QProgressBar* prgAction = nullptr;

    std::array<QMenu*, 5> mnu{};
    QAction* mnu_end = nullptr;
    QAction* mnu_scope = nullptr;
    QAction* mnu_send = nullptr;
    QAction* mnu_sound = nullptr;
    QAction* mnu_tab1 = nullptr;
    QAction* mnu_vdriver = nullptr;
    QAction* mnu_vdriver2 = nullptr;
    QAction* mnu_Drive = nullptr;
    QAction* mnu_comp = nullptr;
    QAction* mnu_tab2 = nullptr;
    QAction* mnu_mail = nullptr;
    QAction* mnu_sendA = nullptr;
    QAction* mnu_Ftp = nullptr;
    QAction* mnu_tab3 = nullptr;
    QAction* mnu_log = nullptr;
    QAction* mnu_img = nullptr;
    QAction* mnu_avi = nullptr;
    QAction* mnu_tab5 = nullptr;
    QAction* mnu_extra = nullptr;
    QAction* mnu_help = nullptr;
    QAction* mnu_tab4 = nullptr;
    QAction* mnu_ver = nullptr;
    QAction* helpKey = nullptr; // F1

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // frmSw_Mail.cpp: the frame and the left panel
    void buildLeftPanel();
    // frmSw_Mail_Commands.cpp
    void buildMenus();
    void giveMenuBarItsMnemonics();
    void connectCommands();
    int runDialog(QDialog& dialog);
    bool openUrl(const QUrl& url);
    // frmSw_Mail_Progress.cpp
    void buildProgressBar();
    void watchActionProgress(); // once the capture window exists
    void recordingStarted();
    void recordingProgress(int elapsedSeconds, int limitSeconds);
    void recordingFinished();
    void uploadStarted();
    void uploadFinished();
    void showProgress();
    void hideProgress();
    void placeProgress();
    // frmSw_Mail_Status.cpp
    void buildStatusBar();
    void mirrorStatusPanel(int panel);
    // frmSw_Mail_Detection.cpp
    void connectDetectionControls();
    void SliderCKTime_Change();
    void SliderSeido_Change();
    void ckNoize_Click();
    bool txtCKData_KeyPress(QKeyEvent* event);
    void cmdKenchi_Click();
    void optPrv_Click();
    // frmSw_Mail_Lifecycle.cpp
    void fillFromSettings();
    void showCentred();
    void runCloseSequence();
    void DisconnectCapture();

    Services m_services;
    MessageBoxes& m_messages;
    std::function<void()> m_endProcess;
    frm_Camera* m_camera = nullptr;
    ScopePanel* m_scope = nullptr;
    bool m_closing = false;
    bool m_commandsLocked = false;
    StandIns m_standIns;
    // Recording, then the upload that may follow it.
    enum class ActionPhase { None, Recording, Upload };
    ActionPhase m_phase = ActionPhase::None;
    bool m_uploadSeen = false;
    bool m_progressShown = false; // wanted; hidden meanwhile when panel 1 has no room for it
};
