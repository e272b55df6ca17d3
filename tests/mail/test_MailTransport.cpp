// The real mail client against real servers started here on 127.0.0.1: what the server received
// (envelope, headers, body, attachment bytes), authentication, STARTTLS, and every way a send
// can fail without hanging.

#include "mail/MailComposer.h"
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
    // Generous: these bound a broken peer, they are not timing checks.
    CurlMailTransport client{MailTimeouts{10000, 10000, 60000}};
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
        const char* reply; // the refused command and the start of its reply, in the log
    };
    const Case cases[] = {
        {"login", "LOGIN", "s3cret:pw", true, ""},
        {"login", "LOGIN", "wrong-password", false, "AUTH LOGIN: 535 "},
        {"cram", "CRAM-MD5", "s3cret:pw", true, ""},
        {"cram", "CRAM-MD5", "wrong-password", false, "AUTH CRAM-MD5: 535 "},
        // A mechanism the server does not offer: libcurl gives up before sending anything.
        {"cram", "LOGIN", "s3cret:pw", false, ""},
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
        EXPECT_NE(logText.find(c.reply), std::string::npos) << logText;
        EXPECT_EQ(logText.find(c.password), std::string::npos) << "password in the log";
    }
}

// A server that repeats the login it refused, in every form it was sent or could be decoded to:
// none of it reaches the error text or the log.
TEST_F(MailTransportTest, EchoedLoginIsMaskedInEveryForm) {
    const std::string password = "Tr0ub4dor&3";
    const std::string nul(1, '\0');
    for (const char* mode : {"login", "cram"}) {
        SCOPED_TRACE(mode);
        SmtpPeer smtp;
        ASSERT_GT(
            smtp.start({"--auth", mode, "--user", "alice", "--password", "other", "--echo-auth"}),
            0);
        TempFolder logDir;
        const std::string log = logDir.path() + "/mail.log.txt";
        const std::string mechanism = std::string(mode) == "login" ? "LOGIN" : "CRAM-MD5";
        const std::string error =
            client.SendMailEx(log, smtp.server(), "to@example.org",
                              "<cam@x.jp>\talice:" + password + "\t" + mechanism, "s", "b", "");
        const std::string logText = ReadWholeFile(log);
        EXPECT_NE(error.find("535 5.7.8 refused ****"), std::string::npos) << error;
        for (const std::string& form : PasswordForms("alice", password)) {
            EXPECT_EQ(error.find(form), std::string::npos) << form;
            EXPECT_EQ(logText.find(form), std::string::npos) << form;
        }
        // Whatever follows "refused" is masked: the CRAM-MD5 response and its decoding too.
        const std::string echoed = error.substr(error.find("refused ") + 8);
        EXPECT_EQ(echoed.find_first_not_of("*[] "), std::string::npos) << echoed;
        EXPECT_NE(logText.find("refused ****"), std::string::npos) << logText;
    }
}

