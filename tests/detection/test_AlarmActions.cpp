#include "detection/AlarmActions.h"

#include "AlarmDoubles.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class AlarmActionsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        folder = dir.path().toStdString();
        fs::create_directory(folder + "/avi");
        fs::create_directory(folder + "/img");
        AppSettings = AppSettingsRecord{};
        panels.setListener([this](int panel) {
            if (panel == 1)
                panel1.push_back(panels.text(1));
        });
        recorder.onSequence = [](const std::string& path) { std::ofstream(path) << "clip"; };
        frame = QImage(64, 48, QImage::Format_RGB32);
        frame.fill(qRgb(10, 20, 30));
    }

    AlarmActions actions() {
        return AlarmActions({&recorder, &uploader, &mailer, &pictures, &clock}, panels, folder);
    }

    QTemporaryDir dir;
    StatusPanels panels;
    std::string folder;
    CallLog log;
    RecordingRecorder recorder{log};
    RecordingUploader uploader{log};
    RecordingMailer mailer{log};
    RecordingPictures pictures{log};
    FixedClock clock;
    std::vector<std::string> panel1;
    QImage frame;
    QImage canvas;
};

TEST(AlarmStamp, TwoDigitFieldsAndUnderscore) {
    EXPECT_EQ(AlarmStamp(QDateTime(QDate(2007, 10, 9), QTime(4, 26, 19))), "071009042619_");
    EXPECT_EQ(AlarmStamp(QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59))), "261231235959_");
    EXPECT_EQ(AlarmStamp(QDateTime(QDate(2100, 1, 1), QTime(0, 0, 0))), "000101000000_");
}

TEST_F(AlarmActionsTest, MoveOffDoesNothingEvenWithFtpOn) {
    AppSettings.Ftp.Ftp = true;
    actions().sStartAVI();
    EXPECT_TRUE(log.calls.empty());
    EXPECT_TRUE(panel1.empty());
}

TEST_F(AlarmActionsTest, RecordsWithTheSetUpBlockAndUploadsTheStampedClip) {
    AppSettings.Ftp = {true, true, "ftp.example", "alice", "secret", "/cam", false, 7, true};
    recorder.driverBlock.vKeyAbort = 0x1B;
    recorder.driverBlock.wNumVideoRequested = 32;
    recorder.driverBlock.fAbortLeftMouse = 1;
    recorder.driverBlock.fMakeUserHitOKToCapture = 1;
    actions().sStartAVI();

    const std::vector<std::string> expected = {"capCaptureGetSetup",
                                               "capCaptureSetSetup",
                                               "capFileSetCaptureFile",
                                               "capCaptureSequence",
                                               "capCaptureStop",
                                               "FtpLogin",
                                               "AutoFTP"};
    EXPECT_EQ(log.calls, expected);
    const CAPTUREPARMS& p = recorder.written;
    EXPECT_EQ(p.dwRequestMicroSecPerFrame, 33333u);
    EXPECT_EQ(p.fMakeUserHitOKToCapture, 0);
    EXPECT_EQ(p.fCaptureAudio, 1);
    EXPECT_EQ(p.fAbortLeftMouse, 0);
    EXPECT_EQ(p.fAbortRightMouse, 0);
    EXPECT_EQ(p.fLimitEnabled, 1);
    EXPECT_EQ(p.wTimeLimit, 7u);
    EXPECT_EQ(p.vKeyAbort, 0x1Bu) << "the driver's own fields are kept";
    EXPECT_EQ(p.wNumVideoRequested, 32u);

    EXPECT_EQ(recorder.file, folder + "/avi/071009042619_ALERT.AVI");
    ASSERT_EQ(uploader.uploads.size(), 1u);
    const auto& u = uploader.uploads[0];
    EXPECT_EQ(u.name, "071009042619_ALERT.AVI");
    EXPECT_EQ(u.path, folder + "/avi/071009042619_ALERT.AVI");
    EXPECT_EQ(u.folder, "/cam");
    EXPECT_EQ(u.mode, "binary");
    EXPECT_EQ(u.appPath, folder);
    EXPECT_EQ(u.host, "ftp.example");
    EXPECT_EQ(u.user, "alice");
    EXPECT_EQ(u.pass, "secret");
    EXPECT_EQ(panel1,
              (std::vector<std::string>{"Pawlinex: 動画録画中･･･", "Pawlinex: FTPで送信中･･･"}));
    EXPECT_FALSE(fs::exists(folder + "/avi/ALERT.AVI"));
}

TEST_F(AlarmActionsTest, AudioOffAndFtpOffRecordOnly) {
    AppSettings.Ftp.Move = true;
    AppSettings.Ftp.Time = 30;
    recorder.driverBlock.fCaptureAudio = 1;
    actions().sStartAVI();
    EXPECT_EQ(recorder.written.fCaptureAudio, 0);
    EXPECT_EQ(recorder.written.wTimeLimit, 30u);
    EXPECT_FALSE(log.has("AutoFTP"));
    EXPECT_EQ(panel1, std::vector<std::string>{"Pawlinex: 動画録画中･･･"});
}

