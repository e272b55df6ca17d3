#include "mail/frmMailSend.h"

#include "capture/capApi.h"
#include "detection/DiskGuard.h"
#include "mail/MailAccount.h"
#include "mail/MailAddressList.h"
#include "mail/MailFormControls.h"
#include "mail/MailSender.h"
#include "mail/MailThumbnail.h"
#include "mail/basPicture.h"
#include "settings/basCommon.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDateTime>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

std::string trimmed(const QString& text) {
    return TrimSpaces(text.toStdString());
}

// A grabbed frame is BGRX rows, which is exactly QImage's RGB32 layout in memory.
QImage imageFromFrame(const Frame& frame) {
    const BitmapHeader& h = frame.header;
    if (frame.empty() || h.bmWidth <= 0 || h.bmHeight <= 0 || h.bmBitsPixel != 32 ||
        h.bmWidthBytes < 4 * h.bmWidth ||
        frame.bits.size() < size_t(h.bmWidthBytes) * size_t(h.bmHeight))
        return {};
    return QImage(frame.bits.data(), h.bmWidth, h.bmHeight, h.bmWidthBytes, QImage::Format_RGB32)
        .copy();
}

} // namespace

QImage frmMailSend::placeholderPicture() {
    QImage img(320, 240, QImage::Format_RGB32);
    img.fill(QColor(64, 64, 64));
    QPainter p(&img);
    p.setPen(QPen(QColor(160, 160, 160), 2));
    p.drawRect(10, 10, 300, 220);
    p.drawText(img.rect(), Qt::AlignCenter, "No picture");
    return img;
}

