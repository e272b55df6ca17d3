#include "detection/ScopePanel.h"

#include "detection/LevelState.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest>

class TestScopePanel : public QObject {
    Q_OBJECT

    // A point inside lamp i clear of its stroke, in panel pixels (lamps at 90/780/1470
    // twips, top 5640, 675 x 465; the stroke starts near the centre and runs down-right).
    static QPoint LampCentre(int i) {
        const int lefts[3] = {90, 780, 1470};
        return QPoint((lefts[i] + 675 / 2) / 15 - 10, (5640 + 465 / 2) / 15 - 4);
    }
    static QColor At(const QImage& img, QPoint p) { return img.pixelColor(p); }

private slots:
    // Before the first tick: blue lamp lit, the others dim, no stroke, read-outs at rest.
    void startUpState() {
        ScopePanel panel;
        panel.resize(ScopePanel::kWidth, 480);
        QCOMPARE(panel.width(), 146);
        QCOMPARE(panel.cmdDisableScope()->text(), QStringLiteral("×"));
        QCOMPARE(panel.lblCount()->text(), QStringLiteral("0"));
        QCOMPARE(panel.lblTime()->text(), QStringLiteral("00:00:00"));
        QCOMPARE(panel.scopeInnerSize(), QSize(146, 95));
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(panel.lampLit(i), i == 0);
            QVERIFY(!panel.strokeShown(i));
        }
        const QImage img = panel.grab().toImage();
        QCOMPARE(At(img, LampCentre(0)), QColor(0, 0, 255));
        QCOMPARE(At(img, LampCentre(1)), QColor(64, 64, 0));
        QCOMPARE(At(img, LampCentre(2)), QColor(64, 0, 0));
        QStringList texts;
        for (const QLabel* l : panel.findChildren<QLabel*>())
            texts << l->text();
        for (const char* fixed :
             {"ｽｺｰﾌﾟ", "検知数", "時間変化", "MAX", "MIN", "  0    6   12   18   24",
              "Now :", "録画中に「ESCキー」を押すと処理を中断できます。"})
            QVERIFY2(texts.contains(QString::fromUtf8(fixed)), fixed);
        // The Esc hint sits 120, 240 twips inside its frame (0, 6300, 2175, 795) and its wrapped
        // text ends inside it.
        auto* hint = panel.findChild<QLabel*>(QStringLiteral("Label15"));
        QVERIFY(hint);
        QCOMPARE(hint->pos(), QPoint(120 / 15, (6300 + 240) / 15));
        QVERIFY2(QRect(0, 6300 / 15, 2175 / 15, 795 / 15)
                     .adjusted(1, 1, -1, -1)
                     .contains(hint->geometry()),
                 qPrintable(QString("%1 %2").arg(hint->y()).arg(hint->height())));
        QVERIFY2(hint->heightForWidth(hint->width()) <= hint->height(),
                 qPrintable(QString("%1 > %2 (%3)")
                                .arg(hint->heightForWidth(hint->width()))
                                .arg(hint->height())
                                .arg(hint->font().toString())));
        // The scope's yellow mark is painted into the scope itself.
        int yellow = 0;
        for (int y = (720 + 630) / 15; y < (720 + 630 + 165) / 15; ++y)
            for (int x = (15 + 1020) / 15; x < (15 + 1020 + 165) / 15; ++x)
                yellow += At(img, QPoint(x, y)) == QColor(255, 255, 0) ? 1 : 0;
        QVERIFY2(yellow >= 8, qPrintable(QString::number(yellow)));
    }

    // Exactly one lamp shows its bright colour per state.
    void lampsFollowTheState() {
        ScopePanel panel;
        panel.resize(ScopePanel::kWidth, 480);
        const struct {
            LevelState s;
            QColor c0, c1, c2;
        } rows[] = {
            {LevelState::Doubt, {0, 0, 64}, {255, 255, 0}, {64, 0, 0}},
            {LevelState::Alarm, {0, 0, 64}, {64, 64, 0}, {255, 0, 0}},
            {LevelState::Calm, {0, 0, 255}, {64, 64, 0}, {64, 0, 0}},
        };
        for (const auto& r : rows) {
            panel.setLamps(StateLamp(r.s), true);
            QVERIFY(panel.strokeShown(StateLamp(r.s)));
            const QImage img = panel.grab().toImage();
            QCOMPARE(At(img, LampCentre(0)), r.c0);
            QCOMPARE(At(img, LampCentre(1)), r.c1);
            QCOMPARE(At(img, LampCentre(2)), r.c2);
            // Only the lit lamp's pointer stroke is drawn (sampled at its midpoint).
            const int lefts[3] = {90, 780, 1470};
            for (int i = 0; i < 3; ++i) {
                const Rgb b = LampBorderColor(i);
                const QPoint mid((lefts[i] + 420) / 15, 6015 / 15);
                QCOMPARE(At(img, mid) == QColor(b.r, b.g, b.b), i == StateLamp(r.s));
            }
        }
    }

    // Masked cells are veiled: a change there shows at half strength, a still cell in grey;
    // unmasked cells show the difference image as it is.
    void scopeDimsMaskedCells() {
        ScopePanel panel;
        panel.resize(ScopePanel::kWidth, 480);
        auto* scope = panel.findChild<QWidget*>(QStringLiteral("picScope"));
        QVERIFY(scope);
        DetectionMask mask;
        mask.setMasked(1, 1, true);
        mask.setMasked(14, 10, true);
        panel.setMaskedCells(mask);
        QCOMPARE(panel.maskedCells(), mask);
        // Cell centres in the 146 x 95 scope: column c spans c * 146 / 16 on, row r r * 95 / 12.
        const struct {
            QColor image;
            QPoint at;
            int low, high; // of the red channel
        } rows[] = {
            {Qt::black, {14, 12}, 30, 70},    {Qt::white, {14, 12}, 150, 200},
            {Qt::black, {132, 83}, 30, 70},   {Qt::white, {132, 83}, 150, 200},
            {Qt::black, {23, 12}, 0, 0},      {Qt::white, {23, 12}, 255, 255},
            {Qt::white, {132, 74}, 255, 255}, // the cell above (14, 10)
        };
        for (const auto& r : rows) {
            QImage image(panel.scopeInnerSize(), QImage::Format_RGB32);
            image.fill(r.image);
            panel.setScopeImage(image);
            const int red = scope->grab().toImage().pixelColor(r.at).red();
            QVERIFY2(red >= r.low && red <= r.high,
                     qPrintable(QString("%1 at %2,%3").arg(red).arg(r.at.x()).arg(r.at.y())));
        }
        panel.setMaskedCells(DetectionMask());
        QCOMPARE(scope->grab().toImage().pixelColor(14, 12), QColor(Qt::white));
    }

    // Bars survive hiding the pane. A bar in a grid column hides the line where it stands (the
    // line still shows above it) and wiping the column a day later brings the line back.
    void timelineKeepsBarsAndGrid() {
        ScopePanel panel;
        panel.resize(ScopePanel::kWidth, 480);
        panel.show();
        auto* chart = panel.findChild<QWidget*>(QStringLiteral("picTimeLine"));
        QVERIFY(chart);
        const QColor white(255, 255, 255), black(0, 0, 0);
        const struct {
            QTime time;
            int32_t level;
            int x;
            QColor bar;
            bool grid;
        } rows[] = {
            {QTime(3, 0, 0), 100, 35, QColor(255, 0, 255), false},
            {QTime(5, 48, 0), 500, 49, QColor(255, 0, 0), true},
            {QTime(11, 57, 0), 500, 79, QColor(255, 0, 0), true},
            {QTime(18, 11, 59), 500, 110, QColor(255, 0, 0), true},
            {QTime(18, 12, 0), 50, 111, QColor(0, 0, 255), false},
        };
        for (const auto& r : rows) {
            const TimelineStep step =
                panel.timeline().draw(r.level, 100, StateColor(Classify(r.level, 100)), r.time);
            QCOMPARE(step.x, r.x);
            panel.showTimelineStep(step);
        }
        QCOMPARE(panel.lblNow()->x(), 111 - 4);
        QCOMPARE(panel.lblTime()->text(), QStringLiteral("18:12:00"));
        panel.hide();
        panel.show();
        QImage img = chart->grab().toImage();
        for (const auto& r : rows) {
            QCOMPARE(img.pixelColor(r.x, 80), r.bar);
            QCOMPARE(img.pixelColor(r.x, TimelineChart::kFullTop), r.grid ? white : black);
            QCOMPARE(img.pixelColor(r.x + 1, 80), r.x + 1 == 111 ? rows[4].bar : black);
        }
        for (const auto& r : rows)
            panel.showTimelineStep(
                panel.timeline().draw(0, 100, StateColor(LevelState::Calm), r.time));
        img = chart->grab().toImage();
        for (const auto& r : rows)
            for (int y : {TimelineChart::kFullTop, 50, 80, TimelineChart::kBaseline})
                QCOMPARE(img.pixelColor(r.x, y), r.grid ? white : black);
    }
};

QTEST_MAIN(TestScopePanel)
#include "test_ScopePanel.moc"