// The fixed name replaces the earlier copy while the stamped clip stays.
TEST_F(AlarmActionsTest, FixedNameUploadsAFreshCopy) {
    AppSettings.Ftp = {true, true, "h", "u", "p", "", true, 5, false};
    std::ofstream(folder + "/avi/ALERT.AVI") << "old clip from an earlier alarm";
    actions().sStartAVI();
    ASSERT_EQ(uploader.uploads.size(), 1u);
    EXPECT_EQ(uploader.uploads[0].name, "ALERT.AVI");
    EXPECT_EQ(uploader.uploads[0].path, folder + "/avi/ALERT.AVI");
    EXPECT_EQ(ReadFile(folder + "/avi/ALERT.AVI"), "clip");
    EXPECT_EQ(ReadFile(folder + "/avi/071009042619_ALERT.AVI"), "clip");
}

TEST_F(AlarmActionsTest, UploadThatCannotStartDoesNotEscape) {
    AppSettings.Ftp = {true, true, "h", "u", "p", "", false, 5, false};
    uploader.throwOnUpload = true;
    EXPECT_NO_THROW(actions().sStartAVI());
    EXPECT_TRUE(log.has("AutoFTP"));
}

void Trigger(int i, bool enabled, const char* to, int16_t grp, int16_t minSize, int16_t arc) {
    MailTrigger& t = AppSettings.Trg[i];
    t.Enabled = enabled;
    t.MailTo = to;
    t.Subject = std::string("件名") + char('A' + i);
    t.Body = "本文\r\n2行目";
    t.Grp = grp;
    t.MinSize = minSize;
    t.Arc = arc;
}

// No clip kept (a missing or full avi folder), or a recorder that kept none though it said it
// did: no ALERT.AVI copy, no upload; the earlier copy stays and the mail still goes out.
TEST_F(AlarmActionsTest, NoClipSkipsCopyAndUploadButNotTheMail) {
    struct Case {
        const char* what;
        bool fileName;
        bool recorded;
        bool fileWritten;
    } cases[] = {
        {"fixed name, recorder kept nothing", true, false, false},
        {"stamped name, recorder kept nothing", false, false, false},
        {"fixed name, recorder said yes but no file", true, true, false},
    };
    for (const Case& c : cases) {
        log.calls.clear();
        uploader.uploads.clear();
        mailer.mails.clear();
        AppSettings.Ftp = {true, true, "h", "u", "p", "", c.fileName, 5, false};
        std::ofstream(folder + "/avi/ALERT.AVI") << "earlier clip";
        recorder.recorded = c.recorded;
        recorder.onSequence = nullptr;
        if (c.fileWritten)
            recorder.onSequence = [](const std::string& path) { std::ofstream(path) << "clip"; };
        Trigger(0, true, "a@x", 1, 0, 50);
        EXPECT_NO_THROW(actions().sStartAVI()) << c.what;
        EXPECT_FALSE(log.has("AutoFTP")) << c.what;
        EXPECT_EQ(ReadFile(folder + "/avi/ALERT.AVI"), "earlier clip") << c.what;
        actions().sStartMailSend(frame, canvas);
        ASSERT_EQ(mailer.mails.size(), 1u) << c.what;
        EXPECT_FALSE(mailer.mails[0].files.empty()) << c.what;
    }
}

TEST_F(AlarmActionsTest, EachTriggerGetsItsOwnPictureAndMail) {
    Trigger(0, true, "a@x", 1, 1, 75);
    Trigger(1, true, "b@x", 0, 1, 75);
    Trigger(2, false, "c@x", 1, 0, 50);
    Trigger(3, true, "d@x", 1, 2, 0);
    actions().sStartMailSend(frame, canvas);

    const std::vector<std::string> expected = {"DCSavetoJPEG", "MailSend a@x", "MailSend b@x",
                                               "DCSavetoJPEG", "MailSend d@x"};
    EXPECT_EQ(log.calls, expected);
    ASSERT_EQ(pictures.pictures.size(), 2u);
    const std::string jpg = folder + "/img/071009042619_ALERT.jpg" + std::string(1, '\0');
    EXPECT_EQ(pictures.pictures[0].path, jpg);
    EXPECT_EQ(pictures.pictures[0].width, 320);
    EXPECT_EQ(pictures.pictures[0].height, 240);
    EXPECT_EQ(pictures.pictures[0].quality, 75);
    EXPECT_EQ(pictures.pictures[1].width, 110);
    EXPECT_EQ(pictures.pictures[1].height, 82);
    EXPECT_EQ(pictures.pictures[1].quality, 0);
    EXPECT_EQ(pictures.pictures[1].source, frame) << "always the frame that raised the alarm";

    ASSERT_EQ(mailer.mails.size(), 3u);
    EXPECT_EQ(mailer.mails[0].files, jpg);
    EXPECT_EQ(mailer.mails[0].subject, "件名A");
    EXPECT_EQ(mailer.mails[0].body, "本文\r\n2行目");
    EXPECT_EQ(mailer.mails[1].files, "") << "a trigger without a picture attaches nothing";
    EXPECT_EQ(mailer.mails[2].files, jpg);
    EXPECT_EQ(panel1, (std::vector<std::string>{"Pawlinex: ﾒｰﾙ送信中･･･", "自動ﾒｰﾙ送信中", "",
                                                "Pawlinex: ﾒｰﾙ送信中･･･", "自動ﾒｰﾙ送信中", "",
                                                "Pawlinex: ﾒｰﾙ送信中･･･", "自動ﾒｰﾙ送信中", ""}));
}

