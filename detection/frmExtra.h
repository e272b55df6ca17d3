#pragma once

#include "detection/AlarmCommand.h"
#include "settings/MessageBoxes.h"

#include <QDialog>
#include <QImage>

#include <functional>
#include <string>

class MaskGrid;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimer;

// "拡張設定": edits AppSettings.Extra: the detection mask drawn over the live picture, the
// seconds of video kept before an alarm, the light-change guard, the free space to keep and the
// command run at every alarm, which 試行 runs once on the spot. Reads the settings when it is
// built; OK checks, stores them and saves the file; Cancel and the close box change nothing.
// User-interface thread only.
class frmExtra : public QDialog {
    Q_OBJECT
public:
    // The current camera frame, or a null image when there is none. Called when the dialog is
    // built and then a few times a second while it is open, so it must be quick.
    using FrameGrabber = std::function<QImage()>;

    // What one trial run of the alarm command gave: whether it could be started, its exit status
    // and what it wrote (standard output and error together).
    using TrialResult = AlarmCommandResult;
    // Runs `command` once, as at an alarm, with `frame` as the alarm picture, and returns when it
    // has ended (bounded by the runner). Blocks the dialog meanwhile.
    using CommandTrial =
        std::function<TrialResult(const std::string& command, const QImage& frame)>;

    // Input errors go to `boxes`, which must outlive the dialog.
    frmExtra(MessageBoxes& boxes, FrameGrabber frames, CommandTrial trial,
             QWidget* parent = nullptr);

    // Takes a new frame from the grabber now (the timer does so on its own).
    void refreshPicture();

private:
    void buildControls();
    void loadSettings();
    void cmdTrial_Click();
    void bcmdOK_Click();
    void refuse(QWidget* field, const QString& text);

    FrameGrabber m_frames;
    CommandTrial m_trial;
    MessageBoxes& m_boxes;
    MaskGrid* picMask = nullptr;
    QPushButton* cmdClear = nullptr;
    QSpinBox* txtPre = nullptr;
    QSpinBox* txtLight = nullptr;
    QSpinBox* txtKeepFree = nullptr;
    QLineEdit* txtOnAlarm = nullptr;
    QPushButton* cmdTrial = nullptr;
    QPlainTextEdit* txtTrialResult = nullptr;
    QPushButton* bcmdOK = nullptr;
    QPushButton* bcmdCancel = nullptr;
    QTimer* Timer1 = nullptr; // picture refresh
};
