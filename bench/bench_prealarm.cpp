// Memory and CPU of the pre-alarm ring with ten seconds kept, at 640x480 and 1920x1080.
//
// For each size, in a process of its own (so peak memory is that size's alone): makes a 4 s,
// 30 fps MJPEG file of a moving test picture with sensor-like noise (ffmpeg tool), runs the
// camera engine on it (looping at its own rate) for 12 s without the ring, then 12 s with the
// ring fed from every frame (encoded at quality 85, as clips are), and prints the process CPU of
// each span, the ring's pictures and bytes, the peak resident memory (VmHWM) before and after,
// and the time a clip of 1 s takes to start with the ring's ten seconds and finish.
// Run from a Release build: build/bench/bench_prealarm
#include "capture/AviRecorder.h"
#include "capture/CaptureEngine.h"
#include "capture/PreAlarmFeeder.h"
#include "capture/PreAlarmRing.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long statusKb(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::atol(line.c_str() + std::string(key).size() + 1);
    return -1;
}

int runSize(int w, int h) {
    auto dir =
        std::filesystem::temp_directory_path() / ("pawlinex-bench-pre-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string clip = (dir / "camera.avi").string();
    const std::string make =
        "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=" + std::to_string(w) + "x" +
        std::to_string(h) + ":rate=30,noise=alls=6:allf=t -t 4 -c:v mjpeg -q:v 5 '" + clip + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "could not make the test clip with ffmpeg\n");
        return 1;
    }
    CaptureEngine engine;
    if (!engine.open(clip)) {
        std::fprintf(stderr, "the engine could not open the clip\n");
        return 1;
    }
    const double span = 12;
    auto phase = [&](auto&& during) {
        const uint64_t s0 = engine.frameSerial();
        const double c0 = cpuSeconds();
        std::this_thread::sleep_for(std::chrono::duration<double>(span));
        during();
        return std::make_pair(cpuSeconds() - c0, engine.frameSerial() - s0);
    };
    auto [plainCpu, plainFrames] = phase([] {});
    const long hwmPlain = statusKb("VmHWM");

    PreAlarmRing ring;
    ring.setQuality(85);
    PreAlarmFeeder feeder(engine, ring);
    feeder.setSeconds(10);
    size_t pictures = 0, bytes = 0;
    auto [ringCpu, ringFrames] = phase([&] {
        pictures = ring.pictureCount();
        bytes = ring.bytes();
    });
    feeder.setPaused(true);
    const long hwmRing = statusKb("VmHWM");

    AviRecorder rec(engine);
    AviRecorderSettings s;
    s.path = (dir / "clip.avi").string();
    s.limitSeconds = 1;
    s.quality = 85;
    s.preAlarm = ring.snapshot(Clock::now());
    const auto t0 = Clock::now();
    const double c0 = cpuSeconds();
    const bool started = rec.start(s);
    rec.finish();
    const double clipWall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double clipCpu = cpuSeconds() - c0;
    const auto clipBytes = started ? std::filesystem::file_size(s.path) : 0;

    std::printf("%dx%d, 30 fps MJPEG camera, %.0f s spans:\n", w, h, span);
    std::printf("  engine alone:           %6.2f s CPU (%5.1f %% of a core), %llu frames\n",
                plainCpu, 100 * plainCpu / span, static_cast<unsigned long long>(plainFrames));
    std::printf("  engine + ring (10 s):   %6.2f s CPU (%5.1f %% of a core), %llu frames\n",
                ringCpu, 100 * ringCpu / span, static_cast<unsigned long long>(ringFrames));
    std::printf("  ring: %zu pictures, %.1f MB (%.0f kB a picture), cap %.0f MB\n", pictures,
                bytes / 1e6, pictures ? bytes / 1e3 / double(pictures) : 0.0,
                ring.maxBytes() / 1048576.0);
    std::printf("  peak RSS: %.1f MB without the ring, %.1f MB with it\n", hwmPlain / 1024.0,
                hwmRing / 1024.0);
    std::printf("  clip of 10 s before + 1 s: %.2f s wall, %.2f s CPU, %.1f MB on disk\n", clipWall,
                clipCpu, clipBytes / 1e6);
    std::filesystem::remove_all(dir);
    return 0;
}

} // namespace

int main() {
    for (auto [w, h] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
        std::fflush(stdout);
        const pid_t pid = fork();
        if (pid == 0) {
            const int rc = runSize(w, h);
            std::fflush(stdout); // _exit flushes nothing
            _exit(rc);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return 1;
    }
    return 0;
}
