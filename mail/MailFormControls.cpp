#include "mail/MailFormControls.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSlider>

MailFormControls CreateMailFormControls(QWidget* parent) {
    MailFormControls c{};
    c.txtMail = new QLineEdit(parent);
    c.txtMail->setObjectName("txtMail");
    c.txtMail->setAttribute(Qt::WA_InputMethodEnabled, false);
    c.txtSubject = new QLineEdit(parent);
    c.txtSubject->setObjectName("txtSubject");
    c.txtBody = new QPlainTextEdit(parent);
    c.txtBody->setObjectName("txtBody");
    c.txtBody->setLineWrapMode(QPlainTextEdit::NoWrap);
    c.txtBody->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c.txtBody->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    c.txtBody->setTabChangesFocus(true);
    c.chkGrp = new QCheckBox(QString::fromUtf8("画像添付"), parent);
    c.chkGrp->setObjectName("chkGrp");

    auto* sizes = new QGroupBox(QString::fromUtf8("ｻｲｽﾞ"), parent);
    auto* sizeLayout = new QHBoxLayout(sizes);
    const char* sizeNames[] = {"640x480", "320x240", "110x82.5"};
    for (int i = 0; i < 3; ++i) {
        c.optSize[i] = new QRadioButton(QString::fromUtf8(sizeNames[i]), sizes);
        c.optSize[i]->setObjectName(QString("optSize%1").arg(i));
        sizeLayout->addWidget(c.optSize[i]);
    }
    c.optSize[0]->setChecked(true);
    c.sizeGroup = sizes;

    c.SliderArc = new QSlider(Qt::Horizontal, parent);
    c.SliderArc->setObjectName("SliderArc");
    c.SliderArc->setRange(1, 100);
    c.SliderArc->setValue(50);
    c.SliderArc->setTickInterval(10);
    c.SliderArc->setTickPosition(QSlider::TicksBelow);
    c.SliderArc->setSingleStep(1);
    c.SliderArc->setPageStep(10);
    return c;
}
