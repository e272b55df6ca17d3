#include "mainwindow/Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

const QColor kPawBrown(0x7a, 0x4a, 0x22);

// A paw print inside `box`: the pad and four toes.
void DrawPaw(QPainter& p, const QRectF& box, const QColor& color) {
    const qreal w = box.width(), h = box.height();
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QRectF(box.left() + w * 0.25, box.top() + h * 0.45, w * 0.50, h * 0.42));
    const qreal toe = w * 0.19;
    const QPointF toes[] = {{0.17, 0.36}, {0.37, 0.18}, {0.63, 0.18}, {0.83, 0.36}};
    for (const QPointF& t : toes)
        p.drawEllipse(QPointF(box.left() + w * t.x(), box.top() + h * t.y()), toe / 2, toe * 0.62);
}

QPixmap Canvas(QSize size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

} // namespace

namespace Artwork {

QPixmap ProgramIconPixmap(int side) {
    QPixmap pixmap = Canvas(QSize(side, side));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient background(0, 0, 0, side);
    background.setColorAt(0, QColor(0xff, 0xe3, 0xa8));
    background.setColorAt(1, QColor(0xf2, 0xa5, 0x3c));
    p.setPen(QPen(kPawBrown, side / 32.0));
    p.setBrush(background);
    p.drawRoundedRect(QRectF(0.5, 0.5, side - 1, side - 1), side * 0.2, side * 0.2);
    DrawPaw(p, QRectF(side * 0.14, side * 0.12, side * 0.72, side * 0.78), kPawBrown);
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(ProgramIconPixmap(side));
    return icon;
}

QPixmap Logo(QSize size) {
    QPixmap pixmap = Canvas(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal w = size.width(), h = size.height();
    // A camera body with a paw print where the lens would be: watching on the dog's behalf.
    QLinearGradient body(0, 0, 0, h);
    body.setColorAt(0, QColor(0x5b, 0x6b, 0x7f));
    body.setColorAt(1, QColor(0x2b, 0x34, 0x40));
    p.setPen(QPen(QColor(0x1b, 0x22, 0x2b), 1.5));
    p.setBrush(body);
    const QRectF camera(w * 0.10, h * 0.22, w * 0.80, h * 0.62);
    p.drawRoundedRect(camera, h * 0.08, h * 0.08);
    p.drawRoundedRect(QRectF(w * 0.20, h * 0.10, w * 0.22, h * 0.16), 3, 3);
    p.setBrush(QColor(0xe8, 0x3b, 0x2e));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPointF(w * 0.80, h * 0.32), h * 0.04, h * 0.04);
    const qreal lens = std::min(camera.height() * 0.86, w * 0.5);
    const QRectF lensBox(w * 0.5 - lens / 2, camera.center().y() - lens / 2, lens, lens);
    QRadialGradient glass(lensBox.center(), lens / 2);
    glass.setColorAt(0, QColor(0xff, 0xf1, 0xcf));
    glass.setColorAt(1, QColor(0xf2, 0xa5, 0x3c));
    p.setPen(QPen(QColor(0x1b, 0x22, 0x2b), 2));
    p.setBrush(glass);
    p.drawEllipse(lensBox);
    DrawPaw(p, lensBox.adjusted(lens * 0.2, lens * 0.18, -lens * 0.2, -lens * 0.16), kPawBrown);
    return pixmap;
}

QIcon SoundIcon() {
    QPixmap pixmap = Canvas(QSize(32, 32));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x33, 0x33, 0x33));
    QPainterPath speaker;
    speaker.moveTo(4, 12);
    speaker.lineTo(10, 12);
    speaker.lineTo(17, 5);
    speaker.lineTo(17, 27);
    speaker.lineTo(10, 20);
    speaker.lineTo(4, 20);
    speaker.closeSubpath();
    p.drawPath(speaker);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0x1e, 0x6f, 0xd0), 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(13, 10, 10, 12), -50 * 16, 100 * 16);
    p.drawArc(QRectF(12, 5, 16, 22), -50 * 16, 100 * 16);
    return QIcon(pixmap);
}

QIcon StartIcon() {
    QPixmap pixmap = Canvas(QSize(32, 32));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x1d, 0x6b, 0x2a), 1.5));
    p.setBrush(QColor(0x34, 0xa8, 0x4a));
    p.drawPolygon(QPolygonF({QPointF(9, 5), QPointF(27, 16), QPointF(9, 27)}));
    return QIcon(pixmap);
}

QIcon StopIcon() {
    QPixmap pixmap = Canvas(QSize(32, 32));
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x8a, 0x1c, 0x14), 1.5));
    p.setBrush(QColor(0xd8, 0x3a, 0x2c));
    p.drawRoundedRect(QRectF(7, 7, 18, 18), 2.5, 2.5);
    return QIcon(pixmap);
}

} // namespace Artwork
