// The real mail client against real servers started here on 127.0.0.1: what the server received
// (envelope, headers, body, attachment bytes), authentication, STARTTLS, and every way a send
// can fail without hanging.

#include "mail/MailPeers.h"
#include "mail/MailSendRequest.h"
#include "mail/MailTransport.h"

#include <gtest/gtest.h>

#include <QImage>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const std::string kSubject = "Pawlinex: 警報！ 誰かいるワン！!";
const std::string kBody = "ｶﾒﾗが動きを検知しました。\n二行目 line 2\n.\n..dots";

// A test-owned CA certificate for 127.0.0.1 (the system store does not know it).
struct TestCertificate {
    TempFolder dir;
    std::string cert = dir.path() + "/cert.pem";
    std::string key = dir.path() + "/key.pem";
    bool make() {
        const std::string cmd = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "
                                "/CN=127.0.0.1 -addext 'subjectAltName=IP:127.0.0.1,DNS:localhost'"
                                " -keyout '" +
                                key + "' -out '" + cert + "' >/dev/null 2>&1";
        return std::system(cmd.c_str()) == 0;
    }
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_had = true;
            m_old = old;
        }
        setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (m_had)
            setenv(m_name, m_old.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    bool m_had = false;
    std::string m_old;
};

class MailTransportTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("PAWLINEX_CA_FILE");
        unsetenv("PAWLINEX_MAIL_TIMEOUT");
        // Generous: these bound a broken peer, they are not timing checks.
        client.setTimeouts({10000, 10000, 60000});
    }
    std::string logPath() const { return folder.path() + "/mail.log.txt"; }
    std::string writeJpeg(int width, int height) {
        QImage img(width, height, QImage::Format_RGB32);
        img.fill(Qt::darkGreen);
        const std::string path = folder.path() + "/061206153045_TEST.jpg";
        EXPECT_TRUE(img.save(QString::fromStdString(path), "JPEG", 80));
        return path;
    }

    TempFolder folder;
    CurlMailTransport client;
};

} // namespace

TEST_F(MailTransportTest, PlainSendDeliversEnvelopeHeadersBodyAndPicture) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start(), 0);
    const std::string jpeg = writeJpeg(320, 240);

    const std::string error = client.SendMailEx(
        logPath(), smtp.server(), "a@example.org, b@example.org;c@example.org\t>Reply-To: cam@x.jp",
        "<cam@x.jp>", kSubject, kBody, jpeg + '\0' + "junk after the NUL");
    ASSERT_EQ(error, "");

    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    const QJsonObject& m = msgs[0];
    EXPECT_EQ(m["mail_from"].toString(), "cam@x.jp");
    EXPECT_EQ(m["rcpt_tos"].toArray(),
              QJsonArray({"a@example.org", "b@example.org", "c@example.org"}));
    EXPECT_FALSE(m["tls"].toBool()); // the server offers no STARTTLS: clear text is used
    EXPECT_EQ(HeaderOf(m, "reply-to"), "cam@x.jp");
    EXPECT_EQ(HeaderOf(m, "from"), "cam@x.jp");
    EXPECT_EQ(HeaderOf(m, "subject"), kSubject);
    EXPECT_EQ(HeaderOf(m, "subject", "raw_headers").rfind("=?UTF-8?B?", 0), 0u);
    EXPECT_FALSE(HeaderOf(m, "date").empty());
    EXPECT_FALSE(HeaderOf(m, "message-id").empty());
    // The peer turns CR LF back into LF; lines of dots survive the SMTP dot-stuffing.
    EXPECT_EQ(m["body"].toString().toStdString(), kBody);

    const QJsonArray atts = m["attachments"].toArray();
    ASSERT_EQ(atts.size(), 1);
    const QJsonObject att = atts[0].toObject();
    EXPECT_EQ(att["filename"].toString(), "061206153045_TEST.jpg");
    EXPECT_EQ(att["content_type"].toString(), "image/jpeg");
    const std::string received = ReadWholeFile(att["path"].toString().toStdString());
    EXPECT_EQ(received, ReadWholeFile(jpeg));
    const QImage picture = QImage::fromData(QByteArray::fromStdString(received), "JPEG");
    EXPECT_EQ(picture.size(), QSize(320, 240));

    const std::string log = ReadWholeFile(logPath());
    EXPECT_NE(log.find("a@example.org, b@example.org, c@example.org\t" + kSubject + "\tOK\n"),
              std::string::npos)
        << log;
}

TEST_F(MailTransportTest, NoAttachmentWhenFilesIsEmpty) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start(), 0);
    ASSERT_EQ(
        client.SendMailEx("", smtp.server(), "a@example.org", "<cam@x.jp>", "plain", "text", ""),
        "");
    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_TRUE(msgs[0]["attachments"].toArray().isEmpty());
    EXPECT_EQ(HeaderOf(msgs[0], "subject"), "plain");
}

