#include "mail/frmMail.h"

#include "mail/MailSender.h"

#include "mail/MailAccount.h"
#include "mail/MailAddressList.h"
#include "mail/MailSendRequest.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"
#include "settings/basCommon.h"
#include "settings/basSettings.h"

#include <algorithm>

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

std::string trimmed(const QLineEdit* e) {
    return TrimSpaces(e->text().toStdString());
}

// Ports run to 65535. A longer stored value still opens whole (splitServer widens the field), so
// OK never saves a silently cut port; the range check then names it.
constexpr int kPortDigits = 5;

QLineEdit* makeEdit(QWidget* parent, const char* name, bool password = false, bool port = false) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    // Addresses, host names and passwords are typed in plain ASCII: no input conversion.
    e->setAttribute(Qt::WA_InputMethodEnabled, false);
    if (password) {
        e->setEchoMode(QLineEdit::Password);
        e->setStyleSheet("lineedit-password-character: 42");
    }
    if (port) {
        e->setAlignment(Qt::AlignRight);
        e->setMaxLength(kPortDigits);
        e->setFixedWidth(48);
    }
    return e;
}

// "host<TAB>port" into two fields; a value without a tab is all host.
void splitServer(const std::string& value, QLineEdit* host, QLineEdit* port) {
    if (value.empty())
        return;
    const auto tab = value.find('\t');
    host->setText(QString::fromStdString(value.substr(0, tab)));
    if (tab != std::string::npos) {
        const std::string rest = value.substr(tab + 1);
        const QString text = QString::fromStdString(rest.substr(0, rest.find('\t')));
        port->setMaxLength(std::max(kPortDigits, static_cast<int>(text.size())));
        port->setText(text);
    }
}

bool isPort(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

} // namespace

