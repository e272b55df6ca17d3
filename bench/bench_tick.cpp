// CPU time of one detection tick at 640x480 (grab hand-over, comparison, scope, level read-out,
// classification, timeline) next to the comparison alone. Run offscreen:
//   QT_QPA_PLATFORM=offscreen build/bench/bench_tick
#include "capture/frm_Camera.h"
#include "detection/DetectionHost.h"
#include "detection/FrameDifference.h"
#include "detection/ScopePanel.h"
#include "settings/AppSettings.h"
#include "tests/common/TestServices.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <random>

namespace {

constexpr int kW = 640, kH = 480;

Frame NoisyFrame(uint32_t seed) {
    Frame f;
    f.header = {0, kW, kH, 4 * kW, 1, 32, 0};
    f.bits.resize(size_t(4) * kW * kH);
    std::mt19937 rng(seed);
    for (size_t i = 0; i < f.bits.size(); ++i)
        f.bits[i] = (i % 4 == 3) ? 0 : uint8_t(100 + rng() % 8);
    return f;
}

// Two slightly different frames in turn, as a quiet camera delivers them.
class AlternatingSource final : public FrameSource {
public:
    Frame a = NoisyFrame(1), b = NoisyFrame(2);
    bool flip = false;
    bool grabFrame() override { return true; }
    bool editCopy() override { return true; }
    void previewOn() override {}
    bool takeFrame(Frame& f) override {
        f = (flip = !flip) ? a : b;
        return true;
    }
};

class QuietHost final : public DetectionHost {
public:
    bool isStopSelected() const override { return false; }
    bool isThresholdEditing() const override { return false; }
    void sDispEnabled(bool) override {}
};

class SilentSound final : public AlarmSound {
public:
    void play(const std::string&) override {}
    void close(const std::string&) override {}
    void repeat(const std::string&) override {}
};

void Settings() {
    AppSettings.Com.Timer = 5;
    AppSettings.Com.CkSum = 9999; // the bench measures the quiet path, never an alarm
    AppSettings.Com.Accuracy = 100;
    AppSettings.Com.Noize = true;
}

void BM_Tick(benchmark::State& state) {
    Settings();
    QuietHost host;
    ScopePanel scope;
    TestServices services;
    AlternatingSource source;
    SilentSound sound;
    CameraStandIns standIns;
    standIns.frames = &source;
    standIns.sound = &sound;
    frm_Camera cam(&host, &scope, services.services, nullptr, standIns);
    for (auto _ : state) {
        cam.startTimer1();
        cam.Timer1_Timer();
        benchmark::DoNotOptimize(cam.ChangeLevel());
    }
    cam.stopTimer1();
}
BENCHMARK(BM_Tick)->Unit(benchmark::kMillisecond);

void BM_CompareOnly(benchmark::State& state) {
    Settings();
    DetectorState det;
    std::vector<uint8_t> diff;
    const Frame a = NoisyFrame(1), b = NoisyFrame(2);
    bool skip = false;
    bool flip = false;
    for (auto _ : state) {
        Frame cur = (flip = !flip) ? a : b;
        benchmark::DoNotOptimize(CompareFrame(cur, det, skip, 100, true, diff));
    }
}
BENCHMARK(BM_CompareOnly)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
