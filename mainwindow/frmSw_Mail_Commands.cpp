// The menu bar, what the command buttons run, and the commands that need nothing but the capture
// window. The settings dialogs of the other parts of the program (sound, mail account, automatic
// mail, manual send, FTP, driver selection) are connected here as they become available, each
// bracketed by sPauseDetection / sResumeDetection.
#include "mainwindow/frmSw_Mail.h"

#include "capture/frm_Camera.h"
#include "detection/FrameDifference.h"
#include "detection/ScopePanel.h"
#include "mainwindow/MainWindowTexts.h"
#include "mainwindow/frmAbout.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"

#include <QAction>
#include <QDesktopServices>
#include <QMenu>
#include <QMenuBar>
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

    mnu_help = Item(mnu[4], "mnu_help", QStringLiteral("ﾍﾙﾌﾟﾌｫﾙﾀﾞを開く(&H)"));
    mnu_tab4 = Separator(mnu[4], "mnu_tab4");
    mnu_ver = Item(mnu[4], "mnu_ver", QStringLiteral("ﾊﾞｰｼﾞｮﾝ(&B)"));
}

void frmSw_Mail::connectCommands() {
    // Exit: the close sequence runs from closeEvent, the same as for the close box.
    connect(mnu_end, &QAction::triggered, this, &QWidget::close);
    connect(bcmd_End, &QPushButton::clicked, this, &QWidget::close);

    connect(mnu_scope, &QAction::triggered, this, &frmSw_Mail::ToggleScope);
    connect(m_scope->cmdDisableScope(), &QPushButton::clicked, this, &frmSw_Mail::ToggleScope);

    connect(mnu_vdriver, &QAction::triggered, this, &frmSw_Mail::RunVideoFormat);
    connect(mnu_vdriver2, &QAction::triggered, this, &frmSw_Mail::RunVideoSource);
    connect(mnu_comp, &QAction::triggered, this, &frmSw_Mail::RunVideoCompression);
    connect(bcmd_VideoSetting, &QPushButton::clicked, this, [this] { RunVideoButton(true); });
    connect(bcmd_VideoSetting2, &QPushButton::clicked, this, [this] { RunVideoButton(false); });

    connect(mnu_log, &QAction::triggered, this, [] {
        QDesktopServices::openUrl(
            QUrl::fromLocalFile(QString::fromStdString(ProgramFolder() + "/mail.log.txt")));
    });
    connect(mnu_img, &QAction::triggered, this, [this] { openProgramSubfolder("img"); });
    connect(mnu_avi, &QAction::triggered, this, [this] { openProgramSubfolder("avi"); });
    connect(mnu_help, &QAction::triggered, this, [this] { openProgramSubfolder("help"); });

    connect(mnu_ver, &QAction::triggered, this, &frmSw_Mail::RunVersion);
}

void frmSw_Mail::openProgramSubfolder(const char* name) {
    QDesktopServices::openUrl(
        QUrl::fromLocalFile(QString::fromStdString(ProgramFolder() + "/" + name + "/")));
}

void frmSw_Mail::RunVideoFormat() {
    sPauseDetection();
    try {
        capDlgVideoFormat(hCapWnd);
        RefreshCaptureFormat(hCapWnd);
    } catch (const std::exception&) {
        // Say so in the capture host's caption (shown in the main caption while it is maximised)
        // and still resume: a failed format change must not leave detection paused for good.
        if (m_camera)
            m_camera->setWindowTitle(QStringLiteral("ﾋﾞﾃﾞｵﾌｫｰﾏｯﾄ設定ｴﾗｰ"));
        sResumeDetection();
        return;
    }
    sResumeDetection();
    if (m_camera)
        m_camera->setWindowTitle(QString());
}

void frmSw_Mail::RunVideoSource() {
    sPauseDetection();
    capDlgVideoSource(hCapWnd);
    if (AppSettings.Com.Comp)
        capDlgVideoCompression(hCapWnd);
    sResumeDetection();
}

void frmSw_Mail::RunVideoCompression() {
    sPauseDetection();
    capDlgVideoCompression(hCapWnd);
    sResumeDetection();
}

void frmSw_Mail::RunVideoButton(bool format) {
    // The picture size or source may change: the next tick only takes a new reference frame.
    SkipNextCompare = true;
    if (format)
        RunVideoFormat();
    else
        RunVideoSource();
    CAPSTATUS status{};
    capGetStatus(hCapWnd, &status, sizeof status);
    StatusPanels::instance().setText(
        3, ResolutionPanelText(status.uiImageWidth, status.uiImageHeight));
}

void frmSw_Mail::RunVersion() {
    // Detection is not paused: alarms are handled while the dialog is open.
    frmAbout about(m_messages, this);
    about.exec();
}
