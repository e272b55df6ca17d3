// The mail account dialog's decisions: the order of its checks with their messages, the default
// ports it fills in, what OK stores, and the notice on panel 5.

#include "mail/MailAccountForm.h"
#include "settings/StatusPanels.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

// Every field blank but for spaces (blanks count as empty everywhere), with the address and the
// SMTP host given.
MailAccountInput minimal() {
    MailAccountInput in;
    in.mail = " cam@x.jp ";
    in.smtp = " smtp.x.jp ";
    in.smtpPort = in.pop = in.popPort = in.user = in.pass = in.smtpUser = in.smtpPass = "  ";
    return in;
}

} // namespace

TEST(MailAccountForm, FirstFailingFieldAndItsMessage) {
    using F = MailAccountField;
    const char* const portMessage = "ﾎﾟｰﾄ番号は1～65535で入力して下さい。";
    struct Row {
        const char* name;
        std::function<void(MailAccountInput&)> edit;
        F field;
        const char* message; // "" when the input passes
    };
    const auto popMode = [](MailAccountInput& in) { in.authenticate = true; };
    const auto popFilled = [](MailAccountInput& in) {
        in.authenticate = true;
        in.pop = "p";
        in.user = "u";
        in.pass = "pw";
    };
    const auto smtpAuth = [](MailAccountInput& in) {
        in.authenticate = in.smtpAuth = true;
        in.smtpUser = "su";
        in.smtpPass = "sp";
    };
    const Row rows[] = {
        {"no address", [](auto& in) { in.mail = "  "; }, F::Mail, "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。"},
        {"address before host", [](auto& in) { in.mail = in.smtp = ""; }, F::Mail,
         "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。"},
        {"name in address", [](auto& in) { in.mail = "Cam <cam@x.jp>"; }, F::Mail,
         "ﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\nｱﾄﾞﾚｽに空白が含まれています"},
        {"parameter in address", [](auto& in) { in.mail = "cam@x.jp>NOTIFY=NEVER"; }, F::Mail,
         "ﾒｰﾙｱﾄﾞﾚｽを確認して下さい。\nｱﾄﾞﾚｽに < または > が含まれています"},
        {"no smtp host", [](auto& in) { in.smtp = " "; }, F::Smtp, "SMTPｻｰﾊﾞｰ名を入力して下さい。"},
        {"plain", [](auto&) {}, F::None, ""},
        {"smtp port 0", [](auto& in) { in.smtpPort = "0"; }, F::SmtpPort, portMessage},
        {"smtp port 65536", [](auto& in) { in.smtpPort = "65536"; }, F::SmtpPort, portMessage},
        {"smtp port 000001", [](auto& in) { in.smtpPort = "000001"; }, F::SmtpPort, portMessage},
        {"smtp port letters", [](auto& in) { in.smtpPort = "2x"; }, F::SmtpPort, portMessage},
        {"smtp port -1", [](auto& in) { in.smtpPort = "-1"; }, F::SmtpPort, portMessage},
        {"smtp port 65535", [](auto& in) { in.smtpPort = " 65535 "; }, F::None, ""},
        {"smtp port 1", [](auto& in) { in.smtpPort = "1"; }, F::None, ""},
        {"pop host", popMode, F::Pop, "POPｻｰﾊﾞｰ名を入力して下さい。"},
        {"pop port 99999",
         [&](auto& in) {
             popFilled(in);
             in.popPort = "99999";
         },
         F::PopPort, portMessage},
        {"pop user",
         [&](auto& in) {
             popFilled(in);
             in.user = " ";
         },
         F::User, "ﾕｰｻﾞｰ名を入力して下さい。"},
        {"pop pass",
         [&](auto& in) {
             popFilled(in);
             in.pass = " ";
         },
         F::Pass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。"},
        {"pop ok", popFilled, F::None, ""},
        // SMTP-AUTH does not look at the POP fields, nor POP before SMTP at the SMTP user.
        {"smtp user",
         [&](auto& in) {
             popFilled(in);
             in.smtpAuth = true;
         },
         F::SmtpUser, "ﾕｰｻﾞｰ名を入力して下さい。"},
        {"smtp pass",
         [&](auto& in) {
             smtpAuth(in);
             in.smtpPass = "";
         },
         F::SmtpPass, "ﾊﾟｽﾜｰﾄﾞを入力して下さい。"},
        {"smtp ok, pop port unused",
         [&](auto& in) {
             smtpAuth(in);
             in.popPort = "0";
         },
         F::None, ""},
        {"no authentication, nothing else looked at",
         [](auto& in) {
             in.smtpAuth = true;
             in.popPort = "0";
         },
         F::None, ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        MailAccountInput in = minimal();
        r.edit(in);
        const MailAccountOutcome out = CheckMailAccountInput(in);
        EXPECT_EQ(out.field, r.field);
        EXPECT_EQ(out.message, r.message);
    }
}

TEST(MailAccountForm, StoredTextsAndFilledPorts) {
    struct Row {
        const char* name;
        std::function<void(MailAccountInput&)> edit;
        MailSettings stored;
        const char* smtpFilled;
        const char* popFilled;
    };
    const Row rows[] = {
        // A lone tab for the POP server: host and port both empty.
        {"defaults",
         [](auto&) {},
         {"cam@x.jp", "smtp.x.jp\t25", "\t", "", "", "0", "0", "0", "", ""},
         "25",
         ""},
        {"pop before smtp fills the pop port",
         [](auto& in) {
             in.authenticate = true;
             in.smtpPort = "587";
             in.pop = "p";
             in.user = "u";
             in.pass = " pw ";
         },
         {"cam@x.jp", "smtp.x.jp\t587", "p\t110", "u", "pw", "1", "0", "0", "", ""},
         "",
         "110"},
        // Fields of the other mode are stored as they stand.
        {"smtp-auth keeps the pop fields",
         [](auto& in) {
             in.authenticate = in.smtpAuth = in.cramMd5 = true;
             in.pop = "pop.x.jp";
             in.popPort = "";
             in.smtpUser = " su ";
             in.smtpPass = "sp";
         },
         {"cam@x.jp", "smtp.x.jp\t25", "pop.x.jp\t", "", "", "1", "1", "1", "su", "sp"},
         "25",
         ""},
        {"mode kept without authentication",
         [](auto& in) {
             in.smtpAuth = true;
             in.smtpPort = "2525";
         },
         {"cam@x.jp", "smtp.x.jp\t2525", "\t", "", "", "0", "1", "0", "", ""},
         "",
         ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        MailAccountInput in = minimal();
        r.edit(in);
        const MailAccountOutcome out = CheckMailAccountInput(in);
        ASSERT_EQ(out.field, MailAccountField::None) << out.message;
        const MailSettings& m = out.settings;
        const MailSettings& e = r.stored;
        EXPECT_EQ(m.Mail, e.Mail);
        EXPECT_EQ(m.Smtp, e.Smtp);
        EXPECT_EQ(m.Pop, e.Pop);
        EXPECT_EQ(m.User, e.User);
        EXPECT_EQ(m.Pass, e.Pass);
        EXPECT_EQ(m.Att, e.Att);
        EXPECT_EQ(m.OptAtt, e.OptAtt);
        EXPECT_EQ(m.AtCram, e.AtCram);
        EXPECT_EQ(m.SmtpUser, e.SmtpUser);
        EXPECT_EQ(m.SmtpPass, e.SmtpPass);
        EXPECT_EQ(out.smtpPortFilled, r.smtpFilled);
        EXPECT_EQ(out.popPortFilled, r.popFilled);
    }

    // A later failure still reports the blank ports it filled, for the dialog to show.
    MailAccountInput in = minimal();
    in.authenticate = true;
    in.pop = "p";
    const MailAccountOutcome out = CheckMailAccountInput(in);
    EXPECT_EQ(out.field, MailAccountField::User);
    EXPECT_EQ(out.smtpPortFilled, "25");
    EXPECT_EQ(out.popPortFilled, "110");
}

TEST(MailAccountForm, PanelFiveShowsTheNoticeOnlyWhileTheAccountIsIncomplete) {
    StatusPanels panels;
    ShowMailAccountState(panels, false);
    EXPECT_EQ(panels.text(5), "ﾒｰﾙｱｶｳﾝﾄ未設定");
    EXPECT_TRUE(panels.visible(5));
    ShowMailAccountState(panels, true);
    EXPECT_EQ(panels.text(5), "");
    EXPECT_FALSE(panels.visible(5));
    EXPECT_EQ(MailAccountPanelText(false), "ﾒｰﾙｱｶｳﾝﾄ未設定");
}
