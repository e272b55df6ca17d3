#pragma once

#include "detection/ExtraSettingsForm.h"

#include <QImage>
#include <QWidget>

// The picture with the 16 x 12 mask grid over it. A mouse drag paints or clears cells: the cell
// under the press decides which (a masked cell starts a clearing drag, a clear one a painting
// drag), and every cell the pointer passes over afterwards gets the same. Masked cells are
// shaded. The picture is stretched to the widget, as the capture window shows it.
class MaskGrid : public QWidget {
    Q_OBJECT
public:
    explicit MaskGrid(QWidget* parent = nullptr);

    const MaskCells& cells() const { return m_cells; }
    void setCells(const MaskCells& cells);
    // A null image shows the empty picture (no camera frame to show).
    void setPicture(const QImage& picture);
    const QImage& picture() const { return m_picture; }

    // The cell index under a point of the widget, points outside held to the nearest cell.
    int cellAt(const QPoint& point) const;
    // The cell's rectangle in widget coordinates.
    QRect cellRect(int index) const;

signals:
    void cellsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    void paintTowards(int cell);

    MaskCells m_cells;
    QImage m_picture;
    bool m_dragging = false;
    bool m_paintValue = false; // what the current drag sets
    int m_lastCell = -1;
};
