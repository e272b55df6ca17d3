// The whole alarm path with the real program: a camera in which a box appears, a clip with
// sound recorded and uploaded to a real FTP server, and two trigger mails (one with a 320x240
// picture, one without) delivered to a real SMTP server.
#include "common/PeerProcess.h"
#include "settings/AppSettings.h"
#include "settings/basSettings.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FilesIn(const std::string& dir, const std::string& suffix) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file() && e.path().string().ends_with(suffix))
            out.push_back(e.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

// Runs a checking tool and returns its standard output.
std::string RunTool(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {};
    return p.readAllStandardOutput().trimmed().toStdString();
}

QJsonObject Mail(const std::string& path) {
    return QJsonDocument::fromJson(QByteArray::fromStdString(ReadFile(path))).object();
}

bool PanelEndsAlarm(const std::string& dump) {
    return dump.find("Pawlinex: 警報！ 誰かいたワン！!\n") != std::string::npos;
}

} // namespace

TEST(AlarmEndToEnd, ClipUploadAndTwoMails) {
    const char* programDir = std::getenv("PAWLINEX_PROGRAM_DIR");
    ASSERT_NE(programDir, nullptr);
    const std::string program = std::string(programDir) + "/pawlinex";
    ASSERT_TRUE(fs::exists(program));

    TempFolder home, mailOut, ftpHome;
    for (const char* sub : {"img", "avi", "help"})
        fs::create_directory(home.path() + "/" + sub);
    fs::create_directory(ftpHome.path() + "/clips");

    PeerProcess smtp, ftp;
    ASSERT_TRUE(
        smtp.start({"/usr/bin/python3", PeersDir() + "/smtp_server.py", "serve", mailOut.path()}));
    const std::string smtpPort = smtp.readLine();
    ASSERT_FALSE(smtpPort.empty());
    ASSERT_TRUE(ftp.start({"/usr/bin/python3", PeersDir() + "/ftp_server.py", "serve",
                           ftpHome.path(), "cam", "s3cret"}));
    const std::string ftpPort = ftp.readLine();
    ASSERT_FALSE(ftpPort.empty());

    // The settings the user would have made in the dialogs.
    setenv("PAWLINEX_HOME", home.path().c_str(), 1);
    AppSettings = AppSettingsRecord{};
    AppSettings.Com = {2, 300, 100, "", "", true, false};
    AppSettings.Mail.Mail = "pawlinex@cam.test";
    AppSettings.Mail.Smtp = "127.0.0.1\t" + smtpPort;
    AppSettings.Mail.Att = "0";
    MailTrigger a;
    a.Enabled = true;
    a.MailTo = "a@home.test";
    a.Subject = "Alarm A";
    a.Body = "Picture attached";
    a.Grp = 1;
    a.MinSize = 1;
    a.Arc = 80;
    MailTrigger b = a;
    b.MailTo = "b@home.test";
    b.Subject = "Alarm B";
    b.Body = "No picture";
    b.Grp = 0;
    AppSettings.Trg = {a, b, MailTrigger{}, MailTrigger{}};
    AppSettings.Ftp = {true, true, "127.0.0.1 " + ftpPort, "cam", "s3cret", "clips", false,
                       5,    true};
    ASSERT_TRUE(SaveSettings());

    const std::string dump = home.path() + "/panel1.txt";
    setenv("PAWLINEX_PANEL_DUMP", dump.c_str(), 1);
    // A white box appears for one second in every ten, from t = 2 s.
    setenv("PAWLINEX_VIDEO_SOURCES",
           "lavfi:color=c=black:s=320x240:r=15,"
           "drawbox=x=100:y=70:w=100:h=100:c=white:t=fill:enable='between(mod(t+8,10),0,1)'",
           1);
    setenv("PAWLINEX_AUDIO_SOURCE", "lavfi:sine=frequency=440", 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);

    PeerProcess app;
    ASSERT_TRUE(app.start({program}));
    // Generous bound for a loaded machine; the alarm itself comes within seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(150);
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        QThread::msleep(200);
        done = PanelEndsAlarm(ReadFile(dump)) && FilesIn(mailOut.path(), ".json").size() >= 2;
    }
    app.stop();
    smtp.stop();
    ftp.stop();
    ASSERT_TRUE(done) << "panel 1:\n" << ReadFile(dump);

    // The stamped clip: an AVI with MJPEG video and PCM sound.
    const auto clips = FilesIn(home.path() + "/avi", "_ALERT.AVI");
    ASSERT_FALSE(clips.empty());
    const std::string clip = clips.front();
    EXPECT_EQ(RunTool("ffprobe", {"-v", "error", "-show_entries", "format=format_name", "-of",
                                  "csv=p=0", QString::fromStdString(clip)}),
              "avi");
    const std::string codecs =
        RunTool("ffprobe", {"-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                            QString::fromStdString(clip)});
    EXPECT_NE(codecs.find("mjpeg"), std::string::npos) << codecs;
    EXPECT_NE(codecs.find("pcm_s16le"), std::string::npos) << codecs;

    // The server holds the same bytes under the same name, in the folder asked for.
    const std::string uploaded = ftpHome.path() + "/clips/" + fs::path(clip).filename().string();
    ASSERT_TRUE(fs::exists(uploaded));
    EXPECT_EQ(ReadFile(uploaded), ReadFile(clip));
    EXPECT_FALSE(fs::exists(home.path() + "/FTP_PUT.txt"));
    const std::string ftpLog = ReadFile(home.path() + "/ftp.log.txt");
    EXPECT_NE(ftpLog.find("\t" + clip + "\tclips/" + fs::path(clip).filename().string() + "\tOK\n"),
              std::string::npos)
        << ftpLog;

    // Trigger A first, with its 320x240 JPEG; trigger B without an attachment.
    const auto mails = FilesIn(mailOut.path(), ".json");
    const QJsonObject ma = Mail(mails[0]);
    const QJsonObject mb = Mail(mails[1]);
    EXPECT_EQ(ma["rcpt_tos"].toArray().at(0).toString(), "a@home.test");
    EXPECT_EQ(mb["rcpt_tos"].toArray().at(0).toString(), "b@home.test");
    const QJsonArray atts = ma["attachments"].toArray();
    ASSERT_EQ(atts.size(), 1);
    EXPECT_EQ(atts.at(0).toObject()["content_type"].toString(), "image/jpeg");
    const QString jpeg = atts.at(0).toObject()["path"].toString();
    EXPECT_EQ(RunTool("identify", {"-format", "%m %wx%h", jpeg}), "JPEG 320x240");
    EXPECT_TRUE(mb["attachments"].toArray().isEmpty());
    // The picture also stays in img/.
    EXPECT_FALSE(FilesIn(home.path() + "/img", "_ALERT.jpg").empty());
}
