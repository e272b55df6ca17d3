#include "detection/ScopePanel.h"

#include "detection/LevelState.h"

#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include <algorithm>

namespace {

// Twips to pixels.
constexpr int P(int twips) {
    return twips / 15;
}
QRect R(int l, int t, int w, int h) {
    return QRect(P(l), P(t), P(w), P(h));
}

QFont JapaneseFont(double points, bool bold = false) {
    QFont f(QStringLiteral("IPAGothic"));
    f.setFamilies({QStringLiteral("IPAGothic"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("IPAPGothic")});
    f.setPointSizeF(points);
    f.setBold(bold);
    return f;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry, double points,
                  QColor colour = Qt::white, Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop) {
    auto* l = new QLabel(text, parent);
    l->setGeometry(geometry);
    l->setFont(JapaneseFont(points));
    l->setAlignment(align);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, colour);
    l->setPalette(pal);
    l->setAttribute(Qt::WA_TranslucentBackground);
    return l;
}

QPushButton* MakeBar(QWidget* parent, QRect geometry) {
    auto* b = new QPushButton(parent);
    b->setGeometry(geometry);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QColor ToColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

// picScope: black box showing the last difference image stretched to its size, with the
// yellow mark over it.
class ScopeView : public QWidget {
public:
    ScopeView(const QImage& image, const DetectionMask& mask, QWidget* parent)
        : QWidget(parent), m_image(image), m_mask(mask) {
        // Paints every pixel itself: the panel need not paint beneath it every tick.
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    // The mark is a label drawn once into an image: it is painted over every new difference
    // image, ten times a second, and laying out its text each time would cost more than the
    // picture.
    void setMark(QLabel* label) {
        m_markAt = label->pos();
        m_mark = QImage(label->size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
        m_mark.setDevicePixelRatio(devicePixelRatioF());
        m_mark.fill(Qt::transparent);
        label->render(&m_mark, QPoint(), QRegion(), QWidget::DrawChildren);
        delete label;
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (!m_image.isNull())
            p.drawImage(0, 0, m_image);
        // A grey veil over ignored cells: a change there shows at half strength, and a still
        // cell is grey rather than black, so the mask is visible even in a calm scene.
        for (int r = 0; r < DetectionMask::kRows; ++r) {
            for (int c = 0; c < DetectionMask::kColumns; ++c) {
                if (!m_mask.masked(c, r))
                    continue;
                const int x0 = int(DetectionMask::columnStart(c, width()));
                const int x1 = int(DetectionMask::columnStart(c + 1, width()));
                const int y0 = int(DetectionMask::rowStart(r, height()));
                const int y1 = int(DetectionMask::rowStart(r + 1, height()));
                p.fillRect(QRect(x0, y0, x1 - x0, y1 - y0), QColor(96, 96, 96, 128));
            }
        }
        p.setPen(QColor(128, 128, 128)); // Shape1
        p.drawRect(R(0, -60, 2205, 1485).adjusted(0, 0, -1, -1));
        if (!m_mark.isNull())
            p.drawImage(m_markAt, m_mark);
    }

private:
    const QImage& m_image;
    const DetectionMask& m_mask;
    QImage m_mark;
    QPoint m_markAt;
};

// picTimeLine: the chart (grid and bars) with the dashed frame of the plot area around it; the
// frame lies outside the rows and columns a bar can reach.
class TimelineView : public QWidget {
public:
    TimelineView(const TimelineChart& chart, QWidget* parent) : QWidget(parent), m_chart(chart) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        p.drawImage(0, 0, m_chart.image());
        QPen dashed(Qt::white);
        dashed.setStyle(Qt::DashLine);
        p.setPen(dashed);
        p.drawRect(R(270, 60, 1845, 1305)); // Shape3
    }

private:
    const TimelineChart& m_chart;
};

// The three lamps with their pointer strokes (Shape7/Shape8 frames around them).
class LampsView : public QWidget {
public:
    LampsView(const int& lit, const int& stroke, QWidget* parent)
        : QWidget(parent), m_lit(lit), m_stroke(stroke) {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black); // the panel's own colour
        p.setRenderHint(QPainter::Antialiasing);
        // Coordinates below are relative to the panel; this widget starts at Shape7.
        p.translate(-P(60), -P(5460));
        p.setPen(QColor(128, 128, 128));
        p.drawRect(R(60, 5460, 2115, 825).adjusted(0, 0, -1, -1));
        p.drawRect(R(60, 5460, 2115, 855).adjusted(0, 0, -1, -1));
        const int lefts[3] = {90, 780, 1470};
        for (int i = 0; i < 3; ++i) {
            const bool lit = i == m_lit;
            p.setPen(QPen(ToColor(LampBorderColor(i)), 1));
            p.setBrush(lit ? ToColor(LampLitColor(i)) : ToColor(LampDimColor(i)));
            p.drawEllipse(R(lefts[i], 5640, 675, 465));
            if (i == m_stroke) {
                p.setPen(QPen(ToColor(LampBorderColor(i)), 3));
                p.drawLine(P(lefts[i] + 300), P(5850), P(lefts[i] + 540), P(6180));
            }
        }
    }

private:
    const int& m_lit;
    const int& m_stroke; // -1: none shown yet
};

} // namespace

ScopePanel::ScopePanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("picSideScope"));
    setFixedWidth(kWidth);
    setMinimumHeight(P(7095));
    setAutoFillBackground(true);

    MakeBar(this, R(0, 0, 2205, 315))->setObjectName(QStringLiteral("Command1"));
    m_cmdDisableScope = new QPushButton(QStringLiteral("×"), this);
    m_cmdDisableScope->setObjectName(QStringLiteral("cmdDisableScope"));
    m_cmdDisableScope->setGeometry(R(1920, 60, 225, 195));
    m_cmdDisableScope->setFont(JapaneseFont(9, true));
    m_cmdDisableScope->setFocusPolicy(Qt::NoFocus);

    MakeLabel(this, QStringLiteral("ｽｺｰﾌﾟ"), R(120, 420, 1965, 255), 9, Qt::white,
              Qt::AlignHCenter | Qt::AlignTop);

    auto* scope = new ScopeView(m_scopeImage, m_mask, this);
    m_picScope = scope;
    m_picScope->setObjectName(QStringLiteral("picScope"));
    m_picScope->setGeometry(R(15, 720, 2190, 1425));
    scope->setMark(
        MakeLabel(m_picScope, QStringLiteral("▲"), R(1020, 630, 165, 165), 8.25, Qt::yellow));

    MakeLabel(this, QStringLiteral("検知数"), R(90, 2220, 555, 165), 9);
    m_lblCount = MakeLabel(this, QStringLiteral("0"), R(750, 2220, 1365, 195), 9, Qt::yellow,
                           Qt::AlignRight | Qt::AlignTop);
    m_lblCount->setObjectName(QStringLiteral("lblCount"));

    MakeBar(this, R(0, 2520, 2235, 75))->setObjectName(QStringLiteral("Command2"));
    MakeLabel(this, QStringLiteral("時間変化"), R(120, 2700, 1965, 255), 9, Qt::white,
              Qt::AlignHCenter | Qt::AlignTop);

    m_picTimeLine = new TimelineView(m_timeline, this);
    m_picTimeLine->setObjectName(QStringLiteral("picTimeLine"));
    m_picTimeLine->setGeometry(R(15, 2940, 2175, 1785));
    MakeLabel(m_picTimeLine, QStringLiteral("MAX"), R(0, 60, 285, 195), 8.25);
    MakeLabel(m_picTimeLine, QStringLiteral("MIN"), R(0, 1230, 285, 195), 8.25);
    MakeLabel(m_picTimeLine, QStringLiteral("  0    6   12   18   24"), R(90, 1530, 2115, 195), 9);
    m_lblNow =
        MakeLabel(m_picTimeLine, QStringLiteral("▲"), R(225, 1380, 135, 135), 6.75, Qt::yellow);
    m_lblNow->setObjectName(QStringLiteral("lblNow"));

    MakeLabel(this, QStringLiteral("Now :"), R(780, 4830, 495, 225), 9);
    m_lblTime = MakeLabel(this, QStringLiteral("00:00:00"), R(1350, 4830, 735, 195), 9);
    m_lblTime->setObjectName(QStringLiteral("lblTime"));

    MakeBar(this, R(0, 5100, 2205, 315))->setObjectName(QStringLiteral("Command3"));

    m_lamps = new LampsView(m_litLamp, m_stroke, this);
    m_lamps->setObjectName(QStringLiteral("signal"));
    m_lamps->setGeometry(R(60, 5460, 2115, 855));

    // Label15 in Frame2. Three wrapped lines of 9-point text are taller than the label's design
    // height: it may grow down to the frame's lower edge, and where even that is too little the
    // text steps down in size rather than run over the frame.
    auto* hint = MakeLabel(this, QStringLiteral("録画中に「ESCキー」を押すと処理を中断できます。"),
                           R(120, 6300 + 240, 1995, 465), 9);
    hint->setObjectName(QStringLiteral("Label15"));
    hint->setWordWrap(true);
    const int room = R(0, 6300, 2175, 795).bottom() - hint->y(); // above the frame's edge
    for (double points = 9; points > 6 && hint->heightForWidth(hint->width()) > room;)
        hint->setFont(JapaneseFont(points -= 0.75));
    hint->resize(hint->width(),
                 std::clamp(hint->heightForWidth(hint->width()), hint->height(), room));

    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 0, 0));
    setPalette(pal);
}

