// The camera engine on real FFmpeg sources: bytes and header of a frame, connect failures that
// keep the running camera, format changes, looping files, the demo camera.
#include "capture/CaptureEngine.h"
#include "capture/FfmpegUtil.h"

#include "CaptureTestUtil.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace capture_test;

namespace {

const std::string kBlue = "lavfi:color=c=0x336699:s=64x48:r=15,format=rgb24";
const std::string kRed = "lavfi:color=c=red:s=32x24:r=15,format=rgb24";

bool allPixels(const Frame& f, uint8_t b, uint8_t g, uint8_t r) {
    for (size_t i = 0; i + 3 < f.bits.size(); i += 4)
        if (f.bits[i] != b || f.bits[i + 1] != g || f.bits[i + 2] != r || f.bits[i + 3] != 0)
            return false;
    return true;
}

} // namespace

TEST(CaptureEngine, KnownColourArrivesAsBgrxWithDeviceBitmapHeader) {
    CaptureEngine e;
    ASSERT_TRUE(e.open(kBlue));
    Frame f;
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header, (BitmapHeader{0, 64, 48, 256, 1, 32, 0}));
    ASSERT_EQ(f.bits.size(), 256u * 48);
    EXPECT_TRUE(allPixels(f, 0x99, 0x66, 0x33));
}

TEST(CaptureEngine, FourthByteIsZeroWhateverThePixelFormat) {
    // YUV, RGBA with alpha 255, and a palette format all go through the converter.
    for (std::string graph :
         {"lavfi:testsrc2=size=64x48:rate=15", "lavfi:testsrc2=size=64x48:rate=15,format=rgba",
          "lavfi:testsrc=size=64x48:rate=15,format=pal8"}) {
        SCOPED_TRACE(graph);
        CaptureEngine e;
        ASSERT_TRUE(e.open(graph));
        Frame f;
        ASSERT_TRUE(e.latestFrame(f));
        size_t nonZeroColour = 0;
        for (size_t i = 0; i < f.bits.size(); i += 4) {
            ASSERT_EQ(f.bits[i + 3], 0) << "pixel " << i / 4;
            nonZeroColour += f.bits[i] + f.bits[i + 1] + f.bits[i + 2] > 0;
        }
        EXPECT_GT(nonZeroColour, f.bits.size() / 8) << "the picture itself must come through";
    }
}

TEST(CaptureEngine, RefusedOpenKeepsTheRunningCamera) {
    auto dir = TempDir("engine-refuse");
    auto bogus = (dir / "not-a-video.avi").string();
    std::ofstream(bogus) << "this is text, not a video";
    CaptureEngine e;
    ASSERT_TRUE(e.open(kBlue));
    for (std::string bad : {std::string("/nonexistent/folder/cam.mp4"), bogus,
                            std::string("lavfi:nosuchfilter=1"), std::string()}) {
        SCOPED_TRACE(bad);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_FALSE(e.open(bad, 3000));
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20))
            << "a refused source must give up, not hang";
        EXPECT_EQ(e.spec(), kBlue);
        uint64_t serial = e.frameSerial();
        ASSERT_TRUE(e.waitForFrameAfter(serial, 10000)) << "the old camera still delivers";
        Frame f;
        ASSERT_TRUE(e.latestFrame(f));
        EXPECT_TRUE(allPixels(f, 0x99, 0x66, 0x33));
    }
}

TEST(CaptureEngine, SwitchingSourcesReplacesThePicture) {
    CaptureEngine e;
    ASSERT_TRUE(e.open(kBlue));
    ASSERT_TRUE(e.open(kRed));
    Frame f;
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header.bmWidth, 32);
    EXPECT_TRUE(allPixels(f, 0, 0, 255));
    e.close();
    EXPECT_FALSE(e.latestFrame(f));
    EXPECT_FALSE(e.isOpen());
}

