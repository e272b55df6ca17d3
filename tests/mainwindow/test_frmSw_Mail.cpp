// The main window on real lavfi cameras: start-up from the settings file, the driver loop, the
// enable rules of every state, what each detection control stores, the scope toggle, the status
// panels and the close sequence.
#include "capture/VideoSources.h"
#include "capture/capApi.h"
#include "capture/frm_Camera.h"
#include "common/TestServices.h"
#include "detection/AlarmDoubles.h"
#include "detection/FrameDifference.h"
#include "detection/ScopePanel.h"
#include "mainwindow/frmSw_Mail.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include "MainWindowTestUtil.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace mainwindow_test;

namespace {

const char* kGoodSources = "lavfi:color=c=blue:s=160x120:r=10;lavfi:color=c=green:s=96x72:r=10";

// What the close sequence's last step saw when it ran.
struct EndSnapshot {
    int calls = 0;
    bool timerActive = true;
    bool endButtonEnabled = true;
    bool scriptPresent = true;
    QByteArray savedSound;
};

} // namespace

class TestFrmSwMail : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    RecordingBoxes m_boxes;
    TestServices m_services{m_boxes};
    EndSnapshot m_end;
    std::function<void()> m_endProbe; // looks at the files when the process would end
    std::unique_ptr<frmSw_Mail> m_window;

    QString iniPath() const { return m_home->filePath("pawlinex.ini"); }
    QByteArray ini() const { return ReadFile(iniPath()); }

    // Loads `settings` as the program would and builds the window (not yet started).
    bool makeWindow(const QByteArray& settings, const char* sources,
                    frmSw_Mail::StandIns standIns = {}) {
        WriteFile(iniPath(), settings);
        qputenv("PAWLINEX_VIDEO_SOURCES", sources);
        m_services.videoSources.refresh();
        if (!LoadSettings())
            return false;
        m_window = std::make_unique<frmSw_Mail>(
            m_services.services,
            [this] {
                ++m_end.calls;
                m_end.timerActive = m_window->camera() && m_window->camera()->Timer1->isActive();
                m_end.endButtonEnabled = Find<QPushButton>(*m_window, "bcmd_End")->isEnabled();
                m_end.scriptPresent = QFile::exists(m_home->filePath("FTP_PUT.txt"));
                m_end.savedSound = IniValue(ini(), "COM", "SOUND");
                if (m_endProbe)
                    m_endProbe();
            },
            std::move(standIns));
        return true;
    }

    bool startWindow(const QByteArray& settings = "[COM]\r\nTIMER=7\r\n",
                     const char* sources = kGoodSources, frmSw_Mail::StandIns standIns = {}) {
        return makeWindow(settings, sources, std::move(standIns)) && m_window->Start();
    }

    QTimer* timer1() const { return m_window->camera()->Timer1; }

    bool previewOn() const {
        CAPSTATUS status{};
        capGetStatus(m_window->camera()->hCapWnd, &status, sizeof status);
        return status.fLiveWindow != 0;
    }

    // The controls sDispEnabled switches, by name.
    std::vector<std::pair<QString, bool>> lockedControls() const {
        frmSw_Mail& w = *m_window;
        std::vector<std::pair<QString, bool>> states;
        for (QWidget* c : std::initializer_list<QWidget*>{
                 Find<QToolButton>(w, "cmd_Sound"), Find<QPushButton>(w, "bcmd_SendMail"),
                 Find<QPushButton>(w, "bcmd_VideoSetting"),
                 Find<QPushButton>(w, "bcmd_VideoSetting2"),
                 Find<QPushButton>(w, "bcmd_MailSetting"), Find<QPushButton>(w, "bcmd_SendMailA"),
                 Find<QPushButton>(w, "bcmd_Ftp"), Find<QPushButton>(w, "bcmd_End"),
                 Find<QPushButton>(w, "cmdKenchi"), Find<QToolButton>(w, "optPrv0"),
                 Find<QToolButton>(w, "optPrv1")})
            states.emplace_back(c->objectName(), c->isEnabled());
        for (QAction* a : {Find<QAction>(w, "mnu_sound"), Find<QAction>(w, "mnu_send"),
                           Find<QAction>(w, "mnu_vdriver"), Find<QAction>(w, "mnu_vdriver2"),
                           Find<QAction>(w, "mnu_comp"), Find<QAction>(w, "mnu_Drive"),
                           Find<QAction>(w, "mnu_sendA"), Find<QAction>(w, "mnu_mail"),
                           Find<QAction>(w, "mnu_Ftp"), Find<QAction>(w, "mnu_extra"),
                           Find<QAction>(w, "mnu_end")})
            if (a->isVisible()) // a hidden action always reads as disabled
                states.emplace_back(a->objectName(), a->isEnabled());
        return states;
    }

    // Every control of the lock list is enabled exactly when it is in `enabledOnes` (or all of
    // them with `all`), and the controls outside the list are always usable.
    void checkLocks(bool all, const QStringList& enabledOnes = {}) {
        for (const auto& [name, enabled] : lockedControls())
            QVERIFY2(enabled == (all || enabledOnes.contains(name)), qPrintable(name));
        frmSw_Mail& w = *m_window;
        for (QWidget* c : std::initializer_list<QWidget*>{
                 Find<QSlider>(w, "SliderCKTime"), Find<QSlider>(w, "SliderSeido"),
                 Find<QCheckBox>(w, "ckNoize"), w.scope()->cmdDisableScope()})
            QVERIFY2(c->isEnabled(), qPrintable(c->objectName()));
        for (QAction* a : {Find<QAction>(w, "mnu_scope"), Find<QAction>(w, "mnu_log"),
                           Find<QAction>(w, "mnu_img"), Find<QAction>(w, "mnu_avi"),
                           Find<QAction>(w, "mnu_help"), Find<QAction>(w, "mnu_ver")})
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        for (int i = 0; i < 5; ++i)
            QVERIFY(Find<QMenu>(w, QStringLiteral("mnu%1").arg(i))->isEnabled());
    }

    void checkRunning(int intervalMs) {
        checkLocks(true);
        QVERIFY(timer1()->isActive());
        QCOMPARE(timer1()->interval(), intervalMs);
        QVERIFY(previewOn());
        QVERIFY(!m_window->isStopSelected());
        QVERIFY(!m_window->isThresholdEditing());
        QCOMPARE(Find<QPushButton>(*m_window, "cmdKenchi")->property("tag").toString(),
                 QString("0"));
    }

