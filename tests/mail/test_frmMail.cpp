// The mail account dialog: what it shows, which fields it enables, where a failed check puts the
// cursor, and what OK stores and saves. The checks themselves are in test_MailAccountForm.

#include "mail/MailAccount.h"
#include "mail/MailWidgetTest.h"
#include "mail/frmMail.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace {

using Fields = std::vector<QLineEdit*>;

void fill(const std::vector<std::pair<QLineEdit*, const char*>>& values) {
    for (const auto& [edit, text] : values)
        edit->setText(QString::fromUtf8(text));
}

void clickButton(QAbstractButton* b) {
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(4, b->height() / 2));
}

} // namespace

class frmMailTest : public MailWidgetTest {};

TEST_F(frmMailTest, EnablingFollowsAuthenticationAndMode) {
    struct Case {
        bool att;
        int mode;
        bool optAt, cram, smtpFields, popFields;
    };
    const Case cases[] = {
        {false, 0, false, false, false, false},
        {false, 1, false, false, false, false},
        {true, 0, true, false, false, true},
        {true, 1, true, true, true, false},
    };
    frmMail d(boxes, sender, panels);
    d.show();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.att) + "/" + std::to_string(c.mode));
        // Clicks as the user makes them, so the rule runs from its signals. The mode buttons
        // are disabled without authentication: choose the mode first.
        if (!d.chkAttestation->isChecked())
            clickButton(d.chkAttestation);
        clickButton(d.optAt[c.mode]);
        if (d.chkAttestation->isChecked() != c.att)
            clickButton(d.chkAttestation);
        ASSERT_TRUE(d.optAt[c.mode]->isChecked());
        EXPECT_EQ(d.optAt[0]->isEnabled(), c.optAt);
        EXPECT_EQ(d.optAt[1]->isEnabled(), c.optAt);
        EXPECT_EQ(d.chkAtCram->isEnabled(), c.cram);
        EXPECT_EQ(d.txtSmtpUser->isEnabled(), c.smtpFields);
        EXPECT_EQ(d.txtSmtpPass->isEnabled(), c.smtpFields);
        for (QLineEdit* e : Fields{d.txtPop, d.txtPopPort, d.txtUser, d.txtPass})
            EXPECT_EQ(e->isEnabled(), c.popFields) << e->objectName().toStdString();
        for (QLineEdit* e : Fields{d.txtMail, d.txtSmtp, d.txtSmtpPort})
            EXPECT_TRUE(e->isEnabled());
    }
}

TEST_F(frmMailTest, OpeningShowsTheStoredAccount) {
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
    frmMail d(boxes, sender, panels);
    EXPECT_EQ(d.windowTitle().toStdString(), "ﾒｰﾙｱｶｳﾝﾄ設定");
    EXPECT_EQ(d.txtSmtp->text(), "smtp.x.jp");
    EXPECT_EQ(d.txtSmtpPort->text(), "");
    EXPECT_EQ(d.txtPop->text(), "pop.x.jp");
    EXPECT_EQ(d.txtPopPort->text(), "995");
    EXPECT_FALSE(d.chkAttestation->isChecked());
    EXPECT_TRUE(d.optAt[1]->isChecked());
    EXPECT_TRUE(d.chkAtCram->isChecked());
    EXPECT_FALSE(d.optAt[1]->isEnabled()); // authentication off: all disabled
    EXPECT_FALSE(d.txtSmtpUser->isEnabled());
    EXPECT_EQ(d.txtSmtpUser->text(), "su");
    EXPECT_EQ(d.txtSmtpPass->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.txtPass->echoMode(), QLineEdit::Password);

    // Nothing stored yet: the design state.
    AppSettings = AppSettingsRecord{};
    frmMail fresh(boxes, sender, panels);
    EXPECT_FALSE(fresh.chkAttestation->isChecked());
    EXPECT_TRUE(fresh.optAt[0]->isChecked());
    EXPECT_FALSE(fresh.chkAtCram->isChecked());
}

