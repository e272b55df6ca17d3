// The mail account dialog: what it shows, which fields it enables, where a failed check puts the
// cursor, and what OK stores and saves. The checks themselves are in test_MailAccountForm.

#include "mail/MailDialogTest.h"
#include "mail/frmMail.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>

using namespace mail_test;

namespace {

// The dialog's controls, found by their design names.
struct Controls {
    explicit Controls(frmMail& d)
        : txtMail(Child<QLineEdit>(d, "txtMail")), txtSmtp(Child<QLineEdit>(d, "txtSmtp")),
          txtSmtpPort(Child<QLineEdit>(d, "txtSmtpPort")),
          chkAttestation(Child<QCheckBox>(d, "chkAttestation")),
          optAt{Child<QRadioButton>(d, "optAt0"), Child<QRadioButton>(d, "optAt1")},
          chkAtCram(Child<QCheckBox>(d, "chkAtCram")),
          txtSmtpUser(Child<QLineEdit>(d, "txtSmtpUser")),
          txtSmtpPass(Child<QLineEdit>(d, "txtSmtpPass")), txtPop(Child<QLineEdit>(d, "txtPop")),
          txtPopPort(Child<QLineEdit>(d, "txtPopPort")), txtUser(Child<QLineEdit>(d, "txtUser")),
          txtPass(Child<QLineEdit>(d, "txtPass")), bcmdOK(Child<QPushButton>(d, "bcmdOK")),
          bcmdCancel(Child<QPushButton>(d, "bcmdCancel")) {}

    QLineEdit* txtMail;
    QLineEdit* txtSmtp;
    QLineEdit* txtSmtpPort;
    QCheckBox* chkAttestation;
    QRadioButton* optAt[2];
    QCheckBox* chkAtCram;
    QLineEdit* txtSmtpUser;
    QLineEdit* txtSmtpPass;
    QLineEdit* txtPop;
    QLineEdit* txtPopPort;
    QLineEdit* txtUser;
    QLineEdit* txtPass;
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;
};

void fill(const std::vector<std::pair<QLineEdit*, const char*>>& values) {
    for (const auto& [edit, text] : values)
        edit->setText(QString::fromUtf8(text));
}

void clickButton(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2));
}

} // namespace

class TestFrmMail : public QObject {
    Q_OBJECT

private slots:
    void enablingFollowsAuthenticationAndMode_data() {
        QTest::addColumn<bool>("att");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("optAt");
        QTest::addColumn<bool>("cram");
        QTest::addColumn<bool>("smtpFields");
        QTest::addColumn<bool>("popFields");
        QTest::newRow("off, pop mode") << false << 0 << false << false << false << false;
        QTest::newRow("off, smtp mode") << false << 1 << false << false << false << false;
        QTest::newRow("pop before smtp") << true << 0 << true << false << false << true;
        QTest::newRow("smtp-auth") << true << 1 << true << true << true << false;
    }

    void enablingFollowsAuthenticationAndMode() {
        QFETCH(bool, att);
        QFETCH(int, mode);
        MailDialogFixture f;
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        d.show();
        // Clicks as the user makes them, so the rule runs from its signals. The mode buttons
        // are disabled without authentication: choose the mode first.
        clickButton(c.chkAttestation);
        clickButton(c.optAt[mode]);
        if (!att)
            clickButton(c.chkAttestation);
        QVERIFY(c.optAt[mode]->isChecked());
        QCOMPARE(c.chkAttestation->isChecked(), att);
        QTEST(c.optAt[0]->isEnabled(), "optAt");
        QTEST(c.optAt[1]->isEnabled(), "optAt");
        QTEST(c.chkAtCram->isEnabled(), "cram");
        QTEST(c.txtSmtpUser->isEnabled(), "smtpFields");
        QTEST(c.txtSmtpPass->isEnabled(), "smtpFields");
        for (QLineEdit* e : {c.txtPop, c.txtPopPort, c.txtUser, c.txtPass})
            QTEST(e->isEnabled(), "popFields");
        for (QLineEdit* e : {c.txtMail, c.txtSmtp, c.txtSmtpPort})
            QVERIFY(e->isEnabled());
    }

