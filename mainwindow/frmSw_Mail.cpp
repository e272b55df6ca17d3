#include "mainwindow/frmSw_Mail.h"

#include "capture/frm_Camera.h"
#include "detection/ScopePanel.h"
#include "ftp/basAutoFTP.h"
#include "mainwindow/Artwork.h"
#include "mainwindow/UiFonts.h"
#include "settings/StatusPanels.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstdio>
#include <unistd.h>

namespace {

void Place(QWidget* w, int left, int top, int width, int height) {
    w->setGeometry(Tw(left), Tw(top), Tw(width), Tw(height));
}

QLabel* PanelLabel(QWidget* parent, const char* name, const QString& text, const QString& tip,
                   int left, int top, int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setToolTip(tip);
    Place(label, left, top, width, height);
    return label;
}

QPushButton* CommandButton(QWidget* parent, const char* name, const QString& caption, int top) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    Place(button, 90, top, 1785, 345);
    return button;
}

QSlider* Slider(QWidget* parent, const char* name, int maximum, int top) {
    auto* slider = new QSlider(Qt::Horizontal, parent);
    slider->setObjectName(name);
    slider->setRange(1, maximum);
    slider->setPageStep(maximum >= 100 ? 10 : 5);
    slider->setTickPosition(QSlider::TicksBelow);
    slider->setTickInterval(maximum >= 100 ? 10 : 5);
    // The value is saved to the settings file on every change; without tracking a drag is one
    // change when the handle is let go rather than one file write per pixel.
    slider->setTracking(false);
    Place(slider, 30, top, 1875, 285);
    return slider;
}

QToolButton* PictureOption(QWidget* parent, const char* name, const QIcon& icon, const QString& tip,
                           int left) {
    auto* button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(icon);
    button->setIconSize(QSize(18, 18));
    button->setToolTip(tip);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    Place(button, left, 120, 885, 345);
    return button;
}

} // namespace

frmSw_Mail::frmSw_Mail(const Services& services, std::function<void()> endProcess,
                       StandIns standIns, QWidget* parent)
    : QMainWindow(parent), m_services(services), m_messages(services.messages),
      m_endProcess(std::move(endProcess)), m_standIns(std::move(standIns)) {
    setObjectName("frmSw_Mail");
    setWindowIcon(Artwork::ProgramIcon());
    if (!m_endProcess)
        m_endProcess = [] {
            std::fflush(nullptr);
            ::_exit(0);
        };

    auto* central = new QWidget(this);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    Picture2 = new QWidget(central);
    Picture2->setObjectName("Picture2");
    Picture2->setFixedHeight(Tw(100));
    outer->addWidget(Picture2);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    outer->addLayout(middle, 1);

    picSideWindow = new QWidget(central);
    picSideWindow->setObjectName("picSideWindow");
    picSideWindow->setFixedWidth(Tw(1995));
    middle->addWidget(picSideWindow);

    mdiArea = new QMdiArea(central);
    mdiArea->setObjectName("mdiArea");
    mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    mdiArea->setFrameShape(QFrame::NoFrame);
    middle->addWidget(mdiArea, 1);

    picSideScope = new QWidget(central);
    picSideScope->setObjectName("picSideScope");
    picSideScope->setFixedWidth(Tw(2190));
    auto* scopeLayout = new QVBoxLayout(picSideScope);
    scopeLayout->setContentsMargins(0, 0, 0, 0);
    m_scope = new ScopePanel(picSideScope);
    scopeLayout->addWidget(m_scope);
    middle->addWidget(picSideScope);

    setCentralWidget(central);

    buildLeftPanel();
    buildMenus();
    buildStatusBar();
    buildProgressBar();

    // The capture host: the only MDI child, always maximised, with no buttons that could close,
    // minimise or restore it (closing it would take the capture window and the timers with it).
    m_camera = new frm_Camera(this, m_scope, m_services, nullptr, m_standIns.camera);
    m_camera->setWindowTitle(QString());
    cameraSubWindow = mdiArea->addSubWindow(m_camera, Qt::SubWindow | Qt::CustomizeWindowHint);
    cameraSubWindow->setObjectName("cameraSubWindow");
    // Closing it (the close sequence) only hides it: it may be closed from inside one of its own
    // waits (a recording), which must not find itself deleted when it unwinds. It goes with the
    // main window, or with the process.
    cameraSubWindow->setAttribute(Qt::WA_DeleteOnClose, false);
    cameraSubWindow->setSystemMenu(nullptr);
    cameraSubWindow->setOption(QMdiSubWindow::RubberBandResize, false);
    cameraSubWindow->installEventFilter(this);

    connectDetectionControls();
    connectCommands();
    giveMenuBarItsMnemonics();
}

frmSw_Mail::~frmSw_Mail() {
    m_services.panels.setListener({});
    m_services.ftp.setUploadListener({}, {});
}

