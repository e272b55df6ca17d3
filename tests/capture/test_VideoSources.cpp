// The driver list: order of the three parts, the ten-entry cap, and the [SOURCES] reader.
#include "capture/VideoSources.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

std::vector<std::string> specs(const std::vector<VideoSourceEntry>& list) {
    std::vector<std::string> out;
    for (auto& e : list)
        out.push_back(e.spec);
    return out;
}

VideoSourceEntry device(const std::string& path, const std::string& card) {
    return {path, card, "uvcvideo 6.1.0"};
}

std::string writeIni(const std::string& text) {
    auto dir =
        std::filesystem::temp_directory_path() / ("pawlinex-vs-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    auto path = (dir / "pawlinex.ini").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

} // namespace

TEST(VideoSources, EnvironmentThenSettingsThenDevicesCappedAtTen) {
    struct Case {
        const char* name;
        std::string env;
        std::vector<std::string> ini;
        std::vector<VideoSourceEntry> devices;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {"all three parts in order",
         "demo;lavfi:color=c=red",
         {"/srv/cam.mp4"},
         {device("/dev/video0", "HD Webcam"), device("/dev/video2", "USB Camera")},
         {"demo", "lavfi:color=c=red", "/srv/cam.mp4", "/dev/video0", "/dev/video2"}},
        {"empty items and spaces around items are dropped",
         " ; demo ;;  rtsp://10.0.0.5/live ;",
         {},
         {},
         {"demo", "rtsp://10.0.0.5/live"}},
        {"nothing anywhere", "", {}, {}, {}},
        {"environment alone fills ten, later parts are cut",
         "a;b;c;d;e;f;g;h;i;j;k;l",
         {"ini"},
         {device("/dev/video0", "cam")},
         {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j"}},
        {"devices fill the remainder up to ten",
         "a;b;c;d;e;f;g;h",
         {"x"},
         {device("/dev/video0", "c0"), device("/dev/video1", "c1"), device("/dev/video3", "c3")},
         {"a", "b", "c", "d", "e", "f", "g", "h", "x", "/dev/video0"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto list = MergeVideoSources(c.env, c.ini, c.devices);
        EXPECT_EQ(specs(list), c.expected);
        EXPECT_LE(list.size(), 10u);
    }
}

TEST(VideoSources, DevicesKeepTheirCardNameAndOthersGetReadableNames) {
    auto list = MergeVideoSources("demo;lavfi:testsrc2=size=320x240;/home/u/clips/door.avi;"
                                  "http://cam.local/video.mjpg",
                                  {}, {device("/dev/video0", "HD Pro Webcam C920")});
    ASSERT_EQ(list.size(), 5u);
    EXPECT_FALSE(list[0].name.empty());
    EXPECT_NE(list[1].name.find("testsrc2"), std::string::npos);
    EXPECT_EQ(list[2].name, "door.avi");
    EXPECT_EQ(list[3].name, "http://cam.local/video.mjpg");
    EXPECT_EQ(list[4].name, "HD Pro Webcam C920");
    for (auto& e : list)
        EXPECT_LT(e.name.size(), 100u) << e.name;
}

TEST(VideoSources, LongNamesAreCutBetweenCharacters) {
    const std::string kana = "\xE7\x8E\x84\xE9\x96\xA2"; // two 3-byte characters
    struct Case {
        std::string text;
        size_t max;
        std::string expected;
    };
    const Case cases[] = {
        {"camera", 99, "camera"},
        {std::string(120, 'a'), 99, std::string(99, 'a')},
        {"ab" + kana, 5, "ab" + kana.substr(0, 3)}, // the first character fits exactly
        {"ab" + kana, 4, "ab"},                     // never half a character
        {"ab" + kana, 3, "ab"},
        {kana, 2, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TruncateUtf8(c.text, c.max), c.expected) << c.text << " / " << c.max;
}

TEST(VideoSources, RefreshReadsEnvironmentAndSettingsFileAgain) {
    // The section is read through the settings file reader: case-blind names, trimmed values.
    auto ini = writeIni("[COM]\r\nSOURCE0=not this one\r\n[sources]\r\nsource3 =  /data/b.mp4  \r\n"
                        "SOURCE0=lavfi:color=c=blue\r\nSOURCE1=\r\n");
    setenv("PAWLINEX_HOME", std::filesystem::path(ini).parent_path().c_str(), 1);
    setenv("PAWLINEX_VIDEO_SOURCES", "demo", 1);
    VideoSourceList sources;
    auto first = specs(sources.refresh());
    ASSERT_GE(first.size(), 3u);
    EXPECT_EQ(first[0], "demo");
    EXPECT_EQ(first[1], "lavfi:color=c=blue");
    EXPECT_EQ(first[2], "/data/b.mp4");
    setenv("PAWLINEX_VIDEO_SOURCES", "lavfi:color=c=red", 1);
    EXPECT_EQ(specs(sources.entries()), first) << "the list is kept until refreshed";
    EXPECT_EQ(sources.refresh().at(0).spec, "lavfi:color=c=red");
}
