#include "sound/basSound.h"

#include "common/ToneWav.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

// Runs with SDL's dummy audio driver (set by the test environment): real decoding and mixing
// in real time, no sound card needed.

namespace {

// Also when the binary is started by hand, outside the test environment.
const bool dummyDriver = setenv("SDL_AUDIODRIVER", "dummy", 0) == 0;

const std::string kBell = "/usr/share/sounds/freedesktop/stereo/bell.oga";

// Waits for a short sound to run out. Bounded generously: the point is the state it ends in,
// not how fast it gets there.
bool waitUntilStopped(const std::string& path) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (SoundMode(path) == "PLAYING" && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return SoundMode(path) == "STOPPED";
}

class Sound : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        shortWav = file("short tone.wav"); // a space in the name, passed whole
        longWav = file("long.wav");
        WriteToneWav(shortWav, 0.15, 8000, 1);
        WriteToneWav(longWav, 20, 8000, 1);
    }
    void TearDown() override { SoundCloseAll(); }
    std::string file(const char* name) const {
        return QDir(dir.path()).filePath(name).toStdString();
    }

    QTemporaryDir dir;
    std::string shortWav, longWav;
};

// closed -> playing -> stopped at its end; play alone does not rewind a finished sound, the
// repeat does; close forgets the device.
TEST_F(Sound, ModeFollowsTheDeviceLifecycle) {
    EXPECT_EQ(SoundMode(shortWav), "");
    SoundPlay(shortWav);
    EXPECT_EQ(SoundMode(shortWav), "PLAYING");
    ASSERT_TRUE(waitUntilStopped(shortWav));

    SoundPlay(shortWav);
    EXPECT_EQ(SoundMode(shortWav), "STOPPED");

    SoundRepeat(shortWav);
    EXPECT_EQ(SoundMode(shortWav), "PLAYING");
    ASSERT_TRUE(waitUntilStopped(shortWav));

    SoundClose(shortWav);
    EXPECT_EQ(SoundMode(shortWav), "");
    SoundClose(shortWav); // closing again is harmless
    EXPECT_EQ(SoundMode(shortWav), "");
}

// The alarm loop: repeat on a closed device opens and plays it, repeat on a playing one keeps
// it playing, close in the middle silences it.
TEST_F(Sound, RepeatKeepsPlayingAndCloseStopsMidway) {
    SoundRepeat(longWav);
    EXPECT_EQ(SoundMode(longWav), "PLAYING");
    for (int i = 0; i < 5; ++i) {
        SoundRepeat(longWav);
        EXPECT_EQ(SoundMode(longWav), "PLAYING");
    }
    SoundClose(longWav);
    EXPECT_EQ(SoundMode(longWav), "");
}

// Ten minutes of sound take a while to decode: the device counts as playing from the first
// call, a repeat meanwhile changes nothing, a close meanwhile leaves no device, and the same
// path opens afresh while the first decoding may still run.
TEST_F(Sound, LongFileIsPlayingFromTheFirstCallAndClosesWhileDecoding) {
    const std::string tenMinutes = file("ten minutes.wav");
    WriteToneWav(tenMinutes, 600, 8000, 1);
    SoundPlay(tenMinutes);
    EXPECT_EQ(SoundMode(tenMinutes), "PLAYING");
    SoundRepeat(tenMinutes);
    EXPECT_EQ(SoundMode(tenMinutes), "PLAYING");
    SoundClose(tenMinutes);
    EXPECT_EQ(SoundMode(tenMinutes), "");

    SoundRepeat(tenMinutes);
    EXPECT_EQ(SoundMode(tenMinutes), "PLAYING");
    SoundPlay(shortWav); // other devices decode and finish meanwhile
    ASSERT_TRUE(waitUntilStopped(shortWav));
    EXPECT_EQ(SoundMode(tenMinutes), "PLAYING");
    SoundCloseAll(); // waits for the decoding threads, then closes every device
    EXPECT_EQ(SoundMode(tenMinutes), "");
}

// The system's own sound files (Ogg Vorbis) play, and loop.
TEST_F(Sound, PlaysOggSoundTheme) {
    if (!QFile::exists(QString::fromStdString(kBell)))
        GTEST_SKIP() << kBell << " missing";
    SoundPlay(kBell);
    EXPECT_EQ(SoundMode(kBell), "PLAYING");
    ASSERT_TRUE(waitUntilStopped(kBell));
    SoundRepeat(kBell);
    EXPECT_EQ(SoundMode(kBell), "PLAYING");
    SoundClose(kBell);
    EXPECT_EQ(SoundMode(kBell), "");
}

// One device per path text: two texts, even for the same file, are two devices; closing one
// leaves the other playing. More devices than the mixer starts with all play.
TEST_F(Sound, EachPathTextIsItsOwnDevice) {
    const std::string sameFile = QDir(dir.path()).path().toStdString() + "/./long.wav";
    SoundPlay(longWav);
    SoundPlay(sameFile);
    EXPECT_EQ(SoundMode(longWav), "PLAYING");
    EXPECT_EQ(SoundMode(sameFile), "PLAYING");
    SoundClose(longWav);
    EXPECT_EQ(SoundMode(longWav), "");
    EXPECT_EQ(SoundMode(sameFile), "PLAYING");

    std::vector<std::string> many;
    std::string p = dir.path().toStdString();
    for (int i = 0; i < 10; ++i) {
        p += "/.";
        many.push_back(p + "/long.wav");
        SoundPlay(many.back());
    }
    for (const std::string& m : many)
        EXPECT_EQ(SoundMode(m), "PLAYING") << m;
    EXPECT_EQ(SoundMode(sameFile), "PLAYING");
}

// Failures are silent and leave no device: a missing file, an empty path, a folder, a file that
// is not sound. A file that becomes playable later is picked up.
TEST_F(Sound, UnplayableInputsGiveNoDevice) {
    const std::string garbage = file("not-a-sound.wav");
    std::ofstream(garbage) << "this is not audio";
    for (const std::string& path :
         {file("missing.wav"), std::string(), dir.path().toStdString(), garbage}) {
        SoundPlay(path);
        EXPECT_EQ(SoundMode(path), "") << path;
        SoundRepeat(path);
        EXPECT_EQ(SoundMode(path), "") << path;
        SoundClose(path);
    }
    WriteToneWav(garbage, 20, 8000, 1);
    SoundRepeat(garbage);
    EXPECT_EQ(SoundMode(garbage), "PLAYING");
}

// No usable audio output: every call is silent, nothing throws, and the output is tried again
// after a full close.
TEST_F(Sound, NoAudioOutputIsSilent) {
    SoundCloseAll();
    ASSERT_TRUE(dummyDriver);
    const std::string driver = std::getenv("SDL_AUDIODRIVER");
    setenv("SDL_AUDIODRIVER", "no-such-driver", 1);
    SoundPlay(longWav);
    EXPECT_EQ(SoundMode(longWav), "");
    SoundRepeat(longWav);
    EXPECT_EQ(SoundMode(longWav), "");
    SoundClose(longWav);
    SoundCloseAll();
    setenv("SDL_AUDIODRIVER", driver.c_str(), 1);
    SoundPlay(longWav);
    EXPECT_EQ(SoundMode(longWav), "PLAYING");
}

} // namespace
