// The pre-alarm ring: what it keeps and drops by time and by bytes, the encoder path and its
// hand-over to a camera's own packets; and a clip that starts with the ring's seconds, on a real
// FFmpeg source where an object appears at a known moment.
#include "capture/AviRecorder.h"
#include "capture/CaptureEngine.h"
#include "capture/PreAlarmFeeder.h"
#include "capture/PreAlarmRing.h"

#include "CaptureTestUtil.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

using namespace capture_test;
using namespace std::chrono_literals;
using Clock = PreAlarmRing::Clock;

namespace {

const Clock::time_point kT0 = Clock::time_point{} + 1000s;

struct Push {
    size_t bytes;
    int ms; // after kT0
};

SharedFrame GreyFrame(int w, int h, uint8_t v) {
    auto bits = std::make_shared<FrameBytes>(size_t(w) * size_t(h) * 4, v);
    return {BitmapHeader{0, w, h, w * 4, 1, 32, 0}, bits};
}

std::vector<uint8_t> Packet(size_t bytes, uint8_t fill) {
    return std::vector<uint8_t>(bytes, fill);
}

} // namespace

// What stays after a series of pushes: the span and the byte cap both bound the ring, the oldest
// go first, and packets the ring cannot keep in order or in memory are refused.
TEST(PreAlarmRing, KeepsTheNewestWithinSpanAndByteCap) {
    struct Row {
        const char* name;
        double span;
        size_t cap;
        std::vector<Push> pushes;
        std::vector<bool> accepted;
        size_t count;
        size_t bytes;
        int firstMs; // time of the oldest kept, after kT0
    };
    const std::vector<Row> rows = {
        {"all within the span", 2, 1000, {{100, 0}, {100, 500}, {100, 1000}}, {1, 1, 1}, 3, 300, 0},
        {"older than the span goes",
         2,
         1000,
         {{100, 0}, {100, 1000}, {100, 2001}},
         {1, 1, 1},
         2,
         200,
         1000},
        {"exactly the span stays", 2, 1000, {{100, 0}, {100, 2000}}, {1, 1}, 2, 200, 0},
        {"byte cap drops the oldest",
         10,
         250,
         {{100, 0}, {100, 10}, {100, 20}},
         {1, 1, 1},
         2,
         200,
         10},
        {"one big packet clears the rest",
         10,
         250,
         {{100, 0}, {100, 10}, {250, 20}},
         {1, 1, 1},
         1,
         250,
         20},
        {"a packet over the cap is refused", 10, 250, {{100, 0}, {251, 10}}, {1, 0}, 1, 100, 0},
        {"a packet older than the newest is refused",
         10,
         1000,
         {{100, 500}, {100, 400}, {100, 500}},
         {1, 0, 1},
         2,
         200,
         500},
        {"an empty packet is refused", 10, 1000, {{0, 0}, {100, 10}}, {0, 1}, 1, 100, 10},
        {"span off keeps nothing", 0, 1000, {{100, 0}}, {0}, 0, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        PreAlarmRing ring(r.cap);
        ring.setSpan(r.span);
        for (size_t i = 0; i < r.pushes.size(); ++i) {
            auto bytes = Packet(r.pushes[i].bytes, uint8_t(i));
            EXPECT_EQ(ring.pushJpeg(bytes.data(), bytes.size(), 8, 8,
                                    kT0 + std::chrono::milliseconds(r.pushes[i].ms)),
                      bool(r.accepted[i]))
                << "push " << i;
        }
        EXPECT_EQ(ring.pictureCount(), r.count);
        EXPECT_EQ(ring.bytes(), r.bytes);
        EXPECT_LE(ring.bytes(), r.cap);
        const int lastMs = r.pushes.back().ms;
        auto snap = ring.snapshot(kT0 + std::chrono::milliseconds(lastMs));
        ASSERT_EQ(snap.pictures.size(), r.count);
        if (r.count) {
            EXPECT_EQ(snap.pictures.front().time, kT0 + std::chrono::milliseconds(r.firstMs));
        }
    }
}

// Sound shares the byte cap with the pictures, and a snapshot taken later than the last push
// still holds only the span before it.
TEST(PreAlarmRing, SoundSharesTheCapAndSnapshotsLookBackFromTheirMoment) {
    PreAlarmRing ring(1000);
    ring.setSpan(2);
    std::vector<int16_t> pcm(200, 7); // 400 bytes
    auto pic = Packet(300, 1);
    ASSERT_TRUE(ring.pushAudio(pcm.data(), 100, 8000, 2, kT0));
    ASSERT_TRUE(ring.pushJpeg(pic.data(), pic.size(), 8, 8, kT0 + 100ms));
    ASSERT_TRUE(ring.pushAudio(pcm.data(), 100, 8000, 2, kT0 + 200ms));
    EXPECT_EQ(ring.bytes(), 700u);
    // A second picture pushes the ring over its cap: the oldest item, the first sound, goes.
    ASSERT_TRUE(ring.pushJpeg(pic.data(), pic.size(), 8, 8, kT0 + 300ms));
    EXPECT_EQ(ring.bytes(), 1000u);
    auto snap = ring.snapshot(kT0 + 2150ms);
    EXPECT_EQ(snap.pictures.size(), 1u); // the picture at 100 ms is out of the span by then
    EXPECT_EQ(snap.sounds.size(), 1u);
    ring.setSpan(0);
    EXPECT_EQ(ring.bytes(), 0u);
}

// A decoded frame is encoded as a JPEG of its size; while a camera delivers its own packets the
// encoder stays idle, and takes over again when they stop.
TEST(PreAlarmRing, EncodesFramesUnlessTheCameraSendsItsOwnPackets) {
    PreAlarmRing ring;
    ring.setSpan(5);
    ring.setQuality(70);
    ASSERT_TRUE(ring.pushFrame(GreyFrame(64, 48, 0x80), kT0));
    auto snap = ring.snapshot(kT0);
    ASSERT_EQ(snap.pictures.size(), 1u);
    const auto& jpeg = *snap.pictures[0].jpeg;
    tjhandle tj = tjInitDecompress();
    int w = 0, h = 0, sub = 0, cs = 0;
    ASSERT_EQ(tjDecompressHeader3(tj, jpeg.data(), jpeg.size(), &w, &h, &sub, &cs), 0);
    tjDestroy(tj);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 48);

    auto camera = Packet(50, 9);
    ASSERT_TRUE(ring.pushJpeg(camera.data(), camera.size(), 64, 48, kT0 + 100ms));
    EXPECT_FALSE(ring.pushFrame(GreyFrame(64, 48, 0x80), kT0 + 200ms));
    EXPECT_TRUE(ring.pushFrame(GreyFrame(64, 48, 0x80), kT0 + 1200ms));

    PreAlarmRing off;
    EXPECT_FALSE(off.pushFrame(GreyFrame(64, 48, 0x80), kT0));
    SharedFrame shortBits = GreyFrame(64, 48, 0);
    shortBits.header.bmHeight = 49;
    EXPECT_FALSE(ring.pushFrame(shortBits, kT0 + 1300ms));
}