// A stored port opens whole (a cut "2525" would be saved back as 252); typing stops at 5 digits.
TEST_F(frmMailTest, PortFieldsShowStoredPortsWholeAndTakeFiveDigits) {
    struct Row {
        const char* stored;
        const char* shown;
    };
    const Row rows[] = {{"smtp.x.jp\t2525", "2525"},
                        {"smtp.x.jp\t65535", "65535"},
                        {"smtp.x.jp\t1234567", "1234567"}};
    for (const auto& r : rows) {
        AppSettings.Mail.Smtp = r.stored;
        AppSettings.Mail.Pop = r.stored;
        frmMail d(boxes, sender, panels);
        EXPECT_EQ(d.txtSmtpPort->text(), r.shown);
        EXPECT_EQ(d.txtPopPort->text(), r.shown);
    }
    AppSettings.Mail.Smtp = AppSettings.Mail.Pop = "";
    frmMail d(boxes, sender, panels);
    QTest::keyClicks(d.txtSmtpPort, "655351");
    EXPECT_EQ(d.txtSmtpPort->text(), "65535");
    EXPECT_EQ(d.txtPopPort->maxLength(), 5);

    // OK keeps a stored four-digit port as it was.
    AppSettings.Mail.Mail = "cam@x.jp";
    AppSettings.Mail.Smtp = "smtp.x.jp\t2525";
    frmMail again(boxes, sender, panels);
    again.bcmdOK->click();
    EXPECT_EQ(AppSettings.Mail.Smtp, "smtp.x.jp\t2525");
}

TEST_F(frmMailTest, FailedCheckShowsItsMessageAndFocusesItsField) {
    struct Case {
        const char* name;
        bool att;
        int mode;
        std::vector<const char*> filled; // object names of the fields given a value
        const char* message;             // nullptr: passes
        const char* focus;
        std::vector<std::pair<const char*, const char*>> typed = {}; // field, text, after filled
    };
    const char* const portMessage = "ﾎﾟｰﾄ番号は1～65535で入力して下さい。";
    const Case cases[] = {
        {"nothing", false, 0, {}, "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。", "txtMail"},
        {"no smtp", false, 0, {"txtMail"}, "SMTPｻｰﾊﾞｰ名を入力して下さい。", "txtSmtp"},
        {"plain ok", false, 0, {"txtMail", "txtSmtp"}, nullptr, nullptr},
        {"pop host", true, 0, {"txtMail", "txtSmtp"}, "POPｻｰﾊﾞｰ名を入力して下さい。", "txtPop"},
        {"pop user",
         true,
         0,
         {"txtMail", "txtSmtp", "txtPop"},
         "ﾕｰｻﾞｰ名を入力して下さい。",
         "txtUser"},
        {"pop pass",
         true,
         0,
         {"txtMail", "txtSmtp", "txtPop", "txtUser"},
         "ﾊﾟｽﾜｰﾄﾞを入力して下さい。",
         "txtPass"},
        {"smtp user",
         true,
         1,
         {"txtMail", "txtSmtp", "txtPop", "txtUser", "txtPass"},
         "ﾕｰｻﾞｰ名を入力して下さい。",
         "txtSmtpUser"},
        {"smtp pass",
         true,
         1,
         {"txtMail", "txtSmtp", "txtSmtpUser"},
         "ﾊﾟｽﾜｰﾄﾞを入力して下さい。",
         "txtSmtpPass"},
        {"smtp ok",
         true,
         1,
         {"txtMail", "txtSmtp", "txtSmtpUser", "txtSmtpPass"},
         nullptr,
         nullptr},
        {"smtp port 0",
         false,
         0,
         {"txtMail", "txtSmtp"},
         portMessage,
         "txtSmtpPort",
         {{"txtSmtpPort", "0"}}},
        {"pop port 99999",
         true,
         0,
         {"txtMail", "txtSmtp", "txtPop", "txtUser", "txtPass"},
         portMessage,
         "txtPopPort",
         {{"txtPopPort", "99999"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings = AppSettingsRecord{};
        boxes.shown.clear();
        frmMail d(boxes, sender, panels);
        d.show();
        QApplication::setActiveWindow(&d);
        clickButton(d.chkAttestation);
        clickButton(d.optAt[c.mode]);
        if (!c.att)
            clickButton(d.chkAttestation);
        // Blanks only count as empty everywhere.
        for (QLineEdit* e : d.findChildren<QLineEdit*>())
            e->setText("  ");
        for (const char* name : c.filled)
            d.findChild<QLineEdit*>(name)->setText(std::string(name) == "txtMail" ? " cam@x.jp "
                                                                                  : " value ");
        for (const auto& [name, text] : c.typed)
            d.findChild<QLineEdit*>(name)->setText(text);
        QTest::mouseClick(d.bcmdOK, Qt::LeftButton);
        if (c.message) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].text, c.message);
            EXPECT_EQ(boxes.shown[0].title, "ﾒｰﾙｱｶｳﾝﾄ設定");
            EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);
            EXPECT_EQ(QApplication::focusWidget(), d.findChild<QLineEdit*>(c.focus));
            // A blank SMTP port checked before the failing field shows its default.
            const std::string focus = c.focus;
            if (focus != "txtMail" && focus != "txtSmtp" && focus != "txtSmtpPort")
                EXPECT_EQ(d.txtSmtpPort->text(), "25");
            EXPECT_TRUE(d.isVisible());
            EXPECT_EQ(AppSettings.Mail.Mail, ""); // nothing stored
            EXPECT_EQ(AppSettings.Mail.Att, "");
        } else {
            EXPECT_TRUE(boxes.shown.empty());
            EXPECT_EQ(d.result(), QDialog::Accepted);
            EXPECT_EQ(AppSettings.Mail.Mail, "cam@x.jp");
        }
    }
}

