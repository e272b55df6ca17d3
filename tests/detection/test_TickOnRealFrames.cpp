// The detection tick on frames decoded by the real capture engine from FFmpeg lavfi sources.
#include "capture/CaptureEngine.h"
#include "capture/frm_Camera.h"
#include "common/TestServices.h"

#include "AlarmDoubles.h"
#include "detection/DetectionHost.h"
#include "detection/ScopePanel.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cstring>
#include <functional>

namespace {

// Hands the tick a frame the engine decoded after the one taken last, so two ticks always
// compare two different moments of the source. Shared, as the capture window hands it over.
class EngineSource final : public FrameSource {
public:
    explicit EngineSource(CaptureEngine& e) : m_engine(e) {}
    bool grabFrame() override {
        m_engine.waitForFrameAfter(m_serial, 5000);
        m_ready = m_engine.latestShared(m_grabbed.header, m_grabbed.bits, &m_serial);
        return m_ready;
    }
    bool editCopy() override { return m_ready; }
    void previewOn() override {}
    bool takeFrame(Frame& f) override {
        SharedFrame s;
        if (!takeSharedFrame(s))
            return false;
        f.header = s.header;
        f.bits.assign(s.bits->begin(), s.bits->end());
        return true;
    }
    bool takeSharedFrame(SharedFrame& f) override {
        f = std::move(m_grabbed);
        m_grabbed = {};
        m_ready = false;
        return !f.empty();
    }

private:
    CaptureEngine& m_engine;
    SharedFrame m_grabbed;
    uint64_t m_serial = 0;
    bool m_ready = false;
};

class Host final : public DetectionHost {
public:
    bool isStopSelected() const override { return false; }
    bool isThresholdEditing() const override { return false; }
    void sDispEnabled(bool) override {}
};

} // namespace

class TestTickOnRealFrames : public QObject {
    Q_OBJECT

    struct Run {
        std::vector<int32_t> levels;
        std::vector<LevelState> states;
        int alarms = 0;
    };

    Run runTicks(const std::string& spec, int ticks,
                 const std::function<void(CaptureEngine&, frm_Camera&)>& after = {}) {
        CaptureEngine engine;
        if (!engine.open(spec, 10000))
            return {};
        CallLog log;
        Host host;
        ScopePanel scope;
        TestServices services;
        frm_Camera cam(&host, &scope, services.services);
        EngineSource source(engine);
        RecordingRecorder recorder(log);
        RecordingUploader uploader(log);
        RecordingMailer mailer(log);
        RecordingPictures pictures(log);
        RecordingSound sound(log);
        FixedClock clock;
        QTemporaryDir home;
        cam.setFrameSource(&source);
        cam.setAlarmPorts({&recorder, &uploader, &mailer, &pictures, &clock});
        cam.setAlarmSound(&sound);
        cam.setClock(&clock);
        cam.setProgramFolder(home.path().toStdString());
        Run run;
        for (int i = 0; i < ticks; ++i) {
            cam.startTimer1();
            cam.Timer1_Timer();
            run.levels.push_back(cam.ChangeLevel());
            run.states.push_back(cam.lastState());
            if (cam.lastState() == LevelState::Alarm)
                ++run.alarms;
        }
        cam.stopTimer1();
        if (after)
            after(engine, cam);
        return run;
    }

private slots:
    void init() {
        AppSettings = AppSettingsRecord{};
        AppSettings.Com.Timer = 1;
        AppSettings.Com.CkSum = 10;
        AppSettings.Com.Accuracy = 100;
        AppSettings.Com.Noize = true;
    }

    void stillSceneStaysCalm() {
        const Run run = runTicks("lavfi:color=c=0x405060:s=160x120:r=25", 5);
        QCOMPARE(run.levels.size(), size_t(5));
        for (size_t i = 0; i < run.levels.size(); ++i) {
            QCOMPARE(run.levels[i], 0);
            QCOMPARE(run.states[i], LevelState::Calm);
        }
    }

    // A box that moves every frame: the first comparison alarms, the tick after the alarm only
    // re-primes and reports 0, so the three ticks raise exactly one alarm.
    void movingBoxRaisesOneAlarm() {
        const Run run =
            runTicks("lavfi:color=c=black:s=160x120:r=25[bg];color=c=white:s=30x30:r=25[box];"
                     "[bg][box]overlay=x='mod(n*7,130)':y=40[out0]",
                     3);
        QCOMPARE(run.levels.size(), size_t(3));
        QCOMPARE(run.levels[0], 0);
        QVERIFY2(run.levels[1] > 10, qPrintable(QString::number(run.levels[1])));
        QCOMPARE(run.states[1], LevelState::Alarm);
        QCOMPARE(run.alarms, 1);
        QCOMPARE(run.levels[2], 0);
        QCOMPARE(run.states[2], LevelState::Calm);
    }

    // The alarm picture shares the engine's buffer instead of copying it: however many frames
    // the engine decodes afterwards, it must still show the frame the tick took.
    void alarmPictureStaysAsGrabbedWhileTheCameraRunsOn() {
        bool checked = false;
        runTicks("lavfi:testsrc2=s=160x120:r=100", 2, [&](CaptureEngine& engine, frm_Camera& cam) {
            const QImage taken = cam.picViewA().copy();
            QVERIFY(!taken.isNull());
            uint64_t serial = engine.frameSerial();
            for (int i = 0; i < 40; ++i) {
                QVERIFY(engine.waitForFrameAfter(serial, 5000));
                serial = engine.frameSerial();
            }
            Frame latest;
            QVERIFY(engine.latestFrame(latest));
            QVERIFY(std::memcmp(latest.bits.data(), taken.constBits(), latest.bits.size()) != 0);
            QCOMPARE(cam.picViewA(), taken);
            checked = true;
        });
        QVERIFY(checked);
    }
};

QTEST_MAIN(TestTickOnRealFrames)
#include "test_TickOnRealFrames.moc"
