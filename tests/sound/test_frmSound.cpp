#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"
#include "sound/frmSound.h"

#include <QComboBox>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <map>

namespace {

// Records the calls; a path's mode is whatever the test sets (empty = no device).
class FakePlayer final : public SoundTestPlayer {
public:
    std::vector<std::string> calls;
    std::map<std::string, std::string> modes;
    void play(const std::string& p) override {
        calls.push_back("play " + p);
        if (!p.empty())
            modes[p] = "PLAYING";
    }
    void close(const std::string& p) override {
        calls.push_back("close " + p);
        modes.erase(p);
    }
    std::string mode(const std::string& p) override {
        auto it = modes.find(p);
        return it == modes.end() ? std::string() : it->second;
    }
};

QString ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

} // namespace

class TestFrmSound : public QObject {
    Q_OBJECT
    QTemporaryDir home;
    QTemporaryDir media;
    std::string dir;
    StatusPanels panels;

private slots:
    void initTestCase() {
        QVERIFY(home.isValid() && media.isValid());
        qputenv("PAWLINEX_HOME", home.path().toUtf8());
        qputenv("PAWLINEX_MEDIA_DIR", media.path().toUtf8() + "/");
        for (const char* name : {"bell.oga", "Alarm.wav", "complete.oga", "ｱﾗｰﾑ 音.wav"}) {
            QFile f(media.path() + "/" + QString::fromUtf8(name));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        dir = media.path().toStdString() + "/";
    }

    void init() {
        AppSettings = AppSettingsRecord{};
        AppSettings.Com.Timer = 5;
        AppSettings.Com.CkSum = 100;
        AppSettings.Com.Accuracy = 50;
        panels.reset();
    }

    // "(無し)" first, then the folder's files alphabetically; the stored name is selected.
    void listsFilesAndSelectsStoredSound() {
        AppSettings.Com.Sound = "complete.oga";
        FakePlayer fake;
        frmSound dlg(panels, fake);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("ｻｳﾝﾄﾞ設定"));
        QComboBox* box = dlg.cmbSound();
        QCOMPARE(box->count(), 5);
        QCOMPARE(box->itemText(0), QStringLiteral("(無し)"));
        QCOMPARE(box->itemText(1), QStringLiteral("Alarm.wav"));
        QCOMPARE(box->itemText(2), QStringLiteral("bell.oga"));
        QCOMPARE(box->itemText(3), QStringLiteral("complete.oga"));
        QCOMPARE(box->currentIndex(), 3);
        QCOMPARE(dlg.bcmdOK()->text(), QStringLiteral("OK(&O)"));
        QCOMPARE(dlg.bcmdCancel()->text(), QStringLiteral("Cancel(&C)"));
    }

    void missingStoredSoundSelectsNone() {
        AppSettings.Com.Sound = "gone.wav";
        FakePlayer fake;
        frmSound dlg(panels, fake);
        QCOMPARE(dlg.cmbSound()->currentIndex(), 0);
    }

    // Play, silence while playing, replay after it finished, and a new selection.
    void testButtonToggles() {
        FakePlayer fake;
        frmSound dlg(panels, fake);
        dlg.cmbSound()->setCurrentIndex(2); // bell.oga
        const std::string bell = dir + "bell.oga";

        dlg.cmdTest()->click();
        QCOMPARE(fake.calls, std::vector<std::string>{"play " + bell});
        QCOMPARE(dlg.TestPath(), bell);

        dlg.cmdTest()->click(); // still playing: this click only silences it
        QCOMPARE(fake.calls.back(), "close " + bell);
        QVERIFY(dlg.TestPath().empty());

        dlg.cmdTest()->click();
        fake.modes[bell] = "STOPPED"; // played to its end
        dlg.cmbSound()->setCurrentIndex(1);
        fake.calls.clear();
        dlg.cmdTest()->click(); // finished: close the old one, play the new selection
        QCOMPARE(fake.calls,
                 (std::vector<std::string>{"close " + bell, "play " + dir + "Alarm.wav"}));

        // Changing the selection while playing: the click stops the old one only.
        dlg.cmbSound()->setCurrentIndex(3);
        fake.calls.clear();
        dlg.cmdTest()->click();
        QCOMPARE(fake.calls, std::vector<std::string>{"close " + dir + "Alarm.wav"});
        dlg.cmdTest()->click();
        QCOMPARE(fake.calls.back(), "play " + dir + "complete.oga");
    }