// With sound on, the feeder keeps the sound input open and lays its samples on the ring's clock
// without gaps; a pause closes the input before it returns, so a recorder can open the device.
TEST(PreAlarmFeeder, FeedsSoundAndLetsGoOfTheInputWhenPaused) {
    CaptureEngine engine;
    ASSERT_TRUE(engine.open("lavfi:color=c=gray:s=64x48:r=15"));
    PreAlarmRing ring;
    PreAlarmFeeder feeder(engine, ring);
    feeder.setSound(true, "lavfi:sine=frequency=440:sample_rate=8000");
    EXPECT_FALSE(feeder.soundOpen()); // nothing without the ring on
    feeder.setSeconds(2);
    feeder.setSound(true, "lavfi:sine=frequency=440:sample_rate=8000");
    PreAlarmRing::Snapshot snap;
    double seconds = 0;
    for (auto until = Clock::now() + 15s; seconds < 1.9 && Clock::now() < until;) {
        std::this_thread::sleep_for(100ms);
        snap = ring.snapshot(Clock::now());
        seconds = 0;
        for (const auto& a : snap.sounds)
            seconds += double(a.samples.size()) / 8000;
    }
    EXPECT_NEAR(seconds, 2.0, 0.3);
    EXPECT_FALSE(snap.pictures.empty());
    ASSERT_GE(snap.sounds.size(), 2u);
    for (size_t i = 1; i < snap.sounds.size(); ++i) {
        const auto& prev = snap.sounds[i - 1];
        EXPECT_EQ(snap.sounds[i].rate, 8000);
        EXPECT_EQ(snap.sounds[i].channels, 1);
        // Each chunk starts where the one before ends (within a millisecond of rounding).
        const auto gap = snap.sounds[i].time - prev.time -
                         std::chrono::duration<double>(double(prev.samples.size()) / 8000);
        EXPECT_LT(std::abs(std::chrono::duration<double>(gap).count()), 0.001) << i;
    }
    feeder.setPaused(true);
    EXPECT_FALSE(feeder.soundOpen());
    feeder.setPaused(false);
    for (auto until = Clock::now() + 10s; !feeder.soundOpen() && Clock::now() < until;)
        std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(feeder.soundOpen());
    feeder.setSeconds(0);
    EXPECT_FALSE(feeder.soundOpen());
    EXPECT_EQ(ring.bytes(), 0u);
}