TEST_F(AlarmActionsTest, PictureSizeFallsBackTo640For0AndUnknown) {
    Trigger(0, true, "a@x", 1, 0, 50);
    Trigger(1, true, "b@x", 1, 7, 50);
    actions().sStartMailSend(frame, canvas);
    ASSERT_EQ(pictures.pictures.size(), 2u);
    for (const auto& p : pictures.pictures) {
        EXPECT_EQ(p.width, 640);
        EXPECT_EQ(p.height, 480);
    }
}

TEST_F(AlarmActionsTest, FailedMailShowsErrorAndNextTriggerIsTried) {
    Trigger(0, true, "a@x", 0, 0, 0);
    Trigger(1, true, "b@x", 0, 0, 0);
    mailer.result = [](const RecordingMailer::Mail& m) { return m.to != "a@x"; };
    actions().sStartMailSend(frame, canvas);
    EXPECT_EQ(mailer.mails.size(), 2u);
    EXPECT_EQ(panel1, (std::vector<std::string>{"Pawlinex: ﾒｰﾙ送信中･･･", "自動ﾒｰﾙ送信中",
                                                "ﾒｰﾙ送信ｴﾗｰでした。", "Pawlinex: ﾒｰﾙ送信中･･･",
                                                "自動ﾒｰﾙ送信中", ""}));
}

// A server that never answered is not waited for again within the same alarm: the later
// triggers are logged as skipped, without a picture; a refusal does not stop the others.
TEST_F(AlarmActionsTest, UnansweredServerSkipsTheRemainingMailsOfTheAlarm) {
    struct Case {
        const char* failing;    // recipient whose mail fails
        const char* unanswered; // its reason when the server never answered, else ""
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"a@x",
         "Timeout was reached (28)",
         {"MailSend a@x", "skipped b@x", "skipped c@x", "skipped d@x"}},
        {"b@x",
         "POP before SMTP failed: Timeout was reached (28)",
         {"MailSend a@x", "MailSend b@x", "skipped c@x", "skipped d@x"}},
        {"a@x",
         "",
         {"MailSend a@x", "MailSend b@x", "MailSend c@x", "DCSavetoJPEG", "MailSend d@x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " / " + c.unanswered);
        log.calls.clear();
        mailer.mails.clear();
        mailer.skipped.clear();
        Trigger(0, true, "a@x", 0, 0, 0);
        Trigger(1, true, "b@x", 0, 0, 0);
        Trigger(2, true, "c@x", 0, 0, 0);
        Trigger(3, true, "d@x", 1, 0, 50);
        const std::string failing = c.failing;
        const std::string why = c.unanswered;
        mailer.result = [failing](const RecordingMailer::Mail& m) { return m.to != failing; };
        mailer.unanswered = [failing, why](const RecordingMailer::Mail& m) {
            return m.to == failing ? why : std::string();
        };
        actions().sStartMailSend(frame, canvas);
        EXPECT_EQ(log.calls, c.calls);
        for (const auto& [to, reason] : mailer.skipped)
            EXPECT_EQ(reason, c.unanswered) << to;
        if (!mailer.skipped.empty()) {
            EXPECT_EQ(panels.text(1), "ﾒｰﾙ送信ｴﾗｰでした。");
        }
    }
}

// A picture that cannot be written costs its own trigger only, and says so.
TEST_F(AlarmActionsTest, UnwritablePictureSkipsThatTriggerOnly) {
    Trigger(0, true, "a@x", 1, 1, 50);
    Trigger(1, true, "b@x", 1, 1, 50);
    Trigger(2, true, "c@x", 0, 0, 0);
    Trigger(3, true, "d@x", 1, 2, 50);
    pictures.failOnCall = 1; // trigger B's picture
    actions().sStartMailSend(frame, canvas);
    ASSERT_EQ(mailer.mails.size(), 3u);
    EXPECT_EQ(mailer.mails[0].to, "a@x");
    EXPECT_EQ(mailer.mails[1].to, "c@x");
    EXPECT_EQ(mailer.mails[2].to, "d@x");
    EXPECT_NE(mailer.mails[2].files, "");
    const std::vector<std::string> forB(panel1.begin() + 3, panel1.begin() + 5);
    EXPECT_EQ(forB, (std::vector<std::string>{"Pawlinex: ﾒｰﾙ送信中･･･", "ﾒｰﾙ送信ｴﾗｰでした。"}));
}

TEST_F(AlarmActionsTest, NoEnabledTriggerChangesNothing) {
    panels.setText(1, "before");
    panel1.clear();
    actions().sStartMailSend(frame, canvas);
    EXPECT_TRUE(log.calls.empty());
    EXPECT_EQ(panels.text(1), "before");
}

} // namespace
