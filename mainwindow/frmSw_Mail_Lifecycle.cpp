// Start-up after the settings are loaded, and the one close sequence every way of ending the
// program runs.
#include "mainwindow/frmSw_Mail.h"

#include "capture/frm_Camera.h"
#include "ftp/basAutoFTP.h"
#include "mail/MailAccount.h"
#include "mail/MailAccountForm.h"
#include "mail/MailSender.h"
#include "mainwindow/MainWindowTexts.h"
#include "mainwindow/UiFonts.h"
#include "settings/MessageBoxes.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"
#include "settings/basSettings.h"
#include "sound/SoundTexts.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>
#include <QToolButton>

#include <cstdio>

namespace {
constexpr uint32_t kWsChildVisible = 0x50000000;
}

bool frmSw_Mail::Start() {
    setWindowTitle(QString::fromStdString(ProgramCaption()));
    fillFromSettings();
    cameraSubWindow->showMaximized();
    showCentred();

    m_camera->hCapWnd = capCreateCaptureWindowA("", kWsChildVisible, 0, 0, 160, 120, m_camera, 0,
                                                m_services.videoSources);
    watchActionProgress();

    // The first source that accepts is the camera; the rest are not even tried. Each may take
    // seconds while the window stays live: only leaving the program may act meanwhile, and a
    // close ends the search at once.
    sDispEnabled(false);
    mnu_end->setEnabled(true);
    bcmd_End->setEnabled(true);
    bool connected = false;
    for (int index = 0; index <= 9 && !connected && !m_closing; ++index)
        connected = capDriverConnect(m_camera->hCapWnd, index);
    if (m_closing)
        return false;
    sDispEnabled(true);
    if (!connected) {
        m_messages.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                          QStringLiteral("ドライバーが見つかりません。"));
        close();
        return false;
    }

    CAPDRIVERCAPS caps{};
    capDriverGetCaps(m_camera->hCapWnd, &caps, sizeof caps);
    capPreviewRate(m_camera->hCapWnd, 66);
    capPreviewScale(m_camera->hCapWnd, true);
    capPreview(m_camera->hCapWnd, true);

    RefreshCaptureFormat(m_camera->hCapWnd);

    if (AppSettings.Com.Comp) {
        mnu_comp->setVisible(true);
        RunVideoCompression();
        // The program may have been closed while the dialog was open (a signal, say).
        if (m_closing)
            return false;
    }

    StatusPanels& panels = m_services.panels;
    panels.setText(4, SoundPanelText(AppSettings.Com.Sound));

    ShowMailAccountState(panels, m_services.mail.UpdateMailAccountState());

    // Detection runs from here on, with "開始" of the start/stop pair selected.
    optPrv[0]->setChecked(true);
    m_camera->startTimer1();
    return true;
}

void frmSw_Mail::fillFromSettings() {
    // Filling the controls must not count as the user changing them (that would store and save).
    const QSignalBlocker blockText(txtCKData);
    const QSignalBlocker blockTime(SliderCKTime);
    const QSignalBlocker blockSeido(SliderSeido);
    const QSignalBlocker blockNoize(ckNoize);
    txtCKData->setText(QString::number(AppSettings.Com.CkSum));
    SliderCKTime->setValue(AppSettings.Com.Timer);
    SliderSeido->setValue(AppSettings.Com.Accuracy);
    ckNoize->setChecked(AppSettings.Com.Noize);
}

void frmSw_Mail::showCentred() {
    // The client area (between the menu bar and the window frame) is 753 x 546 pixels.
    resize(Tw(11295), Tw(8190) + menuBar()->sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    show();
}

void frmSw_Mail::closeEvent(QCloseEvent* event) {
    runCloseSequence();
    event->accept();
}

bool frmSw_Mail::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtCKData && event->type() == QEvent::KeyPress)
        return txtCKData_KeyPress(static_cast<QKeyEvent*>(event));
    if (watched == static_cast<QObject*>(StatusBarPanels[0]) && event->type() == QEvent::Resize)
        placeProgress();
    // The capture host goes only with the whole program (Ctrl+F4 and the like are refused).
    if (watched == cameraSubWindow && event->type() == QEvent::Close && !m_closing) {
        event->ignore();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmSw_Mail::runCloseSequence() {
    if (m_closing)
        return; // a second request (a signal during the close) changes nothing
    m_closing = true;

    if (m_camera)
        m_camera->stopTimer1();
    sDispEnabled(false);
    // A clip still being written is finished now, so the file stays playable after the process
    // is gone.
    capCaptureStop(m_camera->hCapWnd);
    // Nothing may be left running behind the process: a mail transfer's worker thread is ended
    // and a running FTP client stopped (which also removes its script).
    m_services.mail.AbortMailTransfer();
    m_services.ftp.AbortAutoFTP();
    if (m_camera)
        m_camera->endAlarmCommands();
    DisconnectCapture();

    // An upload cut short by the close may have left the script, which holds the FTP password.
    const std::string script = ProgramFolder() + "/FTP_PUT.txt";
    std::remove(script.c_str());

    SaveSettings();

    cameraSubWindow->close();
    m_camera->hCapWnd = 0; // nothing that unwinds after this may reach the camera again

    m_endProcess();
}

void frmSw_Mail::DisconnectCapture() {
    capSetCallbackOnError(m_camera->hCapWnd, nullptr);
    capSetCallbackOnStatus(m_camera->hCapWnd, nullptr);
    capSetCallbackOnYield(m_camera->hCapWnd, nullptr);
    capSetCallbackOnFrame(m_camera->hCapWnd, nullptr);
    capSetCallbackOnVideoStream(m_camera->hCapWnd, nullptr);
    capSetCallbackOnWaveStream(m_camera->hCapWnd, nullptr);
    capSetCallbackOnCapControl(m_camera->hCapWnd, nullptr);
    capDriverDisconnect(m_camera->hCapWnd);
}
