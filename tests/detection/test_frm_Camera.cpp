#include "capture/frm_Camera.h"
#include "common/TestServices.h"

#include "AlarmDoubles.h"
#include "detection/DetectionHost.h"
#include "detection/ScopePanel.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <deque>
#include <stdexcept>

namespace {

// A grabbed frame of w x h, every colour byte `value` (fourth byte 0).
Frame Solid(int w, int h, uint8_t value) {
    Frame f;
    f.header = {0, w, h, 4 * w, 1, 32, 0};
    f.bits.assign(size_t(4 * w) * h, value);
    for (size_t i = 3; i < f.bits.size(); i += 4)
        f.bits[i] = 0;
    return f;
}

// Hands out a scripted sequence: a frame, a failed copy, or a copy without a frame.
class ScriptedSource final : public FrameSource {
public:
    explicit ScriptedSource(CallLog& log) : m_log(log) {}
    struct Step {
        bool copied = true;
        bool hasFrame = true;
        Frame frame;
        bool again = false; // the same picture as last time (a camera that froze)
    };
    std::deque<Step> steps;
    void push(Frame f) { steps.push_back({true, true, std::move(f)}); }
    bool grabFrame() override {
        m_log.add("capGrabFrame");
        return true;
    }
    bool editCopy() override {
        m_log.add("capEditCopy");
        return !steps.empty() && steps.front().copied;
    }
    void previewOn() override {
        m_log.add("capPreview on");
        if (!steps.empty() && !steps.front().copied)
            steps.pop_front();
    }
    bool takeFrame(Frame& f) override {
        m_log.add("takeFrame");
        Step s = std::move(steps.front());
        steps.pop_front();
        if (!s.hasFrame)
            return false;
        f = std::move(s.frame);
        return true;
    }
    bool takeSharedFrame(SharedFrame& f) override {
        if (!steps.empty() && steps.front().again) {
            m_log.add("takeFrame");
            steps.pop_front();
            f = m_last;
            return true;
        }
        if (!FrameSource::takeSharedFrame(f))
            return false;
        m_last = f;
        return true;
    }

private:
    CallLog& m_log;
    SharedFrame m_last;
};

class FakeHost final : public DetectionHost {
public:
    explicit FakeHost(CallLog& log) : m_log(log) {}
    bool stop = false;
    bool editing = false;
    bool enabled = true;
    bool isStopSelected() const override { return stop; }
    bool isThresholdEditing() const override { return editing; }
    void sDispEnabled(bool e) override {
        enabled = e;
        m_log.add(e ? "sDispEnabled(true)" : "sDispEnabled(false)");
    }

private:
    CallLog& m_log;
};

class ThrowingRecorder final : public ClipRecorder {
public:
    bool getSetup(CAPTUREPARMS&) override { throw std::runtime_error("driver gone"); }
    bool setSetup(const CAPTUREPARMS&) override { return true; }
    bool setCaptureFile(const std::string&) override { return true; }
    bool captureSequence() override { return true; }
    bool captureStop() override { return true; }
};

} // namespace

class TestFrmCamera : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    CallLog log;
    std::unique_ptr<ScriptedSource> source;
    std::unique_ptr<FakeHost> host;
    std::unique_ptr<RecordingRecorder> recorder;
    std::unique_ptr<RecordingUploader> uploader;
    std::unique_ptr<RecordingMailer> mailer;
    std::unique_ptr<RecordingPictures> pictures;
    std::unique_ptr<RecordingSound> sound;
    FixedClock clock;
    TestServices services;
    std::unique_ptr<ScopePanel> scope;
    std::unique_ptr<frm_Camera> cam;

    void tick() {
        if (!cam->Timer1->isActive())
            cam->startTimer1();
        cam->Timer1_Timer();
    }

    // The camera under test, on the fixture's doubles and the alarm's edges `ports`.
    void makeCamera(const AlarmActionPorts& ports) {
        cam.reset();
        cam = std::make_unique<frm_Camera>(
            host.get(), scope.get(), services.services, nullptr,
            CameraStandIns{source.get(), ports, sound.get(), &clock, home.path().toStdString()});
    }

