// The progress bar beside the status panels: it shows while an alarm's clip records (seconds
// recorded out of the clip length) and while the clip uploads, and goes away afterwards. It never
// writes the panels, which keep telling the alarm state.
#include "mainwindow/frmSw_Mail.h"

#include "capture/CaptureWindow.h"
#include "ftp/basAutoFTP.h"
#include "settings/AppSettings.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include <algorithm>

namespace {
// The upload gives no signal of its own; while a clip's upload may be under way the bar looks
// whether the client still runs this often (the wait for the client keeps timers running).
constexpr int kUploadPollMs = 200;
// The least width of panels 1 and 4 as the status bar builds them, and of panel 4 while the bar
// shows.
constexpr int kPanelMinimum = 60;
constexpr int kNarrowSoundPanel = 36;
} // namespace

void frmSw_Mail::buildProgressBar() {
    prgAction = new QProgressBar(statusBar());
    prgAction->setObjectName("prgAction");
    prgAction->setTextVisible(true);
    prgAction->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("00/00秒")) + 16);
    prgAction->setMaximumHeight(statusBar()->fontMetrics().height() + 6);
    prgAction->hide();
    statusBar()->addPermanentWidget(prgAction);

    m_uploadPoll = new QTimer(this);
    m_uploadPoll->setInterval(kUploadPollMs);
    connect(m_uploadPoll, &QTimer::timeout, this, &frmSw_Mail::pollUpload);
}

void frmSw_Mail::watchActionProgress() {
    CaptureWindow* window = capWindow(hCapWnd);
    if (!window)
        return;
    // Signals rather than the recording's single progress callback, which stays free for others.
    connect(window, &CaptureWindow::recordingStarted, this, &frmSw_Mail::recordingStarted,
            Qt::UniqueConnection);
    connect(window, &CaptureWindow::recordingProgress, this, &frmSw_Mail::recordingProgress,
            Qt::UniqueConnection);
    connect(window, &CaptureWindow::recordingFinished, this, &frmSw_Mail::recordingFinished,
            Qt::UniqueConnection);
}

void frmSw_Mail::recordingStarted() {
    m_phase = ActionPhase::Recording;
    m_uploadSeen = false;
    m_uploadPoll->stop();
    const int limit = AppSettings.Ftp.Time > 0 ? AppSettings.Ftp.Time : 0;
    prgAction->setRange(0, limit);
    prgAction->setValue(0);
    prgAction->setFormat(QStringLiteral("%v/%m秒"));
    prgAction->setToolTip(QStringLiteral("録画中"));
    showProgress();
}

void frmSw_Mail::recordingProgress(int elapsedSeconds, int limitSeconds) {
    if (m_phase != ActionPhase::Recording)
        recordingStarted();
    // Without a limit there is nothing to count towards: a busy bar.
    const int limit = limitSeconds > 0 ? limitSeconds : 0;
    if (prgAction->maximum() != limit)
        prgAction->setRange(0, limit);
    prgAction->setValue(limit > 0 ? std::clamp(elapsedSeconds, 0, limit) : 0);
}

void frmSw_Mail::recordingFinished() {
    if (m_phase != ActionPhase::Recording)
        return;
    m_phase = ActionPhase::Upload;
    m_uploadSeen = false;
    // Outside the alarm actions (commands usable) no upload follows.
    if (!m_commandsLocked && !AutoFTPRunning()) {
        hideProgress();
        return;
    }
    m_uploadPoll->start();
    pollUpload();
}

void frmSw_Mail::pollUpload() {
    if (m_phase != ActionPhase::Upload) {
        m_uploadPoll->stop();
        return;
    }
    if (AutoFTPRunning()) {
        if (!m_uploadSeen) {
            m_uploadSeen = true;
            prgAction->setRange(0, 0); // an upload has no known length: busy
            prgAction->setFormat(QStringLiteral("FTP送信中"));
            prgAction->setToolTip(QStringLiteral("FTP送信中"));
            showProgress();
        }
        return;
    }
    // The upload has ended, or the actions went on without one.
    if (m_uploadSeen || !m_commandsLocked)
        hideProgress();
}

void frmSw_Mail::showProgress() {
    if (!prgAction->isHidden())
        return;
    // The bar takes its room from the sound panel (whose full text stays in its tool tip), so
    // that panel 1, which tells the progress of the alarm in words, keeps its width.
    StatusBarPanels[0]->setMinimumWidth(StatusBarPanels[0]->width());
    StatusBarPanels[3]->setMinimumWidth(kNarrowSoundPanel);
    prgAction->show();
}

void frmSw_Mail::hideProgress() {
    m_phase = ActionPhase::None;
    m_uploadSeen = false;
    m_uploadPoll->stop();
    prgAction->hide();
    prgAction->reset();
    StatusBarPanels[0]->setMinimumWidth(kPanelMinimum);
    StatusBarPanels[3]->setMinimumWidth(kPanelMinimum);
}