frmMailSend::frmMailSend(MessageBoxes& boxes, MailSender& sender, QWidget* parent)
    : QDialog(parent), m_boxes(boxes), m_sender(sender) {
    setWindowTitle(u("手動ﾒｰﾙ送信"));
    setObjectName("frmMailSend");
    pic_View = placeholderPicture();

    static_cast<MailFormControls&>(*this) = CreateMailFormControls(this);
    chkGrp->setChecked(true);
    QWidget* sizes = sizeGroup;

    bcmdOK = new QPushButton(u("送信(&O)"), this);
    bcmdOK->setObjectName("bcmdOK");
    bcmdCancel = new QPushButton(u("Cancel(&C)"), this);
    bcmdCancel->setObjectName("bcmdCancel");
    bcmdOK->setAutoDefault(false);
    bcmdCancel->setAutoDefault(false);

    pic_clip = new MailThumbnail(this);
    pic_clip->setObjectName("pic_clip");
    pic_clip->setPicture(pic_View);

    auto* form = new QGridLayout;
    form->addWidget(new QLabel(u("宛先"), this), 0, 0);
    form->addWidget(txtMail, 0, 1);
    form->addWidget(new QLabel(u("件名"), this), 1, 0);
    form->addWidget(txtSubject, 1, 1);
    form->addWidget(new QLabel(u("内容"), this), 2, 0, Qt::AlignTop);
    form->addWidget(txtBody, 2, 1);
    auto* picture = new QHBoxLayout;
    picture->addWidget(pic_clip);
    auto* pictureOptions = new QVBoxLayout;
    pictureOptions->addWidget(chkGrp);
    pictureOptions->addWidget(sizes);
    auto* quality = new QHBoxLayout;
    quality->addWidget(new QLabel(u("圧縮率"), this));
    quality->addWidget(SliderArc, 1);
    pictureOptions->addLayout(quality);
    picture->addLayout(pictureOptions, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(bcmdOK);
    buttons->addWidget(bcmdCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(picture);
    layout->addLayout(buttons);

    QWidget* order[] = {txtMail,    txtSubject, txtBody,   chkGrp, optSize[0],
                        optSize[1], optSize[2], SliderArc, bcmdOK, bcmdCancel};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);

    connect(chkGrp, &QCheckBox::clicked, this, &frmMailSend::chkGrp_Click);
    connect(bcmdOK, &QPushButton::clicked, this, &frmMailSend::bcmdOK_Click);
    connect(bcmdCancel, &QPushButton::clicked, this, &frmMailSend::reject);
}

void frmMailSend::DrawImage(HCAPWND lwnd) {
    if (capGrabFrame(lwnd) && capEditCopy(lwnd)) {
        QCoreApplication::processEvents();
        Frame frame;
        if (capTakeGrabbedFrame(lwnd, frame)) {
            QImage image = imageFromFrame(frame);
            if (!image.isNull())
                pic_View = std::move(image);
        }
    }
    pic_clip->setPicture(pic_View);
}

void frmMailSend::chkGrp_Click() {
    const bool attach = chkGrp->isChecked();
    pic_clip->setCrossed(!attach);
    for (QRadioButton* o : optSize)
        o->setEnabled(attach);
    SliderArc->setEnabled(attach);
}

void frmMailSend::bcmdOK_Click() {
    if (m_sending)
        return;
    MessageBoxes& boxes = m_boxes;
    if (trimmed(txtMail->text()).empty()) {
        boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                     u("ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。"));
        return;
    }
    const std::string recipients = trimmed(txtMail->text());
    if (const AddressListResult list = ParseAddressList(recipients); !list.ok()) {
        boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(),
                     QString::fromStdString(RecipientProblemMessage(list)));
        txtMail->setFocus();
        return;
    }
    if (!CheckMailAccount(m_boxes, this))
        return;
    const std::string subject = trimmed(txtSubject->text());
    const std::string body = trimmed(txtBody->toPlainText());
    std::string files;
    if (chkGrp->isChecked()) {
        int choice = 0;
        if (optSize[1]->isChecked())
            choice = 1;
        else if (optSize[2]->isChecked())
            choice = 2;
        const PictureDimensions size = PictureSize(choice);
        ScalePicture(pic_View, pic_ViewA, size.height, size.width);
        files = ProgramFolder() + "/img/" +
                QDateTime::currentDateTime().toString("yyMMddHHmmss_").toStdString() + "TEST.jpg";
        StatvfsFreeSpace freeSpace;
        DiskGuard(freeSpace).makeRoom(files);
        files.push_back('\0');
        // A picture that cannot be written sends nothing; the user may send text only instead.
        if (DCSavetoJPEG(pic_ViewA, pic_ViewA.width(), pic_ViewA.height(), files,
                         static_cast<uint8_t>(SliderArc->value()), 0) != 0)
            return;
    }

    m_sending = true;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool sent = m_sender.MailSendWaiting(recipients, subject, body, files);
    QApplication::restoreOverrideCursor();
    m_sending = false;

    const MailSendOutcome outcome = m_sender.LastMailOutcome();
    if (sent) {
        QString text = u("送信しました。");
        if (!outcome.report.refused.empty()) {
            text += u("\n\n次の宛先には届きませんでした:");
            for (const std::string& r : outcome.report.refused)
                text += "\n" + QString::fromStdString(r);
        }
        boxes.showOk(this, MessageBoxes::Icon::Information, windowTitle(), text);
        accept();
        return;
    }
    // The window stays open with what the user typed, so the send can be corrected and retried.
    // libcurl's own text is English: our words come first, its text after them.
    QString text = u("ﾒｰﾙ送信ｴﾗｰでした。");
    if (!outcome.report.words.empty())
        text += "\n\n" + QString::fromStdString(outcome.report.words);
    if (!outcome.error.empty())
        text +=
            (outcome.report.words.empty() ? "\n\n" : "\n") + QString::fromStdString(outcome.error);
    boxes.showOk(this, MessageBoxes::Icon::Critical, windowTitle(), text);
}

void frmMailSend::reject() {
    if (m_sending)
        return;
    QDialog::reject();
}

void frmMailSend::closeEvent(QCloseEvent* event) {
    if (m_sending) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}
