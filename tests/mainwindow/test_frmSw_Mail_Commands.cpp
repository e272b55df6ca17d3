// The commands of the menus and buttons on a real lavfi camera: which dialog each opens and the
// paused window around it, fresh dialogs per use, the mail history and folders, a failing video
// format command, and the progress bar of a recording and its upload.
#include "capture/CaptureWindow.h"
#include "capture/VideoSources.h"
#include "capture/capApi.h"
#include "capture/frm_Camera.h"
#include "common/TestServices.h"
#include "detection/FrameDifference.h"
#include "detection/MaskGrid.h"
#include "detection/ScopePanel.h"
#include "ftp/basAutoFTP.h"
#include "mail/frmMailSend.h"
#include "mail/frmMailSend_Set.h"
#include "mainwindow/frmSw_Mail.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include "MainWindowTestUtil.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

using namespace mainwindow_test;

namespace {

// Blue 160 x 120: the picture the manual send window must open with.
const char* kCamera = "lavfi:color=c=blue:s=160x120:r=10";

// What the window looked like while a dialog was open.
struct Seen {
    QString dialogClass;
    bool timerActive = true;
    bool preview = true;
    QStringList enabledLocked; // controls of the lock list that were enabled
    QStringList disabledFree;  // controls outside it that were disabled
};

} // namespace

class TestFrmSwMailCommands : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_home;
    RecordingBoxes m_boxes;
    TestServices m_services{m_boxes};
    int m_endCalls = 0;
    std::unique_ptr<frmSw_Mail> m_window;

    bool startWindow(const QByteArray& settings = "[COM]\r\nTIMER=7\r\n",
                     frmSw_Mail::StandIns standIns = {}) {
        WriteFile(m_home->filePath("pawlinex.ini"), settings);
        qputenv("PAWLINEX_VIDEO_SOURCES", kCamera);
        m_services.videoSources.refresh();
        if (!LoadSettings())
            return false;
        m_window = std::make_unique<frmSw_Mail>(
            m_services.services, [this] { ++m_endCalls; }, std::move(standIns));
        return m_window->Start();
    }

    QTimer* timer1() const { return m_window->camera()->Timer1; }

    bool previewOn() const {
        CAPSTATUS status{};
        capGetStatus(m_window->camera()->hCapWnd, &status, sizeof status);
        return status.fLiveWindow != 0;
    }

    std::vector<QObject*> lockList() const {
        frmSw_Mail& w = *m_window;
        return {Find<QToolButton>(w, "cmd_Sound"),
                Find<QPushButton>(w, "bcmd_SendMail"),
                Find<QPushButton>(w, "bcmd_VideoSetting"),
                Find<QPushButton>(w, "bcmd_VideoSetting2"),
                Find<QPushButton>(w, "bcmd_MailSetting"),
                Find<QPushButton>(w, "bcmd_SendMailA"),
                Find<QPushButton>(w, "bcmd_Ftp"),
                Find<QPushButton>(w, "bcmd_End"),
                Find<QPushButton>(w, "cmdKenchi"),
                Find<QToolButton>(w, "optPrv0"),
                Find<QToolButton>(w, "optPrv1"),
                Find<QAction>(w, "mnu_sound"),
                Find<QAction>(w, "mnu_send"),
                Find<QAction>(w, "mnu_vdriver"),
                Find<QAction>(w, "mnu_vdriver2"),
                Find<QAction>(w, "mnu_Drive"),
                Find<QAction>(w, "mnu_sendA"),
                Find<QAction>(w, "mnu_mail"),
                Find<QAction>(w, "mnu_Ftp"),
                Find<QAction>(w, "mnu_extra"),
                Find<QAction>(w, "mnu_end")};
    }

    std::vector<QObject*> alwaysFree() const {
        frmSw_Mail& w = *m_window;
        return {Find<QSlider>(w, "SliderCKTime"), Find<QSlider>(w, "SliderSeido"),
                Find<QCheckBox>(w, "ckNoize"),    w.scope()->cmdDisableScope(),
                Find<QAction>(w, "mnu_scope"),    Find<QAction>(w, "mnu_log"),
                Find<QAction>(w, "mnu_img"),      Find<QAction>(w, "mnu_avi"),
                Find<QAction>(w, "mnu_help"),     Find<QAction>(w, "mnu_ver")};
    }

    static bool enabled(QObject* o) {
        if (auto* w = qobject_cast<QWidget*>(o))
            return w->isEnabled();
        return qobject_cast<QAction*>(o)->isEnabled();
    }

    Seen look(QDialog& dialog) const {
        Seen s;
        s.dialogClass = dialog.metaObject()->className();
        s.timerActive = timer1()->isActive();
        s.preview = previewOn();
        for (QObject* o : lockList())
            if (enabled(o))
                s.enabledLocked << o->objectName();
        for (QObject* o : alwaysFree())
            if (!enabled(o))
                s.disabledFree << o->objectName();
        return s;
    }

    // Running again: the timer at TIMER x 100 ms, preview on, every command usable.
    void checkResumed(int intervalMs) {
        QVERIFY(timer1()->isActive());
        QCOMPARE(timer1()->interval(), intervalMs);
        QVERIFY(previewOn());
        for (QObject* o : lockList())
            QVERIFY2(enabled(o), qPrintable(o->objectName()));
        for (QObject* o : alwaysFree())
            QVERIFY2(enabled(o), qPrintable(o->objectName()));
    }

    void run(const QString& command) {
        if (auto* button = m_window->findChild<QAbstractButton*>(command))
            button->click();
        else
            m_window->findChild<QAction*>(command)->trigger();
    }

