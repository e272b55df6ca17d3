#pragma once

#include "detection/DetectionMask.h"
#include "detection/Timeline.h"

#include <QImage>
#include <QWidget>
#include <array>

class QLabel;
class QPushButton;

// The right-hand side pane of the main window: scope of the last difference image, the level
// read-out, the 24-hour timeline with its clock and the three state lamps. Sizes are the
// design's twips / 15. The detection tick writes it; the main window only places it and wires
// cmdDisableScope to its scope toggle. User-interface thread only.
class ScopePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 146; // 2190 twips

    explicit ScopePanel(QWidget* parent = nullptr);

    QPushButton* cmdDisableScope() const { return m_cmdDisableScope; }

    // picScope: the size the difference image is stretched to, and the image shown.
    QSize scopeInnerSize() const;
    void setScopeImage(const QImage& image);
    const QImage& scopeImage() const { return m_scopeImage; }
    // The cells detection ignores, shown dimmed over whatever the scope shows.
    void setMaskedCells(const DetectionMask& mask);
    const DetectionMask& maskedCells() const { return m_mask; }

    QLabel* lblCount() const { return m_lblCount; }
    QLabel* lblTime() const { return m_lblTime; }
    QLabel* lblNow() const { return m_lblNow; }

    // The chart the timeline box shows; draw into it, then call showTimelineStep.
    TimelineChart& timeline() { return m_timeline; }
    // Moves lblNow under the drawn column, sets lblTime and repaints the chart.
    void showTimelineStep(const TimelineStep& step);

    // Lights lamp `litIndex` (0 blue, 1 yellow, 2 red) and shows its stroke, dims the others.
    // With `repaintNow` they are painted before this returns.
    void setLamps(int litIndex, bool repaintNow);
    bool lampLit(int index) const;
    bool strokeShown(int index) const;

private:
    void paintEvent(QPaintEvent* event) override;

    QPushButton* m_cmdDisableScope = nullptr;
    QWidget* m_picScope = nullptr;
    QWidget* m_picTimeLine = nullptr;
    QWidget* m_lamps = nullptr;
    QLabel* m_lblCount = nullptr;
    QLabel* m_lblTime = nullptr;
    QLabel* m_lblNow = nullptr;
    QImage m_scopeImage;
    DetectionMask m_mask;
    TimelineChart m_timeline;
    int m_litLamp = 0; // lamp 0 lit and no stroke until the first classification
    int m_stroke = -1;
};
