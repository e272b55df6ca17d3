#include "ftp/frmFtp.h"

#include "ftp/FtpHostForm.h"
#include "settings/AppSettings.h"
#include "settings/basCommon.h"
#include "settings/basSettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char* const kCaption = "FTPと動画設定";
const int kLoginLength = 80;
const int kFolderLength = 220;

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

// The length limit is for typing; a longer value set by the program (a stored setting, a part of
// a pasted address) is shown whole, so that OK never stores it cut.
void setTextUncut(QLineEdit* edit, int limit, const QString& text) {
    edit->setMaxLength(std::max(limit, static_cast<int>(text.size())));
    edit->setText(text);
}

QCheckBox* checkBox(const char* name, const QString& caption, QWidget* parent) {
    auto* box = new QCheckBox(caption, parent);
    box->setObjectName(QString::fromLatin1(name));
    return box;
}

} // namespace

frmFtp::frmFtp(MessageBoxes& boxes, QWidget* parent) : QDialog(parent), m_boxes(boxes) {
    setObjectName(QStringLiteral("frmFtp"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setModal(true);
    buildControls();
    loadSettings();
}

void frmFtp::buildControls() {
    ckMakeAvi = checkBox("ckMakeAvi", QStringLiteral("動画保存有効"), this);
    ckFtpExe = checkBox("ckFtpExe", QStringLiteral("FTP有効"), this);
    txtHost = asciiEdit("txtHost", kLoginLength, this);
    txtUser = asciiEdit("txtUser", kLoginLength, this);
    txtPass = asciiEdit("txtPass", kLoginLength, this);
    txtPass->setEchoMode(QLineEdit::Password);
    txtPass->setStyleSheet(QStringLiteral("lineedit-password-character: 42;")); // '*'
    ckanonymous = checkBox("ckanonymous", QStringLiteral("anonymous"), this);
    txtHolder = asciiEdit("txtHolder", kFolderLength, this);
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
    connect(txtHost, &QLineEdit::editingFinished, this, &frmFtp::splitHost);
    connect(bcmdOK, &QPushButton::clicked, this, &frmFtp::onOk);
    connect(bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmFtp::loadSettings() {
    const FtpSettings& ftp = AppSettings.Ftp;
    ckMakeAvi->setChecked(ftp.Move);
    ckFtpExe->setChecked(ftp.Ftp);
    setTextUncut(txtHost, kLoginLength, trimmed(ftp.Host));
    setTextUncut(txtUser, kLoginLength, trimmed(ftp.User));
    setTextUncut(txtPass, kLoginLength, trimmed(ftp.Pass));
    setTextUncut(txtHolder, kFolderLength, trimmed(ftp.Holder));
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

bool frmFtp::splitHost() {
    const std::optional<FtpHostParts> parts = ParseFtpHost(txtHost->text().toStdString());
    if (!parts)
        return false;
    // "host:port" and pasted addresses become the stored "host port"; the login and folder an
    // address carries go to their own fields.
    setTextUncut(txtHost, kLoginLength, QString::fromStdString(FtpHostStoredForm(*parts)));
    if (parts->user)
        setTextUncut(txtUser, kLoginLength, QString::fromStdString(*parts->user));
    if (parts->pass)
        setTextUncut(txtPass, kLoginLength, QString::fromStdString(*parts->pass));
    if (parts->folder)
        setTextUncut(txtHolder, kFolderLength, QString::fromStdString(*parts->folder));
    return true;
}

bool frmFtp::refuse(QLineEdit* field, const QString& text) {
    m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(), text);
    field->setFocus();
    return false;
}

bool frmFtp::checkFields() {
    if (ckFtpExe->isChecked() && trimmed(txtHost).isEmpty())
        return refuse(txtHost, QStringLiteral("ﾎｽﾄ名を入力して下さい。"));
    // A control character would end the script line or the FTP command it lands in, and what
    // follows it would reach the server as a command of its own.
    const std::pair<QLineEdit*, QString> fields[] = {
        {txtHost, QStringLiteral("ﾎｽﾄ名に制御文字は使えません。")},
        {txtUser, QStringLiteral("ﾕｰｻﾞｰ名に制御文字は使えません。")},
        {txtPass, QStringLiteral("ﾊﾟｽﾜｰﾄﾞに制御文字は使えません。")},
        {txtHolder, QStringLiteral("ﾎｽﾄの保存先ﾌｫﾙﾀﾞに制御文字は使えません。")}};
    for (const auto& [edit, message] : fields)
        if (HasControlCharacter(edit->text().toStdString()))
            return refuse(edit, message);
    if (!splitHost() && ckFtpExe->isChecked())
        return refuse(txtHost, QStringLiteral("ﾎｽﾄ名の形式が正しくありません。"));
    return true;
}

void frmFtp::onOk() {
    if (!checkFields())
        return;
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
