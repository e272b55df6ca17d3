#include "ftp/frmFtp.h"

#include "ftp/FtpSettingsForm.h"
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

FtpFormInput frmFtp::fields() const {
    FtpFormInput in;
    in.makeAvi = ckMakeAvi->isChecked();
    in.upload = ckFtpExe->isChecked();
    in.host = txtHost->text().toStdString();
    in.user = txtUser->text().toStdString();
    in.pass = txtPass->text().toStdString();
    in.folder = txtHolder->text().toStdString();
    in.fixedName = ckFileName->isChecked();
    in.seconds = static_cast<int16_t>(SliderTime->value());
    in.audio = ckAudio->isChecked();
    return in;
}

void frmFtp::showFields(const FtpFormInput& shown) {
    const std::pair<QLineEdit*, std::pair<const std::string*, int>> edits[] = {
        {txtHost, {&shown.host, kLoginLength}},
        {txtUser, {&shown.user, kLoginLength}},
        {txtPass, {&shown.pass, kLoginLength}},
        {txtHolder, {&shown.folder, kFolderLength}}};
    for (const auto& [edit, value] : edits) {
        const QString text = QString::fromStdString(*value.first);
        if (edit->text() != text)
            setTextUncut(edit, value.second, text);
    }
}

void frmFtp::splitHost() {
    FtpFormInput in = fields();
    if (SplitFtpHostField(in))
        showFields(in);
}

void frmFtp::onOk() {
    const FtpFormOutcome out = CheckFtpFormInput(fields());
    showFields(out.shown);
    if (out.field != FtpFormField::None) {
        QLineEdit* edit = out.field == FtpFormField::User     ? txtUser
                          : out.field == FtpFormField::Pass   ? txtPass
                          : out.field == FtpFormField::Folder ? txtHolder
                                                              : txtHost;
        m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                       QString::fromStdString(out.message));
        edit->setFocus();
        return;
    }
    AppSettings.Ftp = out.settings;
    SaveSettings();
    accept();
}