void frmSw_Mail::buildLeftPanel() {
    QWidget* panel = picSideWindow;

    Picture1 = new QLabel(panel);
    Picture1->setObjectName("Picture1");
    Place(Picture1, 90, -60, 1785, 1035);
    Picture1->setAlignment(Qt::AlignCenter);
    Picture1->setPixmap(Artwork::Logo(QSize(Tw(1785) - 16, Tw(1035) - 16)));

    // The title twice, one a little lower in the default text colour over one in the highlight
    // text colour: an embossed look without a picture.
    const QFont titleFont = JapaneseFont(11.25, true);
    Label2 = PanelLabel(panel, "Label2", QStringLiteral("Pawlinex"), {}, 120, 930, 1725, 375);
    Label1 = PanelLabel(panel, "Label1", QStringLiteral("Pawlinex"), {}, 120, 960, 1725, 375);
    for (QLabel* label : {Label2, Label1}) {
        label->setFont(titleFont);
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->setAttribute(Qt::WA_TranslucentBackground);
    }
    QPalette highlight = Label2->palette();
    highlight.setColor(QPalette::WindowText, palette().color(QPalette::HighlightedText));
    Label2->setPalette(highlight);
    Label1->raise();

    cmd_Sound = new QToolButton(panel);
    cmd_Sound->setObjectName("cmd_Sound");
    cmd_Sound->setIcon(Artwork::SoundIcon());
    cmd_Sound->setIconSize(QSize(16, 16));
    Place(cmd_Sound, 90, 1170, 345, 315);

    Frame1 = new QFrame(panel);
    Frame1->setObjectName("Frame1");
    Frame1->setFrameShape(QFrame::StyledPanel);
    Frame1->setFrameShadow(QFrame::Sunken);
    Place(Frame1, 60, 1440, 1845, 495);
    optPrv[0] = PictureOption(Frame1, "optPrv0", Artwork::StartIcon(), QStringLiteral("開始"), 30);
    optPrv[1] = PictureOption(Frame1, "optPrv1", Artwork::StopIcon(), QStringLiteral("停止"), 930);
    optPrv[0]->setChecked(true);

    bcmd_SendMail = CommandButton(panel, "bcmd_SendMail", QStringLiteral("手動送信(&S)"), 1980);
    bcmd_VideoSetting =
        CommandButton(panel, "bcmd_VideoSetting", QStringLiteral("V ﾌｫｰﾏｯﾄ設定(&F)"), 2370);
    bcmd_VideoSetting2 =
        CommandButton(panel, "bcmd_VideoSetting2", QStringLiteral("V ｿｰｽ設定(&S)"), 2760);
    bcmd_MailSetting =
        CommandButton(panel, "bcmd_MailSetting", QStringLiteral("ﾒｰﾙｱｶｳﾝﾄ設定(&M)"), 3150);
    bcmd_SendMailA =
        CommandButton(panel, "bcmd_SendMailA", QStringLiteral("自動ﾒｰﾙ設定(&A)"), 3540);
    bcmd_Ftp = CommandButton(panel, "bcmd_Ftp", QStringLiteral("FTPと動画設定(&P)"), 3930);
    bcmd_End = CommandButton(panel, "bcmd_End", QStringLiteral("EXIT(&X)"), 4320);

    // Separator: a dark line with a light one under it.
    Line1 = new QFrame(panel);
    Line1->setObjectName("Line1");
    Line1->setGeometry(Tw(90), Tw(4740), Tw(1840) - Tw(90), 1);
    Line1->setAutoFillBackground(true);
    QPalette dark = Line1->palette();
    dark.setColor(QPalette::Window, palette().color(QPalette::WindowText));
    Line1->setPalette(dark);
    Line2 = new QFrame(panel);
    Line2->setObjectName("Line2");
    Line2->setGeometry(Tw(90), Tw(4770), Tw(1840) - Tw(90), 1);
    Line2->setAutoFillBackground(true);
    QPalette light = Line2->palette();
    light.setColor(QPalette::Window, palette().color(QPalette::Base));
    Line2->setPalette(light);

    Label4 = PanelLabel(panel, "Label4", QStringLiteral("警報検知数"),
                        QStringLiteral("設定した値を検知数が超えたら警報が作動します。"), 120, 4920,
                        1725, 195);

    cmdKenchi = new QPushButton(QStringLiteral("変更(&K)"), panel);
    cmdKenchi->setObjectName("cmdKenchi");
    cmdKenchi->setAutoDefault(false);
    cmdKenchi->setProperty("tag", QStringLiteral("0"));
    Place(cmdKenchi, 270, 5160, 915, 315);

    txtCKData = new QLineEdit(panel);
    txtCKData->setObjectName("txtCKData");
    txtCKData->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    txtCKData->setMaxLength(4);
    txtCKData->setAttribute(Qt::WA_InputMethodEnabled, false);
    // Keys are filtered as they are typed; the validator also keeps pasted or dropped text to
    // digits, which the key filter never sees.
    txtCKData->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), txtCKData));
    txtCKData->setContextMenuPolicy(Qt::NoContextMenu);
    txtCKData->setEnabled(false);
    Place(txtCKData, 1230, 5190, 615, 285);

    Label13 = PanelLabel(panel, "Label13", QStringLiteral("ﾀｲﾐﾝｸﾞ (10 = 1秒)"),
                         QStringLiteral("ﾀｲﾐﾝｸﾞが短い程、短い時間の変化を検知します。"), 120, 5580,
                         1725, 195);
    SliderCKTime = Slider(panel, "SliderCKTime", 50, 5790);
    Label14 =
        PanelLabel(panel, "Label14", QStringLiteral("精度 ( 低 ← → 高 )"),
                   QStringLiteral("精度が高い程、小さな変化を検知します。"), 120, 6210, 1725, 195);
    SliderSeido = Slider(panel, "SliderSeido", 100, 6420);

    ckNoize = new QCheckBox(QStringLiteral("ﾉｲｽﾞ除去"), panel);
    ckNoize->setObjectName("ckNoize");
    Place(ckNoize, 120, 6780, 1155, 375);
}