TEST_F(frmMailTest, FirstOkStoresDefaultsSavesAndHidesTheNotice) {
    panels.setText(5, "ﾒｰﾙｱｶｳﾝﾄ未設定");
    frmMail d(boxes, sender, panels);
    fill({{d.txtMail, " cam@x.jp "}, {d.txtSmtp, "smtp.x.jp"}});
    QTest::mouseClick(d.bcmdOK, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    const MailSettings& m = AppSettings.Mail;
    EXPECT_EQ(m.Mail, "cam@x.jp");
    EXPECT_EQ(m.Smtp, "smtp.x.jp\t25");
    EXPECT_EQ(m.Pop, "\t"); // a lone tab: host and port both empty
    EXPECT_EQ(m.Att, "0");
    EXPECT_EQ(m.OptAtt, "0");
    EXPECT_EQ(m.AtCram, "0");
    EXPECT_TRUE(sender.MailAccountReady);
    EXPECT_FALSE(panels.visible(5));
    EXPECT_EQ(panels.text(5), "");
    const AppSettingsRecord disk = reloaded();
    EXPECT_EQ(disk.Mail.Smtp, "smtp.x.jp\t25");
    EXPECT_EQ(disk.Mail.Mail, "cam@x.jp");
}

TEST_F(frmMailTest, DefaultPopPortOnlyInPopBeforeSmtpMode) {
    {
        frmMail d(boxes, sender, panels);
        d.chkAttestation->setChecked(true);
        d.optAt[0]->setChecked(true);
        fill({{d.txtMail, "m@x"},
              {d.txtSmtp, "s"},
              {d.txtSmtpPort, "587"},
              {d.txtPop, "p"},
              {d.txtUser, "u"},
              {d.txtPass, " pw "}});
        QTest::mouseClick(d.bcmdOK, Qt::LeftButton);
        EXPECT_EQ(AppSettings.Mail.Pop, "p\t110");
        EXPECT_EQ(AppSettings.Mail.Smtp, "s\t587");
        EXPECT_EQ(AppSettings.Mail.Pass, "pw");
        EXPECT_EQ(AppSettings.Mail.Att, "1");
        EXPECT_EQ(AppSettings.Mail.OptAtt, "0");
    }
    {
        frmMail d(boxes, sender, panels);
        d.chkAttestation->setChecked(true);
        d.optAt[1]->setChecked(true);
        d.chkAtCram->setChecked(true);
        d.txtPop->setText("pop.x.jp");
        d.txtPopPort->setText("");
        fill({{d.txtSmtpUser, "su"}, {d.txtSmtpPass, "sp"}});
        QTest::mouseClick(d.bcmdOK, Qt::LeftButton);
        EXPECT_EQ(AppSettings.Mail.Pop, "pop.x.jp\t"); // disabled fields are stored as they are
        EXPECT_EQ(AppSettings.Mail.OptAtt, "1");
        EXPECT_EQ(AppSettings.Mail.AtCram, "1");
        EXPECT_EQ(AppSettings.Mail.SmtpUser, "su");
        EXPECT_TRUE(sender.MailAccountReady);
    }
}

TEST_F(frmMailTest, CancelStoresNothing) {
    AppSettings.Mail.Mail = "old@x.jp";
    AppSettings.Mail.Smtp = "old\t25";
    sender.MailAccountReady = false;
    frmMail d(boxes, sender, panels);
    d.txtMail->setText("new@x.jp");
    d.chkAttestation->setChecked(true);
    QTest::mouseClick(d.bcmdCancel, Qt::LeftButton);
    EXPECT_EQ(d.result(), QDialog::Rejected);
    EXPECT_EQ(AppSettings.Mail.Mail, "old@x.jp");
    EXPECT_EQ(AppSettings.Mail.Att, "");
    EXPECT_FALSE(sender.MailAccountReady);
    EXPECT_EQ(reloaded().Mail.Mail, ""); // nothing saved either
}
