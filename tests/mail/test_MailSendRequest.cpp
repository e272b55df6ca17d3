// How MailSend turns the stored account into the transport's argument forms, and the order of
// the POP-before-SMTP and SMTP calls.

#include "mail/MailPeers.h"
#include "mail/MailSendRequest.h"
#include "mail/RecordingTransport.h"

#include <gtest/gtest.h>

namespace {

MailSettings account(const std::string& att, const std::string& optAtt, const std::string& cram) {
    MailSettings m;
    m.Mail = "cam@example.org";
    m.Smtp = "smtp.example.org\t587";
    m.Pop = "pop.example.org\t110";
    m.User = "popuser";
    m.Pass = "poppass";
    m.Att = att;
    m.OptAtt = optAtt;
    m.AtCram = cram;
    m.SmtpUser = "smtpuser";
    m.SmtpPass = "smtp:pass";
    return m;
}

} // namespace

TEST(MailSendRequest, LogPathHasExactlyOneSeparator) {
    EXPECT_EQ(MailLogPath("/opt/pawlinex"), "/opt/pawlinex/mail.log.txt");
    EXPECT_EQ(MailLogPath("/"), "/mail.log.txt");
    EXPECT_EQ(MailLogPath("/opt/pawlinex/"), "/opt/pawlinex/mail.log.txt");
}

TEST(MailSendRequest, SenderAndPopByAuthenticationMode) {
    struct Case {
        std::string att, optAtt, cram;
        std::string sender;
        bool pop;
    };
    const std::string plain = "<cam@example.org>";
    const Case cases[] = {
        // No authentication whatever the mode says.
        {"0", "0", "0", plain, false},
        {"0", "1", "1", plain, false},
        {"", "", "", plain, false},
        {"x", "0", "0", plain, false}, // not a number: no authentication, as the account check
        // POP before SMTP.
        {"1", "0", "1", plain, true},
        // SMTP authentication, mechanism by AtCRAM.
        {"1", "1", "0", plain + "\tsmtpuser:smtp:pass\tLOGIN", false},
        {"1", "1", "1", plain + "\tsmtpuser:smtp:pass\tCRAM-MD5", false},
        {"1", "2", "7", plain + "\tsmtpuser:smtp:pass\tCRAM-MD5", false},
        {"1", "abc", "", plain + "\tsmtpuser:smtp:pass\tLOGIN", false},
        {" 1 ", "1", "0", plain + "\tsmtpuser:smtp:pass\tLOGIN", false},
    };
    for (const auto& c : cases) {
        const MailSendRequest r = BuildMailSendRequest(account(c.att, c.optAtt, c.cram), "/prog",
                                                       "to@x.jp", "s", "b", "");
        EXPECT_EQ(r.sender, c.sender) << c.att << "/" << c.optAtt << "/" << c.cram;
        EXPECT_EQ(r.pop.has_value(), c.pop) << c.att << "/" << c.optAtt;
        if (r.pop) {
            EXPECT_EQ(r.pop->server, "pop.example.org\t110");
            EXPECT_EQ(r.pop->user, "popuser");
            EXPECT_EQ(r.pop->password, "poppass");
            EXPECT_EQ(r.pop->command, "STAT");
            EXPECT_EQ(r.pop->folder, "/prog"); // no separator added
        }
    }
}

TEST(MailSendRequest, RecipientsAlwaysEndWithReplyToAndFieldsPassUnchanged) {
    const MailSendRequest r = BuildMailSendRequest(account("0", "0", "0"), "/prog",
                                                   "a@x.jp, b@x.jp;c@x.jp", "件名", "本文\n2", "");
    EXPECT_EQ(r.recipients, "a@x.jp, b@x.jp;c@x.jp\t>Reply-To: cam@example.org");
    EXPECT_EQ(r.server, "smtp.example.org\t587");
    EXPECT_EQ(r.subject, "件名");
    EXPECT_EQ(r.body, "本文\n2"); // the body keeps its line breaks
    EXPECT_EQ(r.files, "");
    EXPECT_EQ(r.logPath, "/prog/mail.log.txt");

    const std::string path = std::string("/prog/img/061206153045_TEST.jpg") + '\0';
    EXPECT_EQ(BuildMailSendRequest(account("0", "0", "0"), "/p", "a", "", "", path).files, path);
}