    void noneSelectedPlaysNothing() {
        FakePlayer fake;
        frmSound dlg(panels, fake);
        dlg.cmdTest()->click();
        QCOMPARE(fake.calls, std::vector<std::string>{"play "});
        QVERIFY(dlg.TestPath().empty());
    }

    // The one-shot check after 630 ms closes a test sound that has already finished.
    void oneShotTimerClosesFinishedSound() {
        FakePlayer fake;
        frmSound dlg(panels, fake);
        QVERIFY(dlg.Timer1()->isActive());
        QCOMPARE(dlg.Timer1()->interval(), 630);
        dlg.cmbSound()->setCurrentIndex(2);
        dlg.cmdTest()->click();
        fake.modes[dir + "bell.oga"] = "STOPPED";
        QVERIFY(QTest::qWaitFor([&] { return !dlg.Timer1()->isActive(); }, 5000));
        QVERIFY(dlg.TestPath().empty());
        QCOMPARE(fake.calls.back(), "close " + dir + "bell.oga");
    }

    void okWithFileStoresNameAndPath() {
        AppSettings.Com.SoundPath = dir + "Alarm.wav";
        FakePlayer fake;
        fake.modes[dir + "Alarm.wav"] = "PLAYING"; // the alarm sound is still going
        frmSound dlg(panels, fake);
        dlg.cmbSound()->setCurrentIndex(4);
        dlg.bcmdOK()->click();
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(fake.calls.front(), "close " + dir + "Alarm.wav");
        QCOMPARE(AppSettings.Com.Sound, std::string("ｱﾗｰﾑ 音.wav"));
        QCOMPARE(AppSettings.Com.SoundPath, dir + "ｱﾗｰﾑ 音.wav");
        QCOMPARE(panels.text(4), std::string("警告音: ｱﾗｰﾑ 音.wav"));
        const QString ini = ReadAll(QString::fromStdString(SettingsFilePath()));
        QVERIFY2(!ini.isEmpty(), "settings saved");
    }

    void okWithNoneEmptiesTheSound() {
        AppSettings.Com.Sound = "bell.oga";
        AppSettings.Com.SoundPath = dir + "bell.oga";
        FakePlayer fake;
        frmSound dlg(panels, fake);
        dlg.cmbSound()->setCurrentIndex(0);
        dlg.bcmdOK()->click();
        QVERIFY(AppSettings.Com.Sound.empty());
        QVERIFY(AppSettings.Com.SoundPath.empty());
        QCOMPARE(panels.text(4), std::string("警告音: なし"));
        AppSettings = AppSettingsRecord{};
        QVERIFY(LoadSettings());
        QVERIFY(AppSettings.Com.Sound.empty());
    }

    void cancelChangesNothing() {
        AppSettings.Com.Sound = "bell.oga";
        FakePlayer fake;
        frmSound dlg(panels, fake);
        dlg.cmbSound()->setCurrentIndex(1);
        dlg.cmdTest()->click();
        dlg.bcmdCancel()->click();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(AppSettings.Com.Sound, std::string("bell.oga"));
        QVERIFY(panels.text(4).empty());
        QCOMPARE(fake.calls.back(), "play " + dir + "Alarm.wav"); // not stopped
    }
};

QTEST_MAIN(TestFrmSound)
#include "test_frmSound.moc"