QSize ScopePanel::scopeInnerSize() const {
    return m_picScope->size();
}

void ScopePanel::setScopeImage(const QImage& image) {
    m_scopeImage = image;
    m_picScope->update();
}

void ScopePanel::setMaskedCells(const DetectionMask& mask) {
    if (mask == m_mask)
        return;
    m_mask = mask;
    m_picScope->update();
}

void ScopePanel::showTimelineStep(const TimelineStep& step) {
    m_lblNow->move(step.x - 4, m_lblNow->y());
    m_lblTime->setText(QString::fromStdString(step.timeText));
    // Only the column just drawn changed; the rest of the chart and its legends stay as painted.
    m_picTimeLine->update(step.x, 0, 1, TimelineChart::kBaseline + 1);
}

void ScopePanel::setLamps(int litIndex, bool repaintNow) {
    // Every tick reports its state; the lamps are painted again only when it changes.
    if (litIndex == m_litLamp && litIndex == m_stroke)
        return;
    m_litLamp = litIndex;
    m_stroke = litIndex;
    if (repaintNow)
        m_lamps->repaint();
    else
        m_lamps->update();
}

bool ScopePanel::lampLit(int index) const {
    return index == m_litLamp;
}
bool ScopePanel::strokeShown(int index) const {
    return index == m_stroke;
}

void ScopePanel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(QColor(128, 128, 128));
    for (QRect r : {R(30, 330, 2160, 375), R(30, 2160, 2160, 345), R(30, 2580, 2160, 375),
                    R(30, 4740, 2160, 375), R(0, 6300, 2175, 795)})
        p.drawRect(r.adjusted(0, 0, -1, -1));
}