TEST(MailSendRequest, LineBreaksAreStrippedFromHeaderFields) {
    MailSettings m = account("1", "1", "0");
    m.Mail = "cam@x.jp\r\nBcc: spy@evil.example";
    m.SmtpPass = "pw\r\nRSET";
    const MailSendRequest r =
        BuildMailSendRequest(m, "/p", "a@x.jp\nBcc: b@evil.example", "Hi\r\nX-Evil: 1", "b", "");
    for (const std::string* s : {&r.recipients, &r.sender, &r.subject, &r.server})
        EXPECT_EQ(s->find_first_of("\r\n"), std::string::npos) << *s;
}

TEST(MailSendRequest, PopBeforeSmtpRunsFirstAndItsFailureStopsTheSend) {
    RecordingTransport t;
    const MailSendRequest r =
        BuildMailSendRequest(account("1", "0", "0"), "/prog", "to@x.jp", "s", "b", "");
    MailSendOutcome ok = RunMailSend(r, t);
    EXPECT_TRUE(ok.sent);
    ASSERT_EQ(t.calls.size(), 2u);
    EXPECT_EQ(t.calls[0].kind, "RcvMail");
    EXPECT_EQ(t.calls[0].args[3], "STAT");
    EXPECT_EQ(t.calls[1].kind, "SendMailEx");
    EXPECT_EQ(t.calls[1].args[0], "/prog/mail.log.txt");

    RecordingTransport refusing;
    refusing.popResult = false;
    MailSendOutcome failed = RunMailSend(r, refusing);
    EXPECT_FALSE(failed.sent);
    EXPECT_NE(failed.error.find("Authentication failed"), std::string::npos);
    ASSERT_EQ(refusing.calls.size(), 1u); // no SMTP connection at all
    EXPECT_EQ(refusing.calls[0].kind, "RcvMail");
}

// The recipient text is checked before the Reply-To entry joins it: a tab of its own would add a
// header, a parameter would ride on RCPT TO. Such a mail opens no connection and logs why.
TEST(MailSendRequest, FaultyRecipientTextIsRefusedBeforeTheTransport) {
    TempFolder folder;
    for (const char* to :
         {"a@x.jp\t>Bcc: spy@evil.example", "a@x.jp>NOTIFY=NEVER", "Taro Yamada"}) {
        RecordingTransport t;
        const MailSendRequest r =
            BuildMailSendRequest(account("1", "0", "0"), folder.path(), to, "s", "b", "");
        EXPECT_FALSE(r.recipientError.empty()) << to;
        const MailSendOutcome o = RunMailSend(r, t);
        EXPECT_FALSE(o.sent);
        EXPECT_EQ(o.error.rfind("recipient: ", 0), 0u) << o.error;
        EXPECT_TRUE(t.calls.empty()) << "no POP and no SMTP for " << to;
    }
    const std::string log = ReadWholeFile(folder.path() + "/mail.log.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 3) << log;
    EXPECT_EQ(BuildMailSendRequest(account("0", "0", "0"), "/p", "Taro <t@x.jp>, \"S, H\" <h@x.jp>",
                                   "s", "b", "")
                  .recipientError,
              "");
}

TEST(MailSendRequest, AnyReturnedTextIsAFailure) {
    const MailSendRequest r =
        BuildMailSendRequest(account("0", "0", "0"), "/prog", "to@x.jp", "s", "b", "");
    RecordingTransport t;
    EXPECT_TRUE(RunMailSend(r, t).sent);
    t.sendResult = "550 mailbox unavailable";
    const MailSendOutcome o = RunMailSend(r, t);
    EXPECT_FALSE(o.sent);
    EXPECT_EQ(o.error, "550 mailbox unavailable");
    for (const auto& call : t.calls)
        EXPECT_EQ(call.kind, "SendMailEx"); // RcvMail never without POP before SMTP
}

TEST(MailSendRequest, ReadSettingNumber) {
    EXPECT_EQ(ReadSettingNumber("1"), 1);
    EXPECT_EQ(ReadSettingNumber(" 0 "), 0);
    EXPECT_EQ(ReadSettingNumber("-3"), -3);
    EXPECT_EQ(ReadSettingNumber(""), std::nullopt);
    EXPECT_EQ(ReadSettingNumber("1a"), std::nullopt);
    EXPECT_EQ(ReadSettingNumber("\t1"), std::nullopt);
    EXPECT_EQ(ReadSettingNumber("99999999999999"), std::nullopt);
}
