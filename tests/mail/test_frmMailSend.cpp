// The manual send window: checks before sending, the picture it writes and attaches, what it
// tells the user after a send, and that it cannot be closed or re-sent while a send runs.

#include "capture/VideoSources.h"
#include "capture/capApi.h"
#include "mail/MailAddressList.h"
#include "mail/MailPeers.h"
#include "mail/MailSender.h"
#include "mail/MailThumbnail.h"
#include "mail/MailTransport.h"
#include "mail/MailWidgetTest.h"
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
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <regex>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> filesIn(const std::string& dir) {
    std::vector<std::string> out;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            out.push_back(e.path().string());
    return out;
}

} // namespace

class frmMailSendTest : public MailWidgetTest {
protected:
    void SetUp() override {
        MailWidgetTest::SetUp();
        AppSettings.Mail.Mail = "cam@x.jp";
        AppSettings.Mail.Smtp = "127.0.0.1\t25";
        AppSettings.Mail.Att = "0";
    }
};

TEST_F(frmMailSendTest, DesignStateAndAttachmentToggle) {
    frmMailSend d(boxes, sender);
    d.DrawImage(0); // no capture window in this test: the placeholder stands in
    EXPECT_EQ(d.windowTitle().toStdString(), "手動ﾒｰﾙ送信");
    EXPECT_EQ(d.picture().size(), QSize(320, 240));
    EXPECT_FALSE(d.pic_clip->picture().isNull());
    EXPECT_TRUE(d.chkGrp->isChecked());
    EXPECT_TRUE(d.optSize[0]->isChecked());
    EXPECT_EQ(d.SliderArc->value(), 50);
    EXPECT_EQ(d.SliderArc->minimum(), 1);
    EXPECT_EQ(d.SliderArc->maximum(), 100);
    EXPECT_FALSE(d.pic_clip->crossed());

    d.chkGrp->click();
    EXPECT_TRUE(d.pic_clip->crossed());
    for (QRadioButton* o : d.optSize)
        EXPECT_FALSE(o->isEnabled());
    EXPECT_FALSE(d.SliderArc->isEnabled());
    // The red lines really are drawn over the thumbnail.
    const QImage shot = d.pic_clip->grab().toImage();
    EXPECT_EQ(QColor(shot.pixel(shot.width() / 2, shot.height() / 2)), QColor(Qt::red));

    d.chkGrp->click();
    EXPECT_FALSE(d.pic_clip->crossed());
    EXPECT_TRUE(d.optSize[2]->isEnabled());
    EXPECT_TRUE(d.SliderArc->isEnabled());
}

TEST_F(frmMailSendTest, ChecksBeforeSending) {
    frmMailSend d(boxes, sender);
    d.show();
    d.txtMail->setText("   ");
    AppSettings.Mail.Smtp = ""; // the account is incomplete too, but the destination comes first
    d.bcmdOK->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "ﾒｰﾙｱﾄﾞﾚｽを入力して下さい。");
    EXPECT_EQ(boxes.shown[0].title, "手動ﾒｰﾙ送信");
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);

    // A destination that is no address list is refused before the account is even looked at.
    for (const char* bad : {"a@x.jp>NOTIFY=NEVER", "Taro Yamada taro@x.jp", "a@x.jp\x0b"}) {
        boxes.shown.clear();
        d.txtMail->setText(QString::fromUtf8(bad));
        d.bcmdOK->click();
        ASSERT_EQ(boxes.shown.size(), 1u) << bad;
        EXPECT_EQ(boxes.shown[0].text, RecipientProblemMessage(ParseAddressList(bad)));
        EXPECT_EQ(boxes.shown[0].title, "手動ﾒｰﾙ送信");
        EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);
    }

    boxes.shown.clear();
    d.txtMail->setText("Taro Yamada <to@x.jp>");
    d.bcmdOK->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "ﾒｰﾙｱｶｳﾝﾄ設定のSMTPｻｰﾊﾞｰ名を入力して下さい。");
    EXPECT_EQ(boxes.shown[0].title, "ﾒｰﾙ送信元ﾁｪｯｸ");
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(transport.calls.empty());
    EXPECT_TRUE(filesIn(home.path() + "/img").empty());
}

