// The manual send window: checks before sending, the picture it writes and attaches, what it
// tells the user after a send, and that it cannot be closed or re-sent while a send runs.

#include "capture/VideoSources.h"
#include "capture/capApi.h"
#include "mail/MailAddressList.h"
#include "mail/MailDialogTest.h"
#include "mail/MailPeers.h"
#include "mail/MailSender.h"
#include "mail/MailThumbnail.h"
#include "mail/MailTransport.h"
#include "mail/RecordingTransport.h"
#include "mail/frmMailSend.h"

#include <QCheckBox>
#include <QDateTime>
#include <QImage>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <regex>

namespace fs = std::filesystem;
using namespace mail_test;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().string());
    return out;
}

// A complete account without authentication, sending to 127.0.0.1.
struct Fixture : MailDialogFixture {
    Fixture() {
        AppSettings.Mail.Mail = "cam@x.jp";
        AppSettings.Mail.Smtp = "127.0.0.1\t25";
        AppSettings.Mail.Att = "0";
    }
    std::string img() const { return home.path().toStdString() + "/img"; }
};

// The window's controls, found by their design names.
struct Controls {
    explicit Controls(frmMailSend& d)
        : txtMail(Child<QLineEdit>(d, "txtMail")), txtSubject(Child<QLineEdit>(d, "txtSubject")),
          txtBody(Child<QPlainTextEdit>(d, "txtBody")),
          chkGrp(Child<QCheckBox>(d, "chkGrp")), optSize{Child<QRadioButton>(d, "optSize0"),
                                                         Child<QRadioButton>(d, "optSize1"),
                                                         Child<QRadioButton>(d, "optSize2")},
          SliderArc(Child<QSlider>(d, "SliderArc")), bcmdOK(Child<QPushButton>(d, "bcmdOK")),
          bcmdCancel(Child<QPushButton>(d, "bcmdCancel")),
          pic_clip(Child<MailThumbnail>(d, "pic_clip")) {}

    QLineEdit* txtMail;
    QLineEdit* txtSubject;
    QPlainTextEdit* txtBody;
    QCheckBox* chkGrp;
    QRadioButton* optSize[3];
    QSlider* SliderArc;
    QPushButton* bcmdOK;
    QPushButton* bcmdCancel;
    MailThumbnail* pic_clip;
};

} // namespace

class TestFrmMailSend : public QObject {
    Q_OBJECT

private slots:
    void designStateAndAttachmentToggle() {
        Fixture f;
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.DrawImage(0); // no capture window in this test: the placeholder stands in
        QCOMPARE(d.windowTitle(), QStringLiteral("手動ﾒｰﾙ送信"));
        QCOMPARE(d.picture().size(), QSize(320, 240));
        QVERIFY(!c.pic_clip->picture().isNull());
        QVERIFY(c.chkGrp->isChecked());
        QVERIFY(c.optSize[0]->isChecked());
        QCOMPARE(c.SliderArc->value(), 50);
        QCOMPARE(c.SliderArc->minimum(), 1);
        QCOMPARE(c.SliderArc->maximum(), 100);
        QVERIFY(!c.pic_clip->crossed());

        c.chkGrp->click();
        QVERIFY(c.pic_clip->crossed());
        for (QRadioButton* o : c.optSize)
            QVERIFY(!o->isEnabled());
        QVERIFY(!c.SliderArc->isEnabled());
        // The red lines really are drawn over the thumbnail.
        const QImage shot = c.pic_clip->grab().toImage();
        QCOMPARE(QColor(shot.pixel(shot.width() / 2, shot.height() / 2)), QColor(Qt::red));

        c.chkGrp->click();
        QVERIFY(!c.pic_clip->crossed());
        QVERIFY(c.optSize[2]->isEnabled());
        QVERIFY(c.SliderArc->isEnabled());
    }