namespace {

constexpr int kProbeW = 32, kProbeH = 24;

// Decodes every picture of the clip scaled to 32x24 RGB, with its time.
struct DecodedClip {
    std::vector<std::vector<uint8_t>> frames;
    std::vector<double> times;
};

DecodedClip Decode(const std::string& path) {
    DecodedClip c;
    std::string raw = Run("ffmpeg -v error -i '" + path + "' -map 0:v -fps_mode passthrough " +
                          "-vf scale=32:24 -f rawvideo -pix_fmt rgb24 -");
    const size_t n = size_t(kProbeW * kProbeH * 3);
    for (size_t at = 0; at + n <= raw.size(); at += n)
        c.frames.emplace_back(raw.begin() + long(at), raw.begin() + long(at + n));
    std::string times = Run("ffprobe -v error -select_streams v -show_entries frame=pts_time "
                            "-of csv=p=0 '" +
                            path + "'");
    for (size_t pos = 0; pos < times.size();) {
        size_t nl = times.find('\n', pos);
        if (nl == std::string::npos)
            nl = times.size();
        if (nl > pos)
            c.times.push_back(std::atof(times.substr(pos, nl - pos).c_str()));
        pos = nl + 1;
    }
    return c;
}

// The box is red on grey; its middle is the middle of the picture.
bool ShowsBox(const std::vector<uint8_t>& rgb) {
    const size_t i = size_t((kProbeH / 2 * kProbeW + kProbeW / 2) * 3);
    return rgb[i] > 180 && rgb[i + 1] < 80 && rgb[i + 2] < 80;
}

double VideoSeconds(const std::string& path) {
    return std::atof(capture_test::Run("ffprobe -v error -select_streams v -show_entries "
                                       "stream=duration -of csv=p=0 '" +
                                       path + "'")
                         .c_str());
}

// PCM in AVI carries no duration of its own: count the samples.
double SoundSeconds(const std::string& path, int rate) {
    return capture_test::Run("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -f s16le -").size() /
           2.0 / rate;
}

} // namespace

// An object appears three seconds into the camera's picture; the alarm clip, started when it
// shows, opens with the two seconds before it (no object), then shows it live, as one AVI of
// MJPEG pictures two seconds longer than its limit, with its sound padded to the same length.
TEST(PreAlarmClip, OpensWithTheSecondsBeforeTheObjectAppeared) {
    auto dir = TempDir("prealarm");
    CaptureEngine engine;
    ASSERT_TRUE(engine.open("lavfi:color=c=gray:s=320x240:r=30,drawbox=x=110:y=80:w=100:h=80:"
                            "color=red:t=fill:enable='gte(t,3)'"));
    PreAlarmRing ring;
    ring.setQuality(80);
    {
        PreAlarmFeeder feeder(engine, ring);
        feeder.setSeconds(2);
        // The alarm: the first frame that shows the object (generous bound; the source runs in
        // real time).
        bool seen = false;
        for (auto until = Clock::now() + 15s; !seen && Clock::now() < until;) {
            Frame f;
            uint64_t serial = engine.frameSerial();
            engine.waitForFrameAfter(serial, 200);
            if (engine.latestFrame(f)) {
                const size_t mid = size_t((120 * 320 + 160) * 4);
                seen = f.bits[mid + 2] > 180 && f.bits[mid + 1] < 80;
            }
        }
        ASSERT_TRUE(seen);
        feeder.setPaused(true);
    }
    auto snap = ring.snapshot(Clock::now());
    ASSERT_FALSE(snap.empty());
    // A second of sound from the ring, starting 1.5 s before the alarm, in the input's format:
    // it lands at its time in the span before; the rest of that span is silence.
    snap.sounds.push_back({std::vector<int16_t>(8000, 1000), 8000, 1, snap.end - 1500ms});

    const std::string path = (dir / "pre.avi").string();
    AviRecorder rec(engine);
    AviRecorderSettings s;
    s.path = path;
    s.limitSeconds = 2;
    s.audio = true;
    s.audioSource = "lavfi:sine=frequency=440:sample_rate=8000";
    s.preAlarm = snap;
    ASSERT_TRUE(rec.start(s));
    rec.finish();

    ProbeResult r = Probe(path);
    EXPECT_EQ(r.formatName, "avi");
    EXPECT_EQ(r.codecByType["video"], "mjpeg");
    EXPECT_EQ(r.codecByType["audio"], "pcm_s16le");
    EXPECT_NEAR(r.duration, 4.0, 0.6);
    EXPECT_NEAR(SoundSeconds(path, 8000), VideoSeconds(path), 0.2);
    const std::string pcm =
        capture_test::Run("ffmpeg -v error -i '" + path + "' -map 0:a -ac 1 -f s16le -");
    auto sampleAt = [&](double sec) {
        int16_t v = 0;
        std::memcpy(&v, pcm.data() + 2 * size_t(sec * 8000), 2);
        return v;
    };
    ASSERT_GT(pcm.size(), size_t(2 * 8000 * 3));
    for (double sec : {0.1, 0.3})
        EXPECT_EQ(sampleAt(sec), 0) << sec;
    for (double sec : {0.8, 1.0, 1.2})
        EXPECT_EQ(sampleAt(sec), 1000) << sec;

    DecodedClip c = Decode(path);
    ASSERT_GE(c.frames.size(), 10u);
    ASSERT_EQ(c.times.size(), c.frames.size());
    EXPECT_FALSE(ShowsBox(c.frames.front()));
    EXPECT_TRUE(ShowsBox(c.frames.back()));
    size_t firstBox = 0;
    while (firstBox < c.frames.size() && !ShowsBox(c.frames[firstBox]))
        ++firstBox;
    ASSERT_LT(firstBox, c.frames.size());
    EXPECT_NEAR(c.times[firstBox], 2.0, 0.5);
    for (size_t i = firstBox; i < c.frames.size(); ++i)
        EXPECT_TRUE(ShowsBox(c.frames[i])) << "frame " << i << " at " << c.times[i];
    if (!HasFailure())
        std::filesystem::remove_all(dir);
}

