// frmExtra: what OK stores and saves, the mask drawn with the mouse, the refused full mask, and
// the trial run of the alarm command.

#include "detection/MaskGrid.h"
#include "detection/frmExtra.h"
#include "settings/AppSettings.h"
#include "settings/basSettings.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QtTest>

class TestFrmExtra : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QStringList m_errors;

    template <typename T> static T* child(frmExtra& dlg, const char* name) {
        T* w = dlg.findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }

    // Records every box as "title|text"; input errors only ever show the error icon.
    class RecordingBoxes : public MessageBoxes {
    public:
        explicit RecordingBoxes(QStringList& errors) : m_errors(errors) {}
        void showOk(QWidget*, Icon icon, const QString& title, const QString& text) override {
            QVERIFY(icon == Icon::Critical);
            m_errors << title + "|" + text;
        }

    private:
        QStringList& m_errors;
    } m_boxes{m_errors};

    QString iniPath() const { return m_home.path() + "/pawlinex.ini"; }

    static QImage greenFrame() {
        QImage image(160, 120, QImage::Format_RGB32);
        image.fill(Qt::green);
        return image;
    }

    static void drag(MaskGrid* grid, std::initializer_list<int> cells) {
        auto centre = [grid](int cell) { return grid->cellRect(cell).center(); };
        QTest::mousePress(grid, Qt::LeftButton, {}, centre(*cells.begin()));
        for (int cell : cells)
            QTest::mouseMove(grid, centre(cell));
        QTest::mouseRelease(grid, Qt::LeftButton, {}, centre(*(cells.end() - 1)));
    }