    void openingShowsTheStoredAccount() {
        MailDialogFixture f;
        AppSettings.Mail.Mail = "cam@x.jp";
        AppSettings.Mail.Smtp = "smtp.x.jp"; // hand-written, without a tab
        AppSettings.Mail.Pop = "pop.x.jp\t995\tjunk";
        AppSettings.Mail.User = "u";
        AppSettings.Mail.Pass = "p";
        AppSettings.Mail.Att = "0";
        AppSettings.Mail.OptAtt = "1";
        AppSettings.Mail.AtCram = "1";
        AppSettings.Mail.SmtpUser = "su";
        AppSettings.Mail.SmtpPass = "sp";
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        QCOMPARE(d.windowTitle(), QStringLiteral("ﾒｰﾙｱｶｳﾝﾄ設定"));
        QCOMPARE(c.txtSmtp->text(), QStringLiteral("smtp.x.jp"));
        QCOMPARE(c.txtSmtpPort->text(), QString());
        QCOMPARE(c.txtPop->text(), QStringLiteral("pop.x.jp"));
        QCOMPARE(c.txtPopPort->text(), QStringLiteral("995"));
        QVERIFY(!c.chkAttestation->isChecked());
        QVERIFY(c.optAt[1]->isChecked());
        QVERIFY(c.chkAtCram->isChecked());
        QVERIFY(!c.optAt[1]->isEnabled()); // authentication off: all disabled
        QVERIFY(!c.txtSmtpUser->isEnabled());
        QCOMPARE(c.txtSmtpUser->text(), QStringLiteral("su"));
        QCOMPARE(c.txtSmtpPass->echoMode(), QLineEdit::Password);
        QCOMPARE(c.txtPass->echoMode(), QLineEdit::Password);

        // Nothing stored yet: the design state.
        AppSettings = AppSettingsRecord{};
        frmMail fresh(f.boxes, f.sender, f.panels);
        Controls cf(fresh);
        QVERIFY(!cf.chkAttestation->isChecked());
        QVERIFY(cf.optAt[0]->isChecked());
        QVERIFY(!cf.chkAtCram->isChecked());
    }

    // A stored port opens whole (a cut "2525" would be saved back as 252); typing stops at 5
    // digits.
    void portFieldsShowStoredPortsWholeAndTakeFiveDigits() {
        MailDialogFixture f;
        for (const char* port : {"2525", "65535", "1234567"}) {
            AppSettings.Mail.Smtp = AppSettings.Mail.Pop = std::string("smtp.x.jp\t") + port;
            frmMail d(f.boxes, f.sender, f.panels);
            Controls c(d);
            QCOMPARE(c.txtSmtpPort->text(), QString::fromLatin1(port));
            QCOMPARE(c.txtPopPort->text(), QString::fromLatin1(port));
        }
        AppSettings.Mail.Smtp = AppSettings.Mail.Pop = "";
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        QTest::keyClicks(c.txtSmtpPort, "655351");
        QCOMPARE(c.txtSmtpPort->text(), QStringLiteral("65535"));
        QCOMPARE(c.txtPopPort->maxLength(), 5);

        // OK keeps a stored four-digit port as it was.
        AppSettings.Mail.Mail = "cam@x.jp";
        AppSettings.Mail.Smtp = "smtp.x.jp\t2525";
        frmMail again(f.boxes, f.sender, f.panels);
        Controls(again).bcmdOK->click();
        QCOMPARE(AppSettings.Mail.Smtp, std::string("smtp.x.jp\t2525"));
    }

