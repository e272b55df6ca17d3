// The menu bar and what the menu items and command buttons run. Every settings dialog is shown
// with detection paused (timer and preview off, commands locked) and resumed after it; the
// version dialog, the mail history and the folders leave detection running.
#include "mainwindow/frmSw_Mail.h"

#include "capture/CaptureWindow.h"
#include "capture/frmSelect.h"
#include "capture/frm_Camera.h"
#include "detection/FrameDifference.h"
#include "detection/ScopePanel.h"
#include "detection/frmExtra.h"
#include "ftp/frmFtp.h"
#include "mail/frmMail.h"
#include "mail/frmMailSend.h"
#include "mail/frmMailSend_Set.h"
#include "mainwindow/MainWindowTexts.h"
#include "mainwindow/frmAbout.h"
#include "settings/AppSettings.h"
#include "settings/MessageBoxes.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"
#include "sound/frmSound.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>

#include <stdexcept>

namespace {

QAction* Item(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

QAction* Separator(QMenu* menu, const char* name) {
    QAction* action = menu->addSeparator();
    action->setObjectName(name);
    return action;
}

} // namespace

void frmSw_Mail::buildMenus() {
    QMenuBar* bar = menuBar();
    const QString titles[5] = {QStringLiteral("ﾌﾟﾛｸﾞﾗﾑ(&P)"), QStringLiteral("表示(&V)"),
                               QStringLiteral("ﾃｽﾄ(&T)"), QStringLiteral("ﾂｰﾙ(&O)"),
                               QStringLiteral("ﾍﾙﾌﾟ(&L)")};
    for (int i = 0; i < 5; ++i) {
        mnu[i] = bar->addMenu(titles[i]);
        mnu[i]->setObjectName(QStringLiteral("mnu%1").arg(i));
    }

    mnu_end = Item(mnu[0], "mnu_end", QStringLiteral("終了(&X)"));

    mnu_scope = Item(mnu[1], "mnu_scope", QStringLiteral("ヽｽｺｰﾌﾟ(&C)"));

    mnu_send = Item(mnu[2], "mnu_send", QStringLiteral("手動送信(&S)"));

    mnu_sound = Item(mnu[3], "mnu_sound", QStringLiteral("ｻｳﾝﾄﾞ設定(&W)"));
    mnu_tab1 = Separator(mnu[3], "mnu_tab1");
    mnu_vdriver = Item(mnu[3], "mnu_vdriver", QStringLiteral("ﾋﾞﾃﾞｵﾌｫｰﾏｯﾄ設定(&F)"));
    mnu_vdriver2 = Item(mnu[3], "mnu_vdriver2", QStringLiteral("ﾋﾞﾃﾞｵｿｰｽ設定(&S)"));
    mnu_Drive = Item(mnu[3], "mnu_Drive", QStringLiteral("ﾄﾞﾗｲﾊﾞｰ選択(&D)"));
    mnu_comp = Item(mnu[3], "mnu_comp", QStringLiteral("ﾋﾞﾃﾞｵ圧縮(&O)"));
    mnu_comp->setVisible(false); // shown at start-up when COMP is on
    mnu_tab2 = Separator(mnu[3], "mnu_tab2");
    mnu_mail = Item(mnu[3], "mnu_mail", QStringLiteral("ﾒｰﾙｱｶｳﾝﾄ設定(&M)"));
    mnu_sendA = Item(mnu[3], "mnu_sendA", QStringLiteral("自動ﾒｰﾙ設定(&A)"));
    mnu_Ftp = Item(mnu[3], "mnu_Ftp", QStringLiteral("FTP(動画)設定(&P)"));
    mnu_tab3 = Separator(mnu[3], "mnu_tab3");
    mnu_log = Item(mnu[3], "mnu_log", QStringLiteral("ﾒｰﾙ送信履歴(L)"));
    mnu_img = Item(mnu[3], "mnu_img", QStringLiteral("ｲﾒｰｼﾞﾌｫﾙﾀﾞを開く(&I)"));
    mnu_avi = Item(mnu[3], "mnu_avi", QStringLiteral("動画ﾌｫﾙﾀﾞを開く(&V)"));
    mnu_tab5 = Separator(mnu[3], "mnu_tab5");
    mnu_extra = Item(mnu[3], "mnu_extra", QStringLiteral("拡張設定(&E)"));

    mnu_help = Item(mnu[4], "mnu_help", QStringLiteral("ﾍﾙﾌﾟﾌｫﾙﾀﾞを開く(&H)"));
    mnu_tab4 = Separator(mnu[4], "mnu_tab4");
    mnu_ver = Item(mnu[4], "mnu_ver", QStringLiteral("ﾊﾞｰｼﾞｮﾝ(&B)"));

    // F1 anywhere in the window; no menu item carries a shortcut, so it is an action of the
    // window itself.
    helpKey = new QAction(this);
    helpKey->setObjectName("helpKey");
    helpKey->setShortcut(QKeySequence(Qt::Key_F1));
    helpKey->setShortcutContext(Qt::WindowShortcut);
    addAction(helpKey);
}

void frmSw_Mail::giveMenuBarItsMnemonics() {
    // Qt lets a button and a menu title with the same mnemonic take turns on Alt+letter (the
    // first press only focuses the button). Here the menu title wins: the button keeps its
    // underlined letter and its click, but gives the key up. Buttons that share a letter with
    // each other only still take turns. Runs once: the one caption that changes later (cmdKenchi)
    // keeps a letter of its own.
    QList<QKeySequence> menuKeys;
    for (QMenu* menu : mnu)
        menuKeys << QKeySequence::mnemonic(menu->title());
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        if (!button->shortcut().isEmpty() && menuKeys.contains(button->shortcut()))
            button->setShortcut(QKeySequence());
}

void frmSw_Mail::connectCommands() {
    // Exit: the close sequence runs from closeEvent, the same as for the close box.
    connect(mnu_end, &QAction::triggered, this, &QWidget::close);
    connect(bcmd_End, &QPushButton::clicked, this, &QWidget::close);

    connect(mnu_scope, &QAction::triggered, this, &frmSw_Mail::ToggleScope);
    connect(m_scope->cmdDisableScope(), &QPushButton::clicked, this, &frmSw_Mail::ToggleScope);

    connect(mnu_send, &QAction::triggered, this, &frmSw_Mail::RunManualSend);
    connect(bcmd_SendMail, &QPushButton::clicked, this, &frmSw_Mail::RunManualSend);
    connect(mnu_sound, &QAction::triggered, this, &frmSw_Mail::RunSoundSettings);
    connect(cmd_Sound, &QToolButton::clicked, this, &frmSw_Mail::RunSoundSettings);

    connect(mnu_vdriver, &QAction::triggered, this, &frmSw_Mail::RunVideoFormat);
    connect(mnu_vdriver2, &QAction::triggered, this, &frmSw_Mail::RunVideoSource);
    connect(mnu_Drive, &QAction::triggered, this, &frmSw_Mail::RunDriverSelection);
    connect(mnu_comp, &QAction::triggered, this, &frmSw_Mail::RunVideoCompression);
    connect(bcmd_VideoSetting, &QPushButton::clicked, this, [this] { RunVideoButton(true); });
    connect(bcmd_VideoSetting2, &QPushButton::clicked, this, [this] { RunVideoButton(false); });

    connect(mnu_mail, &QAction::triggered, this, &frmSw_Mail::RunMailAccount);
    connect(bcmd_MailSetting, &QPushButton::clicked, this, &frmSw_Mail::RunMailAccount);
    connect(mnu_sendA, &QAction::triggered, this, &frmSw_Mail::RunAutoMail);
    connect(bcmd_SendMailA, &QPushButton::clicked, this, &frmSw_Mail::RunAutoMail);
    connect(mnu_Ftp, &QAction::triggered, this, &frmSw_Mail::RunFtpSettings);
    connect(bcmd_Ftp, &QPushButton::clicked, this, &frmSw_Mail::RunFtpSettings);

    connect(mnu_extra, &QAction::triggered, this, &frmSw_Mail::RunExtraSettings);

    connect(mnu_log, &QAction::triggered, this, &frmSw_Mail::RunMailLog);
    connect(mnu_img, &QAction::triggered, this, [this] { RunOpenFolder("img"); });
    connect(mnu_avi, &QAction::triggered, this, [this] { RunOpenFolder("avi"); });
    connect(mnu_help, &QAction::triggered, this, [this] { RunOpenFolder("help"); });

    connect(mnu_ver, &QAction::triggered, this, &frmSw_Mail::RunVersion);
    connect(helpKey, &QAction::triggered, this, &frmSw_Mail::RunHelp);
}

int frmSw_Mail::runDialog(QDialog& dialog) {
    return m_standIns.dialogs ? m_standIns.dialogs(dialog) : dialog.exec();
}

bool frmSw_Mail::openUrl(const QUrl& url) {
    return m_standIns.urls ? m_standIns.urls(url) : QDesktopServices::openUrl(url);
}

// Each dialog is made for this one showing and gone when the command ends, so the next showing
// starts again from the settings (and, for the manual send window, from nothing typed).

void frmSw_Mail::RunSoundSettings() {
    sPauseDetection();
    {
        BasSoundPlayer player;
        frmSound dialog(m_services.panels, player, this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunMailAccount() {
    sPauseDetection();
    {
        frmMail dialog(m_messages, m_services.mail, m_services.panels, this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunAutoMail() {
    sPauseDetection();
    {
        frmMailSend_Set dialog(m_messages, this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunManualSend() {
    sPauseDetection();
    {
        frmMailSend dialog(m_messages, m_services.mail, this);
        // The picture of this moment, taken before the window shows.
        dialog.DrawImage(m_camera->hCapWnd);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunFtpSettings() {
    sPauseDetection();
    {
        frmFtp dialog(m_messages, this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunDriverSelection() {
    sPauseDetection();
    {
        // The dialog connects the chosen driver itself and has the capture window refitted to
        // the new picture. Panel 3 keeps its text until the next format command.
        frmSelect dialog(
            m_camera->hCapWnd, m_services.videoSources, m_camera->SkipNextCompare,
            [this] {
                if (m_camera)
                    m_camera->ResizeCaptureWindow(m_camera->hCapWnd);
            },
            this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunExtraSettings() {
    sPauseDetection();
    {
        // The preview is off while paused, but the engine keeps decoding: a grab is the current
        // frame.
        const HCAPWND hwnd = m_camera->hCapWnd;
        auto currentFrame = [hwnd] {
            SharedFrame frame;
            if (!capGrabFrame(hwnd) || !capTakeGrabbedFrame(hwnd, frame))
                return QImage();
            try {
                return SharedFrameImage(frame);
            } catch (const std::exception&) {
                return QImage();
            }
        };
        // The trial runs exactly as an alarm would, through the camera's alarm command runner.
        auto trial = [this](const std::string& command, const QImage& frame) {
            return m_camera->tryAlarmCommand(command, frame);
        };
        frmExtra dialog(m_services.messages, currentFrame, trial, this);
        runDialog(dialog);
    }
    sResumeDetection();
}

void frmSw_Mail::RunMailLog() {
    const QString path = QString::fromStdString(ProgramFolder() + "/mail.log.txt");
    if (!QFileInfo(path).isFile()) {
        // The mail library writes the history with the first mail sent.
        m_messages.showOk(this, MessageBoxes::Icon::None, windowTitle(),
                          QStringLiteral("ﾒｰﾙ送信履歴はまだありません。\n%1").arg(path));
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(path)))
        m_messages.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                          QStringLiteral("ﾃｷｽﾄｴﾃﾞｨﾀを起動できませんでした。\n%1").arg(path));
}

void frmSw_Mail::RunOpenFolder(const char* name) {
    const QString path = QString::fromStdString(ProgramFolder() + "/" + name + "/");
    if (!QFileInfo(path).isDir()) {
        m_messages.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                          QStringLiteral("ﾌｫﾙﾀﾞが見つかりません。\n%1").arg(path));
        return;
    }
    if (!openUrl(QUrl::fromLocalFile(path)))
        m_messages.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                          QStringLiteral("ﾌｧｲﾙﾌﾞﾗｳｻﾞを起動できませんでした。\n%1").arg(path));
}

void frmSw_Mail::RunHelp() {
    const QString path = QString::fromStdString(ProgramFolder() + "/help/index.html");
    auto cannotOpen = [this, path] {
        m_messages.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                          QStringLiteral("ﾍﾙﾌﾟを開けませんでした。\n%1").arg(path));
    };
    if (!QFileInfo(path).isFile()) {
        cannotOpen();
        return;
    }
    // The desktop's opener is asked directly, rather than through QDesktopServices, because only
    // its exit status tells whether anything could show the page. It is not waited for: the
    // message, if any, comes when it gives up.
    auto* opener = new QProcess(this);
    opener->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(opener, &QProcess::finished, this,
            [opener, cannotOpen](int code, QProcess::ExitStatus status) {
                opener->deleteLater();
                if (status != QProcess::NormalExit || code != 0)
                    cannotOpen();
            });
    connect(opener, &QProcess::errorOccurred, this,
            [opener, cannotOpen](QProcess::ProcessError error) {
                if (error != QProcess::FailedToStart)
                    return;
                opener->deleteLater();
                cannotOpen();
            });
    opener->start(QStringLiteral("xdg-open"), {path});
    opener->closeWriteChannel();
}

void frmSw_Mail::RunVideoFormat() {
    sPauseDetection();
    bool done = false;
    try {
        // No connected camera, no dialog: that is the failure the caption reports.
        done = capDlgVideoFormat(m_camera->hCapWnd, m_messages);
        if (done)
            RefreshCaptureFormat(m_camera->hCapWnd);
    } catch (const std::exception&) {
        done = false;
    }
    // Detection resumes on failure as well: a failed format change must not leave the alarm off
    // for the rest of the run.
    sResumeDetection();
    if (m_camera)
        m_camera->setWindowTitle(done ? QString() : QStringLiteral("ﾋﾞﾃﾞｵﾌｫｰﾏｯﾄ設定ｴﾗｰ"));
}

void frmSw_Mail::RunVideoSource() {
    sPauseDetection();
    capDlgVideoSource(m_camera->hCapWnd);
    if (AppSettings.Com.Comp)
        capDlgVideoCompression(m_camera->hCapWnd);
    sResumeDetection();
}

void frmSw_Mail::RunVideoCompression() {
    sPauseDetection();
    capDlgVideoCompression(m_camera->hCapWnd);
    sResumeDetection();
}

void frmSw_Mail::RunVideoButton(bool format) {
    // The picture size or source may change: the next tick only takes a new reference frame.
    m_camera->SkipNextCompare = true;
    if (format)
        RunVideoFormat();
    else
        RunVideoSource();
    CAPSTATUS status{};
    capGetStatus(m_camera->hCapWnd, &status, sizeof status);
    m_services.panels.setText(3, ResolutionPanelText(status.uiImageWidth, status.uiImageHeight));
}

void frmSw_Mail::RunVersion() {
    // Detection is not paused: alarms are handled while the dialog is open.
    frmAbout about(m_messages, this);
    about.exec();
}
