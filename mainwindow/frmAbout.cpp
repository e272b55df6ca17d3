#include "mainwindow/frmAbout.h"

#include "mainwindow/Artwork.h"
#include "mainwindow/MainWindowTexts.h"
#include "mainwindow/UiFonts.h"
#include "settings/MessageBoxes.h"

#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>

namespace {

QLabel* PlacedLabel(QWidget* parent, const QString& text, int left, int top, int width,
                    int height) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(Tw(left), Tw(top), Tw(width), Tw(height));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::black);
    label->setPalette(palette);
    return label;
}

} // namespace

frmAbout::frmAbout(MessageBoxes& messages, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_messages(messages) {
    setObjectName("frmAbout");
    setWindowTitle(QStringLiteral("Pawlinexのﾊﾞｰｼﾞｮﾝ情報"));
    setFixedSize(Tw(5730), Tw(3555));

    auto* picIcon = new QLabel(this);
    picIcon->setObjectName("picIcon");
    picIcon->setGeometry(Tw(240), Tw(240), Tw(480), Tw(480));
    picIcon->setPixmap(Artwork::ProgramIconPixmap(Tw(480)));

    lblTitle = PlacedLabel(this, QStringLiteral("Pawlinex"), 1050, 240, 3885, 480);
    lblTitle->setObjectName("lblTitle");
    lblVersion =
        PlacedLabel(this, QString::fromStdString(AboutVersionText()), 1050, 780, 3885, 225);
    lblVersion->setObjectName("lblVersion");
    lblDescription = PlacedLabel(this,
                                 QStringLiteral("動きを検出し、ｷｬﾌﾟﾁｬｰ画像をﾒｰﾙで送信します。\r\n"
                                                "また、動画を録画してFTPで送信します。"),
                                 1050, 1125, 3885, 1170);
    lblDescription->setObjectName("lblDescription");
    lblDescription->setWordWrap(true);

    // Under the etched separator, left of the two buttons.
    lblDisclaimer = PlacedLabel(this,
                                QStringLiteral("このﾌﾟﾛｸﾞﾗﾑは無保証です。使用によって生じた"
                                               "いかなる損害についても作者は責任を負いません。"),
                                240, 2580, 3900, 900);
    lblDisclaimer->setObjectName("lblDisclaimer");
    lblDisclaimer->setWordWrap(true);
    lblDisclaimer->setFont(JapaneseFont(8));

    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setObjectName("cmdOK");
    cmdOK->setGeometry(Tw(4245), Tw(2625), Tw(1380), Tw(345));
    cmdOK->setDefault(true);
    cmdOK->setAutoDefault(true);
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);

    cmdSysInfo = new QPushButton(QStringLiteral("ｼｽﾃﾑ情報(&S)..."), this);
    cmdSysInfo->setObjectName("cmdSysInfo");
    cmdSysInfo->setGeometry(Tw(4260), Tw(3075), Tw(1380), Tw(345));
    cmdSysInfo->setAutoDefault(false);
    connect(cmdSysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);
}

QStringList frmAbout::SysInfoCandidates() {
    return {"hardinfo",    "hardinfo2",           "gnome-system-monitor",
            "kinfocenter", "mate-system-monitor", "xfce4-taskmanager",
            "lxtask"};
}

void frmAbout::StartSysInfo() {
    for (const QString& name : SysInfoCandidates()) {
        const QString path = QStandardPaths::findExecutable(name);
        if (path.isEmpty())
            continue;
        // The first program found is the one; when it will not start we say so rather than
        // trying the next, as a user would expect one program behind the button.
        if (QProcess::startDetached(path, {}))
            return;
        break;
    }
    m_messages.showOk(this, MessageBoxes::Icon::None, QStringLiteral("Pawlinex"),
                      QStringLiteral("現時点ではｼｽﾃﾑ情報を使用できません"));
}

void frmAbout::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // Grey line with a white one under it: the etched separator.
    QPainter p(this);
    p.fillRect(QRect(Tw(90), Tw(2445), Tw(5654) - Tw(90), 1), QColor(0x80, 0x80, 0x80));
    p.fillRect(QRect(Tw(105), Tw(2460), Tw(5654) - Tw(105), 2), Qt::white);
}