    void failedCheckShowsItsMessageAndFocusesItsField_data() {
        QTest::addColumn<bool>("att");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("filled"); // fields given a value
        QTest::addColumn<QString>("typed");      // "field=text", after filled
        QTest::addColumn<QString>("message");    // empty: passes
        QTest::addColumn<QString>("focus");
        const QString port = QStringLiteral("ﾎﾟｰﾄ番号は1～65535で入力して下さい。");
        const QString user = QStringLiteral("ﾕｰｻﾞｰ名を入力して下さい。");
        const QString pass = QStringLiteral("ﾊﾟｽﾜｰﾄﾞを入力して下さい。");
        const QStringList base{"txtMail", "txtSmtp"};
        const QStringList pop = base + QStringList{"txtPop", "txtUser", "txtPass"};
        QTest::newRow("nothing") << false << 0 << QStringList() << QString()
                                 << QStringLiteral("ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。") << "txtMail";
        QTest::newRow("no smtp") << false << 0 << QStringList{"txtMail"} << QString()
                                 << QStringLiteral("SMTPｻｰﾊﾞｰ名を入力して下さい。") << "txtSmtp";
        QTest::newRow("plain ok") << false << 0 << base << QString() << QString() << QString();
        QTest::newRow("pop host") << true << 0 << base << QString()
                                  << QStringLiteral("POPｻｰﾊﾞｰ名を入力して下さい。") << "txtPop";
        QTest::newRow("pop user") << true << 0 << base + QStringList{"txtPop"} << QString() << user
                                  << "txtUser";
        QTest::newRow("pop pass") << true << 0 << base + QStringList{"txtPop", "txtUser"}
                                  << QString() << pass << "txtPass";
        QTest::newRow("smtp user") << true << 1 << pop << QString() << user << "txtSmtpUser";
        QTest::newRow("smtp pass")
            << true << 1 << base + QStringList{"txtSmtpUser"} << QString() << pass << "txtSmtpPass";
        QTest::newRow("smtp ok") << true << 1 << base + QStringList{"txtSmtpUser", "txtSmtpPass"}
                                 << QString() << QString() << QString();
        QTest::newRow("smtp port 0")
            << false << 0 << base << "txtSmtpPort=0" << port << "txtSmtpPort";
        QTest::newRow("pop port 99999")
            << true << 0 << pop << "txtPopPort=99999" << port << "txtPopPort";
    }

