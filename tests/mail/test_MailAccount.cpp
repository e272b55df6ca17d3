// The account tests on the stored texts: which field is reported first in each mode, and that
// the silent state agrees with the check that speaks.

#include "mail/MailAccount.h"
#include "mail/MailDialogTest.h"

#include <gtest/gtest.h>

class MailAccountTest : public ::testing::Test {
protected:
    void SetUp() override { AppSettings = AppSettingsRecord{}; }

    mail_test::RecordingBoxes boxes;
    RecordingTransport transport;
    MailSender sender{transport};
};

TEST_F(MailAccountTest, FirstMissingFieldByModeAndTheReadyFlag) {
    struct Case {
        const char* name;
        MailSettings m;
        const char* message; // nullptr: complete
    };
    auto account = [](std::string att, std::string opt) {
        MailSettings m;
        m.Mail = "cam@x.jp";
        m.Smtp = "smtp\t25";
        m.Att = att;
        m.OptAtt = opt;
        return m;
    };
    auto with = [](MailSettings m, std::string MailSettings::*field, std::string value) {
        m.*field = std::move(value);
        return m;
    };
    const MailSettings pop = with(
        with(with(account("1", "0"), &MailSettings::Pop, "pop\t110"), &MailSettings::User, "u"),
        &MailSettings::Pass, "p");
    const MailSettings smtpAuth =
        with(with(account("1", "1"), &MailSettings::SmtpUser, "su"), &MailSettings::SmtpPass, "sp");
    const Case cases[] = {
        {"no address", with(account("0", "0"), &MailSettings::Mail, "  "),
         "ﾒｰﾙｱｶｳﾝﾄ設定のﾒｰﾙｱﾄﾞﾚｽを入力して下さい。"},
        {"no smtp", with(account("0", "0"), &MailSettings::Smtp, ""),
         "ﾒｰﾙｱｶｳﾝﾄ設定のSMTPｻｰﾊﾞｰ名を入力して下さい。"},
        // Only blanks are trimmed: a lone tab and port counts as filled.
        {"tab smtp", with(account("0", "0"), &MailSettings::Smtp, "\t25"), nullptr},
        {"no auth, nothing else", account("0", "0"), nullptr},
        {"auth text not 1", account("yes", "0"), nullptr},
        {"smtp auth no user", account("1", "1"), "ﾒｰﾙｱｶｳﾝﾄ設定のﾕｰｻﾞｰ名を入力して下さい。"},
        {"smtp auth no pass", with(account("1", "1"), &MailSettings::SmtpUser, "su"),
         "ﾒｰﾙｱｶｳﾝﾄ設定のﾊﾟｽﾜｰﾄﾞを入力して下さい。"},
        {"smtp auth complete", smtpAuth, nullptr},
        {"mode not a number is smtp auth", with(smtpAuth, &MailSettings::OptAtt, "x"), nullptr},
        {"pop no server", with(pop, &MailSettings::Pop, " "),
         "ﾒｰﾙｱｶｳﾝﾄ設定のPOPｻｰﾊﾞｰ名を入力して下さい。"},
        {"pop lone tab", with(pop, &MailSettings::Pop, "\t"), nullptr},
        {"pop no user", with(pop, &MailSettings::User, ""),
         "ﾒｰﾙｱｶｳﾝﾄ設定のﾕｰｻﾞｰ名を入力して下さい。"},
        {"pop no pass", with(pop, &MailSettings::Pass, ""),
         "ﾒｰﾙｱｶｳﾝﾄ設定のﾊﾟｽﾜｰﾄﾞを入力して下さい。"},
        {"pop complete, smtp fields empty", pop, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings.Mail = c.m;
        boxes.shown.clear();
        sender.MailAccountReady = !c.message; // the opposite, so the update must set it
        sender.UpdateMailAccountState();
        EXPECT_EQ(sender.MailAccountReady, c.message == nullptr);
        EXPECT_EQ(CheckMailAccount(boxes, nullptr), c.message == nullptr);
        if (c.message) {
            ASSERT_EQ(boxes.shown.size(), 1u);
            EXPECT_EQ(boxes.shown[0].text, c.message);
            EXPECT_EQ(boxes.shown[0].title, "ﾒｰﾙ送信元ﾁｪｯｸ");
            EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);
        } else {
            EXPECT_TRUE(boxes.shown.empty());
        }
    }
}
