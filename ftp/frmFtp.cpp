#include "ftp/frmFtp.h"

#include "settings/AppSettings.h"
#include "settings/basCommon.h"
#include "settings/basSettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

const char* const kCaption = "FTPと動画設定";

QString trimmed(const QLineEdit* edit) {
    return QString::fromStdString(TrimSpaces(edit->text().toStdString()));
}

QString trimmed(const std::string& text) {
    return QString::fromStdString(TrimSpaces(text));
}

// Host names, logins and folders are typed in ASCII; the input method would only get in the way.
QLineEdit* asciiEdit(const char* name, int maxLength, QWidget* parent) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(maxLength);
    edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    edit->setInputMethodHints(Qt::ImhLatinOnly | Qt::ImhNoPredictiveText);
    return edit;
}

QCheckBox* checkBox(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

frmFtp::frmFtp(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmFtp"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);
    m_errorBox = [](QWidget* p, const QString& title, const QString& text) {
        QMessageBox::critical(p, title, text, QMessageBox::Ok);
    };
    buildControls();
    loadSettings();
}

void frmFtp::setErrorBox(ErrorBox box) {
    m_errorBox = std::move(box);
}

void frmFtp::buildControls() {
    ckMakeAvi = checkBox("ckMakeAvi", QStringLiteral("動画保存有効"), this);
    ckFtpExe = checkBox("ckFtpExe", QStringLiteral("FTP有効"), this);
    txtHost = asciiEdit("txtHost", 80, this);
    txtUser = asciiEdit("txtUser", 80, this);
    txtPass = asciiEdit("txtPass", 80, this);
    txtPass->setEchoMode(QLineEdit::Password);
    txtPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    ckanonymous = checkBox("ckanonymous", QStringLiteral("anonymous"), this);
    txtHolder = asciiEdit("txtHolder", 220, this);
    ckFileName = checkBox("ckFileName", QStringLiteral("UPLOADﾌｧｲﾙ名の固定 ( ALERT.AVI )"), this);
    SliderTime = new QSlider(Qt::Horizontal, this);
    SliderTime->setObjectName(QStringLiteral("SliderTime"));
    SliderTime->setRange(5, 30);
    SliderTime->setSingleStep(1);
    SliderTime->setPageStep(5);
    SliderTime->setTickInterval(5);
    SliderTime->setTickPosition(QSlider::TicksBelow);
    ckAudio = checkBox("ckAudio", QStringLiteral("音声記録する"), this);
    bcmdOK = new QPushButton(QStringLiteral("OK(&O)"), this);
    bcmdOK->setObjectName(QStringLiteral("bcmdOK"));
    bcmdOK->setDefault(true);
    bcmdCancel = new QPushButton(QStringLiteral("Cancel(&C)"), this);
    bcmdCancel->setObjectName(QStringLiteral("bcmdCancel"));

    auto* ftpBox = new QGroupBox(this);
    auto* grid = new QGridLayout(ftpBox);
    int row = 0;
    grid->addWidget(ckFtpExe, row++, 0, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("ﾎｽﾄ名 or ｱﾄﾞﾚｽ"), ftpBox), row, 0);
    grid->addWidget(txtHost, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("ﾕｰｻﾞｰ名"), ftpBox), row, 0);
    grid->addWidget(txtUser, row++, 1);
    grid->addWidget(new QLabel(QStringLiteral("ﾊﾟｽﾜｰﾄﾞ"), ftpBox), row, 0);
    grid->addWidget(txtPass, row, 1);
    grid->addWidget(ckanonymous, row++, 2);
    grid->addWidget(new QLabel(QStringLiteral("ﾎｽﾄの保存先ﾌｫﾙﾀﾞ"), ftpBox), row, 0);
    grid->addWidget(txtHolder, row++, 1, 1, 2);
    grid->addWidget(ckFileName, row++, 0, 1, 3);
    grid->addWidget(
        new QLabel(QStringLiteral("固定しない場合は、YYMMDDhhmmss_ALERT.AVIになります。"), ftpBox),
        row++, 0, 1, 3);

    auto* videoBox = new QGroupBox(this);
    auto* video = new QVBoxLayout(videoBox);
    video->addWidget(ckMakeAvi);
    video->addWidget(new QLabel(QStringLiteral("録画時間 (秒)"), videoBox));
    video->addWidget(SliderTime);
    auto* marks = new QHBoxLayout;
    for (int s = 5; s <= 30; s += 5) {
        auto* mark = new QLabel(QStringLiteral("%1秒").arg(s), videoBox);
        marks->addWidget(mark);
        if (s < 30)
            marks->addStretch();
    }
    video->addLayout(marks);
    video->addWidget(ckAudio);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bcmdOK);
    buttons->addWidget(bcmdCancel);

    auto* top = new QVBoxLayout(this);
    top->addWidget(videoBox);
    top->addWidget(ftpBox);
    top->addLayout(buttons);

    setTabOrder(ckMakeAvi, ckFtpExe);
    setTabOrder(ckFtpExe, txtHost);
    setTabOrder(txtHost, txtUser);
    setTabOrder(txtUser, txtPass);
    setTabOrder(txtPass, ckanonymous);
    setTabOrder(ckanonymous, txtHolder);
    setTabOrder(txtHolder, ckFileName);
    setTabOrder(ckFileName, SliderTime);
    setTabOrder(SliderTime, ckAudio);
    setTabOrder(ckAudio, bcmdOK);
    setTabOrder(bcmdOK, bcmdCancel);

    connect(ckFtpExe, &QCheckBox::clicked, this, &frmFtp::onFtpExeClicked);
    connect(ckMakeAvi, &QCheckBox::clicked, this, &frmFtp::onMakeAviClicked);
    connect(ckanonymous, &QCheckBox::clicked, this, &frmFtp::onAnonymousClicked);
    connect(bcmdOK, &QPushButton::clicked, this, &frmFtp::onOk);
    connect(bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmFtp::loadSettings() {
    const FtpSettings& ftp = AppSettings.Ftp;
    ckMakeAvi->setChecked(ftp.Move);
    ckFtpExe->setChecked(ftp.Ftp);
    txtHost->setText(trimmed(ftp.Host));
    txtUser->setText(trimmed(ftp.User));
    txtPass->setText(trimmed(ftp.Pass));
    txtHolder->setText(trimmed(ftp.Holder));
    ckFileName->setChecked(ftp.FileName);
    SliderTime->setValue(ftp.Time < 5 ? 5 : ftp.Time);
    ckAudio->setChecked(ftp.Audio);
    // Setting a box from code emits no clicked(), so run the rules the loaded ticks imply.
    onFtpExeClicked();
    onMakeAviClicked();
}

void frmFtp::onFtpExeClicked() {
    if (ckFtpExe->isChecked())
        ckMakeAvi->setChecked(true);
}

void frmFtp::onMakeAviClicked() {
    // An upload needs a clip: video saving stays on while FTP is on.
    if (ckFtpExe->isChecked())
        ckMakeAvi->setChecked(true);
}

void frmFtp::onAnonymousClicked() {
    txtUser->setText(ckanonymous->isChecked() ? QStringLiteral("anonymous") : QString());
    txtPass->clear();
}

void frmFtp::onOk() {
    if (ckFtpExe->isChecked() && trimmed(txtHost).isEmpty()) {
        m_errorBox(this, windowTitle(), QStringLiteral("ﾎｽﾄ名を入力して下さい。"));
        txtHost->setFocus();
        return;
    }
    FtpSettings& ftp = AppSettings.Ftp;
    ftp.Move = ckMakeAvi->isChecked();
    ftp.Ftp = ckFtpExe->isChecked();
    ftp.Host = trimmed(txtHost).toStdString();
    ftp.User = trimmed(txtUser).toStdString();
    ftp.Pass = trimmed(txtPass).toStdString();
    ftp.Holder = trimmed(txtHolder).toStdString();
    ftp.FileName = ckFileName->isChecked();
    ftp.Time = static_cast<int16_t>(SliderTime->value());
    ftp.Audio = ckAudio->isChecked();
    SaveSettings();
    accept();
}