    void failedCheckShowsItsMessageAndFocusesItsField() {
        QFETCH(bool, att);
        QFETCH(int, mode);
        QFETCH(QStringList, filled);
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, focus);
        MailDialogFixture f;
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        d.show();
        QApplication::setActiveWindow(&d);
        clickButton(c.chkAttestation);
        clickButton(c.optAt[mode]);
        if (!att)
            clickButton(c.chkAttestation);
        // Blanks only count as empty everywhere.
        for (QLineEdit* e : d.findChildren<QLineEdit*>())
            e->setText("  ");
        for (const QString& name : filled)
            d.findChild<QLineEdit*>(name)->setText(name == "txtMail" ? " cam@x.jp " : " value ");
        if (!typed.isEmpty())
            d.findChild<QLineEdit*>(typed.section('=', 0, 0))->setText(typed.section('=', 1));
        QTest::mouseClick(c.bcmdOK, Qt::LeftButton);
        if (message.isEmpty()) {
            QVERIFY(f.boxes.shown.empty());
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QCOMPARE(AppSettings.Mail.Mail, std::string("cam@x.jp"));
            return;
        }
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(QString::fromStdString(f.boxes.shown[0].text), message);
        QCOMPARE(f.boxes.shown[0].title, std::string("ﾒｰﾙｱｶｳﾝﾄ設定"));
        QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Critical);
        QCOMPARE(QApplication::focusWidget(), d.findChild<QLineEdit*>(focus));
        QVERIFY(d.isVisible());
        QCOMPARE(AppSettings.Mail.Mail, std::string()); // nothing stored
        QCOMPARE(AppSettings.Mail.Att, std::string());
        // A blank SMTP port checked before the failing field shows its default.
        if (focus != "txtMail" && focus != "txtSmtp" && focus != "txtSmtpPort")
            QCOMPARE(c.txtSmtpPort->text(), QStringLiteral("25"));
    }

    void firstOkStoresDefaultsSavesAndHidesTheNotice() {
        MailDialogFixture f;
        QVERIFY(f.saved);
        f.panels.setText(5, "ﾒｰﾙｱｶｳﾝﾄ未設定");
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        fill({{c.txtMail, " cam@x.jp "}, {c.txtSmtp, "smtp.x.jp"}});
        QTest::mouseClick(c.bcmdOK, Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        const MailSettings& m = AppSettings.Mail;
        QCOMPARE(m.Mail, std::string("cam@x.jp"));
        QCOMPARE(m.Smtp, std::string("smtp.x.jp\t25"));
        QCOMPARE(m.Pop, std::string("\t")); // a lone tab: host and port both empty
        QCOMPARE(m.Att, std::string("0"));
        QCOMPARE(m.OptAtt, std::string("0"));
        QCOMPARE(m.AtCram, std::string("0"));
        QVERIFY(f.sender.MailAccountReady);
        QVERIFY(!f.panels.visible(5));
        QCOMPARE(f.panels.text(5), std::string());
        const AppSettingsRecord disk = f.reloaded();
        QCOMPARE(disk.Mail.Smtp, std::string("smtp.x.jp\t25"));
        QCOMPARE(disk.Mail.Mail, std::string("cam@x.jp"));
    }

    void defaultPopPortOnlyInPopBeforeSmtpMode() {
        MailDialogFixture f;
        {
            frmMail d(f.boxes, f.sender, f.panels);
            Controls c(d);
            c.chkAttestation->setChecked(true);
            c.optAt[0]->setChecked(true);
            fill({{c.txtMail, "m@x"},
                  {c.txtSmtp, "s"},
                  {c.txtSmtpPort, "587"},
                  {c.txtPop, "p"},
                  {c.txtUser, "u"},
                  {c.txtPass, " pw "}});
            QTest::mouseClick(c.bcmdOK, Qt::LeftButton);
            QCOMPARE(AppSettings.Mail.Pop, std::string("p\t110"));
            QCOMPARE(AppSettings.Mail.Smtp, std::string("s\t587"));
            QCOMPARE(AppSettings.Mail.Pass, std::string("pw"));
            QCOMPARE(AppSettings.Mail.Att, std::string("1"));
            QCOMPARE(AppSettings.Mail.OptAtt, std::string("0"));
        }
        {
            frmMail d(f.boxes, f.sender, f.panels);
            Controls c(d);
            c.chkAttestation->setChecked(true);
            c.optAt[1]->setChecked(true);
            c.chkAtCram->setChecked(true);
            c.txtPop->setText("pop.x.jp");
            c.txtPopPort->setText("");
            fill({{c.txtSmtpUser, "su"}, {c.txtSmtpPass, "sp"}});
            QTest::mouseClick(c.bcmdOK, Qt::LeftButton);
            // Disabled fields are stored as they are.
            QCOMPARE(AppSettings.Mail.Pop, std::string("pop.x.jp\t"));
            QCOMPARE(AppSettings.Mail.OptAtt, std::string("1"));
            QCOMPARE(AppSettings.Mail.AtCram, std::string("1"));
            QCOMPARE(AppSettings.Mail.SmtpUser, std::string("su"));
            QVERIFY(f.sender.MailAccountReady);
        }
    }

    void cancelStoresNothing() {
        MailDialogFixture f;
        AppSettings.Mail.Mail = "old@x.jp";
        AppSettings.Mail.Smtp = "old\t25";
        f.sender.MailAccountReady = false;
        frmMail d(f.boxes, f.sender, f.panels);
        Controls c(d);
        c.txtMail->setText("new@x.jp");
        c.chkAttestation->setChecked(true);
        QTest::mouseClick(c.bcmdCancel, Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QCOMPARE(AppSettings.Mail.Mail, std::string("old@x.jp"));
        QCOMPARE(AppSettings.Mail.Att, std::string());
        QVERIFY(!f.sender.MailAccountReady);
        QCOMPARE(f.reloaded().Mail.Mail, std::string()); // nothing saved either
    }
};

QTEST_MAIN(TestFrmMail)
#include "test_frmMail.moc"