TEST_F(frmMailSendTest, TextOnlySendWritesNoPictureAndCloses) {
    frmMailSend d(boxes, sender);
    d.show();
    d.txtMail->setText(" to@x.jp ");
    d.txtSubject->setText(" 件名 ");
    d.txtBody->setPlainText(" 本文\n二行目 ");
    d.chkGrp->click();
    d.bcmdOK->click();
    ASSERT_EQ(transport.calls.size(), 1u);
    const auto& args = transport.calls[0].args;
    EXPECT_EQ(args[2], "to@x.jp\t>Reply-To: cam@x.jp");
    EXPECT_EQ(args[4], "件名");
    EXPECT_EQ(args[5], "本文\n二行目");
    EXPECT_EQ(args[6], ""); // no attachment
    EXPECT_TRUE(filesIn(home.path() + "/img").empty());
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "送信しました。");
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Information);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_FALSE(d.isVisible());
}

TEST_F(frmMailSendTest, PictureIsWrittenAtTheChosenSizeAndAttached) {
    const std::pair<int, QSize> sizes[] = {{0, {640, 480}}, {1, {320, 240}}, {2, {110, 82}}};
    for (const auto& [option, size] : sizes) {
        SCOPED_TRACE(option);
        transport.calls.clear();
        fs::remove_all(home.path() + "/img");
        fs::create_directories(home.path() + "/img");
        frmMailSend d(boxes, sender);
        d.DrawImage(0);
        d.show();
        d.txtMail->setText("to@x.jp");
        d.optSize[option]->click();
        const QString before = QDateTime::currentDateTime().toString("yyMMddHHmmss");
        d.bcmdOK->click();
        const QString after = QDateTime::currentDateTime().toString("yyMMddHHmmss");
        ASSERT_EQ(transport.calls.size(), 1u);
        const std::string files = transport.calls[0].args[6];
        ASSERT_FALSE(files.empty());
        EXPECT_EQ(files.back(), '\0');
        const std::string path = files.substr(0, files.size() - 1);
        std::smatch m;
        ASSERT_TRUE(
            std::regex_match(path, m, std::regex(home.path() + "/img/(\\d{12})_TEST\\.jpg")))
            << path;
        EXPECT_GE(QString::fromStdString(m[1]), before);
        EXPECT_LE(QString::fromStdString(m[1]), after);
        QImage written(QString::fromStdString(path), "JPEG");
        EXPECT_EQ(written.size(), size);
    }
}

TEST_F(frmMailSendTest, PictureThatCannotBeWrittenSendsNothing) {
    fs::remove_all(home.path() + "/img");
    frmMailSend d(boxes, sender);
    d.show();
    d.txtMail->setText("to@x.jp");
    d.bcmdOK->click();
    EXPECT_TRUE(transport.calls.empty());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(d.isVisible());
}

// A failed send says so with the transport's reason and keeps everything the user typed.
TEST_F(frmMailSendTest, FailedSendShowsTheErrorAndKeepsTheWindow) {
    transport.sendResult = "Login denied (67): 535 5.7.8 Authentication credentials invalid";
    frmMailSend d(boxes, sender);
    d.show();
    d.txtMail->setText("to@x.jp");
    d.txtSubject->setText("subject");
    d.chkGrp->click();
    d.bcmdOK->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].icon, MessageBoxes::Icon::Critical);
    EXPECT_EQ(boxes.shown[0].title, "手動ﾒｰﾙ送信");
    EXPECT_EQ(boxes.shown[0].text.rfind("ﾒｰﾙ送信ｴﾗｰでした。", 0), 0u);
    EXPECT_NE(boxes.shown[0].text.find("535 5.7.8"), std::string::npos);
    EXPECT_TRUE(d.isVisible());
    EXPECT_NE(d.result(), QDialog::Accepted);
    EXPECT_EQ(d.txtMail->text(), "to@x.jp");
    EXPECT_EQ(d.txtSubject->text(), "subject");

    // The user can retry from the same window.
    transport.sendResult.clear();
    d.bcmdOK->click();
    EXPECT_EQ(transport.calls.size(), 2u);
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

TEST_F(frmMailSendTest, SendCancelAndCloseDoNothingWhileSending) {
    GateTransport gate;
    MailSender gated(gate);
    frmMailSend d(boxes, gated);
    d.show();
    d.txtMail->setText("to@x.jp");
    d.chkGrp->click();
    bool checked = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(d.sending());
        d.bcmdCancel->click();
        d.bcmdOK->click();
        d.close();
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.result(), QDialog::Rejected); // the initial result, never set meanwhile
        checked = true;
        gate.open();
    });
    d.bcmdOK->click();
    EXPECT_TRUE(checked);
    EXPECT_EQ(gate.calls.size(), 1u);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "送信しました。");
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

