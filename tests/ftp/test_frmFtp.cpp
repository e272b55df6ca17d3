// frmFtp: loading, the click rules between its check boxes, validation and what OK stores.

#include "ftp/frmFtp.h"
#include "settings/AppSettings.h"
#include "settings/MessageBoxes.h"
#include "settings/basSettings.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>

class TestFrmFtp : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QStringList m_errors;
    // Every box the dialog shows, as "title|text".
    class ErrorList : public MessageBoxes {
    public:
        explicit ErrorList(QStringList& errors) : m_list(errors) {}
        void showOk(QWidget*, Icon, const QString& title, const QString& text) override {
            m_list << title + "|" + text;
        }

    private:
        QStringList& m_list;
    } m_boxes{m_errors};

    template <typename T> static T* child(frmFtp& dlg, const char* name) {
        T* w = dlg.findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }

    QString iniPath() const { return m_home.path() + "/pawlinex.ini"; }

    static FtpSettings sample() {
        FtpSettings f;
        f.Move = true;
        f.Ftp = false;
        f.Host = "ftp.example.org";
        f.User = "bob";
        f.Pass = "pw";
        f.Holder = "/clips";
        f.FileName = true;
        f.Time = 12;
        f.Audio = true;
        return f;
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

    // Texts arrive trimmed of spaces, a short recording time shows as 5, and a loaded FTP that
    // is on ticks video saving even when the stored MOVE is off.
    void loadingShowsTheSettings() {
        AppSettings.Ftp = sample();
        AppSettings.Ftp.Move = false;
        AppSettings.Ftp.Ftp = true;
        AppSettings.Ftp.Host = "  host name  ";
        AppSettings.Ftp.User = " u\t";
        AppSettings.Ftp.Time = 3;
        frmFtp dlg(m_boxes);
        QCOMPARE(dlg.windowTitle(), QStringLiteral("FTPと動画設定"));
        QVERIFY(child<QCheckBox>(dlg, "ckFtpExe")->isChecked());
        QVERIFY(child<QCheckBox>(dlg, "ckMakeAvi")->isChecked());
        QVERIFY(!child<QCheckBox>(dlg, "ckanonymous")->isChecked());
        QCOMPARE(child<QLineEdit>(dlg, "txtHost")->text(), QStringLiteral("host name"));
        QCOMPARE(child<QLineEdit>(dlg, "txtUser")->text(), QStringLiteral("u\t"));
        QCOMPARE(child<QLineEdit>(dlg, "txtPass")->text(), QStringLiteral("pw"));
        QCOMPARE(child<QLineEdit>(dlg, "txtPass")->echoMode(), QLineEdit::Password);
        QCOMPARE(child<QLineEdit>(dlg, "txtHolder")->text(), QStringLiteral("/clips"));
        QCOMPARE(child<QLineEdit>(dlg, "txtHolder")->maxLength(), 220);
        QCOMPARE(child<QLineEdit>(dlg, "txtHost")->maxLength(), 80);
        QVERIFY(child<QCheckBox>(dlg, "ckFileName")->isChecked());
        QVERIFY(child<QCheckBox>(dlg, "ckAudio")->isChecked());
        QCOMPARE(child<QSlider>(dlg, "SliderTime")->value(), 5);

        AppSettings.Ftp.Ftp = false;
        AppSettings.Ftp.Time = 30;
        frmFtp off(m_boxes);
        QVERIFY(!child<QCheckBox>(off, "ckMakeAvi")->isChecked());
        QCOMPARE(child<QSlider>(off, "SliderTime")->value(), 30);
    }

    // A stored value longer than a field's typing limit is shown whole and stored whole again.
    void longStoredValuesAreNeverCut() {
        AppSettings.Ftp = sample();
        AppSettings.Ftp.Host = std::string(100, 'h') + " 2121";
        AppSettings.Ftp.User = std::string(81, 'u');
        AppSettings.Ftp.Pass = std::string(120, 'p');
        AppSettings.Ftp.Holder = "/" + std::string(299, 'f');
        frmFtp dlg(m_boxes);
        QCOMPARE(child<QLineEdit>(dlg, "txtHost")->text().size(), 105);
        QCOMPARE(child<QLineEdit>(dlg, "txtUser")->text().size(), 81);
        QCOMPARE(child<QLineEdit>(dlg, "txtPass")->text().size(), 120);
        QCOMPARE(child<QLineEdit>(dlg, "txtHolder")->text().size(), 300);
        child<QPushButton>(dlg, "bcmdOK")->click();
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(AppSettings.Ftp.Host, std::string(100, 'h') + " 2121");
        QCOMPARE(AppSettings.Ftp.User, std::string(81, 'u'));
        QCOMPARE(AppSettings.Ftp.Pass, std::string(120, 'p'));
        QCOMPARE(AppSettings.Ftp.Holder, "/" + std::string(299, 'f'));
    }

    // A pasted address fills the fields it carries; a host that is no host form stays while the
    // upload is off. Every host form is in test_FtpSettingsForm.
    void hostFormsAreSplitIntoTheFields_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("host");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("pass");
        QTest::addColumn<QString>("folder");
        QTest::newRow("whole address") << "ftp://u:p%40ss@h:21/dir/sub"
                                       << "h 21"
                                       << "u"
                                       << "p@ss"
                                       << "dir/sub";
        // FTP is off here, so a host that is no host form is kept as typed.
        QTest::newRow("not a host form") << "a b c"
                                         << "a b c"
                                         << "bob"
                                         << "pw"
                                         << "/clips";
    }

    void hostFormsAreSplitIntoTheFields() {
        QFETCH(QString, typed);
        AppSettings.Ftp = sample();
        frmFtp dlg(m_boxes);
        child<QLineEdit>(dlg, "txtHost")->setText(typed);
        child<QPushButton>(dlg, "bcmdOK")->click();
        QVERIFY(m_errors.isEmpty());
        QTEST(QString::fromStdString(AppSettings.Ftp.Host), "host");
        QTEST(QString::fromStdString(AppSettings.Ftp.User), "user");
        QTEST(QString::fromStdString(AppSettings.Ftp.Pass), "pass");
        QTEST(QString::fromStdString(AppSettings.Ftp.Holder), "folder");
        QTEST(child<QLineEdit>(dlg, "txtHost")->text(), "host");
        QTEST(child<QLineEdit>(dlg, "txtUser")->text(), "user");
        QTEST(child<QLineEdit>(dlg, "txtHolder")->text(), "folder");
    }

    // What cannot be stored is refused with its message and the focus on its field; nothing
    // is stored and no file written. Every refused input is in test_FtpSettingsForm.
    void okRefusesWhatCannotBeStored_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ftpOn");
        QTest::addColumn<QString>("message");
        const QString ctl = QStringLiteral("に制御文字は使えません。");
        const QString badForm = QStringLiteral("ﾎｽﾄ名の形式が正しくありません。");
        QTest::newRow("host VT") << "txtHost"
                                 << "h\x0b"
                                    "DELE y"
                                 << false << "ﾎｽﾄ名" + ctl;
        QTest::newRow("user LF") << "txtUser"
                                 << "bob\nDELE x" << false << "ﾕｰｻﾞｰ名" + ctl;
        QTest::newRow("password CR") << "txtPass"
                                     << "pw\rDELE x" << true << "ﾊﾟｽﾜｰﾄﾞ" + ctl;
        QTest::newRow("folder VT") << "txtHolder"
                                   << "cl\"ips x\x0b"
                                      "DELE y"
                                   << true << "ﾎｽﾄの保存先ﾌｫﾙﾀﾞ" + ctl;
        QTest::newRow("port out of range") << "txtHost"
                                           << "h:65536" << true << badForm;
    }

    void okRefusesWhatCannotBeStored() {
        QFETCH(QString, field);
        QFETCH(QString, text);
        QFETCH(bool, ftpOn);
        QFETCH(QString, message);
        AppSettings.Ftp = sample();
        AppSettings.Ftp.Ftp = ftpOn;
        const FtpSettings before = AppSettings.Ftp;
        frmFtp dlg(m_boxes);
        auto* edit = child<QLineEdit>(dlg, field.toLatin1().constData());
        edit->setText(text);
        child<QPushButton>(dlg, "bcmdOK")->click();
        QCOMPARE(m_errors, QStringList{QStringLiteral("FTPと動画設定|") + message});
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QCOMPARE(dlg.focusWidget(), edit);
        QCOMPARE(AppSettings.Ftp.Host, before.Host);
        QCOMPARE(AppSettings.Ftp.User, before.User);
        QCOMPARE(AppSettings.Ftp.Pass, before.Pass);
        QCOMPARE(AppSettings.Ftp.Holder, before.Holder);
        QVERIFY(!QFile::exists(iniPath()));
    }

    void clickRules() {
        AppSettings.Ftp = sample();
        AppSettings.Ftp.Move = false;
        frmFtp dlg(m_boxes);
        auto* makeAvi = child<QCheckBox>(dlg, "ckMakeAvi");
        auto* ftpExe = child<QCheckBox>(dlg, "ckFtpExe");
        auto* anonymous = child<QCheckBox>(dlg, "ckanonymous");
        auto* user = child<QLineEdit>(dlg, "txtUser");
        auto* pass = child<QLineEdit>(dlg, "txtPass");

        ftpExe->click(); // on: video saving follows
        QVERIFY(makeAvi->isChecked());
        makeAvi->click(); // cannot be cleared while FTP is on
        QVERIFY(makeAvi->isChecked());
        ftpExe->click(); // off: video saving stays as it is
        QVERIFY(!ftpExe->isChecked());
        QVERIFY(makeAvi->isChecked());
        makeAvi->click();
        QVERIFY(!makeAvi->isChecked());

        anonymous->click();
        QCOMPARE(user->text(), QStringLiteral("anonymous"));
        QCOMPARE(pass->text(), QString());
        pass->setText("guest@");
        anonymous->click();
        QCOMPARE(user->text(), QString());
        QCOMPARE(pass->text(), QString());
    }

    // With FTP on, a host of only spaces is refused: message titled with the caption, dialog
    // open, settings and file untouched. With FTP off an empty host is fine.
    void okRequiresAHostOnlyWhenFtpIsOn() {
        AppSettings.Ftp = sample();
        const FtpSettings before = AppSettings.Ftp;
        frmFtp dlg(m_boxes);
        child<QCheckBox>(dlg, "ckFtpExe")->click();
        child<QLineEdit>(dlg, "txtHost")->setText("   ");
        child<QPushButton>(dlg, "bcmdOK")->click();
        QCOMPARE(m_errors, QStringList{QStringLiteral("FTPと動画設定|ﾎｽﾄ名を入力して下さい。")});
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!AppSettings.Ftp.Ftp);
        QCOMPARE(AppSettings.Ftp.Host, before.Host);
        QVERIFY(!QFile::exists(iniPath()));

        child<QCheckBox>(dlg, "ckFtpExe")->click();
        child<QPushButton>(dlg, "bcmdOK")->click();
        QCOMPARE(m_errors.size(), 1);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(AppSettings.Ftp.Host, std::string());
        QVERIFY(QFile::exists(iniPath()));
    }

    // OK stores every control, texts trimmed of U+0020 spaces only, and writes the file: a fresh
    // load gives the same values back.
    void okStoresAndSaves() {
        AppSettings.Ftp.Time = 3;
        frmFtp dlg(m_boxes);
        child<QCheckBox>(dlg, "ckFtpExe")->click();
        child<QLineEdit>(dlg, "txtHost")->setText("  127.0.0.1 2121 ");
        child<QLineEdit>(dlg, "txtUser")->setText(" alice");
        child<QLineEdit>(dlg, "txtPass")->setText("p a\u3000ss ");
        child<QLineEdit>(dlg, "txtHolder")->setText(" up/clips ");
        child<QCheckBox>(dlg, "ckFileName")->click();
        child<QCheckBox>(dlg, "ckAudio")->click();
        child<QPushButton>(dlg, "bcmdOK")->click();
        QVERIFY(m_errors.isEmpty());
        QCOMPARE(dlg.result(), int(QDialog::Accepted));

        AppSettings = AppSettingsRecord{};
        QVERIFY(LoadSettings());
        const FtpSettings& f = AppSettings.Ftp;
        QVERIFY(f.Move);
        QVERIFY(f.Ftp);
        QCOMPARE(f.Host, std::string("127.0.0.1 2121"));
        QCOMPARE(f.User, std::string("alice"));
        QCOMPARE(f.Pass, std::string("p a\u3000ss"));
        QCOMPARE(f.Holder, std::string("up/clips"));
        QVERIFY(f.FileName);
        QVERIFY(f.Audio);
        QCOMPARE(int(f.Time), 5);
    }

    void cancelKeepsEverything() {
        AppSettings.Ftp = sample();
        frmFtp dlg(m_boxes);
        child<QCheckBox>(dlg, "ckFtpExe")->click();
        child<QLineEdit>(dlg, "txtHost")->setText("other");
        child<QSlider>(dlg, "SliderTime")->setValue(25);
        child<QPushButton>(dlg, "bcmdCancel")->click();
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        QVERIFY(!AppSettings.Ftp.Ftp);
        QCOMPARE(AppSettings.Ftp.Host, std::string("ftp.example.org"));
        QCOMPARE(int(AppSettings.Ftp.Time), 12);
        QVERIFY(!QFile::exists(iniPath()));
    }
};

QTEST_MAIN(TestFrmFtp)
#include "test_frmFtp.moc"