private slots:
    void init() {
        m_home = MakeProgramFolder();
        m_boxes.shown.clear();
        m_end = {};
        m_endProbe = nullptr;
        m_services.panels.reset();
    }

    void cleanup() {
        m_window.reset();
        m_home.reset();
    }

    void startupFillsTheWindowFromTheSettingsAndRuns() {
        const QByteArray settings = "[COM]\r\nTIMER=7\r\nCKSUM=250\r\nACCURACY=33\r\nNOIZE=1\r\n"
                                    "SOUND=chimes.wav\r\n";
        QVERIFY(startWindow(settings));
        frmSw_Mail& w = *m_window;
        QCOMPARE(w.windowTitle(), QString("Pawlinex(Ver 1.1.1)"));
        QCOMPARE(Find<QLineEdit>(w, "txtCKData")->text(), QString("250"));
        QCOMPARE(Find<QSlider>(w, "SliderCKTime")->value(), 7);
        QCOMPARE(Find<QSlider>(w, "SliderSeido")->value(), 33);
        QVERIFY(Find<QCheckBox>(w, "ckNoize")->isChecked());
        QVERIFY(Find<QToolButton>(w, "optPrv0")->isChecked());
        QVERIFY(!Find<QAction>(w, "mnu_comp")->isVisible());
        checkRunning(700);
        QVERIFY(m_boxes.shown.empty());
        // Filling the controls is not a change by the user: nothing was written.
        QCOMPARE(ini(), settings);

        // The capture window lives in the capture host and is fitted to it.
        QWidget* capture = capWindowWidget(m_window->camera()->hCapWnd);
        QVERIFY(capture);
        QCOMPARE(capture->parentWidget(), static_cast<QWidget*>(w.camera()));
        QCOMPARE(capture->size(), w.camera()->size());

        const StatusPanels& panels = m_services.panels;
        QCOMPARE(panels.text(3), std::string("解像度: 160×120"));
        QCOMPARE(panels.text(4), std::string("警告音: chimes.wav"));
        QCOMPARE(panels.text(5), std::string("ﾒｰﾙｱｶｳﾝﾄ未設定"));
        QVERIFY(panels.visible(5));
        for (int i = 0; i < 5; ++i)
            QCOMPARE(
                Find<QLabel>(w, QStringLiteral("StatusPanel%1").arg(i + 1))->text().toStdString(),
                panels.text(i + 1));
        QVERIFY(Find<QLabel>(w, "StatusPanel5")->isVisible());

        // Client area 753 x 546 (menu bar excluded), the side panels at their widths.
        QCOMPARE(w.centralWidget()->width(), 753);
        QCOMPARE(w.centralWidget()->height() + w.statusBar()->height(), 546);
        QCOMPARE(Find<QWidget>(w, "picSideWindow")->width(), 133);
        QCOMPARE(Find<QWidget>(w, "picSideScope")->width(), 146);
        QCOMPARE(Find<QMdiArea>(w, "mdiArea")->width(), 753 - 133 - 146);
    }

    void soundPanelSaysNoneWithoutASoundAndMailPanelHidesForACompleteAccount() {
        QVERIFY(startWindow("[COM]\r\nTIMER=3\r\n[MAIL]\r\nMAIL=me@example.org\r\n"
                            "SMTP=127.0.0.1\t2525\r\nATT=0\r\n"));
        const StatusPanels& panels = m_services.panels;
        QCOMPARE(panels.text(4), std::string("警告音: なし"));
        QCOMPARE(panels.text(5), std::string());
        QVERIFY(!panels.visible(5));
        QVERIFY(Find<QLabel>(*m_window, "StatusPanel5")->isHidden());
        checkRunning(300);
    }

    void statusBarMirrorsEveryPanelWrite() {
        QVERIFY(startWindow());
        StatusPanels& panels = m_services.panels;
        panels.setText(1, "Pawlinex: 警報！ 誰かいるワン！!");
        panels.setText(2, "最終警報: 2026/12/07 05:40");
        QCOMPARE(Find<QLabel>(*m_window, "StatusPanel1")->text(),
                 QString("Pawlinex: 警報！ 誰かいるワン！!"));
        QCOMPARE(Find<QLabel>(*m_window, "StatusPanel2")->text(),
                 QString("最終警報: 2026/12/07 05:40"));
        panels.setVisible(5, false);
        QVERIFY(Find<QLabel>(*m_window, "StatusPanel5")->isHidden());
        panels.setVisible(5, true);
        QVERIFY(!Find<QLabel>(*m_window, "StatusPanel5")->isHidden());
    }

    // Indexes 0 and 1 fail, 2 connects; 3 would connect as well but must not be tried (a
    // connect replaces the camera, so trying it would leave index 3 connected).
    void driverLoopStopsAtTheFirstSourceThatConnects() {
        QVERIFY(startWindow("[COM]\r\n", "/nonexistent/first.avi;/nonexistent/second.avi;"
                                         "lavfi:color=c=red:s=160x120:r=10;"
                                         "lavfi:color=c=white:s=96x72:r=10"));
        CAPDRIVERCAPS caps{};
        QVERIFY(capDriverGetCaps(m_window->camera()->hCapWnd, &caps, sizeof caps));
        QCOMPARE(caps.wDeviceIndex, 2u);
        QCOMPARE(m_services.panels.text(3), std::string("解像度: 160×120"));
        QVERIFY(m_boxes.shown.empty());
        QCOMPARE(m_end.calls, 0);
    }

    void noSourceShowsOneMessageThenRunsTheClose() {
        // Ten entries that cannot open fill the list, so no camera of the machine is reached.
        QByteArray sources;
        for (int i = 0; i < 10; ++i)
            sources += "/nonexistent/camera" + QByteArray::number(i) + ".avi;";
        QVERIFY(makeWindow("[COM]\r\nTIMER=0\r\n", sources.constData()));
        QVERIFY(!m_window->Start());
        QCOMPARE(m_boxes.shown.size(), size_t(1));
        QCOMPARE(m_boxes.shown[0].icon, MessageBoxes::Icon::Critical);
        QCOMPARE(m_boxes.shown[0].title, QString("Pawlinex(Ver 1.1.1)"));
        QCOMPARE(m_boxes.shown[0].text, QString("ドライバーが見つかりません。"));
        QCOMPARE(m_end.calls, 1);
        // Saved on the way out: the loaded and clamped values.
        QCOMPARE(IniValue(ini(), "COM", "TIMER"), QByteArray("20"));
        QCOMPARE(IniValue(ini(), "COM", "CKSUM"), QByteArray("100"));
    }

    // With COMP on the compression dialog comes after the preview runs and before panels 4 and 5.
    void compressionDialogAtStartWhenCompIsOn() {
        QString dialogTitle;
        bool previewWhileOpen = true;
        std::string panel3WhileOpen, panel4WhileOpen = "unset";
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                dialogTitle = modal->windowTitle();
                previewWhileOpen = previewOn();
                panel3WhileOpen = m_services.panels.text(3);
                panel4WhileOpen = m_services.panels.text(4);
                modal->close();
                closer.stop();
            }
        });
        closer.start();
        QVERIFY(startWindow("[COM]\r\nTIMER=4\r\nCOMP=ON\r\n"));
        QVERIFY(!dialogTitle.isEmpty());
        QVERIFY(!previewWhileOpen); // paused around the dialog
        QCOMPARE(panel3WhileOpen, std::string("解像度: 160×120"));
        QCOMPARE(panel4WhileOpen, std::string());
        QVERIFY(Find<QAction>(*m_window, "mnu_comp")->isVisible());
        checkRunning(400);
        QCOMPARE(m_services.panels.text(4), std::string("警告音: なし"));
    }

    // A close that arrives while the start-up dialog is open ends the start there: nothing is
    // started behind the close sequence.
    void closeDuringTheStartupDialogStartsNothing() {
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QApplication::activeModalWidget()) {
                closer.stop();
                m_window->close();
                QApplication::activeModalWidget()->close();
            }
        });
        closer.start();
        QVERIFY(makeWindow("[COM]\r\nTIMER=7\r\nCOMP=ON\r\n", kGoodSources));
        QVERIFY(!m_window->Start());
        QCOMPARE(m_end.calls, 1);
        QVERIFY(!timer1()->isActive());
        QVERIFY(!Find<QPushButton>(*m_window, "bcmd_End")->isEnabled());
        QCOMPARE(m_services.panels.text(4), std::string());
    }

    void enableRulesOfEveryState() {
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        checkRunning(700);

        // Stopped: only the pair and Exit among the locked commands.
        Find<QToolButton>(w, "optPrv1")->click();
        QVERIFY(w.isStopSelected());
        checkLocks(false, {"optPrv0", "optPrv1", "mnu_end", "bcmd_End"});
        QVERIFY(!timer1()->isActive());
        QVERIFY(!previewOn());
        Find<QToolButton>(w, "optPrv0")->click();
        checkRunning(700);

        // Editing the threshold: everything locked but the confirm button.
        w.camera()->SkipNextCompare = false;
        Find<QPushButton>(w, "cmdKenchi")->click();
        QVERIFY(w.isThresholdEditing());
        QCOMPARE(Find<QPushButton>(w, "cmdKenchi")->text(), QString("OK(&K)"));
        QCOMPARE(Find<QPushButton>(w, "cmdKenchi")->property("tag").toString(), QString("1"));
        QVERIFY(w.camera()->SkipNextCompare);
        checkLocks(false, {"cmdKenchi"});
        QVERIFY(!timer1()->isActive());
        QVERIFY(!previewOn());
        Find<QPushButton>(w, "cmdKenchi")->click();
        QCOMPARE(Find<QPushButton>(w, "cmdKenchi")->text(), QString("変更(&K)"));
        checkRunning(700);

        // Paused around a dialog.
        w.sPauseDetection();
        checkLocks(false);
        QVERIFY(!timer1()->isActive());
        QVERIFY(!previewOn());
        w.sResumeDetection();
        checkRunning(700);
    }

    void thresholdEdit_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("backspace");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("letters are swallowed") << "a1b2!" << false << "12" << QByteArray("12");
        QTest::newRow("empty confirms as 100") << "" << false << "" << QByteArray("100");
        QTest::newRow("only letters confirm as 100") << "xyz" << false << "" << QByteArray("100");
        QTest::newRow("0 stays 0") << "0" << false << "0" << QByteArray("0");
        QTest::newRow("at most four digits") << "123456" << false << "1234" << QByteArray("1234");
        QTest::newRow("backspace passes") << "567" << true << "56" << QByteArray("56");
        QTest::newRow("full-width digits are swallowed")
            << "１２3" << false << "3" << QByteArray("3");
    }

    void thresholdEdit() {
        QFETCH(QString, typed);
        QFETCH(bool, backspace);
        QFETCH(QString, shown);
        QFETCH(QByteArray, stored);
        QVERIFY(startWindow("[COM]\r\nCKSUM=40\r\n"));
        frmSw_Mail& w = *m_window;
        Find<QPushButton>(w, "cmdKenchi")->click();
        Find<QLineEdit>(w, "txtCKData")->selectAll();
        QTest::keyClick(Find<QLineEdit>(w, "txtCKData"), Qt::Key_Backspace);
        QCOMPARE(Find<QLineEdit>(w, "txtCKData")->text(), QString());
        for (QChar c : typed) {
            if (c.unicode() < 128)
                QTest::keyClick(Find<QLineEdit>(w, "txtCKData"), c.toLatin1());
            else // a character no Latin key types, as an input method would deliver it
                QTest::sendKeyEvent(QTest::Click, Find<QLineEdit>(w, "txtCKData"), Qt::Key_unknown,
                                    QString(c), Qt::NoModifier);
        }
        if (backspace)
            QTest::keyClick(Find<QLineEdit>(w, "txtCKData"), Qt::Key_Backspace);
        QCOMPARE(Find<QLineEdit>(w, "txtCKData")->text(), shown);
        Find<QPushButton>(w, "cmdKenchi")->click();
        QCOMPARE(IniValue(ini(), "COM", "CKSUM"), stored);
        QCOMPARE(QByteArray::number(AppSettings.Com.CkSum), stored);
        QCOMPARE(Find<QLineEdit>(w, "txtCKData")->text(),
                 shown); // not rewritten with the stored value
        QVERIFY(!Find<QLineEdit>(w, "txtCKData")->isEnabled());
    }

    void pastedTextCannotBringLettersIn() {
        QVERIFY(startWindow());
        Find<QPushButton>(*m_window, "cmdKenchi")->click();
        Find<QLineEdit>(*m_window, "txtCKData")->clear();
        Find<QLineEdit>(*m_window, "txtCKData")->insert("12ab"); // the path a paste or drop takes
        QCOMPARE(Find<QLineEdit>(*m_window, "txtCKData")->text(), QString());
        Find<QLineEdit>(*m_window, "txtCKData")->insert("0815");
        QCOMPARE(Find<QLineEdit>(*m_window, "txtCKData")->text(), QString("0815"));
    }

    void eachDetectionControlSavesAtOnce() {
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\nACCURACY=10\r\nNOIZE=0\r\n"));
        frmSw_Mail& w = *m_window;

        // The running timer keeps its interval; the tick re-arms with the new value.
        Find<QSlider>(w, "SliderCKTime")->setFocus();
        for (int i = 0; i < 23; ++i)
            QTest::keyClick(Find<QSlider>(w, "SliderCKTime"), Qt::Key_Right);
        QCOMPARE(Find<QSlider>(w, "SliderCKTime")->value(), 30);
        QCOMPARE(IniValue(ini(), "COM", "TIMER"), QByteArray("30"));
        QCOMPARE(timer1()->interval(), 700);

        QTest::keyClick(Find<QSlider>(w, "SliderSeido"), Qt::Key_End);
        QCOMPARE(IniValue(ini(), "COM", "ACCURACY"), QByteArray("100"));
        QTest::keyClick(Find<QSlider>(w, "SliderSeido"), Qt::Key_Home);
        QCOMPARE(IniValue(ini(), "COM", "ACCURACY"), QByteArray("1"));

        Find<QCheckBox>(w, "ckNoize")->click();
        QCOMPARE(IniValue(ini(), "COM", "NOIZE"), QByteArray("1"));
        Find<QCheckBox>(w, "ckNoize")->click();
        QCOMPARE(IniValue(ini(), "COM", "NOIZE"), QByteArray("0"));

        // The sliders stay usable while the threshold is edited.
        Find<QPushButton>(w, "cmdKenchi")->click();
        QTest::keyClick(Find<QSlider>(w, "SliderCKTime"), Qt::Key_Left);
        QCOMPARE(IniValue(ini(), "COM", "TIMER"), QByteArray("29"));
        Find<QPushButton>(w, "cmdKenchi")->click();
        QCOMPARE(timer1()->interval(), 2900);
    }

    void scopeToggleCaptionsAndRefit() {
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        QWidget* capture = capWindowWidget(m_window->camera()->hCapWnd);
        const int narrow = w.camera()->width();

        Find<QAction>(w, "mnu_scope")->trigger();
        QVERIFY(Find<QWidget>(w, "picSideScope")->isHidden());
        QCOMPARE(Find<QAction>(w, "mnu_scope")->text(), QString("ｽｺｰﾌﾟ(&C)"));
        QCOMPARE(w.camera()->width(), narrow + 146);
        QCOMPARE(capture->size(), w.camera()->size());

        Find<QAction>(w, "mnu_scope")->trigger();
        QVERIFY(!Find<QWidget>(w, "picSideScope")->isHidden());
        QCOMPARE(Find<QAction>(w, "mnu_scope")->text(), QString("ヽｽｺｰﾌﾟ(&C)"));
        QCOMPARE(w.camera()->width(), narrow);
        QCOMPARE(capture->size(), w.camera()->size());

        w.scope()->cmdDisableScope()->click();
        QVERIFY(Find<QWidget>(w, "picSideScope")->isHidden());
        QCOMPARE(Find<QAction>(w, "mnu_scope")->text(), QString("ｽｺｰﾌﾟ(&C)"));
    }

    // The commands that open a capture dialog pause detection around it (the version dialog
    // does not), and the two video buttons add the re-priming and the resolution panel.
    void dialogCommands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("comp");
        QTest::addColumn<QStringList>("expectedPauses"); // per dialog: "paused" or "running"
        QTest::addColumn<bool>("skipSet");
        QTest::addColumn<bool>("panel3Refreshed");
        const QStringList one{"paused"};
        const QStringList two{"paused", "paused"};
        QTest::newRow("format button") << "bcmd_VideoSetting" << false << one << true << true;
        QTest::newRow("source button") << "bcmd_VideoSetting2" << false << one << true << true;
        QTest::newRow("source button with COMP")
            << "bcmd_VideoSetting2" << true << two << true << true;
        QTest::newRow("format menu") << "mnu_vdriver" << false << one << false << true;
        QTest::newRow("source menu") << "mnu_vdriver2" << false << one << false << false;
        QTest::newRow("source menu with COMP") << "mnu_vdriver2" << true << two << false << false;
        QTest::newRow("compression menu") << "mnu_comp" << true << one << false << false;
        QTest::newRow("version") << "mnu_ver" << false << QStringList{"running"} << false << false;
    }

    void dialogCommands() {
        QFETCH(QString, command);
        QFETCH(bool, comp);
        QFETCH(QStringList, expectedPauses);
        QFETCH(bool, skipSet);
        QFETCH(bool, panel3Refreshed);

        QStringList seen;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                const bool paused = !timer1()->isActive() && !previewOn() &&
                                    !Find<QPushButton>(*m_window, "bcmd_End")->isEnabled();
                const bool running = timer1()->isActive() && previewOn() &&
                                     Find<QPushButton>(*m_window, "bcmd_End")->isEnabled();
                seen << (paused ? "paused" : running ? "running" : "mixed");
                modal->close();
            }
        });
        const int startupDialogs = comp ? 1 : 0;
        closer.start();
        QVERIFY(startWindow(comp ? "[COM]\r\nTIMER=7\r\nCOMP=ON\r\n" : "[COM]\r\nTIMER=7\r\n"));
        QCOMPARE(seen.size(), startupDialogs);
        seen.clear();

        m_window->camera()->SkipNextCompare = false;
        m_services.panels.setText(3, "unchanged");
        frmSw_Mail& w = *m_window;
        if (auto* button = w.findChild<QPushButton*>(command))
            button->click();
        else
            w.findChild<QAction*>(command)->trigger();
        closer.stop();

        QCOMPARE(seen, expectedPauses);
        QCOMPARE(w.camera()->SkipNextCompare, skipSet);
        QCOMPARE(m_services.panels.text(3),
                 panel3Refreshed ? std::string("解像度: 160×120") : std::string("unchanged"));
        checkRunning(700);
        QVERIFY(w.camera()->windowTitle().isEmpty());
    }

    // A close that arrives while a clip records (from inside the recording's wait) finishes the
    // file before the process would end, so it stays playable.
    void closeDuringARecordingLeavesAPlayableClip() {
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\n", "lavfi:testsrc2=size=160x120:rate=15"));
        const QString clip = m_home->filePath("avi/clip.avi");
        QByteArray probed;
        bool indexWritten = false;
        m_endProbe = [&] {
            // The index chunk is written when the file is finished; a clip cut off without it
            // does not seek and many players refuse it.
            indexWritten = ReadFile(clip).contains("idx1");
            QProcess ffprobe;
            ffprobe.start("ffprobe",
                          {"-v", "error", "-show_entries", "format=format_name:stream=codec_name",
                           "-of", "default=nw=1", clip});
            ffprobe.waitForFinished(60000);
            probed = ffprobe.readAllStandardOutput();
        };
        CAPTUREPARMS parms{};
        capCaptureGetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms);
        parms.dwRequestMicroSecPerFrame = 33333;
        parms.fCaptureAudio = 0;
        parms.fLimitEnabled = 1;
        parms.wTimeLimit = 30;
        QVERIFY(capCaptureSetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms));
        QVERIFY(capFileSetCaptureFile(m_window->camera()->hCapWnd, clip.toStdString()));
        bool closing = false;
        capSetRecordingProgressCallback(m_window->camera()->hCapWnd, [&](int seconds, int) {
            if (seconds >= 1 && !closing) {
                closing = true;
                m_window->close();
            }
        });
        capCaptureSequence(m_window->camera()->hCapWnd);
        QCOMPARE(m_end.calls, 1);
        QVERIFY(indexWritten);
        QVERIFY2(probed.contains("format_name=avi"), probed.constData());
        QVERIFY2(probed.contains("codec_name=mjpeg"), probed.constData());
    }

    void closeSequence_data() {
        QTest::addColumn<QString>("how");
        QTest::newRow("close box") << "close";
        QTest::newRow("EXIT button") << "bcmd_End";
        QTest::newRow("exit menu") << "mnu_end";
        QTest::newRow("while editing the threshold") << "editing";
    }

    void closeSequence() {
        QFETCH(QString, how);
        CallLog commands;
        RecordingCommandRunner runner(commands);
        frmSw_Mail::StandIns standIns;
        standIns.camera.ports.command = &runner;
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\n", kGoodSources, std::move(standIns)));
        frmSw_Mail& w = *m_window;
        WriteFile(m_home->filePath("FTP_PUT.txt"), "open 127.0.0.1\r\nsecret\r\n");
        AppSettings.Com.Sound = "late.wav"; // changed in memory only: the close must save it

        if (how == "bcmd_End")
            Find<QPushButton>(w, "bcmd_End")->click();
        else if (how == "mnu_end")
            Find<QAction>(w, "mnu_end")->trigger();
        else {
            if (how == "editing")
                Find<QPushButton>(w, "cmdKenchi")->click();
            w.close();
        }

        QCOMPARE(m_end.calls, 1);
        // At the moment the process would end: timer stopped, commands locked, script gone,
        // settings saved.
        QVERIFY(!m_end.timerActive);
        QVERIFY(!m_end.endButtonEnabled);
        QVERIFY(!m_end.scriptPresent);
        QCOMPARE(m_end.savedSound, QByteArray("late.wav"));
        QVERIFY(w.closeSequenceDone());
        QCOMPARE(m_window->camera()->hCapWnd, HCAPWND(0));
        // Alarm commands still running are ended with the program.
        QCOMPARE(commands.calls, std::vector<std::string>{"AlarmCommand endAll"});

        // A second request (say a signal arriving during the close) runs nothing again.
        w.close();
        QCOMPARE(m_end.calls, 1);
    }
};

QTEST_MAIN(TestFrmSwMail)
#include "test_frmSw_Mail.moc"
