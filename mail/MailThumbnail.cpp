#include "mail/MailThumbnail.h"

#include <QPainter>

MailThumbnail::MailThumbnail(QWidget* parent) : QWidget(parent) {
    setFixedSize(110, 83);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void MailThumbnail::setPicture(const QImage& picture) {
    // Fixed once, so later changes to the source surface do not show through.
    m_picture = picture.scaled(110, 83, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    update();
}

void MailThumbnail::setCrossed(bool crossed) {
    m_crossed = crossed;
    update();
}

void MailThumbnail::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_picture.isNull())
        p.fillRect(rect(), Qt::black);
    else
        p.drawImage(rect(), m_picture);
    if (m_crossed) {
        p.setPen(QPen(Qt::red, 2));
        p.drawLine(rect().topLeft(), rect().bottomRight());
        p.drawLine(rect().topRight(), rect().bottomLeft());
    }
}