private slots:
    void init() {
        m_home = MakeProgramFolder();
        m_boxes.shown.clear();
        m_endCalls = 0;
        m_services.panels.reset();
    }

    void cleanup() {
        m_window.reset();
        m_home.reset();
    }

    void settingsDialogCommands_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("dialogClass");
        QTest::newRow("sound menu") << "mnu_sound"
                                    << "frmSound";
        QTest::newRow("sound button") << "cmd_Sound"
                                      << "frmSound";
        QTest::newRow("mail account menu") << "mnu_mail"
                                           << "frmMail";
        QTest::newRow("mail account button") << "bcmd_MailSetting"
                                             << "frmMail";
        QTest::newRow("automatic mail menu") << "mnu_sendA"
                                             << "frmMailSend_Set";
        QTest::newRow("automatic mail button") << "bcmd_SendMailA"
                                               << "frmMailSend_Set";
        QTest::newRow("manual send menu") << "mnu_send"
                                          << "frmMailSend";
        QTest::newRow("manual send button") << "bcmd_SendMail"
                                            << "frmMailSend";
        QTest::newRow("FTP menu") << "mnu_Ftp"
                                  << "frmFtp";
        QTest::newRow("FTP button") << "bcmd_Ftp"
                                    << "frmFtp";
        QTest::newRow("driver selection") << "mnu_Drive"
                                          << "frmSelect";
        QTest::newRow("extended settings") << "mnu_extra"
                                           << "frmExtra";
    }

    // Each opens its one dialog with the window paused (timer and preview off, every command of
    // the lock list disabled, the free ones still usable), and runs again afterwards. None of
    // them re-primes the detector or touches the resolution panel.
    void settingsDialogCommands() {
        QFETCH(QString, command);
        QFETCH(QString, dialogClass);
        std::vector<Seen> seen;
        bool parentIsWindow = false;
        frmSw_Mail::StandIns standIns;
        standIns.dialogs = [&](QDialog& dialog) {
            seen.push_back(look(dialog));
            parentIsWindow = dialog.parentWidget() == m_window.get();
            return int(QDialog::Rejected);
        };
        QVERIFY(startWindow("[COM]\r\nTIMER=9\r\n", std::move(standIns)));
        m_services.panels.setText(3, "unchanged");

        run(command);

        QCOMPARE(seen.size(), size_t(1));
        QCOMPARE(seen[0].dialogClass, dialogClass);
        QVERIFY(parentIsWindow);
        QVERIFY(!seen[0].timerActive);
        QVERIFY(!seen[0].preview);
        QCOMPARE(seen[0].enabledLocked, QStringList());
        QCOMPARE(seen[0].disabledFree, QStringList());
        checkResumed(900);
        QVERIFY(!m_window->camera()->SkipNextCompare);
        QCOMPARE(m_services.panels.text(3), std::string("unchanged"));
        QVERIFY(m_boxes.shown.empty());
    }

    // The manual send window and the automatic mail dialog are made for one use and gone after
    // it; the next use starts from the picture of that moment and from the stored settings.
    void freshDialogsPerUse() {
        QPointer<QDialog> previous;
        QStringList subjects;
        QImage picture;
        frmSw_Mail::StandIns standIns;
        standIns.dialogs = [&](QDialog& dialog) {
            previous = &dialog;
            if (auto* send = qobject_cast<frmMailSend*>(&dialog)) {
                auto* subject = send->findChild<QLineEdit*>("txtSubject");
                subjects << subject->text();
                picture = send->picture();
                subject->setText("typed before cancel");
            } else if (auto* set = qobject_cast<frmMailSend_Set*>(&dialog)) {
                auto* subject = set->findChild<QLineEdit*>("txtSubject");
                subjects << subject->text();
                subject->setText("typed before cancel");
            }
            return int(QDialog::Rejected);
        };
        QVERIFY(
            startWindow("[COM]\r\nTIMER=7\r\n[0TRG]\r\nSUBJECT=stored\r\n", std::move(standIns)));

        for (const char* command : {"bcmd_SendMail", "mnu_send"}) {
            run(command);
            QVERIFY2(previous.isNull(), command); // released when the command ended
            // The camera's picture, not the placeholder: blue at the camera's size.
            QCOMPARE(picture.size(), QSize(160, 120));
            const QColor centre = picture.pixelColor(80, 60);
            QVERIFY2(centre.blue() > 200 && centre.red() < 40 && centre.green() < 40,
                     qPrintable(centre.name()));
        }
        for (const char* command : {"bcmd_SendMailA", "mnu_sendA"}) {
            run(command);
            QVERIFY2(previous.isNull(), command);
        }
        QCOMPARE(subjects, QStringList({"", "", "stored", "stored"}));
        checkResumed(700);
    }

    // The extended settings come last in the tools menu, behind a separator of their own, and
    // open on the camera's picture of that moment.
    void extendedSettingsShowTheCameraPicture() {
        QImage picture;
        frmSw_Mail::StandIns standIns;
        standIns.dialogs = [&](QDialog& dialog) {
            if (auto* grid = dialog.findChild<MaskGrid*>())
                picture = grid->picture();
            return int(QDialog::Rejected);
        };
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\n", std::move(standIns)));
        const QList<QAction*> tools = Find<QMenu>(*m_window, "mnu3")->actions();
        QVERIFY(tools.size() >= 2);
        QVERIFY(tools[tools.size() - 2]->isSeparator());
        QCOMPARE(tools.last()->text(), QStringLiteral("拡張設定(&E)"));
        run("mnu_extra");
        QCOMPARE(picture.size(), QSize(160, 120));
        const QColor centre = picture.pixelColor(80, 60);
        QVERIFY2(centre.blue() > 200 && centre.red() < 40 && centre.green() < 40,
                 qPrintable(centre.name()));
        checkResumed(700);
    }

    void mailLogAndFolders_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("target"); // relative to the program folder
        QTest::addColumn<bool>("present");   // file or folder exists
        QTest::addColumn<bool>("openerWorks");
        QTest::addColumn<bool>("opened");
        QTest::addColumn<int>("boxIcon"); // -1 none shown
        QTest::addColumn<QString>("boxText");
        const int none = int(MessageBoxes::Icon::None);
        const int critical = int(MessageBoxes::Icon::Critical);
        QTest::newRow("log opens") << "mnu_log"
                                   << "mail.log.txt" << true << true << true << -1 << "";
        QTest::newRow("no log yet")
            << "mnu_log"
            << "mail.log.txt" << false << true << false << none << "ﾒｰﾙ送信履歴はまだありません。";
        QTest::newRow("no editor") << "mnu_log"
                                   << "mail.log.txt" << true << false << true << critical
                                   << "ﾃｷｽﾄｴﾃﾞｨﾀを起動できませんでした。";
        QTest::newRow("img opens") << "mnu_img"
                                   << "img/" << true << true << true << -1 << "";
        QTest::newRow("avi opens") << "mnu_avi"
                                   << "avi/" << true << true << true << -1 << "";
        QTest::newRow("help opens") << "mnu_help"
                                    << "help/" << true << true << true << -1 << "";
        QTest::newRow("folder missing")
            << "mnu_avi"
            << "avi/" << false << true << false << critical << "ﾌｫﾙﾀﾞが見つかりません。";
        QTest::newRow("no browser")
            << "mnu_img"
            << "img/" << true << false << true << critical << "ﾌｧｲﾙﾌﾞﾗｳｻﾞを起動できませんでした。";
    }

    // Neither pauses detection, and both work while the commands are locked.
    void mailLogAndFolders() {
        QFETCH(QString, command);
        QFETCH(QString, target);
        QFETCH(bool, present);
        QFETCH(bool, openerWorks);
        QFETCH(bool, opened);
        QFETCH(int, boxIcon);
        QFETCH(QString, boxText);
        QList<QUrl> urls;
        bool timerRanMeanwhile = false;
        frmSw_Mail::StandIns standIns;
        standIns.urls = [&](const QUrl& url) {
            urls << url;
            timerRanMeanwhile = timer1()->isActive();
            return openerWorks;
        };
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\n", std::move(standIns)));
        const QString path = m_home->filePath(target);
        if (target.endsWith('/')) {
            if (!present)
                QVERIFY(QDir(path).removeRecursively());
        } else if (present) {
            WriteFile(path, "2026/12/07 05:40 OK\r\n");
        }

        for (bool locked : {false, true}) {
            urls.clear();
            m_boxes.shown.clear();
            m_window->sDispEnabled(!locked); // as during an alarm's actions
            run(command);
            QCOMPARE(urls.size(), opened ? 1 : 0);
            if (opened) {
                QCOMPARE(urls[0].toLocalFile(), path);
                QVERIFY(timerRanMeanwhile);
            }
            QCOMPARE(int(m_boxes.shown.size()), boxIcon < 0 ? 0 : 1);
            if (boxIcon >= 0) {
                QCOMPARE(int(m_boxes.shown[0].icon), boxIcon);
                QCOMPARE(m_boxes.shown[0].title, m_window->windowTitle());
                QVERIFY2(m_boxes.shown[0].text.startsWith(boxText),
                         qPrintable(m_boxes.shown[0].text));
                QVERIFY(m_boxes.shown[0].text.contains(path));
            }
        }
        m_window->sDispEnabled(true);
        QVERIFY(timer1()->isActive());
    }

    // Without a camera the format command cannot run: the capture host says so in its caption
    // and detection still resumes. The next run that works clears the caption.
    void failedVideoFormatResumesDetection() {
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        QVERIFY(capDriverDisconnect(m_window->camera()->hCapWnd));
        Find<QAction>(w, "mnu_vdriver")->trigger();
        QCOMPARE(w.camera()->windowTitle(), QString("ﾋﾞﾃﾞｵﾌｫｰﾏｯﾄ設定ｴﾗｰ"));
        QVERIFY(timer1()->isActive());
        QCOMPARE(timer1()->interval(), 700);
        for (QObject* o : lockList())
            QVERIFY2(enabled(o), qPrintable(o->objectName()));

        QVERIFY(capDriverConnect(m_window->camera()->hCapWnd, 0));
        capPreview(m_window->camera()->hCapWnd, true);
        bool dialogShown = false;
        QTimer closer;
        closer.setInterval(20);
        connect(&closer, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                dialogShown = true;
                modal->close();
            }
        });
        closer.start();
        Find<QPushButton>(w, "bcmd_VideoSetting")->click();
        closer.stop();
        QVERIFY(dialogShown);
        QVERIFY(w.camera()->windowTitle().isEmpty());
        QCOMPARE(m_services.panels.text(3), std::string("解像度: 160×120"));
        checkResumed(700);
    }

    // A recording shows its seconds out of the clip length inside panel 1, right of its text:
    // every panel keeps its width and shows its whole text; outside the alarm's actions the bar
    // goes when the clip ends.
    void progressBarFollowsARecording() {
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        QVERIFY(Find<QProgressBar>(w, "prgAction")->isHidden());
        w.camera()->stopTimer1(); // as the alarm does: no tick rewrites panel 1 meanwhile
        StatusPanels& panels = m_services.panels;
        panels.setText(1, "Pawlinex: 動画録画中･･･");
        panels.setText(2, "最終警報: 2026/12/07 05:40");
        panels.setText(4, "警告音: bell.oga");
        QVERIFY(panels.visible(5)); // no mail account: all five panels show

        CAPTUREPARMS parms{};
        capCaptureGetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms);
        parms.fCaptureAudio = 0;
        parms.fLimitEnabled = 1;
        parms.wTimeLimit = 2;
        QVERIFY(capCaptureSetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms));
        QVERIFY(capFileSetCaptureFile(m_window->camera()->hCapWnd,
                                      m_home->filePath("avi/clip.avi").toStdString()));

        QList<int> values;
        QList<int> widthsBefore;
        QApplication::processEvents(); // the status bar's layout after the new texts
        for (int i = 1; i <= 5; ++i)
            widthsBefore << Find<QLabel>(w, QStringLiteral("StatusPanel%1").arg(i))->width();
        int maximum = -1;
        QStringList faults;
        connect(capWindow(m_window->camera()->hCapWnd), &CaptureWindow::recordingProgress, this,
                [&](int, int) {
                    if (!Find<QProgressBar>(w, "prgAction")->isVisible())
                        return;
                    values << Find<QProgressBar>(w, "prgAction")->value();
                    maximum = Find<QProgressBar>(w, "prgAction")->maximum();
                    for (int i = 0; i < 5; ++i) {
                        QLabel* panel = Find<QLabel>(w, QStringLiteral("StatusPanel%1").arg(i + 1));
                        const int textRight = panel->contentsRect().left() + panel->indent() +
                                              panel->fontMetrics().horizontalAdvance(panel->text());
                        if (panel->width() != widthsBefore[i])
                            faults << QString("panel %1 resized").arg(i + 1);
                        if (textRight > panel->contentsRect().right())
                            faults << QString("panel %1 clipped").arg(i + 1);
                        if (i == 0 &&
                            (Find<QProgressBar>(w, "prgAction")->parentWidget() != panel ||
                             Find<QProgressBar>(w, "prgAction")->geometry().left() <= textRight ||
                             Find<QProgressBar>(w, "prgAction")->geometry().right() >
                                 panel->contentsRect().right()))
                            faults << "bar over panel 1's text or outside it";
                    }
                });
        QVERIFY(capCaptureSequence(m_window->camera()->hCapWnd));
        QVERIFY(!values.isEmpty());
        QCOMPARE(maximum, 2);
        for (int i = 1; i < values.size(); ++i)
            QVERIFY(values[i] >= values[i - 1]);
        QVERIFY(values.last() <= 2);
        faults.removeDuplicates();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(", ")));
        QCOMPARE(Find<QLabel>(w, "StatusPanel1")->text(), QString("Pawlinex: 動画録画中･･･"));
        QVERIFY(Find<QProgressBar>(w, "prgAction")->isHidden());
    }

    // Alt with a menu title's letter opens that menu even where a button has the same letter
    // (FTPと動画設定(&P)); two buttons sharing a letter (&S) take turns for the focus, and
    // neither key runs a command.
    void menuMnemonicsWinOverButtons() {
        QStringList ran;
        frmSw_Mail::StandIns standIns;
        standIns.dialogs = [&](QDialog& dialog) {
            ran << dialog.metaObject()->className();
            return int(QDialog::Rejected);
        };
        QVERIFY(startWindow("[COM]\r\nTIMER=7\r\n", std::move(standIns)));
        frmSw_Mail& w = *m_window;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const Qt::Key keys[5] = {Qt::Key_P, Qt::Key_V, Qt::Key_T, Qt::Key_O, Qt::Key_L};
        for (int i = 0; i < 5; ++i) {
            QTest::keyClick(&w, keys[i], Qt::AltModifier);
            QTRY_COMPARE(QApplication::activePopupWidget(),
                         static_cast<QWidget*>(Find<QMenu>(w, QStringLiteral("mnu%1").arg(i))));
            Find<QMenu>(w, QStringLiteral("mnu%1").arg(i))->close();
            QTRY_VERIFY(!QApplication::activePopupWidget());
        }
        QVERIFY(!Find<QPushButton>(w, "bcmd_Ftp")->hasFocus());

        QList<QWidget*> focused;
        for (int press = 0; press < 4; ++press) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w,
                            Qt::Key_S, Qt::AltModifier);
            focused << QApplication::focusWidget();
        }
        QVERIFY(focused[0] == Find<QPushButton>(w, "bcmd_SendMail") ||
                focused[0] == Find<QPushButton>(w, "bcmd_VideoSetting2"));
        QVERIFY(focused[1] == Find<QPushButton>(w, "bcmd_SendMail") ||
                focused[1] == Find<QPushButton>(w, "bcmd_VideoSetting2"));
        QVERIFY(focused[0] != focused[1]);
        QCOMPARE(focused[2], focused[0]);
        QCOMPARE(focused[3], focused[1]);
        QVERIFY2(ran.isEmpty(), qPrintable(ran.join(", ")));
        checkResumed(700);
    }

    void helpKey_data() {
        QTest::addColumn<QByteArray>("opener"); // the fake xdg-open; empty: none on PATH
        QTest::addColumn<bool>("message");
        QTest::newRow("browser opens it") << QByteArray("exit 0") << false;
        QTest::newRow("nothing can open it") << QByteArray("exit 3") << true;
        QTest::newRow("no opener installed") << QByteArray() << true;
    }

    // F1 from any part of the window hands help/index.html to xdg-open; when the opener fails or
    // is missing a message gives the page's path. Detection goes on meanwhile.
    void helpKey() {
        QFETCH(QByteArray, opener);
        QFETCH(bool, message);
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        const QString page = m_home->filePath("help/index.html");
        WriteFile(page, "<html></html>");
        QTemporaryDir bin;
        const QString record = bin.filePath("opened");
        if (!opener.isEmpty()) {
            const QString script = bin.filePath("xdg-open");
            WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" + record.toUtf8() + "'\n" +
                                  opener + "\n");
            QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", opener.isEmpty() ? bin.path().toUtf8() : bin.path().toUtf8() + ":" + path);
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const QList<QWidget*> targets = {&w, w.camera(), w.scope(),
                                         Find<QSlider>(w, "SliderSeido")};
        for (int i = 0; i < targets.size(); ++i) {
            QTest::keyClick(targets[i], Qt::Key_F1);
            if (message) {
                QTRY_COMPARE(int(m_boxes.shown.size()), i + 1);
                QCOMPARE(int(m_boxes.shown[i].icon), int(MessageBoxes::Icon::Critical));
                QVERIFY(m_boxes.shown[i].text.contains(page));
            }
            if (!opener.isEmpty())
                QTRY_COMPARE(ReadFile(record), QString(page + "\n").repeated(i + 1).toUtf8());
        }
        qputenv("PATH", path);
        // Once the openers have finished, a good one has left no message behind.
        QTRY_VERIFY(w.findChildren<QProcess*>().isEmpty());
        QCOMPARE(int(m_boxes.shown.size()), message ? int(targets.size()) : 0);
        QVERIFY(timer1()->isActive());
    }

    // Inside the alarm's actions the bar stays after the clip for its upload, turns into a busy
    // bar while the FTP client runs, and goes as soon as the upload has ended.
    void progressBarWaitsForTheUpload() {
        QVERIFY(startWindow());
        frmSw_Mail& w = *m_window;
        // The alarm stops the timer and locks the commands before recording.
        w.camera()->stopTimer1();
        w.sDispEnabled(false);

        CAPTUREPARMS parms{};
        capCaptureGetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms);
        parms.fCaptureAudio = 0;
        parms.fLimitEnabled = 1;
        parms.wTimeLimit = 1;
        QVERIFY(capCaptureSetSetup(m_window->camera()->hCapWnd, &parms, sizeof parms));
        const QString clip = m_home->filePath("avi/clip.avi");
        QVERIFY(capFileSetCaptureFile(m_window->camera()->hCapWnd, clip.toStdString()));
        QVERIFY(capCaptureSequence(m_window->camera()->hCapWnd));
        QVERIFY(Find<QProgressBar>(w, "prgAction")->isVisible());

        // A client that runs until the test has seen the busy bar.
        const QString release = m_home->filePath("release");
        const QString client = m_home->filePath("fake-ftp.sh");
        WriteFile(client,
                  "#!/bin/sh\nwhile [ ! -f '" + release.toUtf8() + "' ]; do sleep 0.05; done\n");
        QFile::setPermissions(client, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PAWLINEX_FTP_CLIENT", client.toUtf8());
        m_services.ftp.FtpAppPath = m_home->path().toStdString();
        m_services.ftp.FtpHost = "127.0.0.1";
        m_services.ftp.FtpUser = "anonymous";
        m_services.ftp.FtpPass = "x";

        bool busySeen = false;
        QTimer watcher;
        watcher.setInterval(20);
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (m_services.ftp.AutoFTPRunning() &&
                Find<QProgressBar>(w, "prgAction")->isVisible() &&
                Find<QProgressBar>(w, "prgAction")->maximum() == 0) {
                busySeen = true;
                WriteFile(release, "go");
            }
        });
        watcher.start();
        std::string remote = "clip.avi", local = clip.toStdString(), mode = "binary";
        m_services.ftp.AutoFTP(remote, local, "", mode);
        watcher.stop();
        qunsetenv("PAWLINEX_FTP_CLIENT");
        QVERIFY(busySeen);

        QVERIFY(Find<QProgressBar>(w, "prgAction")->isHidden());
        w.sDispEnabled(true);
        QVERIFY(Find<QProgressBar>(w, "prgAction")->isHidden());
    }
};

QTEST_MAIN(TestFrmSwMailCommands)
#include "test_frmSw_Mail_Commands.moc"