TEST(CaptureEngine, FormatChangeAltersTheFrameHeader) {
    CaptureEngine e;
    ASSERT_TRUE(e.open(kBlue));
    auto formats = e.formats();
    auto has = [&](int w, int h) {
        return std::any_of(formats.begin(), formats.end(),
                           [&](auto& f) { return f.width == w && f.height == h; });
    };
    EXPECT_TRUE(has(64, 48)) << "the native size is offered";
    EXPECT_TRUE(has(320, 240));
    ASSERT_TRUE(e.setFormat({320, 240, "", ""}));
    Frame f;
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header, (BitmapHeader{0, 320, 240, 1280, 1, 32, 0}));
    EXPECT_EQ(f.bits.size(), 1280u * 240);
    EXPECT_TRUE(allPixels(f, 0x99, 0x66, 0x33)) << "scaling a flat colour keeps it";
    EXPECT_EQ(e.currentFormat().width, 320);
    EXPECT_FALSE(e.setFormat({0, 0, "", ""}));
}

TEST(CaptureEngine, VideoFilesLoopAtTheirOwnRate) {
    auto dir = TempDir("engine-loop");
    struct Case {
        const char* name;
        std::string file;
        std::string codecArgs;
        double seconds;
        int frames;    // frames to wait for: several passes through the file
        int minMillis; // the least time those frames take when paced at the file's rate
    };
    const Case cases[] = {
        // 15 frames at 15 fps: 45 frames are three passes and take about three seconds.
        {"MJPEG in AVI", (dir / "one-second.avi").string(), "-c:v mjpeg -q:v 5", 1.0, 45, 2000},
        {"MPEG-4 in MP4", (dir / "one-second.mp4").string(), "-c:v mpeg4", 1.0, 45, 2000},
        // A single picture: shown again and again at the nominal 25 frames a second, not as
        // fast as the decoder can go.
        {"still picture", (dir / "still.jpg").string(), "-frames:v 1", 0.1, 20, 500},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(MakeClip("testsrc2=size=64x48:rate=15", c.seconds, c.file, c.codecArgs));
        CaptureEngine e;
        auto t0 = std::chrono::steady_clock::now();
        ASSERT_TRUE(e.open(c.file));
        uint64_t start = e.frameSerial();
        while (e.frameSerial() < start + c.frames) {
            ASSERT_TRUE(e.waitForFrameAfter(e.frameSerial(), 5000))
                << "the file stopped instead of looping";
        }
        EXPECT_GT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(c.minMillis));
    }
}

TEST(CaptureEngine, DemoCameraDeliversTheRoom) {
    CaptureEngine e;
    ASSERT_TRUE(e.open("demo"));
    Frame f;
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header, (BitmapHeader{0, 640, 480, 2560, 1, 32, 0}));
    ASSERT_TRUE(e.setFormat({160, 120, "", ""}));
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header.bmWidth, 160);
    for (size_t i = 3; i < f.bits.size(); i += 4)
        ASSERT_EQ(f.bits[i], 0);
}