// The whole way to a real server: the placeholder picture arrives as a 110 x 82 JPEG.
TEST_F(frmMailSendTest, RealServerReceivesThePictureAtTheChosenSize) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start(), 0);
    CurlMailTransport real;
    MailSender realSender(real);
    AppSettings.Mail.Smtp = smtp.server();
    frmMailSend d(boxes, realSender);
    d.DrawImage(0);
    d.show();
    d.txtMail->setText("to@x.jp");
    d.txtSubject->setText("手動ﾒｰﾙ");
    d.optSize[2]->click();
    d.bcmdOK->click();
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "送信しました。");
    const auto msgs = smtp.messages();
    ASSERT_EQ(msgs.size(), 1u);
    EXPECT_EQ(HeaderOf(msgs[0], "subject"), "手動ﾒｰﾙ");
    EXPECT_EQ(HeaderOf(msgs[0], "reply-to"), "cam@x.jp");
    const QJsonArray atts = msgs[0]["attachments"].toArray();
    ASSERT_EQ(atts.size(), 1);
    const QJsonObject att = atts[0].toObject();
    EXPECT_TRUE(std::regex_match(att["filename"].toString().toStdString(),
                                 std::regex("\\d{12}_TEST\\.jpg")));
    const QImage got(att["path"].toString(), "JPEG");
    EXPECT_EQ(got.size(), QSize(110, 82));
}

// What the window says after a send against a real server: partly refused recipients still make
// a sent mail; a failure gives our Japanese words before libcurl's English text.
TEST_F(frmMailSendTest, RealServerOutcomesInTheMessage) {
    SmtpPeer smtp;
    ASSERT_GT(smtp.start({"--auth", "login", "--user", "alice", "--password", "pw", "--refuse-rcpt",
                          "nobody"}),
              0);
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
        SCOPED_TRACE(r.to + " " + r.password);
        boxes.shown.clear();
        AppSettings.Mail.Smtp = r.smtp;
        AppSettings.Mail.SmtpPass = r.password;
        frmMailSend d(boxes, realSender);
        d.show();
        d.txtMail->setText(QString::fromStdString(r.to));
        d.chkGrp->click();
        d.bcmdOK->click();
        ASSERT_EQ(boxes.shown.size(), 1u);
        size_t at = 0;
        for (const auto& line : r.lines) {
            at = boxes.shown[0].text.find(line, at);
            EXPECT_NE(at, std::string::npos) << line << " in " << boxes.shown[0].text;
        }
    }
    ASSERT_EQ(smtp.messages().size(), 1u);
    EXPECT_EQ(smtp.messages()[0]["rcpt_tos"].toArray(), QJsonArray({"to@x.jp"}));
}

// With a live camera the window takes its current frame, at the camera's own size.
TEST_F(frmMailSendTest, DrawImageTakesTheCurrentFrame) {
    setenv("PAWLINEX_VIDEO_SOURCES", "lavfi:color=c=red:s=64x48:r=15,format=rgb24", 1);
    RefreshVideoSources();
    QWidget host;
    host.resize(160, 120);
    const HCAPWND hCapWnd = capCreateCaptureWindowA("", 0, 0, 0, 160, 120, &host, 0);
    ASSERT_NE(hCapWnd, HCAPWND(0));
    ASSERT_TRUE(capDriverConnect(hCapWnd, 0));
    frmMailSend d(boxes, sender);
    d.DrawImage(hCapWnd);
    capDriverDisconnect(hCapWnd);
    unsetenv("PAWLINEX_VIDEO_SOURCES");
    ASSERT_EQ(d.picture().size(), QSize(64, 48));
    EXPECT_EQ(QColor(d.picture().pixel(10, 10)), QColor(255, 0, 0));
    EXPECT_EQ(QColor(d.pic_clip->picture().pixel(50, 40)), QColor(255, 0, 0));

    // And that frame is what goes out, scaled to the chosen size.
    d.show();
    d.txtMail->setText("to@x.jp");
    d.optSize[1]->click();
    d.bcmdOK->click();
    ASSERT_EQ(transport.calls.size(), 1u);
    const std::string files = transport.calls[0].args[6];
    const QImage sent(QString::fromStdString(files.substr(0, files.size() - 1)), "JPEG");
    ASSERT_EQ(sent.size(), QSize(320, 240));
    const QColor c = sent.pixel(160, 120);
    EXPECT_GT(c.red(), 200);
    EXPECT_LT(c.green(), 60);
    EXPECT_LT(c.blue(), 60);
}