    void checksBeforeSending() {
        Fixture f;
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.show();
        c.txtMail->setText("   ");
        AppSettings.Mail.Smtp = ""; // the account is incomplete too, but the destination first
        c.bcmdOK->click();
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text, std::string("ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。"));
        QCOMPARE(f.boxes.shown[0].title, std::string("手動ﾒｰﾙ送信"));
        QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Critical);

        // A destination that is no address list is refused before the account is looked at.
        for (const char* bad : {"a@x.jp>NOTIFY=NEVER", "Taro Yamada taro@x.jp", "a@x.jp\x0b"}) {
            f.boxes.shown.clear();
            c.txtMail->setText(QString::fromUtf8(bad));
            c.bcmdOK->click();
            QVERIFY2(f.boxes.shown.size() == 1, bad);
            QCOMPARE(f.boxes.shown[0].text, RecipientProblemMessage(ParseAddressList(bad)));
            QCOMPARE(f.boxes.shown[0].title, std::string("手動ﾒｰﾙ送信"));
            QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Critical);
        }

        f.boxes.shown.clear();
        c.txtMail->setText("Taro Yamada <to@x.jp>");
        c.bcmdOK->click();
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text, std::string("ﾒｰﾙｱｶｳﾝﾄ設定のSMTPｻｰﾊﾞｰ名を入力して下さい。"));
        QCOMPARE(f.boxes.shown[0].title, std::string("ﾒｰﾙ送信元ﾁｪｯｸ"));
        QVERIFY(d.isVisible());
        QVERIFY(f.transport.calls.empty());
        QVERIFY(filesIn(f.img()).empty());
    }

    void textOnlySendWritesNoPictureAndCloses() {
        Fixture f;
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.show();
        c.txtMail->setText(" to@x.jp ");
        c.txtSubject->setText(QStringLiteral(" 件名 "));
        c.txtBody->setPlainText(QStringLiteral(" 本文\n二行目 "));
        c.chkGrp->click();
        c.bcmdOK->click();
        QCOMPARE(f.transport.calls.size(), size_t(1));
        const auto& args = f.transport.calls[0].args;
        QCOMPARE(args[2], std::string("to@x.jp\t>Reply-To: cam@x.jp"));
        QCOMPARE(args[4], std::string("件名"));
        QCOMPARE(args[5], std::string("本文\n二行目"));
        QCOMPARE(args[6], std::string()); // no attachment
        QVERIFY(filesIn(f.img()).empty());
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text, std::string("送信しました。"));
        QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Information);
        QCOMPARE(d.result(), int(QDialog::Accepted));
        QVERIFY(!d.isVisible());
    }

    void pictureIsWrittenAtTheChosenSizeAndAttached_data() {
        QTest::addColumn<int>("option");
        QTest::addColumn<QSize>("size");
        QTest::newRow("640x480") << 0 << QSize(640, 480);
        QTest::newRow("320x240") << 1 << QSize(320, 240);
        QTest::newRow("110x82") << 2 << QSize(110, 82);
    }

    void pictureIsWrittenAtTheChosenSizeAndAttached() {
        QFETCH(int, option);
        QFETCH(QSize, size);
        Fixture f;
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.DrawImage(0);
        d.show();
        c.txtMail->setText("to@x.jp");
        c.optSize[option]->click();
        const QString before = QDateTime::currentDateTime().toString("yyMMddHHmmss");
        c.bcmdOK->click();
        const QString after = QDateTime::currentDateTime().toString("yyMMddHHmmss");
        QCOMPARE(f.transport.calls.size(), size_t(1));
        const std::string files = f.transport.calls[0].args[6];
        QVERIFY(!files.empty());
        QCOMPARE(files.back(), '\0');
        const std::string path = files.substr(0, files.size() - 1);
        std::smatch m;
        QVERIFY2(std::regex_match(path, m, std::regex(f.img() + "/(\\d{12})_TEST\\.jpg")),
                 path.c_str());
        QVERIFY(QString::fromStdString(m[1]) >= before);
        QVERIFY(QString::fromStdString(m[1]) <= after);
        QImage written(QString::fromStdString(path), "JPEG");
        QCOMPARE(written.size(), size);
    }

    void pictureThatCannotBeWrittenSendsNothing() {
        Fixture f;
        fs::remove_all(f.img());
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.show();
        c.txtMail->setText("to@x.jp");
        c.bcmdOK->click();
        QVERIFY(f.transport.calls.empty());
        QVERIFY(f.boxes.shown.empty());
        QVERIFY(d.isVisible());
    }

    // A failed send says so with the transport's reason and keeps everything the user typed.
    void failedSendShowsTheErrorAndKeepsTheWindow() {
        Fixture f;
        f.transport.sendResult = "Login denied (67): 535 5.7.8 Authentication credentials invalid";
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.show();
        c.txtMail->setText("to@x.jp");
        c.txtSubject->setText("subject");
        c.chkGrp->click();
        c.bcmdOK->click();
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QVERIFY(f.boxes.shown[0].icon == MessageBoxes::Icon::Critical);
        QCOMPARE(f.boxes.shown[0].title, std::string("手動ﾒｰﾙ送信"));
        QCOMPARE(f.boxes.shown[0].text.rfind("ﾒｰﾙ送信ｴﾗｰでした。", 0), size_t(0));
        QVERIFY(f.boxes.shown[0].text.find("535 5.7.8") != std::string::npos);
        QVERIFY(d.isVisible());
        QVERIFY(d.result() != QDialog::Accepted);
        QCOMPARE(c.txtMail->text(), QStringLiteral("to@x.jp"));
        QCOMPARE(c.txtSubject->text(), QStringLiteral("subject"));

        // The user can retry from the same window.
        f.transport.sendResult.clear();
        c.bcmdOK->click();
        QCOMPARE(f.transport.calls.size(), size_t(2));
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    void sendCancelAndCloseDoNothingWhileSending() {
        Fixture f;
        GateTransport gate;
        MailSender gated(gate);
        frmMailSend d(f.boxes, gated);
        Controls c(d);
        d.show();
        c.txtMail->setText("to@x.jp");
        c.chkGrp->click();
        bool checked = false, sending = false, visible = false;
        int resultMeanwhile = -1;
        QTimer::singleShot(0, [&] {
            sending = d.sending();
            c.bcmdCancel->click();
            c.bcmdOK->click();
            d.close();
            QTest::keyClick(&d, Qt::Key_Escape);
            visible = d.isVisible();
            resultMeanwhile = d.result();
            checked = true;
            gate.open();
        });
        c.bcmdOK->click();
        QVERIFY(checked);
        QVERIFY(sending);
        QVERIFY(visible);
        QCOMPARE(resultMeanwhile, int(QDialog::Rejected)); // the initial result, never set
        QCOMPARE(gate.calls.size(), size_t(1));
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text, std::string("送信しました。"));
        QCOMPARE(d.result(), int(QDialog::Accepted));
    }

    // The whole way to a real server: the placeholder picture arrives as a 110 x 82 JPEG.
    void realServerReceivesThePictureAtTheChosenSize() {
        Fixture f;
        SmtpPeer smtp;
        QVERIFY(smtp.start() > 0);
        CurlMailTransport real;
        MailSender realSender(real);
        AppSettings.Mail.Smtp = smtp.server();
        frmMailSend d(f.boxes, realSender);
        Controls c(d);
        d.DrawImage(0);
        d.show();
        c.txtMail->setText("to@x.jp");
        c.txtSubject->setText(QStringLiteral("手動ﾒｰﾙ"));
        c.optSize[2]->click();
        c.bcmdOK->click();
        QCOMPARE(f.boxes.shown.size(), size_t(1));
        QCOMPARE(f.boxes.shown[0].text, std::string("送信しました。"));
        const auto msgs = smtp.messages();
        QCOMPARE(msgs.size(), size_t(1));
        QCOMPARE(HeaderOf(msgs[0], "subject"), std::string("手動ﾒｰﾙ"));
        QCOMPARE(HeaderOf(msgs[0], "reply-to"), std::string("cam@x.jp"));
        const QJsonArray atts = msgs[0]["attachments"].toArray();
        QCOMPARE(atts.size(), 1);
        const QJsonObject att = atts[0].toObject();
        QVERIFY(std::regex_match(att["filename"].toString().toStdString(),
                                 std::regex("\\d{12}_TEST\\.jpg")));
        const QImage got(att["path"].toString(), "JPEG");
        QCOMPARE(got.size(), QSize(110, 82));
    }

    // What the window says after a send against a real server: partly refused recipients still
    // make a sent mail; a failure gives our Japanese words before libcurl's English text.
    void realServerOutcomesInTheMessage() {
        Fixture f;
        SmtpPeer smtp;
        QVERIFY(smtp.start({"--auth", "login", "--user", "alice", "--password", "pw",
                            "--refuse-rcpt", "nobody"}) > 0);
        CurlMailTransport real;
        MailSender realSender(real);
        AppSettings.Mail.Att = "1";
        AppSettings.Mail.OptAtt = "1";
        AppSettings.Mail.SmtpUser = "alice";
        struct Row {
            std::string smtp, password, to;
            std::vector<std::string> lines; // of the message, in order
        };
        const std::string nobody = "127.0.0.1\t" + std::to_string(FreeTcpPort());
        const Row rows[] = {
            {smtp.server(),
             "pw",
             "to@x.jp, nobody@x.jp",
             {"送信しました。", "次の宛先には届きませんでした:",
              "nobody@x.jp: 550 5.1.1 <nobody@x.jp>: no such user here"}},
            {smtp.server(),
             "wrong",
             "to@x.jp",
             {"ﾒｰﾙ送信ｴﾗｰでした。", "認証に失敗しました", "AUTH LOGIN: 535"}},
            {nobody, "pw", "to@x.jp", {"ﾒｰﾙ送信ｴﾗｰでした。", "ｻｰﾊﾞｰに接続できません", "(7)"}},
        };
        for (const auto& r : rows) {
            f.boxes.shown.clear();
            AppSettings.Mail.Smtp = r.smtp;
            AppSettings.Mail.SmtpPass = r.password;
            frmMailSend d(f.boxes, realSender);
            Controls c(d);
            d.show();
            c.txtMail->setText(QString::fromStdString(r.to));
            c.chkGrp->click();
            c.bcmdOK->click();
            QVERIFY2(f.boxes.shown.size() == 1, (r.to + " " + r.password).c_str());
            size_t at = 0;
            for (const auto& line : r.lines) {
                at = f.boxes.shown[0].text.find(line, at);
                QVERIFY2(at != std::string::npos, (line + " in " + f.boxes.shown[0].text).c_str());
            }
        }
        QCOMPARE(smtp.messages().size(), size_t(1));
        QCOMPARE(smtp.messages()[0]["rcpt_tos"].toArray(), QJsonArray({"to@x.jp"}));
    }

    // With a live camera the window takes its current frame, at the camera's own size.
    void drawImageTakesTheCurrentFrame() {
        Fixture f;
        setenv("PAWLINEX_VIDEO_SOURCES", "lavfi:color=c=red:s=64x48:r=15,format=rgb24", 1);
        VideoSourceList sources;
        QWidget host;
        host.resize(160, 120);
        const HCAPWND hCapWnd = capCreateCaptureWindowA("", 0, 0, 0, 160, 120, &host, 0, sources);
        QVERIFY(hCapWnd != HCAPWND(0));
        QVERIFY(capDriverConnect(hCapWnd, 0));
        frmMailSend d(f.boxes, f.sender);
        Controls c(d);
        d.DrawImage(hCapWnd);
        capDriverDisconnect(hCapWnd);
        unsetenv("PAWLINEX_VIDEO_SOURCES");
        QCOMPARE(d.picture().size(), QSize(64, 48));
        QCOMPARE(QColor(d.picture().pixel(10, 10)), QColor(255, 0, 0));
        QCOMPARE(QColor(c.pic_clip->picture().pixel(50, 40)), QColor(255, 0, 0));

        // And that frame is what goes out, scaled to the chosen size.
        d.show();
        c.txtMail->setText("to@x.jp");
        c.optSize[1]->click();
        c.bcmdOK->click();
        QCOMPARE(f.transport.calls.size(), size_t(1));
        const std::string files = f.transport.calls[0].args[6];
        const QImage sent(QString::fromStdString(files.substr(0, files.size() - 1)), "JPEG");
        QCOMPARE(sent.size(), QSize(320, 240));
        const QColor color = sent.pixel(160, 120);
        QVERIFY(color.red() > 200);
        QVERIFY(color.green() < 60);
        QVERIFY(color.blue() < 60);
    }
};

QTEST_MAIN(TestFrmMailSend)
#include "test_frmMailSend.moc"