namespace {

int freePort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

// A network camera: the ffmpeg tool serving an MJPEG stream over HTTP, in its own process group.
struct HttpCamera {
    pid_t pid = -1;
    explicit HttpCamera(int port) {
        pid = ::fork();
        if (pid == 0) {
            ::setpgid(0, 0);
            std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cam";
            ::execlp("ffmpeg", "ffmpeg", "-nostdin", "-loglevel", "quiet", "-re", "-f", "lavfi",
                     "-i", "color=c=red:s=64x48:r=15", "-c:v", "mjpeg", "-f", "mpjpeg", "-listen",
                     "1", url.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::setpgid(pid, pid);
    }
    ~HttpCamera() { stop(); }
    void stop() {
        if (pid > 0) {
            ::kill(-pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            pid = -1;
        }
    }
};

template <class Pred> bool waitFor(Pred pred, int ms) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end) {
        if (pred())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

} // namespace

TEST(CaptureEngine, NetworkCameraThatGoesAwayFailsGrabsAndComesBackByItself) {
    const int port = freePort();
    const std::string url = "http://127.0.0.1:" + std::to_string(port) + "/cam";
    auto server = std::make_unique<HttpCamera>(port);
    CaptureEngine e;
    ASSERT_TRUE(waitFor([&] { return e.open(url, 5000); }, 15000));
    Frame f;
    ASSERT_TRUE(e.latestFrame(f));
    EXPECT_EQ(f.header.bmWidth, 64);

    server->stop();
    ASSERT_TRUE(waitFor([&] { return !e.latestFrame(f); }, 20000))
        << "a camera that is gone must make grabs fail";
    EXPECT_FALSE(e.sourceHealthy());
    EXPECT_EQ(e.spec(), url) << "the source stays chosen while it is away";

    server = std::make_unique<HttpCamera>(port);
    ASSERT_TRUE(waitFor([&] { return e.latestFrame(f); }, 30000))
        << "the engine reopens the camera once it is back";
    EXPECT_EQ(f.header, (BitmapHeader{0, 64, 48, 256, 1, 32, 0}));

    // A camera that hangs with the connection still open: no error ever arrives, only silence.
    ::kill(-server->pid, SIGSTOP);
    ASSERT_TRUE(waitFor([&] { return !e.latestFrame(f); }, 20000))
        << "a silent camera must make grabs fail too";
    server->stop();
    server = std::make_unique<HttpCamera>(port);
    ASSERT_TRUE(waitFor([&] { return e.latestFrame(f); }, 30000));
    e.close();
}

// MJPEG cameras deliver JPEG-range pictures and clips are written in them: the converter for
// such a pair must be made once, not for every frame, and made again only when a size changes.
TEST(CaptureEngine, ConverterIsKeptWhileSizesAndFormatsStay) {
    capture_detail::Scaler scaler;
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(scaler.get(640, 480, AV_PIX_FMT_YUVJ420P, 640, 480, AV_PIX_FMT_BGR0), nullptr);
    EXPECT_EQ(scaler.contextsMade(), 1);
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(scaler.get(640, 480, AV_PIX_FMT_YUVJ420P, 320, 240, AV_PIX_FMT_BGR0), nullptr);
    EXPECT_EQ(scaler.contextsMade(), 2);

    capture_detail::Scaler clip;
    for (int i = 0; i < 3; ++i)
        ASSERT_NE(clip.get(320, 240, AV_PIX_FMT_BGR0, 320, 240, AV_PIX_FMT_YUVJ420P), nullptr);
    EXPECT_EQ(clip.contextsMade(), 1);
    EXPECT_EQ(clip.get(0, 240, AV_PIX_FMT_BGR0, 320, 240, AV_PIX_FMT_YUVJ420P), nullptr);
}

// Motion-JPEG goes to TurboJPEG; FFmpeg's decoder remains the yardstick of how a picture looks.
TEST(CaptureEngine, MotionJpegLooksAlikeThroughEitherDecoder) {
    auto dir = TempDir("engine-mjpeg");
    for (const char* pixfmt : {"yuvj420p", "yuvj422p"}) {
        SCOPED_TRACE(pixfmt);
        const std::string clip = (dir / (std::string(pixfmt) + ".avi")).string();
        ASSERT_TRUE(MakeClip("smptehdbars=size=160x120:rate=15", 0.5, clip,
                             std::string("-c:v mjpeg -q:v 3 -pix_fmt ") + pixfmt));
        Frame frames[2];
        for (bool direct : {true, false}) {
            CaptureEngine e(direct ? CaptureEngine::JpegDecoding::TurboJpegFirst
                                   : CaptureEngine::JpegDecoding::FfmpegOnly);
            ASSERT_TRUE(e.open(clip));
            ASSERT_TRUE(e.latestFrame(frames[direct ? 0 : 1]));
        }
        const Frame& a = frames[0];
        const Frame& b = frames[1];
        ASSERT_EQ(a.header, (BitmapHeader{0, 160, 120, 640, 1, 32, 0}));
        ASSERT_EQ(a.header, b.header);
        ASSERT_EQ(a.bits.size(), b.bits.size());
        uint64_t diff = 0;
        for (size_t i = 0; i < a.bits.size(); ++i) {
            if (i % 4 == 3) {
                ASSERT_EQ(a.bits[i], 0);
                ASSERT_EQ(b.bits[i], 0);
                continue;
            }
            diff += uint64_t(std::abs(int(a.bits[i]) - int(b.bits[i])));
        }
        const double mean = double(diff) / double(a.bits.size() * 3 / 4);
        EXPECT_LT(mean, 4.0);
    }
}

namespace {

// The pictures of a Motion-JPEG file, each from its start-of-image marker.
std::vector<std::vector<uint8_t>> JpegPictures(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)),
                                   std::istreambuf_iterator<char>());
    std::vector<size_t> starts;
    for (size_t i = 0; i + 2 < all.size(); ++i)
        if (all[i] == 0xFF && all[i + 1] == 0xD8 && all[i + 2] == 0xFF)
            starts.push_back(i);
    starts.push_back(all.size());
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t n = 0; n + 1 < starts.size(); ++n)
        pictures.emplace_back(all.begin() + long(starts[n]), all.begin() + long(starts[n + 1]));
    return pictures;
}