frmMail::frmMail(MessageBoxes& boxes, MailSender& sender, StatusPanels& panels, QWidget* parent)
    : QDialog(parent), m_boxes(boxes), m_sender(sender), m_panels(panels) {
    setWindowTitle(u("ﾒｰﾙｱｶｳﾝﾄ設定"));
    setObjectName("frmMail");

    txtMail = makeEdit(this, "txtMail");
    txtSmtp = makeEdit(this, "txtSmtp");
    txtSmtpPort = makeEdit(this, "txtSmtpPort", false, true);
    chkAttestation = new QCheckBox(u("認証"), this);
    chkAttestation->setObjectName("chkAttestation");
    optAt[0] = new QRadioButton(u("POP befor SMTP"), this);
    optAt[0]->setObjectName("optAt0");
    optAt[1] = new QRadioButton(u("SMTP-AUTH"), this);
    optAt[1]->setObjectName("optAt1");
    optAt[0]->setChecked(true);
    chkAtCram = new QCheckBox(u("CRAM-MD5"), this);
    chkAtCram->setObjectName("chkAtCram");
    txtSmtpUser = makeEdit(this, "txtSmtpUser");
    txtSmtpUser->setToolTip(u("SMTPのｱｶｳﾝﾄ"));
    txtSmtpPass = makeEdit(this, "txtSmtpPass", true);
    txtSmtpPass->setToolTip(u("SMTPのﾊﾟｽﾜｰﾄﾞ"));
    txtPop = makeEdit(this, "txtPop");
    txtPopPort = makeEdit(this, "txtPopPort", false, true);
    txtUser = makeEdit(this, "txtUser");
    txtUser->setToolTip(u("POPのｱｶｳﾝﾄ"));
    txtPass = makeEdit(this, "txtPass", true);
    txtPass->setToolTip(u("POPのﾊﾟｽﾜｰﾄﾞ"));
    bcmdOK = new QPushButton(u("OK(&O)"), this);
    bcmdOK->setObjectName("bcmdOK");
    bcmdCancel = new QPushButton(u("Cancel(&C)"), this);
    bcmdCancel->setObjectName("bcmdCancel");
    bcmdOK->setAutoDefault(false);
    bcmdCancel->setAutoDefault(false);

    auto* mailLabel = new QLabel(u("送信元ﾒｰﾙｱﾄﾞﾚｽ"), this);
    mailLabel->setToolTip(u("返信用ﾒｰﾙｱﾄﾞﾚｽ"));

    auto* server = new QGroupBox(u("ｻｰﾊﾞｰ情報"), this);
    auto* sg = new QGridLayout(server);
    sg->addWidget(new QLabel(u("送信ﾒｰﾙ (SMTP)"), server), 0, 0);
    sg->addWidget(txtSmtp, 0, 1);
    sg->addWidget(new QLabel(u("ﾎﾟｰﾄ"), server), 0, 2);
    sg->addWidget(txtSmtpPort, 0, 3);
    sg->addWidget(new QLabel(u("初期ﾎﾟｰﾄ: 25"), server), 0, 4);

    auto* auth = new QHBoxLayout;
    auth->addWidget(chkAttestation);
    auth->addWidget(optAt[0]);
    auth->addWidget(optAt[1]);
    auth->addWidget(chkAtCram);
    auth->addStretch();
    sg->addLayout(auth, 1, 0, 1, 5);
    sg->addWidget(new QLabel(u("ｱｶｳﾝﾄ"), server), 2, 0);
    sg->addWidget(txtSmtpUser, 2, 1);
    sg->addWidget(new QLabel(u("ﾊﾟｽﾜｰﾄﾞ"), server), 3, 0);
    sg->addWidget(txtSmtpPass, 3, 1);

    auto* popBox = new QGroupBox(u("受信ﾒｰﾙ ｻｰﾊﾞｰ(POP befor SMTPで使用)"), server);
    auto* pg = new QGridLayout(popBox);
    pg->addWidget(new QLabel(u("受信ﾒｰﾙ (POP)"), popBox), 0, 0);
    pg->addWidget(txtPop, 0, 1);
    pg->addWidget(new QLabel(u("ﾎﾟｰﾄ"), popBox), 0, 2);
    pg->addWidget(txtPopPort, 0, 3);
    pg->addWidget(new QLabel(u("初期ﾎﾟｰﾄ: 110"), popBox), 0, 4);
    pg->addWidget(new QLabel(u("ｱｶｳﾝﾄ"), popBox), 1, 0);
    pg->addWidget(txtUser, 1, 1);
    pg->addWidget(new QLabel(u("ﾊﾟｽﾜｰﾄﾞ"), popBox), 2, 0);
    pg->addWidget(txtPass, 2, 1);
    sg->addWidget(popBox, 4, 0, 1, 5);

    auto* top = new QHBoxLayout;
    top->addWidget(mailLabel);
    top->addWidget(txtMail, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bcmdOK);
    buttons->addWidget(bcmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(server);
    layout->addLayout(buttons);

    QWidget* order[] = {txtMail,    txtSmtp,   txtSmtpPort, chkAttestation, optAt[0],
                        optAt[1],   chkAtCram, txtSmtpUser, txtSmtpPass,    txtPop,
                        txtPopPort, txtUser,   txtPass,     bcmdOK,         bcmdCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    // Opening: every field from the stored account.
    const MailSettings& m = AppSettings.Mail;
    txtMail->setText(QString::fromStdString(m.Mail));
    splitServer(m.Pop, txtPop, txtPopPort);
    splitServer(m.Smtp, txtSmtp, txtSmtpPort);
    txtUser->setText(QString::fromStdString(m.User));
    txtPass->setText(QString::fromStdString(m.Pass));
    chkAttestation->setChecked(ReadSettingNumber(m.Att) == 1);
    // A missing or unusable mode keeps the design state ("POP befor SMTP").
    if (ReadSettingNumber(m.OptAtt) == 1)
        optAt[1]->setChecked(true);
    chkAtCram->setChecked(ReadSettingNumber(m.AtCram) == 1);
    applyEnabling();
    txtSmtpUser->setText(QString::fromStdString(m.SmtpUser));
    txtSmtpPass->setText(QString::fromStdString(m.SmtpPass));

    connect(chkAttestation, &QCheckBox::clicked, this, &frmMail::applyEnabling);
    connect(optAt[0], &QRadioButton::clicked, this, &frmMail::applyEnabling);
    connect(optAt[1], &QRadioButton::clicked, this, &frmMail::applyEnabling);
    connect(bcmdOK, &QPushButton::clicked, this, &frmMail::bcmdOK_Click);
    connect(bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);
}

void frmMail::applyEnabling() {
    const bool auth = chkAttestation->isChecked();
    const bool smtpAuth = auth && optAt[1]->isChecked();
    const bool popAuth = auth && optAt[0]->isChecked();
    optAt[0]->setEnabled(auth);
    optAt[1]->setEnabled(auth);
    chkAtCram->setEnabled(smtpAuth);
    txtSmtpUser->setEnabled(smtpAuth);
    txtSmtpPass->setEnabled(smtpAuth);
    for (QLineEdit* e : {txtPop, txtPopPort, txtUser, txtPass})
        e->setEnabled(popAuth);
}

bool frmMail::fail(QLineEdit* field, const char* message) {
    m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(), u(message));
    field->setFocus();
    return false;
}

bool frmMail::CheckInput() {
    static const char* const kPortMessage = "ﾎﾟｰﾄ番号は1～65535で入力して下さい。";
    if (trimmed(txtMail).empty())
        return fail(txtMail, "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。");
    // The address goes into MAIL FROM and Reply-To of every mail: a bare address only.
    if (const AddressProblem p = CheckMailAddress(trimmed(txtMail)); p != AddressProblem::None)
        return fail(txtMail, ("ﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\n" + AddressProblemTextJa(p)).c_str());
    if (trimmed(txtSmtp).empty())
        return fail(txtSmtp, "SMTPｻｰﾊﾞｰ名を入力して下さい。");
    if (trimmed(txtSmtpPort).empty())
        txtSmtpPort->setText("25");
    else if (!isPort(trimmed(txtSmtpPort)))
        return fail(txtSmtpPort, kPortMessage);
    if (!chkAttestation->isChecked())
        return true;
    if (optAt[0]->isChecked()) {
        if (trimmed(txtPop).empty())
            return fail(txtPop, "POPｻｰﾊﾞｰ名を入力して下さい。");
        if (trimmed(txtPopPort).empty())
            txtPopPort->setText("110");
        else if (!isPort(trimmed(txtPopPort)))
            return fail(txtPopPort, kPortMessage);
        if (trimmed(txtUser).empty())
            return fail(txtUser, "ﾕｰｻﾞｰ名を入力して下さい。");
        if (trimmed(txtPass).empty())
            return fail(txtPass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。");
        return true;
    }
    if (trimmed(txtSmtpUser).empty())
        return fail(txtSmtpUser, "ﾕｰｻﾞｰ名を入力して下さい。");
    if (trimmed(txtSmtpPass).empty())
        return fail(txtSmtpPass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。");
    return true;
}

void frmMail::bcmdOK_Click() {
    if (!CheckInput())
        return;
    MailSettings& m = AppSettings.Mail;
    m.Mail = trimmed(txtMail);
    m.Smtp = trimmed(txtSmtp) + "\t" + trimmed(txtSmtpPort);
    m.Pop = trimmed(txtPop) + "\t" + trimmed(txtPopPort);
    m.User = trimmed(txtUser);
    m.Pass = trimmed(txtPass);
    m.Att = chkAttestation->isChecked() ? "1" : "0";
    if (optAt[0]->isChecked())
        m.OptAtt = "0";
    else if (optAt[1]->isChecked())
        m.OptAtt = "1";
    m.AtCram = chkAtCram->isChecked() ? "1" : "0";
    m.SmtpUser = trimmed(txtSmtpUser);
    m.SmtpPass = trimmed(txtSmtpPass);
    SaveSettings();
    StatusPanels& panels = m_panels;
    if (m_sender.UpdateMailAccountState()) {
        panels.setVisible(5, false);
        panels.setText(5, "");
    } else {
        panels.setText(5, "ﾒｰﾙｱｶｳﾝﾄ未設定");
        panels.setVisible(5, true);
    }
    accept();
}
