// Detection controls of the left panel, the command lock, pause and resume around dialogs, the
// scope toggle and the capture format panel.
#include "mainwindow/frmSw_Mail.h"

#include "capture/frm_Camera.h"
#include "detection/FrameDifference.h"
#include "ftp/basAutoFTP.h"
#include "mainwindow/MainWindowTexts.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include <QAction>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QToolButton>

void frmSw_Mail::connectDetectionControls() {
    connect(SliderCKTime, &QSlider::valueChanged, this, &frmSw_Mail::SliderCKTime_Change);
    connect(SliderSeido, &QSlider::valueChanged, this, &frmSw_Mail::SliderSeido_Change);
    connect(ckNoize, &QCheckBox::clicked, this, &frmSw_Mail::ckNoize_Click);
    connect(cmdKenchi, &QPushButton::clicked, this, &frmSw_Mail::cmdKenchi_Click);
    for (QToolButton* option : optPrv)
        connect(option, &QToolButton::clicked, this, &frmSw_Mail::optPrv_Click);
    txtCKData->installEventFilter(this);
}

bool frmSw_Mail::isStopSelected() const {
    return optPrv[1]->isChecked();
}

bool frmSw_Mail::isThresholdEditing() const {
    return txtCKData->isEnabled();
}

void frmSw_Mail::sDispEnabled(bool bolEnabled) {
    if (m_closing && bolEnabled)
        return; // the commands stay locked once the close has begun
    m_commandsLocked = !bolEnabled;
    for (QWidget* w : std::initializer_list<QWidget*>{
             cmd_Sound, bcmd_SendMail, bcmd_VideoSetting, bcmd_VideoSetting2, bcmd_MailSetting,
             bcmd_SendMailA, bcmd_Ftp, bcmd_End, cmdKenchi, optPrv[0], optPrv[1]})
        w->setEnabled(bolEnabled);
    for (QAction* a : {mnu_sound, mnu_send, mnu_vdriver, mnu_vdriver2, mnu_comp, mnu_Drive,
                       mnu_sendA, mnu_mail, mnu_Ftp, mnu_extra, mnu_end})
        a->setEnabled(bolEnabled);
    // The alarm's actions are over: a clip's progress bar that waited for an upload that never
    // came (or has ended) goes.
    if (bolEnabled && m_phase == ActionPhase::Upload && !m_services.ftp.AutoFTPRunning())
        hideProgress();
}

void frmSw_Mail::sPauseDetection() {
    if (m_camera)
        m_camera->stopTimer1();
    capPreview(m_camera->hCapWnd, false);
    sDispEnabled(false);
}

void frmSw_Mail::sResumeDetection() {
    // A dialog can outlive the close sequence by a moment (the close arrived while it was open);
    // nothing may start again behind it.
    if (m_closing)
        return;
    capPreview(m_camera->hCapWnd, true);
    sDispEnabled(true);
    if (m_camera)
        m_camera->startTimer1();
}

void frmSw_Mail::RefreshCaptureFormat(HCAPWND lwnd) {
    CAPSTATUS status{};
    capGetStatus(lwnd, &status, sizeof status);
    m_services.panels.setText(3, ResolutionPanelText(status.uiImageWidth, status.uiImageHeight));
    if (m_camera)
        m_camera->ResizeCaptureWindow(lwnd);
}

void frmSw_Mail::ToggleScope() {
    if (!picSideScope->isHidden()) {
        picSideScope->hide();
        mnu_scope->setText(QStringLiteral("ｽｺｰﾌﾟ(&C)"));
    } else {
        picSideScope->show();
        mnu_scope->setText(QStringLiteral("ヽｽｺｰﾌﾟ(&C)"));
    }
    // Let the capture host take its new size now, so the refit below sees it.
    if (QLayout* layout = centralWidget()->layout())
        layout->activate();
    if (m_camera)
        m_camera->ResizeCaptureWindow(m_camera->hCapWnd);
}

void frmSw_Mail::SliderCKTime_Change() {
    // The running timer keeps its interval; the tick re-arms itself with the new value.
    AppSettings.Com.Timer = static_cast<int16_t>(SliderCKTime->value());
    SaveSettings();
}

void frmSw_Mail::SliderSeido_Change() {
    AppSettings.Com.Accuracy = static_cast<int16_t>(SliderSeido->value());
    SaveSettings();
}

void frmSw_Mail::ckNoize_Click() {
    AppSettings.Com.Noize = ckNoize->isChecked();
    SaveSettings();
}

bool frmSw_Mail::txtCKData_KeyPress(QKeyEvent* event) {
    // Keys that type no character (arrows, Delete, Tab, modifiers) are not key presses in this
    // sense and keep their editing and focus meaning.
    switch (event->key()) {
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    default:
        break;
    }
    const QString text = event->text();
    if (text.isEmpty())
        return false;
    const auto codes = text.toUcs4();
    for (char32_t code : codes)
        if (!ThresholdKeyAccepted(code))
            return true; // swallowed
    return false;
}

void frmSw_Mail::cmdKenchi_Click() {
    if (cmdKenchi->property("tag").toString() == QLatin1String("0")) {
        cmdKenchi->setText(QStringLiteral("OK(&K)"));
        txtCKData->setEnabled(true);
        if (m_camera)
            m_camera->stopTimer1();
        capPreview(m_camera->hCapWnd, false);
        sDispEnabled(false);
        cmdKenchi->setEnabled(true);
        cmdKenchi->setProperty("tag", QStringLiteral("1"));
        // The first tick after the edit must not compare against a frame from before the pause.
        m_camera->SkipNextCompare = true;
        txtCKData->setFocus();
        txtCKData->selectAll();
        return;
    }
    AppSettings.Com.CkSum = ThresholdFromText(txtCKData->text().toStdString());
    SaveSettings();
    capPreview(m_camera->hCapWnd, true);
    sDispEnabled(true);
    if (m_camera)
        m_camera->startTimer1();
    cmdKenchi->setText(QStringLiteral("変更(&K)"));
    txtCKData->setEnabled(false);
    cmdKenchi->setProperty("tag", QStringLiteral("0"));
}

void frmSw_Mail::optPrv_Click() {
    if (optPrv[0]->isChecked()) {
        capPreview(m_camera->hCapWnd, true);
        sDispEnabled(true);
        if (m_camera)
            m_camera->startTimer1();
        return;
    }
    if (m_camera)
        m_camera->stopTimer1();
    capPreview(m_camera->hCapWnd, false);
    sDispEnabled(false);
    // Stopped: only restarting and leaving the program stay possible among the locked commands.
    optPrv[0]->setEnabled(true);
    optPrv[1]->setEnabled(true);
    mnu_end->setEnabled(true);
    bcmd_End->setEnabled(true);
}
