// The version dialog: its texts and size, Esc and Enter, and the system-information button with
// programs put on PATH by the test.
#include "mainwindow/frmAbout.h"

#include "MainWindowTestUtil.h"

#include <QLabel>
#include <QPushButton>
#include <QTest>

using namespace mainwindow_test;

namespace {

// Puts an executable `name` into `dir` that writes `marker` when it runs.
void FakeProgram(const QString& dir, const QString& name, const QString& marker,
                 const QByteArray& interpreter = "/bin/sh") {
    const QString path = dir + "/" + name;
    WriteFile(path, "#!" + interpreter + "\necho started > '" + marker.toUtf8() + "'\n");
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

} // namespace

class TestFrmAbout : public QObject {
    Q_OBJECT

    QByteArray m_savedPath;
    QTemporaryDir m_bin;
    RecordingBoxes m_boxes;

private slots:
    void initTestCase() { m_savedPath = qgetenv("PATH"); }
    void init() {
        m_boxes.shown.clear();
        qputenv("PATH", m_bin.path().toUtf8());
        for (const QString& f : QDir(m_bin.path()).entryList(QDir::Files))
            QFile::remove(m_bin.filePath(f));
    }
    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void textsAndSize() {
        frmAbout about(m_boxes);
        QCOMPARE(about.windowTitle(), QString("Pawlinexのﾊﾞｰｼﾞｮﾝ情報"));
        QCOMPARE(about.findChild<QLabel*>("lblTitle")->text(), QString("Pawlinex"));
        QCOMPARE(about.findChild<QLabel*>("lblVersion")->text(), QString("ﾊﾞｰｼﾞｮﾝ 1.1.1"));
        QCOMPARE(about.findChild<QLabel*>("lblDescription")->text(),
                 QString("動きを検出し、ｷｬﾌﾟﾁｬｰ画像をﾒｰﾙで送信します。\r\n"
                         "また、動画を録画してFTPで送信します。"));
        QVERIFY(!about.findChild<QLabel*>("lblDisclaimer")->text().isEmpty());
        QCOMPARE(about.findChild<QPushButton*>("cmdOK")->text(), QString("OK"));
        QCOMPARE(about.findChild<QPushButton*>("cmdSysInfo")->text(), QString("ｼｽﾃﾑ情報(&S)..."));
        QCOMPARE(about.size(), QSize(382, 237));
        QVERIFY(about.findChild<QPushButton*>("cmdOK")->isDefault());
        // The disclaimer sits under the separator and clear of the two buttons.
        QVERIFY(about.findChild<QLabel*>("lblDisclaimer")->geometry().top() > 164);
        QVERIFY(about.findChild<QLabel*>("lblDisclaimer")->geometry().right() <
                about.findChild<QPushButton*>("cmdOK")->geometry().left());
        QVERIFY(about.findChild<QLabel*>("lblDisclaimer")->geometry().bottom() < about.height());
    }

    void escAndEnterClose_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("Esc") << int(Qt::Key_Escape) << int(QDialog::Rejected);
        QTest::newRow("Enter") << int(Qt::Key_Return) << int(QDialog::Accepted);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(QDialog::Accepted);
    }

    void escAndEnterClose() {
        QFETCH(int, key);
        QFETCH(int, result);
        frmAbout about(m_boxes);
        about.open();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QVERIFY(about.isVisible());
        QTest::keyClick(&about, Qt::Key(key));
        QVERIFY(!about.isVisible());
        QCOMPARE(about.result(), result);
    }

    void sysInfoStartsTheFirstProgramFoundAndStaysOpen() {
        const QString marker = m_bin.filePath("monitor-ran");
        FakeProgram(m_bin.path(), "gnome-system-monitor", marker);
        frmAbout about(m_boxes);
        about.open();
        about.findChild<QPushButton*>("cmdSysInfo")->click();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 20000);
        QVERIFY(about.isVisible());
        QVERIFY(m_boxes.shown.empty());
        QCOMPARE(frmAbout::SysInfoCandidates().value(0), QString("hardinfo"));
    }

    void sysInfoWithNothingOnPathSaysSoAndStaysOpen() {
        frmAbout about(m_boxes);
        about.open();
        about.findChild<QPushButton*>("cmdSysInfo")->click();
        QCOMPARE(m_boxes.shown.size(), size_t(1));
        QCOMPARE(m_boxes.shown[0].icon, MessageBoxes::Icon::None);
        QCOMPARE(m_boxes.shown[0].title, QString("Pawlinex"));
        QCOMPARE(m_boxes.shown[0].text, QString("現時点ではｼｽﾃﾑ情報を使用できません"));
        QVERIFY(about.isVisible());
    }

    void sysInfoThatCannotStartSaysSo() {
        FakeProgram(m_bin.path(), "hardinfo", m_bin.filePath("never"), "/nonexistent/shell");
        frmAbout about(m_boxes);
        about.StartSysInfo();
        QCOMPARE(m_boxes.shown.size(), size_t(1));
        QCOMPARE(m_boxes.shown[0].text, QString("現時点ではｼｽﾃﾑ情報を使用できません"));
    }
};

QTEST_MAIN(TestFrmAbout)
#include "test_frmAbout.moc"
