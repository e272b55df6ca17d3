#include "mail/frmMail.h"

#include "mail/MailSender.h"

#include "mail/MailAccountForm.h"
#include "mail/MailSendRequest.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"
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

void frmMail::bcmdOK_Click() {
    MailAccountInput in;
    in.mail = txtMail->text().toStdString();
    in.smtp = txtSmtp->text().toStdString();
    in.smtpPort = txtSmtpPort->text().toStdString();
    in.authenticate = chkAttestation->isChecked();
    in.smtpAuth = optAt[1]->isChecked();
    in.cramMd5 = chkAtCram->isChecked();
    in.smtpUser = txtSmtpUser->text().toStdString();
    in.smtpPass = txtSmtpPass->text().toStdString();
    in.pop = txtPop->text().toStdString();
    in.popPort = txtPopPort->text().toStdString();
    in.user = txtUser->text().toStdString();
    in.pass = txtPass->text().toStdString();
    const MailAccountOutcome out = CheckMailAccountInput(in);
    if (!out.smtpPortFilled.empty())
        txtSmtpPort->setText(QString::fromStdString(out.smtpPortFilled));
    if (!out.popPortFilled.empty())
        txtPopPort->setText(QString::fromStdString(out.popPortFilled));
    if (out.field != MailAccountField::None) {
        m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                       QString::fromStdString(out.message));
        fieldEdit(out.field)->setFocus();
        return;
    }
    AppSettings.Mail = out.settings;
    SaveSettings();
    ShowMailAccountState(m_panels, m_sender.UpdateMailAccountState());
    accept();
}

QLineEdit* frmMail::fieldEdit(MailAccountField field) const {
    switch (field) {
    case MailAccountField::Smtp:
        return txtSmtp;
    case MailAccountField::SmtpPort:
        return txtSmtpPort;
    case MailAccountField::Pop:
        return txtPop;
    case MailAccountField::PopPort:
        return txtPopPort;
    case MailAccountField::User:
        return txtUser;
    case MailAccountField::Pass:
        return txtPass;
    case MailAccountField::SmtpUser:
        return txtSmtpUser;
    case MailAccountField::SmtpPass:
        return txtSmtpPass;
    case MailAccountField::None:
    case MailAccountField::Mail:
        break;
    }
    return txtMail;
}
