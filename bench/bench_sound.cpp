// The first SoundPlay of a long warning sound: how long the caller (the user-interface thread)
// waits, and how much memory the decoded sound takes. Ten minutes of 44.1 kHz stereo PCM and,
// when ffmpeg is on PATH, the same as Ogg Vorbis. SDL's dummy audio driver plays it.

#include "sound/basSound.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

const std::string kWav = "/tmp/pawlinex-bench-10min.wav";
const std::string kOga = "/tmp/pawlinex-bench-10min.oga";

void put16(std::ofstream& out, uint16_t v) {
    out.put(char(v & 0xFF)).put(char(v >> 8));
}
void put32(std::ofstream& out, uint32_t v) {
    put16(out, uint16_t(v & 0xFFFF));
    put16(out, uint16_t(v >> 16));
}

// 16-bit stereo PCM at 44.1 kHz, a 440 Hz tone.
void writeWav(const std::string& path, int seconds) {
    const uint32_t rate = 44100, frames = rate * uint32_t(seconds);
    std::ofstream out(path, std::ios::binary);
    out.write("RIFF", 4);
    put32(out, 36 + frames * 4);
    out.write("WAVEfmt ", 8);
    put32(out, 16);
    put16(out, 1);
    put16(out, 2);
    put32(out, rate);
    put32(out, rate * 4);
    put16(out, 4);
    put16(out, 16);
    out.write("data", 4);
    put32(out, frames * 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const auto s = uint16_t(int16_t(8000 * std::sin(2 * M_PI * 440 * i / rate)));
        put16(out, s);
        put16(out, s);
    }
}

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
    writeWav(kWav, 600);
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
