#include "detection/MaskGrid.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

MaskGrid::MaskGrid(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("picMask"));
    setFocusPolicy(Qt::ClickFocus);
    setCursor(Qt::CrossCursor);
}

void MaskGrid::setCells(const MaskCells& cells) {
    if (cells == m_cells)
        return;
    m_cells = cells;
    update();
    emit cellsChanged();
}

void MaskGrid::setPicture(const QImage& picture) {
    m_picture = picture;
    update();
}

int MaskGrid::cellAt(const QPoint& point) const {
    const int column =
        std::clamp(point.x() * kMaskColumns / std::max(1, width()), 0, kMaskColumns - 1);
    const int row = std::clamp(point.y() * kMaskRows / std::max(1, height()), 0, kMaskRows - 1);
    return row * kMaskColumns + column;
}

QRect MaskGrid::cellRect(int index) const {
    const int column = index % kMaskColumns;
    const int row = index / kMaskColumns;
    const int left = column * width() / kMaskColumns;
    const int top = row * height() / kMaskRows;
    const int right = (column + 1) * width() / kMaskColumns;
    const int bottom = (row + 1) * height() / kMaskRows;
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1));
}

void MaskGrid::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (m_picture.isNull()) {
        p.fillRect(rect(), QColor(64, 64, 64));
        p.setPen(QColor(160, 160, 160));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("映像なし"));
    } else {
        p.drawImage(rect(), m_picture);
    }
    // Masked cells dark with a red tinge, so they read as "not watched" on a dark picture too.
    for (int i = 0; i < kMaskColumns * kMaskRows; ++i)
        if (m_cells[i])
            p.fillRect(cellRect(i), QColor(96, 0, 0, 150));
    p.setPen(QPen(QColor(255, 255, 255, 110), 1));
    for (int c = 1; c < kMaskColumns; ++c) {
        const int x = c * width() / kMaskColumns;
        p.drawLine(x, 0, x, height() - 1);
    }
    for (int r = 1; r < kMaskRows; ++r) {
        const int y = r * height() / kMaskRows;
        p.drawLine(0, y, width() - 1, y);
    }
    p.setPen(QPen(palette().color(QPalette::Dark), 1));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void MaskGrid::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton)
        return;
    const int cell = cellAt(event->position().toPoint());
    m_dragging = true;
    m_paintValue = !m_cells[cell];
    m_lastCell = cell;
    m_cells[cell] = m_paintValue;
    update();
    emit cellsChanged();
}

void MaskGrid::mouseMoveEvent(QMouseEvent* event) {
    if (m_dragging)
        paintTowards(cellAt(event->position().toPoint()));
}

void MaskGrid::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
}

// A quick drag reports points several cells apart; the cells on the straight line between them
// are painted too, so the stroke has no gaps.
void MaskGrid::paintTowards(int cell) {
    if (cell == m_lastCell)
        return;
    const int c0 = m_lastCell % kMaskColumns, r0 = m_lastCell / kMaskColumns;
    const int c1 = cell % kMaskColumns, r1 = cell / kMaskColumns;
    const int steps = std::max(std::abs(c1 - c0), std::abs(r1 - r0));
    bool changed = false;
    for (int s = 1; s <= steps; ++s) {
        // Rounded to the nearest cell at each step along the longer axis.
        const int c = c0 + ((c1 - c0) * s * 2 + (c1 >= c0 ? steps : -steps)) / (2 * steps);
        const int r = r0 + ((r1 - r0) * s * 2 + (r1 >= r0 ? steps : -steps)) / (2 * steps);
        const int index = r * kMaskColumns + c;
        if (m_cells[index] != m_paintValue) {
            m_cells[index] = m_paintValue;
            changed = true;
        }
    }
    m_lastCell = cell;
    if (changed) {
        update();
        emit cellsChanged();
    }
}