private slots:
    void initTestCase() {
        // The last alarm's date separator follows the locale; these tests read slashes.
        QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    }

    void init() {
        QVERIFY(home.isValid());
        log.calls.clear();
        clock.time = QDateTime(QDate(2007, 10, 9), QTime(4, 26, 19));
        AppSettings = AppSettingsRecord{};
        AppSettings.Com.Timer = 7;
        AppSettings.Com.CkSum = 100;
        AppSettings.Com.Accuracy = 100;
        AppSettings.Com.SoundPath = "/media/alarm.oga";
        AppSettings.Ftp.Move = true;
        AppSettings.Ftp.Time = 5;
        AppSettings.Trg[0].Enabled = true;
        AppSettings.Trg[0].MailTo = "a@x";
        AppSettings.Trg[0].Grp = 1;
        AppSettings.Trg[0].MinSize = 2;
        services.panels.reset();
        source = std::make_unique<ScriptedSource>(log);
        host = std::make_unique<FakeHost>(log);
        recorder = std::make_unique<RecordingRecorder>(log);
        uploader = std::make_unique<RecordingUploader>(log);
        mailer = std::make_unique<RecordingMailer>(log);
        pictures = std::make_unique<RecordingPictures>(log);
        sound = std::make_unique<RecordingSound>(log);
        scope = std::make_unique<ScopePanel>();
        makeCamera({recorder.get(), uploader.get(), mailer.get(), pictures.get(), &clock});
    }
    void cleanup() {
        cam.reset();
        scope.reset();
    }

    // Stopped or editing: the timer stays stopped and nothing is grabbed.
    void earlyReturnsLeaveTimerStopped() {
        for (int which = 0; which < 2; ++which) {
            host->stop = which == 0;
            host->editing = which == 1;
            source->push(Solid(8, 4, 10));
            log.calls.clear();
            tick();
            QVERIFY(!cam->Timer1->isActive());
            QVERIFY(log.calls.empty());
        }
        // A tick that finds the timer stopped does nothing at all.
        host->stop = host->editing = false;
        cam->stopTimer1();
        cam->Timer1_Timer();
        QVERIFY(log.calls.empty());
        QVERIFY(!cam->Timer1->isActive());
    }

    void rearmsWithCurrentTimingNeverZero() {
        source->push(Solid(8, 4, 10));
        AppSettings.Com.Timer = 30; // changed by the slider during the tick's life
        tick();
        QVERIFY(cam->Timer1->isActive());
        QCOMPARE(cam->Timer1->interval(), 3000);
        AppSettings.Com.Timer = 0;
        tick(); // no frame scripted: a failed copy
        QVERIFY(cam->Timer1->isActive());
        QVERIFY(cam->Timer1->interval() > 0);
        QCOMPARE(log.calls[0], std::string("capGrabFrame"));
        QCOMPARE(log.calls[1], std::string("capEditCopy"));
        QCOMPARE(log.calls[2], std::string("capPreview on"));
    }

    // The first frame only becomes the reference; the next identical one compares to 0.
    void firstTickReportsZeroThenCompares() {
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 60));
        tick();
        QCOMPARE(cam->ChangeLevel(), 0);
        QCOMPARE(scope->lblCount()->text(), QStringLiteral("000"));
        QVERIFY2(scope->scopeImage().isNull(), "no comparison, no scope image");
        QCOMPARE(services.panels.text(1), std::string("Pawlinex: 大丈夫ワン！"));
        QCOMPARE(scope->lblTime()->text(), QStringLiteral("04:26:19"));
        tick();
        QCOMPARE(cam->ChangeLevel(), 0);
        QCOMPARE(scope->scopeImage().size(), scope->scopeInnerSize());
        // 50 in three of four bytes: mean 37.5 * 100.
        AppSettings.Com.CkSum = 9999;
        tick();
        QCOMPARE(cam->ChangeLevel(), 3750);
        QCOMPARE(scope->lblCount()->text(), QString::fromStdString(FormatCount(
                                                3750, QLocale().groupSeparator().toStdString())));
        QCOMPARE(cam->lastState(), LevelState::Calm);
        QCOMPARE(qRed(scope->scopeImage().pixel(5, 5)), 50);
        QCOMPARE(qRed(cam->picViewA().pixel(0, 0)), 60); // the frame, not its difference
    }

    // No copy, or a copy without a frame: every display stays as it was, the timer re-arms.
    void tickWithoutFrameChangesNothing() {
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 90));
        tick();
        tick();
        const QString count = scope->lblCount()->text();
        const QImage scopeImage = scope->scopeImage();
        const QImage chart = scope->timeline().image();
        const std::string panel1 = services.panels.text(1);
        clock.time = clock.time.addSecs(4); // short of counting as a lost camera
        source->steps.push_back({false, false, {}});
        source->steps.push_back({true, false, {}});
        for (int i = 0; i < 2; ++i) {
            tick();
            QVERIFY(cam->Timer1->isActive());
            QCOMPARE(scope->lblCount()->text(), count);
            QCOMPARE(scope->scopeImage(), scopeImage);
            QCOMPARE(scope->timeline().image(), chart);
            QCOMPARE(scope->lblTime()->text(), QStringLiteral("04:26:19"));
            QCOMPARE(services.panels.text(1), panel1);
        }
        QVERIFY(source->steps.empty());
    }

    // The alarm command hears of the alarm after the clip and its upload (at once without a
    // clip), with its own full-size picture of the alarm frame, and before the mails.
    void alarmCommandAfterTheClipBeforeTheMails() {
        struct Case {
            bool move;
            std::vector<std::string> between; // calls between the lock and the command
            std::string clip;
        };
        const std::string avi = home.path().toStdString() + "/avi/071009042619_ALERT.AVI";
        const std::vector<Case> cases = {
            {true,
             {"capCaptureGetSetup", "capCaptureSetSetup", "capFileSetCaptureFile",
              "capCaptureSequence", "capCaptureStop", "FtpLogin", "AutoFTP"},
             avi},
            {false, {}, ""},
        };
        for (const Case& c : cases) {
            init();
            RecordingCommandRunner runner(log);
            AlarmActionPorts ports{recorder.get(), uploader.get(), mailer.get(), pictures.get(),
                                   &clock};
            ports.command = &runner;
            makeCamera(ports);
            AppSettings.Ftp.Move = c.move;
            AppSettings.Ftp.Ftp = true;
            AppSettings.Extra.OnAlarm = "notify.sh";
            source->push(Solid(8, 4, 10));
            source->push(Solid(8, 4, 200));
            tick();
            log.calls.clear();
            tick();
            QCOMPARE(cam->lastState(), LevelState::Alarm);
            std::vector<std::string> expected = {"capGrabFrame",
                                                 "capEditCopy",
                                                 "capPreview on",
                                                 "takeFrame",
                                                 "SoundPlay /media/alarm.oga",
                                                 "sDispEnabled(false)"};
            expected.insert(expected.end(), c.between.begin(), c.between.end());
            for (const char* call :
                 {"DCSavetoJPEG", "AlarmCommand notify.sh", "UpdateMailAccountState",
                  "DCSavetoJPEG", "MailSend a@x", "sDispEnabled(true)"})
                expected.push_back(call);
            QCOMPARE(log.calls, expected);
            QCOMPARE(pictures->pictures[0].width, 640);
            QCOMPARE(pictures->pictures[0].height, 480);
            QCOMPARE(runner.runs.size(), size_t(1));
            const AlarmCommandRun& run = runner.runs[0];
            QCOMPARE(run.picture, home.path().toStdString() + "/img/071009042619_HOOK.jpg");
            QCOMPARE(pictures->pictures[0].path, run.picture + '\0');
            QCOMPARE(run.clip, c.clip);
            QCOMPARE(run.level, cam->ChangeLevel());
            QCOMPARE(run.time, clock.time);
            QCOMPARE(run.folder, home.path().toStdString());
            cleanup();
        }
        init();
    }

    // The dialog's trial runs the command it is given once, waited for, on the frame it passes
    // or else the last frame the camera gave; an empty command runs nothing.
    void trialOfTheAlarmCommand() {
        RecordingCommandRunner runner(log);
        AlarmActionPorts ports{recorder.get(), uploader.get(), mailer.get(), pictures.get(),
                               &clock};
        ports.command = &runner;
        makeCamera(ports);
        source->push(Solid(8, 4, 60));
        tick();
        log.calls.clear();

        QCOMPARE(cam->tryAlarmCommand("", QImage()).started, false);
        QVERIFY(log.calls.empty());
        const AlarmCommandResult result = cam->tryAlarmCommand("notify.sh", QImage());
        QCOMPARE(result.output, std::string("done"));
        QCOMPARE(log.calls,
                 (std::vector<std::string>{"DCSavetoJPEG", "AlarmCommand once notify.sh"}));
        QCOMPARE(qRed(pictures->pictures[0].source.pixel(0, 0)), 60);
        QCOMPARE(runner.runs[0].clip, std::string());
        QCOMPARE(runner.runs[0].picture, home.path().toStdString() + "/img/071009042619_HOOK.jpg");

        QImage own(4, 4, QImage::Format_RGB32);
        own.fill(qRgb(7, 7, 7));
        cam->tryAlarmCommand("notify.sh", own);
        QCOMPARE(qRed(pictures->pictures[1].source.pixel(0, 0)), 7);
    }

    // An alarm locks the commands around the actions, mails the alarm frame, re-primes the
    // detector; the next tick reports 0, closes the sound and stops the repeat.
    void alarmSequenceAndRepriming() {
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 200));
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 10));
        tick();
        log.calls.clear();
        tick();
        QCOMPARE(cam->lastState(), LevelState::Alarm);
        QVERIFY(cam->Timer2->isActive());
        QCOMPARE(cam->Timer2->interval(), 100);
        const std::vector<std::string> expected = {"capGrabFrame",
                                                   "capEditCopy",
                                                   "capPreview on",
                                                   "takeFrame",
                                                   "SoundPlay /media/alarm.oga",
                                                   "sDispEnabled(false)",
                                                   "capCaptureGetSetup",
                                                   "capCaptureSetSetup",
                                                   "capFileSetCaptureFile",
                                                   "capCaptureSequence",
                                                   "capCaptureStop",
                                                   "UpdateMailAccountState",
                                                   "DCSavetoJPEG",
                                                   "MailSend a@x",
                                                   "sDispEnabled(true)"};
        QCOMPARE(log.calls, expected);
        QVERIFY(scope->lampLit(2) && scope->strokeShown(2) && !scope->lampLit(0));
        QCOMPARE(services.panels.text(1), std::string("Pawlinex: 警報！ 誰かいたワン！!"));
        QCOMPARE(services.panels.text(2), std::string("最終警報: 2007/10/09 04:26"));
        QVERIFY(cam->Timer1->isActive());

        // The mailed picture is the frame that raised the alarm, at 110 x 82.
        QCOMPARE(pictures->pictures.size(), size_t(1));
        QCOMPARE(qRed(pictures->pictures[0].source.pixel(3, 2)), 200);
        QCOMPARE(pictures->pictures[0].width, 110);

        // Same scene again after the actions: no comparison with the alarm frame.
        log.calls.clear();
        tick();
        QCOMPARE(cam->ChangeLevel(), 0);
        QCOMPARE(cam->lastState(), LevelState::Calm);
        QVERIFY(log.has("SoundClose /media/alarm.oga"));
        QVERIFY(!cam->Timer2->isActive());
        QCOMPARE(services.panels.text(1), std::string("Pawlinex: 大丈夫ワン！"));
        QCOMPARE(services.panels.text(2), std::string("最終警報: 2007/10/09 04:26"));
        QVERIFY(scope->lampLit(0));
        tick();
        QCOMPARE(cam->ChangeLevel(), 0);
    }

    void repeatTimerLoopsTheSound() {
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 200));
        tick();
        tick();
        QVERIFY(QTest::qWaitFor([&] { return log.has("SoundRepeat /media/alarm.oga"); }, 10000));
    }

    // An action that fails ends the tick but must not leave the commands dead.
    void failingActionKeepsCommandsEnabled() {
        ThrowingRecorder broken;
        makeCamera({&broken, uploader.get(), mailer.get(), pictures.get(), &clock});
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 200));
        source->push(Solid(8, 4, 10));
        tick();
        tick();
        QVERIFY(host->enabled);
        QVERIFY(cam->Timer1->isActive());
        QCOMPARE(log.calls.back(), std::string("sDispEnabled(true)"));
        QVERIFY(!log.has("MailSend a@x"));
        tick();
        QCOMPARE(cam->ChangeLevel(), 0);
        QVERIFY(!cam->Timer2->isActive());
    }

    // A handler that restarts the timer inside the alarm's waits must not start a second tick
    // (and so a second recording) inside the first; the outer tick re-arms when it ends.
    void noNestedTickDuringAlarmActions() {
        int nestedGrabs = -1;
        recorder->onSequence = [&](const std::string&) {
            const size_t before = log.calls.size();
            cam->startTimer1();
            cam->Timer1_Timer();
            nestedGrabs = int(log.calls.size() - before);
        };
        source->push(Solid(8, 4, 10));
        source->push(Solid(8, 4, 200));
        source->push(Solid(8, 4, 10));
        tick();
        tick();
        QCOMPARE(nestedGrabs, 0);
        QVERIFY(cam->Timer1->isActive());
        QCOMPARE(source->steps.size(), size_t(1));
        QCOMPARE(log.calls.back(), std::string("sDispEnabled(true)"));
    }

    // A broken frame is a run-time error: the tick ends quietly and re-arms.
    void brokenFrameEndsTickQuietly() {
        source->push(Solid(8, 4, 10));
        tick();
        const QString count = scope->lblCount()->text();
        Frame bad = Solid(8, 4, 10);
        bad.bits.resize(7);
        source->push(std::move(bad));
        Frame empty = Solid(8, 4, 10);
        empty.header.bmHeight = 0;
        source->push(std::move(empty));
        tick();
        tick();
        QVERIFY(cam->Timer1->isActive());
        QCOMPARE(scope->lblCount()->text(), count);
    }

    // A camera that freezes, then sends nothing: five seconds on, panel 1 says so with every
    // lamp dim and the sound left alone; at sixty seconds each enabled trigger gets one mail
    // without picture. The first picture back starts a fresh reference, so a changed scene
    // raises no alarm, and its return is mailed too.
    void lostCameraIsShownMailedAndReturnsWithoutAlarm() {
        AppSettings.Trg[2].Enabled = true;
        AppSettings.Trg[2].MailTo = "c@x";
        const auto panel1 = [this] { return services.panels.text(1); };
        const auto after = [&](int seconds, ScriptedSource::Step step) {
            clock.time = clock.time.addSecs(seconds);
            source->steps.push_back(std::move(step));
            tick();
        };
        source->push(Solid(8, 4, 10));
        tick();
        after(4, {true, true, {}, true});
        QCOMPARE(panel1(), std::string("Pawlinex: 大丈夫ワン！"));
        log.calls.clear();
        after(1, {true, true, {}, true});
        QCOMPARE(panel1(), std::string(kCameraLostText));
        QVERIFY(!scope->lampLit(0) && !scope->lampLit(1) && !scope->lampLit(2));
        QVERIFY(!scope->strokeShown(0) && !scope->strokeShown(1) && !scope->strokeShown(2));
        QVERIFY(!log.has("SoundClose /media/alarm.oga"));
        after(30, {false, false, {}});
        QCOMPARE(panel1(), std::string(kCameraLostText));
        QVERIFY(mailer->mails.empty());
        after(25, {false, false, {}});
        QCOMPARE(mailer->mails.size(), size_t(2));
        for (const auto& m : mailer->mails) {
            QCOMPARE(m.subject, std::string(kCameraLostSubject));
            QVERIFY(m.files.empty());
        }
        QCOMPARE(mailer->mails[1].to, std::string("c@x"));
        QVERIFY(host->enabled);
        after(60, {false, false, {}});
        QCOMPARE(mailer->mails.size(), size_t(2));

        after(1, {true, true, Solid(8, 4, 200)});
        QCOMPARE(cam->ChangeLevel(), 0);
        QCOMPARE(cam->lastState(), LevelState::Calm);
        QCOMPARE(panel1(), std::string("Pawlinex: 大丈夫ワン！"));
        QVERIFY(scope->lampLit(0));
        QCOMPARE(mailer->mails.size(), size_t(4));
        QCOMPARE(mailer->mails[3].subject, std::string(kCameraBackSubject));
        QVERIFY(!log.has("capCaptureSequence"));
        after(1, {true, true, Solid(8, 4, 200)});
        QCOMPARE(cam->ChangeLevel(), 0);
    }

    // Stopped detection is not a lost camera: the silence while stopped is not counted.
    void stoppedDetectionIsNotALostCamera() {
        source->push(Solid(8, 4, 10));
        tick();
        host->stop = true;
        clock.time = clock.time.addSecs(600);
        tick();
        host->stop = false;
        source->steps.push_back({false, false, {}});
        tick();
        QCOMPARE(services.panels.text(1), std::string("Pawlinex: 大丈夫ワン！"));
    }

    void timelineDrawsAtTheTickTime() {
        clock.time = QDateTime(QDate(2026, 12, 7), QTime(12, 12, 0));
        source->push(Solid(8, 4, 10));
        tick();
        QCOMPARE(scope->timeline().LastTimelineX(), int16_t(81));
        QCOMPARE(scope->lblNow()->x(), 77);
        QCOMPARE(scope->lblTime()->text(), QStringLiteral("12:12:00"));
    }
};

QTEST_MAIN(TestFrmCamera)
#include "test_frm_Camera.moc"
