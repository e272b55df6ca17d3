// Frame comparison against a plain memcpy of one frame, at two camera sizes, 32 bits per pixel.
// The comparison reads two frames and writes one, memcpy reads one and writes one, so a ratio
// near 1.5 means the comparison runs at memory speed.

#include "detection/FrameDifference.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>

namespace {

Frame randomFrame(int width, int height, uint32_t seed) {
    BitmapHeader h;
    h.bmWidth = width;
    h.bmHeight = height;
    h.bmWidthBytes = width * 4;
    h.bmPlanes = 1;
    h.bmBitsPixel = 32;
    Frame f{h, std::vector<uint8_t>(size_t(h.bmWidthBytes) * size_t(height))};
    std::mt19937 rng(seed);
    for (uint8_t& b : f.bits)
        b = uint8_t(rng());
    return f;
}

// The worst mask for the cell-by-cell loop: every other cell, so each row breaks into sixteen
// stretches.
CompareExtras checkered(bool light) {
    CompareExtras extras;
    for (int c = 0; c < DetectionMask::kColumns; ++c)
        for (int r = 0; r < DetectionMask::kRows; ++r)
            extras.mask.setMasked(c, r, (c + r) % 2 == 0);
    extras.lightPercent = light ? 50 : 0;
    return extras;
}

// The program's own way: two shared camera frames in turn, each becoming the reference.
void compareShared(benchmark::State& state, bool noise, const CompareExtras& extras = {}) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frame a = randomFrame(width, height, 1);
    Frame b = randomFrame(width, height, 2);
    const SharedFrame frames[2] = {{a.header, std::make_shared<FrameBytes>(std::move(a.bits))},
                                   {b.header, std::make_shared<FrameBytes>(std::move(b.bits))}};
    DetectorState detector;
    bool skip = false;
    std::vector<uint8_t> diff;
    CompareFrame(frames[1], detector, skip, 50, noise, diff, extras);
    size_t turn = 1;
    for (auto _ : state) {
        const CompareResult r =
            CompareFrame(frames[turn ^= 1], detector, skip, 50, noise, diff, extras);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(diff.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(frames[0].bits->size()));
}

template <auto Compare> void compareFrames(benchmark::State& state, bool noise) {
    const int width = int(state.range(0));
    const int height = int(state.range(1));
    Frame cur = randomFrame(width, height, 1);
    Frame other = randomFrame(width, height, 2);
    DetectorState detector;
    bool skip = false;
    std::vector<uint8_t> diff;
    Compare(other, detector, skip, 50, noise, diff, CompareExtras{});
    // Each call swaps the frame with the reference, so the two frames take turns and every
    // iteration is a full comparison of different pictures.
    for (auto _ : state) {
        const CompareResult r = Compare(cur, detector, skip, 50, noise, diff, CompareExtras{});
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(diff.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(cur.bits.size()));
}

void BM_Compare(benchmark::State& state) {
    compareShared(state, true);
}
void BM_CompareNoNoise(benchmark::State& state) {
    compareShared(state, false);
}
void BM_CompareMasked(benchmark::State& state) {
    compareShared(state, true, checkered(false));
}
void BM_CompareLight(benchmark::State& state) {
    CompareExtras extras;
    extras.lightPercent = 50;
    compareShared(state, true, extras);
}
void BM_CompareMaskedLight(benchmark::State& state) {
    compareShared(state, true, checkered(true));
}
void BM_CompareReference(benchmark::State& state) {
    compareFrames<CompareFrameReference>(state, true);
}

void BM_Memcpy(benchmark::State& state) {
    const size_t bytes = size_t(state.range(0)) * size_t(state.range(1)) * 4;
    std::vector<uint8_t> src = randomFrame(int(state.range(0)), int(state.range(1)), 3).bits;
    std::vector<uint8_t> dst(bytes);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), bytes);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

#define SIZES Args({640, 480})->Args({1920, 1080})->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Memcpy)->SIZES;
BENCHMARK(BM_Compare)->SIZES;
BENCHMARK(BM_CompareNoNoise)->SIZES;
BENCHMARK(BM_CompareMasked)->SIZES;
BENCHMARK(BM_CompareLight)->SIZES;
BENCHMARK(BM_CompareMaskedLight)->SIZES;
BENCHMARK(BM_CompareReference)->SIZES;

// Keeps the console output and remembers the CPU time of every repetition for the ratios
// printed at the end (the median when repeated). CPU time rather than wall time: on a shared
// machine the wall clock also counts other people's work.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            if (run.run_type == Run::RT_Iteration)
                times[run.run_name.str()].push_back(run.GetAdjustedCPUTime());
            else if (run.aggregate_name == "median") // iterations may not be reported then
                medians[run.run_name.str()] = run.GetAdjustedCPUTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    double median(const std::string& name) {
        if (auto m = medians.find(name); m != medians.end())
            return m->second;
        auto it = times.find(name);
        if (it == times.end() || it->second.empty())
            return 0;
        std::vector<double>& v = it->second;
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    }
    std::map<std::string, std::vector<double>> times;
    std::map<std::string, double> medians;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nTime relative to memcpy of one frame (target: comparison within 2x):\n");
    for (const char* size : {"640/480", "1920/1080"}) {
        const double copy = reporter.median(std::string("BM_Memcpy/") + size);
        if (copy <= 0)
            continue;
        std::printf("  %-20s %-10s %9.1f us CPU\n", "BM_Memcpy", size, copy);
        for (const char* name :
             {"BM_Compare", "BM_CompareNoNoise", "BM_CompareMasked", "BM_CompareLight",
              "BM_CompareMaskedLight", "BM_CompareReference"}) {
            const double t = reporter.median(std::string(name) + "/" + size);
            if (t > 0)
                std::printf("  %-20s %-10s %9.1f us CPU  ratio %.2f\n", name, size, t, t / copy);
        }
    }
    return 0;
}