TEST_F(MailTransportTest, SmtpAuthenticationLoginAndCramMd5) {
    struct Case {
        const char* serverMode;
        const char* mechanism;
        const char* password;
        bool accepted;
    };
    const Case cases[] = {
        {"login", "LOGIN", "s3cret:pw", true},   {"login", "LOGIN", "wrong-password", false},
        {"cram", "CRAM-MD5", "s3cret:pw", true}, {"cram", "CRAM-MD5", "wrong-password", false},
        {"cram", "LOGIN", "s3cret:pw", false}, // a mechanism the server does not offer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.serverMode) + " " + c.mechanism + " " + c.password);
        SmtpPeer smtp;
        ASSERT_GT(
            smtp.start({"--auth", c.serverMode, "--user", "alice", "--password", "s3cret:pw"}), 0);
        TempFolder logDir;
        const std::string log = logDir.path() + "/mail.log.txt";
        const std::string error =
            client.SendMailEx(log, smtp.server(), "to@example.org",
                              "<cam@x.jp>\talice:" + std::string(c.password) + "\t" + c.mechanism,
                              "auth", "body", "");
        EXPECT_EQ(error.empty(), c.accepted) << error;
        const auto msgs = smtp.messages();
        ASSERT_EQ(msgs.size(), c.accepted ? 1u : 0u);
        if (c.accepted) {
            EXPECT_EQ(msgs[0]["auth_user"].toString(), "alice");
        }
        const std::string logText = ReadWholeFile(log);
        EXPECT_NE(logText.find(c.accepted ? "\tOK\n" : "\tNG: "), std::string::npos) << logText;
        EXPECT_EQ(logText.find(c.password), std::string::npos) << "password in the log";
    }
}

TEST_F(MailTransportTest, StartTlsVerifiedAgainstTheGivenCaFile) {
    TestCertificate cert;
    ASSERT_TRUE(cert.make());
    SmtpPeer smtp;
    ASSERT_GT(smtp.start({"--cert", cert.cert, "--key", cert.key, "--auth", "login", "--user",
                          "alice", "--password", "pw"}),
              0);
    {
        // Unknown certificate: refused, nothing delivered, the reason in the log.
        const std::string error = client.SendMailEx(logPath(), smtp.server(), "to@example.org",
                                                    "<cam@x.jp>\talice:pw\tLOGIN", "tls", "b", "");
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(smtp.messages().empty());
        EXPECT_NE(ReadWholeFile(logPath()).find("NG: "), std::string::npos);
    }
    {
        ScopedEnv ca("PAWLINEX_CA_FILE", cert.cert);
        const std::string error = client.SendMailEx(logPath(), smtp.server(), "to@example.org",
                                                    "<cam@x.jp>\talice:pw\tLOGIN", "tls", "b", "");
        EXPECT_EQ(error, "");
        const auto msgs = smtp.messages();
        ASSERT_EQ(msgs.size(), 1u);
        EXPECT_TRUE(msgs[0]["tls"].toBool());
        EXPECT_EQ(msgs[0]["auth_user"].toString(), "alice");
    }
}

TEST_F(MailTransportTest, FailuresReturnTextAndNeverHang) {
    // A server that refuses every recipient.
    SmtpPeer refusing;
    ASSERT_GT(refusing.start({"--reject-rcpt"}), 0);
    std::string error = client.SendMailEx(logPath(), refusing.server(), "to@example.org",
                                          "<cam@x.jp>", "s", "b", "");
    EXPECT_NE(error.find("550"), std::string::npos) << error;

    // A server that accepts the connection and never says a word.
    SmtpPeer mute;
    ASSERT_GT(mute.startMute(), 0);
    CurlMailTransport impatient;
    impatient.setTimeouts({1500, 1500, 10000});
    error = impatient.SendMailEx(logPath(), mute.server(), "to@example.org", "<cam@x.jp>", "s", "b",
                                 "");
    EXPECT_FALSE(error.empty());
    // The same through the environment variable the whole program honours.
    {
        ScopedEnv quick("PAWLINEX_MAIL_TIMEOUT", "1");
        CurlMailTransport fromEnv;
        EXPECT_FALSE(
            fromEnv.SendMailEx("", mute.server(), "to@example.org", "<cam@x.jp>", "s", "b", "")
                .empty());
    }

    // Nothing listening on the port.
    const int freePort = FreeTcpPort();
    error = client.SendMailEx(logPath(), "127.0.0.1\t" + std::to_string(freePort), "to@example.org",
                              "<cam@x.jp>", "s", "b", "");
    EXPECT_FALSE(error.empty());

    // Unusable arguments are reported before any connection.
    EXPECT_FALSE(
        client.SendMailEx(logPath(), "\t25", "to@x.jp", "<cam@x.jp>", "s", "b", "").empty());
    EXPECT_FALSE(
        client.SendMailEx(logPath(), refusing.server(), " ; ", "<cam@x.jp>", "s", "b", "").empty());
    EXPECT_FALSE(client
                     .SendMailEx(logPath(), refusing.server(), "to@x.jp", "<cam@x.jp>", "s", "b",
                                 folder.path() + "/missing.jpg")
                     .empty());
    EXPECT_FALSE(client
                     .SendMailEx(logPath(), refusing.server(), "to@x.jp", "<cam@x.jp>", "s", "b",
                                 folder.path())
                     .empty()); // a folder is no picture

    // One log line per send, each a failure.
    const std::string log = ReadWholeFile(logPath());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7);
    EXPECT_EQ(log.find("\tOK\n"), std::string::npos);
}

