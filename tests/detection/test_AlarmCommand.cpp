// The alarm command run for real through /bin/sh: what it is given, what lands in hook.log.txt,
// and that nothing it starts outlives its time limit or the program.

#include "AlarmDoubles.h"
#include "capture/JpegFrameDecoder.h"
#include "detection/AlarmActions.h"
#include "detection/AlarmCommand.h"
#include "detection/AlarmPortsLive.h"
#include "mail/basPicture.h"
#include "settings/AppSettings.h"
#include "settings/StatusPanels.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Runs the event loop until `done` holds; the bound is only there to end a broken run.
bool Await(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A process that is gone or only waits to be reaped.
bool Gone(const std::string& pidText) {
    const std::string stat = ReadFile("/proc/" + std::to_string(std::stoi(pidText)) + "/stat");
    const size_t close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
}

class AlarmCommandTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "test_AlarmCommand";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
    }
    void SetUp() override {
        root = home.path().toStdString();
        std::filesystem::create_directory(root + "/img");
        std::filesystem::create_directory(root + "/avi");
    }
    void TearDown() override { AppSettings.Extra = {}; }
    std::string log() const { return ReadFile(root + "/hook.log.txt"); }
    AlarmCommandRun run(const std::string& command) const {
        return {command, root, "", "", 7, QDateTime(QDate(2007, 10, 9), QTime(4, 26, 19))};
    }

    QTemporaryDir home;
    std::string root;
};

// The command gets the four variables, runs in the program folder, and its picture is a
// 640x480 JPEG of the alarm frame; its output lands in hook.log.txt between the run's lines.
TEST_F(AlarmCommandTest, GetsTheAlarmInItsEnvironmentAndLogsItsOutput) {
    FixedClock clock;
    JpegPictureWriter pictures;
    AlarmCommand command;
    AlarmActionPorts ports;
    ports.pictures = &pictures;
    ports.clock = &clock;
    ports.command = &command;
    StatusPanels panels;
    AlarmActions actions(ports, panels, root);
    AppSettings.Extra.OnAlarm = "env | grep -E '^PAWLINEX_(PICTURE|CLIP|LEVEL|TIME)=' | sort > "
                                "env.txt; echo to-out; echo to-err >&2; exit 3";
    QImage frame(320, 240, QImage::Format_RGB32);
    frame.fill(Qt::red);
    const QDateTime alarmTime(QDate(2007, 10, 9), QTime(4, 26, 5));
    const std::string clip = root + "/avi/071009042605_ALERT.AVI";

    actions.sStartAlarmCommand(frame, clip, 1234, alarmTime);
    const std::string label = "=== " + IsoLocalTime(alarmTime) + " level 1234: ";
    ASSERT_TRUE(Await([&] { return log().find(label + "exit 3\n") != std::string::npos; }))
        << log();

    const std::string picture = root + "/img/071009042619_HOOK.jpg";
    EXPECT_EQ(ReadFile(root + "/env.txt"), "PAWLINEX_CLIP=" + clip + "\nPAWLINEX_LEVEL=1234\n" +
                                               "PAWLINEX_PICTURE=" + picture + "\n" +
                                               "PAWLINEX_TIME=" + IsoLocalTime(alarmTime) + "\n");
    EXPECT_TRUE(std::regex_match(IsoLocalTime(alarmTime),
                                 std::regex("2007-10-09T04:26:05[+-][0-9]{2}:[0-9]{2}")));
    const std::string jpeg = ReadFile(picture);
    JpegFrameDecoder decoder;
    int w = 0, h = 0;
    ASSERT_TRUE(decoder.size(reinterpret_cast<const uint8_t*>(jpeg.data()), jpeg.size(), w, h));
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);

    const std::string text = log();
    EXPECT_EQ(text.find(label + AppSettings.Extra.OnAlarm + "\n"), 0u) << text;
    EXPECT_NE(text.find("to-out\n"), std::string::npos) << text;
    EXPECT_NE(text.find("to-err\n"), std::string::npos) << text;
    EXPECT_NE(text.find(label + "exit 3\n"), std::string::npos) << text;
}

// A command past its limit is ended with everything it started in the background.
TEST_F(AlarmCommandTest, TimeLimitEndsTheWholeGroup) {
    AlarmCommand command(300ms, 4, 300ms);
    command.start(run("sleep 60 & echo $! > bg.pid; trap '' TERM; sleep 60"));
    ASSERT_TRUE(Await([&] { return log().find("ended after 0.3 s") != std::string::npos; }))
        << log();
    EXPECT_EQ(command.running(), 0);
    // A killed process takes a moment to go on a busy machine.
    EXPECT_TRUE(Await([&] { return Gone(ReadFile(root + "/bg.pid")); }));
}

// A fifth alarm while four commands still run is only logged; closing ends all four groups.
TEST_F(AlarmCommandTest, FourAtOnceAndAllEndedAtClose) {
    AlarmCommand command;
    for (int i = 0; i < 5; ++i)
        command.start(run("sleep 60 & echo $! > bg" + std::to_string(i) + ".pid; wait"));
    EXPECT_EQ(command.running(), 4);
    ASSERT_TRUE(Await([&] {
        for (int i = 0; i < 4; ++i)
            if (ReadFile(root + "/bg" + std::to_string(i) + ".pid").empty())
                return false;
        return true;
    }));
    EXPECT_EQ(Count(log(), "skipped, 4 commands still running"), 1u) << log();
    EXPECT_FALSE(std::filesystem::exists(root + "/bg4.pid"));

    command.endAll();
    EXPECT_EQ(command.running(), 0);
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(Await([&] {
            return Gone(ReadFile(root + "/bg" + std::to_string(i) + ".pid"));
        })) << i;
    EXPECT_EQ(Count(log(), "(ended at close)"), 4u) << log();
}

// The dialog's trial waits and answers with the exit status and the output.
TEST_F(AlarmCommandTest, TrialReturnsStatusAndOutput) {
    struct Case {
        const char* command;
        std::string folder;
        bool started;
        int exitStatus;
        const char* output;
    };
    const std::vector<Case> cases = {
        {"echo \"$PAWLINEX_LEVEL\"; echo oops >&2; exit 2", root, true, 2, "7\noops\n"},
        {"sleep 60", root, true, -1, ""},
        {"true", root + "/missing", false, -1, "failed to start"},
    };
    AlarmCommand command(300ms, 4, 300ms);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        AlarmCommandRun r = run(c.command);
        r.folder = c.folder;
        const AlarmCommandResult result = command.runAndWait(r);
        EXPECT_EQ(result.started, c.started);
        EXPECT_EQ(result.exitStatus, c.exitStatus);
        EXPECT_EQ(result.output.rfind(c.output, 0), 0u) << result.output;
    }
    EXPECT_NE(log().find("7\noops\n=== "), std::string::npos) << log();
}

} // namespace