// The picture with its frame header claiming 65500 x 65500 pixels (17 GB as BGRX).
std::vector<uint8_t> ClaimingHugeSize(std::vector<uint8_t> picture) {
    for (size_t i = 2; i + 8 < picture.size(); ++i)
        if (picture[i] == 0xFF && (picture[i + 1] == 0xC0 || picture[i + 1] == 0xC1)) {
            for (size_t k : {i + 5, i + 7}) {
                picture[k] = 0xFF;
                picture[k + 1] = 0xDC;
            }
            return picture;
        }
    return {};
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

long PeakResidentMegabytes() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss / 1024;
}

} // namespace

// Pictures cut short, not decodable at all, or claiming a size of 65500 x 65500 among good
// ones, through either decoder: each costs at most its own frame, the camera goes on, and no
// buffer is ever sized from the claim.
TEST(CaptureEngine, DamagedMotionJpegPicturesDoNotStopTheCamera) {
    auto dir = TempDir("engine-damaged");
    const std::string good = (dir / "good.mjpeg").string();
    ASSERT_TRUE(MakeClip("testsrc2=size=160x120:rate=15", 1.0, good, "-c:v mjpeg -f mjpeg"));
    const auto pictures = JpegPictures(good);
    ASSERT_GE(pictures.size(), 10u);
    std::vector<uint8_t> damaged;
    for (size_t n = 0; n < pictures.size(); ++n) {
        const auto& p = pictures[n];
        if (n % 4 == 1) { // cut short
            damaged.insert(damaged.end(), p.begin(), p.begin() + long(p.size() * 3 / 5));
            damaged.insert(damaged.end(), {0xFF, 0xD9});
        } else if (n % 4 == 2) { // a marker and nothing a decoder can use
            damaged.insert(damaged.end(), {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x04, 0x55, 0x55});
            damaged.insert(damaged.end(), 64, 0x55);
            damaged.insert(damaged.end(), {0xFF, 0xD9});
        } else if (n % 4 == 3) {
            const auto huge = ClaimingHugeSize(p);
            ASSERT_FALSE(huge.empty());
            damaged.insert(damaged.end(), huge.begin(), huge.end());
        } else {
            damaged.insert(damaged.end(), p.begin(), p.end());
        }
    }
    const std::string path = (dir / "damaged.mjpeg").string();
    WriteBytes(path, damaged);

    for (bool direct : {true, false}) {
        SCOPED_TRACE(direct ? "TurboJPEG" : "FFmpeg's decoder");
        CaptureEngine e(direct ? CaptureEngine::JpegDecoding::TurboJpegFirst
                               : CaptureEngine::JpegDecoding::FfmpegOnly);
        // Pictures kept as they came (the pre-alarm ring) are only ever the clean ones.
        std::mutex offeredMutex;
        size_t offered = 0, offeredClean = 0;
        e.setJpegListener([&](const uint8_t* data, size_t size, int w, int h) {
            std::lock_guard lock(offeredMutex);
            ++offered;
            for (size_t n = 0; n < pictures.size(); n += 4)
                if (w == 160 && h == 120 && pictures[n].size() == size &&
                    std::equal(data, data + size, pictures[n].begin()))
                    ++offeredClean;
        });
        ASSERT_TRUE(e.open(path));
        // Watched closely: a picture taken for a failing source would show as a gap of a second
        // while the engine opens it again.
        const uint64_t start = e.frameSerial();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (e.frameSerial() < start + 30 && std::chrono::steady_clock::now() < deadline) {
            e.waitForFrameAfter(e.frameSerial(), 20);
            ASSERT_TRUE(e.sourceHealthy()) << "a damaged picture failed the camera";
        }
        EXPECT_GE(e.frameSerial(), start + 30) << "the camera stopped";
        Frame f;
        ASSERT_TRUE(e.latestFrame(f));
        EXPECT_EQ(f.header, (BitmapHeader{0, 160, 120, 640, 1, 32, 0}));
        e.setJpegListener({});
        std::lock_guard lock(offeredMutex);
        EXPECT_EQ(offeredClean, offered);
        if (direct)
            EXPECT_GT(offered, 5u);
        else
            EXPECT_EQ(offered, 0u); // only TurboJPEG's step hands pictures on
    }
    EXPECT_LT(PeakResidentMegabytes(), 1024);
}

