// frmFtp: loading, the click rules between its check boxes, validation and what OK stores.

#include "ftp/frmFtp.h"
#include "settings/AppSettings.h"
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

    template <typename T> static T* child(frmFtp& dlg, const char* name) {
        T* w = dlg.findChild<T*>(QString::fromLatin1(name));
        if (!w)
            qFatal("control %s missing", name);
        return w;
    }

    void watchErrors(frmFtp& dlg) {
        dlg.setErrorBox([this](QWidget*, const QString& title, const QString& text) {
            m_errors << title + "|" + text;
        });
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
        frmFtp dlg;
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
        frmFtp off;
        QVERIFY(!child<QCheckBox>(off, "ckMakeAvi")->isChecked());
        QCOMPARE(child<QSlider>(off, "SliderTime")->value(), 30);
    }

    void clickRules() {
        AppSettings.Ftp = sample();
        AppSettings.Ftp.Move = false;
        frmFtp dlg;
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
        frmFtp dlg;
        watchErrors(dlg);
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

    // OK stores every control, texts trimmed of spaces only, and writes the file: a fresh load
    // gives the same values back.
    void okStoresAndSaves() {
        AppSettings.Ftp.Time = 3;
        frmFtp dlg;
        watchErrors(dlg);
        child<QCheckBox>(dlg, "ckFtpExe")->click();
        child<QLineEdit>(dlg, "txtHost")->setText("  127.0.0.1 2121 ");
        child<QLineEdit>(dlg, "txtUser")->setText(" alice");
        child<QLineEdit>(dlg, "txtPass")->setText("p a\tss ");
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
        QCOMPARE(f.Pass, std::string("p a\tss"));
        QCOMPARE(f.Holder, std::string("up/clips"));
        QVERIFY(f.FileName);
        QVERIFY(f.Audio);
        QCOMPARE(int(f.Time), 5);
    }

    void cancelKeepsEverything() {
        AppSettings.Ftp = sample();
        frmFtp dlg;
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