private slots:
    void initTestCase() {
        QVERIFY(m_home.isValid());
        qputenv("PAWLINEX_HOME", m_home.path().toLocal8Bit());
    }

    void init() {
        m_errors.clear();
        QFile::remove(iniPath());
        AppSettings = AppSettingsRecord{};
    }

    // The dialog opens on the stored settings and OK stores every field and writes the file;
    // Cancel leaves both as they were.
    void okStoresEachFieldAndCancelDiscards() {
        AppSettings.Extra.Pre = 3;
        AppSettings.Extra.Light = 40;
        AppSettings.Extra.KeepFree = 500;
        AppSettings.Extra.Mask = "8" + std::string(47, '0');
        AppSettings.Extra.OnAlarm = "old.sh";
        {
            frmExtra dlg(m_boxes, nullptr, nullptr);
            QCOMPARE(dlg.windowTitle(), QStringLiteral("拡張設定"));
            QCOMPARE(child<QSpinBox>(dlg, "txtPre")->value(), 3);
            QCOMPARE(child<QSpinBox>(dlg, "txtLight")->value(), 40);
            QCOMPARE(child<QSpinBox>(dlg, "txtKeepFree")->value(), 500);
            QCOMPARE(child<QLineEdit>(dlg, "txtOnAlarm")->text(), QStringLiteral("old.sh"));
            QCOMPARE(child<MaskGrid>(dlg, "picMask")->cells().count(), size_t(1));
            child<QSpinBox>(dlg, "txtPre")->setValue(9);
            child<QLineEdit>(dlg, "txtOnAlarm")->setText("changed");
            child<QPushButton>(dlg, "bcmdCancel")->click();
        }
        QCOMPARE(AppSettings.Extra.Pre, 3);
        QCOMPARE(AppSettings.Extra.OnAlarm, std::string("old.sh"));
        QVERIFY(!QFile::exists(iniPath()));

        frmExtra dlg(m_boxes, nullptr, nullptr);
        child<QSpinBox>(dlg, "txtPre")->setValue(10);
        child<QSpinBox>(dlg, "txtLight")->setValue(0);
        child<QSpinBox>(dlg, "txtKeepFree")->setValue(2048);
        child<QLineEdit>(dlg, "txtOnAlarm")->setText("  notify.sh \"$PAWLINEX_PICTURE\"  ");
        auto* grid = child<MaskGrid>(dlg, "picMask");
        child<QPushButton>(dlg, "cmdClear")->click();
        QVERIFY(grid->cells().none());
        drag(grid, {191});
        child<QPushButton>(dlg, "bcmdOK")->click();
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));

        const ExtraSettings expected{10, std::string(47, '0') + "1", 0, 2048,
                                     "notify.sh \"$PAWLINEX_PICTURE\""};
        for (int pass = 0; pass < 2; ++pass) { // in memory, then as read back from the file
            QCOMPARE(AppSettings.Extra.Pre, expected.Pre);
            QCOMPARE(AppSettings.Extra.Mask, expected.Mask);
            QCOMPARE(AppSettings.Extra.Light, expected.Light);
            QCOMPARE(AppSettings.Extra.KeepFree, expected.KeepFree);
            QCOMPARE(AppSettings.Extra.OnAlarm, expected.OnAlarm);
            AppSettings = AppSettingsRecord{};
            QVERIFY(LoadSettings());
        }
    }

    // The first cell of a drag decides: from a clear cell the drag paints every cell it passes
    // over, gaps of a quick move included; from a masked cell it clears them.
    void dragPaintsOrClearsCells() {
        frmExtra dlg(m_boxes, nullptr, nullptr);
        auto* grid = child<MaskGrid>(dlg, "picMask");
        drag(grid, {0, 3}); // one quick move from column 0 to 3
        QCOMPARE(QString::fromStdString(MaskTextFromCells(grid->cells())),
                 QString("F" + QString(47, '0')));
        drag(grid, {16 + 1, 1, 2}); // starts clear: paints, already masked cells stay
        QCOMPARE(grid->cells().count(), size_t(5));
        QVERIFY(grid->cells()[17]);
        drag(grid, {2, 18, 34}); // starts masked: clears
        QVERIFY(!grid->cells()[2] && !grid->cells()[18] && !grid->cells()[34]);
        QVERIFY(grid->cells()[0] && grid->cells()[1] && grid->cells()[3] && grid->cells()[17]);
        // From the top left to the bottom right corner in one move: the whole diagonal.
        child<QPushButton>(dlg, "cmdClear")->click();
        drag(grid, {0, 191});
        QVERIFY(grid->cells()[0] && grid->cells()[191]);
        QCOMPARE(grid->cells().count(), size_t(16));
    }

    // A grid with every cell masked is refused with a message in the dialog's name, the focus on
    // the grid, and nothing stored or saved; clearing one cell lets it through.
    void fullMaskIsRefused() {
        AppSettings.Extra.Light = 7;
        frmExtra dlg(m_boxes, nullptr, nullptr);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        auto* grid = child<MaskGrid>(dlg, "picMask");
        grid->setCells(~MaskCells{});
        child<QSpinBox>(dlg, "txtLight")->setValue(50);
        child<QPushButton>(dlg, "bcmdOK")->click();
        QCOMPARE(m_errors.size(), 1);
        QVERIFY(m_errors[0].startsWith(QStringLiteral("拡張設定|全ての区画をﾏｽｸすると")));
        QCOMPARE(QApplication::focusWidget(), grid);
        QCOMPARE(AppSettings.Extra.Light, 7);
        QVERIFY(AppSettings.Extra.Mask.empty());
        QVERIFY(!QFile::exists(iniPath()));
        QVERIFY(dlg.isVisible());

        drag(grid, {100});
        child<QPushButton>(dlg, "bcmdOK")->click();
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(AppSettings.Extra.Light, 50);
        QCOMPARE(MaskCellsFromText(AppSettings.Extra.Mask).count(), size_t(191));
    }

    // 試行 hands the typed command (trimmed) and the picture on the grid to the runner and shows
    // its exit status and output; an empty command is refused before anything runs.
    void trialShowsExitStatusAndOutput() {
        std::vector<std::pair<std::string, QSize>> calls;
        frmExtra::TrialResult next{true, 3, "sent\n"};
        frmExtra dlg(
            m_boxes, [] { return greenFrame(); },
            [&](const std::string& command, const QImage& frame) {
                calls.emplace_back(command, frame.size());
                return next;
            });
        auto* result = child<QPlainTextEdit>(dlg, "txtTrialResult");
        child<QPushButton>(dlg, "cmdTrial")->click();
        QCOMPARE(m_errors, QStringList{QStringLiteral("拡張設定|ｺﾏﾝﾄﾞを入力して下さい。")});
        QVERIFY(calls.empty());

        child<QLineEdit>(dlg, "txtOnAlarm")->setText(" hook.sh ");
        child<QPushButton>(dlg, "cmdTrial")->click();
        QCOMPARE(calls.size(), size_t(1));
        QCOMPARE(calls[0].first, std::string("hook.sh"));
        QCOMPARE(calls[0].second, QSize(160, 120));
        QCOMPARE(result->toPlainText(), QStringLiteral("終了ｺｰﾄﾞ: 3\nsent\n"));

        next = {false, 0, "No such file"};
        child<QPushButton>(dlg, "cmdTrial")->click();
        QCOMPARE(result->toPlainText(),
                 QStringLiteral("ｺﾏﾝﾄﾞを起動できませんでした。\nNo such file"));
        QVERIFY(AppSettings.Extra.OnAlarm.empty()); // a trial stores nothing
    }
};

QTEST_MAIN(TestFrmExtra)
#include "test_frmExtra.moc"
