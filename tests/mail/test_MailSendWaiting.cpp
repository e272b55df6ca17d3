// MailSend from the stored account and the waiting variant the windows use: events keep flowing
// during the transfer, a second send cannot start inside it, and closing can abort it.

#include "mail/MailPeers.h"
#include "mail/MailSender.h"
#include "mail/MailTransport.h"
#include "mail/RecordingTransport.h"
#include "settings/AppSettings.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_MailSendWaiting";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

class MailSendWaitingTest : public ::testing::Test {
protected:
    void SetUp() override {
        app();
        setenv("PAWLINEX_HOME", home.path().c_str(), 1);
        AppSettings = AppSettingsRecord{};
        AppSettings.Mail.Mail = "cam@x.jp";
        AppSettings.Mail.Smtp = "127.0.0.1\t25";
        AppSettings.Mail.Att = "0";
    }
    TempFolder home;
    CurlMailTransport real;
    MailSender sender{real};
};

} // namespace

TEST_F(MailSendWaitingTest, EventsRunDuringTheSendAndASecondSendIsRefused) {
    GateTransport gate;
    MailSender sender(gate);
    bool timerRan = false;
    bool inProgressSeen = false;
    bool nestedResult = true;
    QTimer::singleShot(0, [&] {
        timerRan = true;
        inProgressSeen = sender.MailSendInProgress();
        nestedResult = sender.MailSendWaiting("other@x.jp", "nested", "b", "");
        gate.open();
    });
    EXPECT_TRUE(sender.MailSendWaiting("to@x.jp", "outer", "body", ""));
    EXPECT_TRUE(timerRan);
    EXPECT_TRUE(inProgressSeen);
    EXPECT_FALSE(nestedResult);
    EXPECT_FALSE(sender.MailSendInProgress());
    ASSERT_EQ(gate.calls.size(), 1u); // the nested send never reached the transport
    EXPECT_EQ(gate.calls[0].args[4], "outer");
    EXPECT_EQ(gate.calls[0].args[0], home.path() + "/mail.log.txt");
    EXPECT_EQ(gate.calls[0].args[2], "to@x.jp\t>Reply-To: cam@x.jp");
    EXPECT_EQ(sender.LastMailError(), "");

    // Afterwards a new send is possible again and reports the transport's text.
    gate.sendResult = "550 no such user";
    EXPECT_FALSE(sender.MailSendWaiting("to@x.jp", "again", "body", ""));
    EXPECT_EQ(sender.LastMailError(), "550 no such user");
}

TEST_F(MailSendWaitingTest, AbortEndsATransferToAServerThatNeverAnswers) {
    SmtpPeer mute;
    ASSERT_GT(mute.startMute(), 0);
    AppSettings.Mail.Smtp = mute.server();
    CurlMailTransport endless({600000, 600000, 600000}); // only the abort can end it
    MailSender waiting{endless};
    bool aborted = false;
    QTimer::singleShot(0, [&] {
        waiting.AbortMailTransfer();
        aborted = true;
    });
    EXPECT_FALSE(waiting.MailSendWaiting("to@x.jp", "s", "b", ""));
    EXPECT_TRUE(aborted);
    EXPECT_NE(waiting.LastMailError().find("aborted"), std::string::npos)
        << waiting.LastMailError();
    waiting.AbortMailTransfer(); // nothing running: returns at once
}

// The application quitting in the middle of a send (a signal, the close box) does not wait out
// the server: the transfer is aborted and no worker is left behind.
TEST_F(MailSendWaitingTest, QuittingDuringASendAbortsIt) {
    SmtpPeer mute;
    ASSERT_GT(mute.startMute(), 0);
    AppSettings.Mail.Smtp = mute.server();
    CurlMailTransport endless({600000, 600000, 600000});
    MailSender waiting{endless};
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    EXPECT_FALSE(waiting.MailSendWaiting("to@x.jp", "s", "b", ""));
    EXPECT_FALSE(waiting.MailSendInProgress());
    EXPECT_NE(waiting.LastMailError().find("aborted"), std::string::npos)
        << waiting.LastMailError();
    // Let the application run (and stop) once, which clears its quitting state for later tests.
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    app().exec();
}

TEST_F(MailSendWaitingTest, MailSendUsesTheStoredAccountAndLogsInTheProgramFolder) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start({"--auth", "cram", "--user", "alice", "--password", "pw"}), 0);
    AppSettings.Mail.Smtp = smtp.server();
    AppSettings.Mail.Att = "1";
    AppSettings.Mail.OptAtt = "1";
    AppSettings.Mail.AtCram = "1";
    AppSettings.Mail.SmtpUser = "alice";
    AppSettings.Mail.SmtpPass = "pw";
    EXPECT_TRUE(sender.MailSend("to@x.jp", "自動送信A", "本文", "")) << sender.LastMailError();
    ASSERT_EQ(smtp.messages().size(), 1u);
    EXPECT_EQ(HeaderOf(smtp.messages()[0], "subject"), "自動送信A");
    EXPECT_EQ(smtp.messages()[0]["auth_user"].toString(), "alice");

    AppSettings.Mail.SmtpPass = "wrong";
    EXPECT_FALSE(sender.MailSend("to@x.jp", "second", "b", ""));
    EXPECT_FALSE(sender.LastMailError().empty());
    const std::string log = ReadWholeFile(home.path() + "/mail.log.txt");
    EXPECT_NE(log.find("to@x.jp\t自動送信A\tOK\n"), std::string::npos) << log;
    EXPECT_NE(log.find("to@x.jp\tsecond\tNG: "), std::string::npos) << log;
}

// Whether a failed send's server never answered decides whether an alarm tries its other mails:
// a mute SMTP or POP server counts, a refusal and a bad recipient text do not. A skipped mail
// leaves its own NG line.
TEST_F(MailSendWaitingTest, OutcomeTellsAServerThatNeverAnswered) {
    SmtpPeer mute;
    ASSERT_GT(mute.startMute(), 0);
    SmtpPeer refusing;
    ASSERT_GT(refusing.start({"--reject-rcpt"}), 0);
    CurlMailTransport impatient({1500, 1500, 10000});
    MailSender waiting{impatient};
    struct Row {
        std::string smtp, pop, to;
        bool unanswered;
    };
    const Row rows[] = {
        {mute.server(), "", "to@x.jp", true},
        {refusing.server(), mute.server(), "to@x.jp", true}, // POP before SMTP
        {refusing.server(), "", "to@x.jp", false},
        {mute.server(), "", "to@x.jp\tBcc@x.jp", false}, // refused before any connection
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.smtp + " / " + r.pop + " / " + r.to);
        AppSettings.Mail.Smtp = r.smtp;
        AppSettings.Mail.Pop = r.pop;
        AppSettings.Mail.Att = r.pop.empty() ? "0" : "1";
        AppSettings.Mail.OptAtt = "0";
        AppSettings.Mail.User = "alice";
        AppSettings.Mail.Pass = "pw";
        EXPECT_FALSE(waiting.MailSendWaiting(r.to, "s", "b", ""));
        EXPECT_EQ(waiting.LastMailOutcome().report.unanswered, r.unanswered)
            << waiting.LastMailError();
    }

    LogSkippedMail("b@x.jp", "件名", "Timeout was reached (28)");
    const std::string log = ReadWholeFile(home.path() + "/mail.log.txt");
    EXPECT_NE(log.find("\tb@x.jp\t件名\tNG: skipped: Timeout was reached (28)\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("to@x.jp Bcc@x.jp\ts\tNG: recipient: control character"), std::string::npos)
        << log;
}