TEST_F(MailTransportTest, PopStatWithGoodAndBadPassword) {
    Pop3Peer pop;
    ASSERT_GT(pop.start("alice", "pop-secret"), 0);
    std::string error;
    EXPECT_TRUE(client.RcvMail(pop.server(), "alice", "pop-secret", "STAT", folder.path(), &error))
        << error;
    EXPECT_FALSE(client.RcvMail(pop.server(), "alice", "wrong", "STAT", folder.path(), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(error.find("wrong"), std::string::npos);
    EXPECT_FALSE(client.RcvMail(pop.server(), "bob", "pop-secret", "STAT", folder.path(), &error));
    EXPECT_FALSE(client.RcvMail("", "alice", "pop-secret", "STAT", folder.path(), &error));
}

// POP before SMTP with a wrong password: the send fails and no SMTP connection is even opened.
TEST_F(MailTransportTest, FailedPopBeforeSmtpOpensNoSmtpConnection) {
    Pop3Peer pop;
    ASSERT_GT(pop.start("alice", "pop-secret"), 0);

    // A listening socket that nobody accepts from: any connection attempt would wait in its queue.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);

    MailSettings account;
    account.Mail = "cam@x.jp";
    account.Smtp = "127.0.0.1\t" + std::to_string(ntohs(addr.sin_port));
    account.Pop = pop.server();
    account.User = "alice";
    account.Pass = "wrong";
    account.Att = "1";
    account.OptAtt = "0";
    const MailSendOutcome out =
        RunMailSend(BuildMailSendRequest(account, folder.path(), "to@x.jp", "s", "b", ""), client);
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.error.empty());
    pollfd p{listener, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0) << "an SMTP connection was attempted";
    close(listener);

    // With the right password the same account sends.
    SmtpPeer smtp;
    ASSERT_GT(smtp.start(), 0);
    account.Smtp = smtp.server();
    account.Pass = "pop-secret";
    const MailSendOutcome ok =
        RunMailSend(BuildMailSendRequest(account, folder.path(), "to@x.jp", "s", "b", ""), client);
    EXPECT_TRUE(ok.sent) << ok.error;
    ASSERT_EQ(smtp.messages().size(), 1u);
    EXPECT_EQ(HeaderOf(smtp.messages()[0], "reply-to"), "cam@x.jp");
}

TEST_F(MailTransportTest, HeaderInjectionThroughTypedFieldsIsStripped) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start(), 0);
    MailSettings account;
    account.Mail = "cam@x.jp";
    account.Smtp = smtp.server();
    account.Att = "0";
    const MailSendOutcome out = RunMailSend(
        BuildMailSendRequest(account, folder.path(), "to@x.jp",
                             "Hello\r\nBcc: spy@evil.example\r\nX-Injected: yes", "body", ""),
        client);
    ASSERT_TRUE(out.sent) << out.error;
    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0]["rcpt_tos"].toArray(), QJsonArray({"to@x.jp"}));
    EXPECT_EQ(HeaderOf(msgs[0], "bcc"), "");
    EXPECT_EQ(HeaderOf(msgs[0], "x-injected"), "");
    EXPECT_EQ(HeaderOf(msgs[0], "subject"), "HelloBcc: spy@evil.exampleX-Injected: yes");
}

// Port 465 speaks TLS from the first byte. Needs the port itself, so it is skipped where a test
// may not listen on it (not root) or something else already does.
TEST_F(MailTransportTest, Port465IsImplicitTls) {
    TestCertificate cert;
    ASSERT_TRUE(cert.make());
    SmtpPeer smtp;
    if (smtp.start({"--cert", cert.cert, "--key", cert.key, "--implicit-tls", "--port", "465"}) !=
        465)
        GTEST_SKIP() << "cannot listen on port 465 here";
    ScopedEnv ca("PAWLINEX_CA_FILE", cert.cert);
    EXPECT_EQ(client.SendMailEx("", "127.0.0.1\t465", "to@x.jp", "<cam@x.jp>", "s", "b", ""), "");
    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_TRUE(msgs[0]["tls"].toBool());
}

TEST_F(MailTransportTest, PopUpgradesWithStlsWhenOffered) {
    TestCertificate cert;
    ASSERT_TRUE(cert.make());
    Pop3Peer pop;
    ASSERT_GT(pop.start("alice", "pop-secret", cert.cert, cert.key), 0);
    std::string error;
    // The certificate is unknown to the system store: refused.
    EXPECT_FALSE(client.RcvMail(pop.server(), "alice", "pop-secret", "STAT", "", &error));
    EXPECT_FALSE(error.empty());
    // Trusted through the CA file: the login works, which this server allows only after STLS.
    ScopedEnv ca("PAWLINEX_CA_FILE", cert.cert);
    EXPECT_TRUE(client.RcvMail(pop.server(), "alice", "pop-secret", "STAT", "", &error)) << error;
}
