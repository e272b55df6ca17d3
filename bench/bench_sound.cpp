// The first SoundPlay of a long warning sound: how long the caller (the user-interface thread)
// waits, and how much memory the decoded sound takes. Ten minutes of 44.1 kHz stereo PCM and,
// when ffmpeg is on PATH, the same as Ogg Vorbis. SDL's dummy audio driver plays it.

#include "sound/basSound.h"

#include "common/ToneWav.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const std::string kWav = "/tmp/pawlinex-bench-10min.wav";
const std::string kOga = "/tmp/pawlinex-bench-10min.oga";

long peakRssMb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6)) / 1024;
    return -1;
}

void firstPlay(benchmark::State& state, const std::string& path) {
    std::ifstream probe(path);
    if (!probe) {
        state.SkipWithError("sound file missing");
        return;
    }
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        SoundPlay(path);
        const auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        if (SoundMode(path) != "PLAYING")
            state.SkipWithError("not playing");
        SoundCloseAll(); // waits for the decoding
    }
    state.counters["peak_rss_MB"] = double(peakRssMb());
}

} // namespace

int main(int argc, char** argv) {
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    WriteToneWav(kWav, 600, 44100, 2); // 16-bit stereo PCM at 44.1 kHz
    const std::string encode = "ffmpeg -loglevel error -y -i " + kWav + " -c:a libvorbis " + kOga;
    if (std::system(encode.c_str()) != 0)
        std::remove(kOga.c_str());
    SoundPlay("/nonexistent"); // opens the audio output outside the timing
    benchmark::RegisterBenchmark("first_SoundPlay/wav_10min", firstPlay, kWav)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("first_SoundPlay/oga_10min", firstPlay, kOga)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    std::remove(kWav.c_str());
    std::remove(kOga.c_str());
    return 0;
}
