// The detection tick on frames decoded by the real capture engine from FFmpeg lavfi sources.
#include "capture/CaptureEngine.h"
#include "capture/frm_Camera.h"
#include "common/TestServices.h"

#include "AlarmDoubles.h"
#include "detection/DetectionHost.h"
#include "detection/LevelState.h"
#include "detection/ScopePanel.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
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
        std::vector<std::string> panel1; // after each tick
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
        EngineSource source(engine);
        RecordingRecorder recorder(log);
        RecordingUploader uploader(log);
        RecordingMailer mailer(log);
        RecordingPictures pictures(log);
        RecordingSound sound(log);
        FixedClock clock;
        QTemporaryDir home;
        frm_Camera cam(&host, &scope, services.services, nullptr,
                       {&source,
                        {&recorder, &uploader, &mailer, &pictures, &clock},
                        &sound,
                        &clock,
                        home.path().toStdString()});
        Run run;
        for (int i = 0; i < ticks; ++i) {
            cam.startTimer1();
            cam.Timer1_Timer();
            run.levels.push_back(cam.ChangeLevel());
            run.states.push_back(cam.lastState());
            if (cam.lastState() == LevelState::Alarm)
                ++run.alarms;
            run.panel1.push_back(services.panels.text(1));
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

    // Ignored cells and changes of light raise no alarm; the same motion elsewhere, or the same
    // light change with the guard off, does. The box is 10 x 10 pixels moving within x 0..39,
    // y 10..19 of a 160 x 120 picture (cells of 10 x 10): cell columns 0..3 of cell row 1.
    void maskAndLightGuard() {
        const std::string box = "lavfi:color=c=black:s=160x120:r=25[bg];"
                                "color=c=white:s=10x10:r=25[box];"
                                "[bg][box]overlay=x='mod(n*3,30)':y=10[out0]";
        const std::string boxRight = "lavfi:color=c=black:s=160x120:r=25[bg];"
                                     "color=c=white:s=10x10:r=25[box];"
                                     "[bg][box]overlay=x='120+mod(n*3,30)':y=10[out0]";
        // The whole picture a step brighter or darker every frame, by 47 luma levels or more.
        const std::string light = "lavfi:color=c=gray:s=160x120:r=25,"
                                  "geq=lum='28+mod(N*47,200)':cb=128:cr=128";
        const std::string topLeft = "F000F000F000" + std::string(36, '0'); // columns 0-3, rows 0-2
        const std::string rightColumns = "000F000F000F" + std::string(36, '0');
        const struct {
            const char* what;
            const std::string& spec;
            std::string mask;
            int light;
            bool alarms;
            bool lightText;
        } rows[] = {
            {"box in masked cells", box, topLeft, 0, false, false},
            {"box in unmasked cells", box, "", 0, true, false},
            {"box beside the masked cells", boxRight, topLeft, 0, true, false},
            {"box in the masked right columns", boxRight, rightColumns, 0, false, false},
            {"box with the light guard on", box, "", 50, true, false},
            {"light steps, guard on", light, "", 50, false, true},
            {"light steps, guard on behind a mask", light, topLeft, 50, false, true},
            {"light steps, guard off", light, "", 0, true, false},
        };
        for (const auto& r : rows) {
            init();
            AppSettings.Extra.Mask = r.mask;
            AppSettings.Extra.Light = r.light;
            const Run run = runTicks(r.spec, 4);
            QVERIFY2(run.levels.size() == 4, r.what);
            QVERIFY2((run.alarms > 0) == r.alarms, r.what);
            const bool lightSeen =
                std::count(run.panel1.begin(), run.panel1.end(), kLightChangeText) > 0;
            QVERIFY2(lightSeen == r.lightText, r.what);
            if (r.lightText) {
                // Measured and shown, but judged calm, and the next frame only re-primes.
                const auto at = std::find(run.panel1.begin(), run.panel1.end(), kLightChangeText);
                const size_t i = size_t(at - run.panel1.begin());
                QVERIFY2(run.levels[i] > AppSettings.Com.CkSum, r.what);
                QVERIFY2(run.states[i] == LevelState::Calm, r.what);
                QVERIFY2(i + 1 < run.levels.size() && run.levels[i + 1] == 0, r.what);
            }
        }
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