// A stream whose every picture claims 65500 x 65500 never opens, and nothing is allocated for
// the claim, neither while the stream is probed nor after.
TEST(CaptureEngine, PicturesClaimingAHugeSizeAreRefused) {
    auto dir = TempDir("engine-huge");
    const std::string good = (dir / "good.mjpeg").string();
    ASSERT_TRUE(MakeClip("testsrc2=size=160x120:rate=15", 0.5, good, "-c:v mjpeg -f mjpeg"));
    // As a file of bare pictures, and as a network camera sends them (multipart, each part
    // with its length).
    std::vector<uint8_t> hostile, multipart;
    for (const auto& p : JpegPictures(good)) {
        const auto huge = ClaimingHugeSize(p);
        ASSERT_FALSE(huge.empty());
        hostile.insert(hostile.end(), huge.begin(), huge.end());
        const std::string head = "--frame\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                 std::to_string(huge.size()) + "\r\n\r\n";
        multipart.insert(multipart.end(), head.begin(), head.end());
        multipart.insert(multipart.end(), huge.begin(), huge.end());
        multipart.insert(multipart.end(), {'\r', '\n'});
    }
    WriteBytes((dir / "huge.mjpeg").string(), hostile);
    WriteBytes((dir / "huge.multipart").string(), multipart);
    for (const std::string& spec :
         {(dir / "huge.mjpeg").string(), "mpjpeg:" + (dir / "huge.multipart").string()}) {
        SCOPED_TRACE(spec);
        CaptureEngine e;
        EXPECT_FALSE(e.open(spec, 3000));
        EXPECT_FALSE(e.isOpen());
    }
    EXPECT_LT(PeakResidentMegabytes(), 1024);
}

// Closing the engine while an open waits on a camera that never sends a picture ends the open
// at once, however long its own deadline, and leaves nothing installed.
TEST(CaptureEngine, CloseEndsAnOpenThatHangs) {
    TricklingHttpServer camera;
    CaptureEngine e;
    std::atomic<bool> done{false};
    bool opened = true;
    std::thread opener([&] {
        opened = e.open(camera.url(), 120000);
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_FALSE(done) << "the camera was meant to keep the open waiting";
    const auto t0 = std::chrono::steady_clock::now();
    e.close();
    opener.join();
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - t0);
    std::printf("open ended %lld ms after close\n", static_cast<long long>(took.count()));
    EXPECT_LT(took, std::chrono::seconds(30));
    EXPECT_FALSE(opened);
    EXPECT_FALSE(e.isOpen());
}
