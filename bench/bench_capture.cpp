// CPU cost of the camera engine against the floor FFmpeg itself sets.
//
// Makes a 640x480, 15 fps MJPEG file (the usual webcam format) with the ffmpeg tool, then
//   1. runs the engine on it (looping at its own rate) for ten seconds with a capture window
//      previewing at 66 ms, scaled, and ten grabs a second, as the running program does;
//   2. decodes the same ten seconds (150 frames) with libavcodec alone, as fast as it goes;
//   3. stretches one 640x480 picture over the main window's preview (475x520), with QPainter's
//      own unsmoothed draw and with the preview's direct path.
// Prints the process CPU time (user + system) of the first two, the time a picture of the third.
// Run from a Release build:
//   QT_QPA_PLATFORM=offscreen build/bench/bench_capture
#include "capture/CaptureWindow.h"
#include "capture/PreviewPaint.h"
#include "capture/VideoSources.h"
#include "capture/capApi.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPainter>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double decodeAlone(const std::string& path, int frames) {
    double t0 = cpuSeconds();
    int decoded = 0;
    while (decoded < frames) {
        AVFormatContext* fmt = nullptr;
        if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0)
            return -1;
        avformat_find_stream_info(fmt, nullptr);
        const AVCodec* codec = nullptr;
        int stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
        AVCodecContext* dec = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(dec, fmt->streams[stream]->codecpar);
        dec->thread_count = 1;
        avcodec_open2(dec, codec, nullptr);
        AVPacket* pkt = av_packet_alloc();
        AVFrame* frame = av_frame_alloc();
        while (decoded < frames && av_read_frame(fmt, pkt) >= 0) {
            if (pkt->stream_index == stream && avcodec_send_packet(dec, pkt) >= 0)
                while (avcodec_receive_frame(dec, frame) == 0)
                    ++decoded;
            av_packet_unref(pkt);
        }
        av_frame_free(&frame);
        av_packet_free(&pkt);
        avcodec_free_context(&dec);
        avformat_close_input(&fmt);
    }
    return cpuSeconds() - t0;
}

// Microseconds a picture, the picture and the window image staying in the cache.
template <typename Draw> double microsecondsPerDraw(Draw draw) {
    constexpr int kDraws = 2000;
    QImage window(640, 560, QImage::Format_ARGB32_Premultiplied);
    window.fill(0);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < kDraws; ++i) {
        QPainter p(&window);
        draw(p);
    }
    return double(t.nsecsElapsed()) / kDraws / 1000.0;
}

void previewStretch() {
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(0x00808080u);
    const QRect target(0, 0, 475, 520);
    PreviewPainter direct;
    const double qt = microsecondsPerDraw([&](QPainter& p) { p.drawImage(target, picture); });
    const double ours = microsecondsPerDraw([&](QPainter& p) { direct.draw(p, target, picture); });
    std::printf("preview, 640x480 stretched over 475x520: QPainter %.0f us, direct %.0f us a "
                "picture\n",
                qt, ours);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    auto dir =
        std::filesystem::temp_directory_path() / ("pawlinex-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::string clip = (dir / "webcam.avi").string();
    const std::string make = "ffmpeg -nostdin -loglevel error -y -f lavfi -i "
                             "testsrc2=size=640x480:rate=15 -t 4 -c:v mjpeg -q:v 5 '" +
                             clip + "'";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "could not make the test clip with ffmpeg\n");
        return 1;
    }

    setenv("PAWLINEX_VIDEO_SOURCES", clip.c_str(), 1);
    setenv("PAWLINEX_HOME", dir.c_str(), 1);
    VideoSourceList sources;
    QWidget parent;
    parent.resize(640, 480);
    HCAPWND h = capCreateCaptureWindowA("", 0, 0, 0, 640, 480, &parent, 0, sources);
    if (!capDriverConnect(h, 0)) {
        std::fprintf(stderr, "the engine could not open the clip\n");
        return 1;
    }
    parent.show();
    capPreviewRate(h, 66);
    capPreviewScale(h, true);
    capPreview(h, true);

    int grabs = 0;
    QTimer grabber;
    QObject::connect(&grabber, &QTimer::timeout, [&] {
        Frame f;
        if (capGrabFrame(h) && capTakeGrabbedFrame(h, f))
            ++grabs;
    });
    QEventLoop loop;
    const uint64_t serial0 = capWindow(h)->engine().frameSerial();
    const double engine0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    grabber.start(100);
    QTimer::singleShot(10000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    const double engineCpu = cpuSeconds() - engine0;
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const uint64_t frames = capWindow(h)->engine().frameSerial() - serial0;
    grabber.stop();
    capDriverDisconnect(h);

    const double aloneCpu = decodeAlone(clip, 150);
    std::printf("engine, %.2f s with preview (66 ms, scaled) and 10 grabs/s: %.3f s CPU "
                "(%llu frames decoded, %d grabs)\n",
                wall, engineCpu, static_cast<unsigned long long>(frames), grabs);
    std::printf("FFmpeg alone, decoding the same 150 frames:              %.3f s CPU\n", aloneCpu);
    previewStretch();
    std::filesystem::remove_all(dir);
    return 0;
}