TEST(MailTransport, MaskSecretsRows) {
    const std::string nul(1, '\0');
    struct Row {
        std::string text;
        std::string expected;
    };
    const std::vector<std::string> forms = PasswordForms("alice", "secret");
    const Row rows[] = {
        {"535 bad password secret", "535 bad password ****"},
        {"535 c2VjcmV0 refused", "535 **** refused"},                        // base64
        {"535 " + Base64Encode(nul + "alice" + nul + "secret"), "535 ****"}, // SASL PLAIN
        {"535 " + Base64Encode("alice" + nul + "alice" + nul + "secret"), "535 ****"},
        {"secretsecret", "********"},
        {"535 no secrets here: alice", "535 no ****s here: alice"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(MaskSecrets(r.text, forms), r.expected) << r.text;
    // A CRAM-MD5 response is masked as it was captured; two-byte secrets would eat words.
    EXPECT_EQ(MaskSecrets("535 YWxpY2UgMGQ= ok", {"YWxpY2UgMGQ=", "ok"}), "535 **** ok");
    EXPECT_TRUE(PasswordForms("alice", "").empty());
}

// One refused recipient costs only its own copy: the others get the mail, the log says OK and
// names the refused one with the server's reply. Display names stay out of the envelope.
TEST_F(MailTransportTest, PartlyRefusedRecipientsStillGetTheMail) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start({"--refuse-rcpt", "nobody"}), 0);
    MailExchangeReport report;
    const std::string error = client.SendMailEx(
        logPath(), smtp.server(),
        "Taro Yamada <taro@example.org>, \"Sato, Hanako\" <h@example.org>; nobody@example.org"
        "\t>Reply-To: cam@x.jp",
        "<cam@x.jp>", "s", "b", "", &report);
    EXPECT_EQ(error, "");
    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(msgs[0]["rcpt_tos"].toArray(), QJsonArray({"taro@example.org", "h@example.org"}));
    EXPECT_EQ(
        HeaderOf(msgs[0], "to"),
        "Taro Yamada <taro@example.org>, \"Sato, Hanako\" <h@example.org>, nobody@example.org");
    ASSERT_EQ(report.refused.size(), 1u);
    EXPECT_EQ(report.refused[0],
              "nobody@example.org: 550 5.1.1 <nobody@example.org>: no such user here");
    EXPECT_NE(ReadWholeFile(logPath()).find("\tOK, refused: nobody@example.org: 550 5.1.1"),
              std::string::npos)
        << ReadWholeFile(logPath());

    // Every recipient refused: a failure that names the last refused RCPT, not the reply to QUIT.
    const std::string all = client.SendMailEx(logPath(), smtp.server(), "nobody@x.jp, nobody2@x.jp",
                                              "<cam@x.jp>", "s", "b", "", &report);
    EXPECT_NE(all.find("RCPT TO:<nobody2@x.jp>: 550 5.1.1"), std::string::npos) << all;
    EXPECT_EQ(all.find("221"), std::string::npos) << all;
    EXPECT_EQ(report.words, "宛先を受け付けられませんでした");
    EXPECT_EQ(smtp.messages().size(), 1u);
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
    MailExchangeReport report;
    std::string error = client.SendMailEx(logPath(), refusing.server(), "to@example.org",
                                          "<cam@x.jp>", "s", "b", "", &report);
    EXPECT_NE(error.find("RCPT TO:<to@example.org>: 550"), std::string::npos) << error;
    EXPECT_FALSE(report.unanswered) << "a refusal is an answer";

    // A server that accepts the connection and never says a word.
    SmtpPeer mute;
    ASSERT_GT(mute.startMute(), 0);
    CurlMailTransport impatient({1500, 1500, 10000});
    error = impatient.SendMailEx(logPath(), mute.server(), "to@example.org", "<cam@x.jp>", "s", "b",
                                 "", &report);
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(report.unanswered) << error;
    // The same for the POP server of POP before SMTP.
    EXPECT_FALSE(impatient.RcvMail(mute.server(), "alice", "pw", "STAT", "", &error, &report));
    EXPECT_TRUE(report.unanswered) << error;
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

    // A recipient text that is not an address list, or a sender address with a parameter
    // smuggled in, is refused before any connection.
    for (const char* to : {"a@x.jp>NOTIFY=NEVER", "a@x.jp\x0b", "Taro Yamada"}) {
        EXPECT_NE(client.SendMailEx(logPath(), refusing.server(), to, "<cam@x.jp>", "s", "b", "")
                      .find("recipient: "),
                  std::string::npos)
            << to;
    }
    EXPECT_FALSE(
        client
            .SendMailEx(logPath(), refusing.server(), "to@x.jp", "<cam@x.jp> SIZE=1>", "s", "b", "")
            .empty());

    // One log line per send, each a failure.
    const std::string log = ReadWholeFile(logPath());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 11);
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
