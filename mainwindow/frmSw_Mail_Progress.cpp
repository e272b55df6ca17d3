// The progress bar of an alarm's clip: it shows while the clip records (seconds recorded out of
// the clip length) and while it uploads, and goes away afterwards. It lives inside panel 1, in
// the room right of the panel's text, so all five panels keep their widths and their texts;
// it never writes the panels, which keep telling the alarm state.
#include "mainwindow/frmSw_Mail.h"

#include "capture/CaptureWindow.h"
#include "capture/frm_Camera.h"
#include "ftp/basAutoFTP.h"
#include "settings/AppSettings.h"

#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>

#include <algorithm>

namespace {
// Below this the bar is left out rather than squeezed into a sliver; under its text's width it
// drops the text.
constexpr int kLeastBarWidth = 24;
constexpr int kGapAfterText = 8;
} // namespace

void frmSw_Mail::buildProgressBar() {
    QLabel* panel = StatusBarPanels[0];
    prgAction = new QProgressBar(panel);
    prgAction->setObjectName("prgAction");
    prgAction->setTextVisible(true);
    prgAction->hide();
    // Placed again whenever the panel changes size (its text changes go through
    // mirrorStatusPanel).
    panel->installEventFilter(this);

    // The FTP runner tells when its client starts and ends (its wait keeps the window painting).
    m_services.ftp.setUploadListener([this] { uploadStarted(); }, [this] { uploadFinished(); });
}

void frmSw_Mail::watchActionProgress() {
    CaptureWindow* window = capWindow(m_camera->hCapWnd);
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
    if (m_services.ftp.AutoFTPRunning()) {
        uploadStarted();
        return;
    }
    // Outside the alarm actions (commands usable) no upload follows; inside them the bar waits
    // for the upload, or for the actions to end without one (sDispEnabled).
    if (!m_commandsLocked)
        hideProgress();
}

void frmSw_Mail::uploadStarted() {
    if (m_phase != ActionPhase::Upload || m_uploadSeen)
        return;
    m_uploadSeen = true;
    prgAction->setRange(0, 0); // an upload has no known length: busy
    prgAction->setFormat(QStringLiteral("FTP送信中"));
    prgAction->setToolTip(QStringLiteral("FTP送信中"));
    showProgress();
}

void frmSw_Mail::uploadFinished() {
    if (m_phase == ActionPhase::Upload && m_uploadSeen)
        hideProgress();
}

void frmSw_Mail::showProgress() {
    m_progressShown = true;
    placeProgress();
}

void frmSw_Mail::hideProgress() {
    m_phase = ActionPhase::None;
    m_uploadSeen = false;
    m_progressShown = false;
    prgAction->hide();
    prgAction->reset();
}

void frmSw_Mail::placeProgress() {
    if (!m_progressShown)
        return;
    QLabel* panel = StatusBarPanels[0];
    const QRect inside = panel->contentsRect();
    const QFontMetrics metrics = panel->fontMetrics();
    const int textEnd = inside.left() + std::max(panel->indent(), 0) +
                        metrics.horizontalAdvance(panel->text()) + kGapAfterText;
    const int wanted = prgAction->fontMetrics().horizontalAdvance(QStringLiteral("00/00秒")) + 16;
    const int width = std::min(wanted, inside.right() - 1 - textEnd);
    if (width < kLeastBarWidth) {
        prgAction->hide(); // back as soon as the text or the window leaves room
        return;
    }
    prgAction->setTextVisible(width >= wanted);
    // Right-aligned in the panel, a pixel inside its frame.
    prgAction->setGeometry(inside.right() - width, inside.top() + 1, width,
                           std::max(inside.height() - 2, 1));
    prgAction->show();
}