// A picture of the clip's size goes into the file byte for byte; one of another size is scaled
// and encoded again, so the clip keeps one picture size throughout.
TEST(PreAlarmClip, CopiesPicturesOfTheClipSizeAndScalesOthers) {
    auto dir = TempDir("prealarm-copy");
    CaptureEngine engine;
    ASSERT_TRUE(engine.open("lavfi:color=c=gray:s=160x120:r=15"));
    struct Row {
        const char* name;
        int w, h;
        bool verbatim;
    };
    for (const Row& row :
         {Row{"clip size", 160, 120, true}, Row{"another size", 320, 240, false}}) {
        SCOPED_TRACE(row.name);
        PreAlarmRing ring;
        ring.setSpan(3);
        ring.setQuality(90);
        // Four pictures a quarter of a second apart, as a slow camera would give them.
        const auto end = Clock::now();
        for (int k = 0; k < 4; ++k)
            ASSERT_TRUE(ring.pushFrame(GreyFrame(row.w, row.h, uint8_t(40 + 50 * k)),
                                       end - 1s + std::chrono::milliseconds(250 * k)));
        auto snap = ring.snapshot(end);
        const std::string path = (dir / (std::string(row.name) + ".avi")).string();
        AviRecorder rec(engine);
        AviRecorderSettings s;
        s.path = path;
        s.limitSeconds = 1;
        s.preAlarm = snap;
        ASSERT_TRUE(rec.start(s));
        rec.finish();

        std::ifstream in(path, std::ios::binary);
        const std::string file((std::istreambuf_iterator<char>(in)), {});
        const auto& first = *snap.pictures.front().jpeg;
        EXPECT_EQ(file.find(std::string(first.begin(), first.end())) != std::string::npos,
                  row.verbatim);
        // Grey levels rise picture by picture in the span before, whatever way they went in (a
        // picture held over several slots may decode more than once).
        std::vector<int> levels;
        for (const auto& f : Decode(path).frames)
            if (levels.empty() || std::abs(levels.back() - f[0]) > 4)
                levels.push_back(f[0]);
        ASSERT_GE(levels.size(), 4u);
        for (size_t k = 1; k < 4; ++k)
            EXPECT_GT(levels[k], levels[k - 1]) << k;
        EXPECT_NE(
            capture_test::Run("ffprobe -v error -show_entries stream=width,height -of csv=p=0 '" +
                              path + "'")
                .find("160,120"),
            std::string::npos);
        EXPECT_NEAR(Probe(path).duration, 2.0, 0.5);
    }
    if (!HasFailure())
        std::filesystem::remove_all(dir);
}
