#include "mail/frmMailSend_Set.h"

#include "mail/MailFormControls.h"
#include "mail/MailTriggerForm.h"
#include "settings/AppSettings.h"
#include "settings/basSettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// The slider's design value stands in for a quality that was never stored (0 after loading).
constexpr int kDefaultQuality = 50;

} // namespace

frmMailSend_Set::frmMailSend_Set(MessageBoxes& boxes, QWidget* parent)
    : QDialog(parent), m_boxes(boxes) {
    setWindowTitle(u("自動ﾒｰﾙ設定"));
    setObjectName("frmMailSend_Set");

    auto* triggers = new QGroupBox(u("宛先選択"), this);
    auto* tl = new QHBoxLayout(triggers);
    const char* names[] = {"自動送信A", "自動送信B", "自動送信C", "自動送信D"};
    for (int i = 0; i < 4; ++i) {
        optTRG[i] = new QRadioButton(u(names[i]), triggers);
        optTRG[i]->setObjectName(QString("optTRG%1").arg(i));
        tl->addWidget(optTRG[i]);
    }
    optTRG[0]->setChecked(true);

    ckEnabled = new QCheckBox(u("有効"), this);
    ckEnabled->setObjectName("ckEnabled");
    static_cast<MailFormControls&>(*this) = CreateMailFormControls(this);
    SliderArc->setValue(kDefaultQuality);
    SliderArc->setMinimumWidth(160);
    QWidget* sizes = sizeGroup;

    bcmdOK = new QPushButton(u("OK(&O)"), this);
    bcmdOK->setObjectName("bcmdOK");
    bcmdCancel = new QPushButton(u("Cancel(&C)"), this);
    bcmdCancel->setObjectName("bcmdCancel");
    bcmdReF = new QPushButton(u("更新(&A)"), this);
    bcmdReF->setObjectName("bcmdReF");
    for (QPushButton* b : {bcmdOK, bcmdCancel, bcmdReF})
        b->setAutoDefault(false);

    auto* form = new QGridLayout;
    form->addWidget(ckEnabled, 0, 1);
    form->addWidget(new QLabel(u("宛先"), this), 1, 0);
    form->addWidget(txtMail, 1, 1);
    form->addWidget(new QLabel(u("件名"), this), 2, 0);
    form->addWidget(txtSubject, 2, 1);
    form->addWidget(new QLabel(u("内容"), this), 3, 0, Qt::AlignTop);
    form->addWidget(txtBody, 3, 1);
    auto* picture = new QHBoxLayout;
    picture->addWidget(chkGrp);
    picture->addWidget(sizes);
    picture->addWidget(new QLabel(u("圧縮率"), this));
    picture->addWidget(SliderArc, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(new QLabel(u("必ず、ﾒｰﾙｱｶｳﾝﾄ設定をして下さい。"), this));
    buttons->addStretch();
    buttons->addWidget(bcmdOK);
    buttons->addWidget(bcmdCancel);
    buttons->addWidget(bcmdReF);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(triggers);
    layout->addLayout(form);
    layout->addLayout(picture);
    layout->addLayout(buttons);

    QWidget* order[] = {optTRG[0],  optTRG[1], optTRG[2],  optTRG[3],  ckEnabled,  txtMail,
                        txtSubject, txtBody,   chkGrp,     optSize[0], optSize[1], optSize[2],
                        SliderArc,  bcmdOK,    bcmdCancel, bcmdReF};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    for (int i = 0; i < 4; ++i)
        connect(optTRG[i], &QRadioButton::toggled, this, [this, i](bool on) {
            if (on)
                showTrigger(i);
        });
    connect(bcmdReF, &QPushButton::clicked, this, [this] { storeTrigger(false); });
    connect(bcmdOK, &QPushButton::clicked, this, [this] {
        if (storeTrigger(true))
            accept();
    });
    connect(bcmdCancel, &QPushButton::clicked, this, &QDialog::reject);

    showTrigger(0);
}

void frmMailSend_Set::showTrigger(int index) {
    CurrentTrigger = static_cast<int16_t>(index);
    const MailTrigger& t = AppSettings.Trg[index];
    ckEnabled->setChecked(t.Enabled);
    txtMail->setText(QString::fromStdString(t.MailTo));
    txtSubject->setText(QString::fromStdString(t.Subject));
    txtBody->setPlainText(QString::fromStdString(t.Body));
    chkGrp->setChecked(t.Grp == 1);
    optSize[(t.MinSize >= 0 && t.MinSize <= 2) ? t.MinSize : 0]->setChecked(true);
    SliderArc->setValue(t.Arc < 1 ? kDefaultQuality : t.Arc);
}

bool frmMailSend_Set::storeTrigger(bool closing) {
    MailTriggerInput in;
    in.enabled = ckEnabled->isChecked();
    in.mailTo = txtMail->text().toStdString();
    in.subject = txtSubject->text().toStdString();
    in.body = txtBody->toPlainText().toStdString();
    in.attachPicture = chkGrp->isChecked();
    for (int16_t i = 0; i < 3; ++i)
        if (optSize[i]->isChecked())
            in.size = i;
    in.quality = static_cast<int16_t>(SliderArc->value());
    MailTrigger& stored = AppSettings.Trg[CurrentTrigger];
    const MailTriggerOutcome out = CheckMailTriggerInput(in, stored, closing);
    if (!out.message.empty()) {
        m_boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                       QString::fromStdString(out.message));
        if (out.focusMailTo)
            txtMail->setFocus();
        return false;
    }
    stored = out.trigger;
    SaveSettings();
    return true;
}
