#include "settings/basCommon.h"

#include "SettingsTestFolder.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace {

QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "test_basCommon";
    static char* argv[] = {name, nullptr};
    static QCoreApplication instance(argc, argv);
    return instance;
}

pid_t spawn(std::vector<const char*> args) {
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, const_cast<char**>(args.data()), environ) !=
        0)
        return -1;
    return pid;
}

// Kills `pid` from a repeating timer after it has fired `ticks` times: the process can only end
// if the wait keeps running the event loop.
struct KillAfterTicks {
    KillAfterTicks(pid_t pid, int ticks) {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this, pid, ticks] {
            if (++fired == ticks)
                ::kill(pid, SIGTERM);
        });
        timer.start();
    }
    QTimer timer;
    int fired = 0;
};

TEST(basCommon, TrimSpacesRemovesOnlyU0020) {
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},           {"   ", ""},
        {"  a b  ", "a b"}, {"\tx\t", "\tx\t"},
        {" \r\n", "\r\n"},  {"\xe3\x80\x80x\xe3\x80\x80 ", "\xe3\x80\x80x\xe3\x80\x80"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(TrimSpaces(in), out) << '"' << in << '"';
}

TEST(basCommon, PathsAndFolders) {
    SettingsTestFolder folder;
    const std::string file = folder.path() + "/a long name.oga";
    SettingsTestFolder::writeFile(file, "x");
    EXPECT_EQ(GetShortPath(file), file);
    EXPECT_EQ(GetShortPath(folder.path()), folder.path());
    EXPECT_EQ(GetShortPath(folder.path() + "/missing.oga"), "");
    EXPECT_EQ(GetShortPath(""), "");
    EXPECT_EQ(GetPlatformId(), 2);
    EXPECT_EQ(GetPlatformId(), 2);

    ::setenv("PAWLINEX_HOME", (folder.path() + "//").c_str(), 1);
    EXPECT_EQ(ProgramFolder(), folder.path());
    ::unsetenv("PAWLINEX_HOME");
    // Without the override: the folder the running program was started from.
    EXPECT_FALSE(ProgramFolder().ends_with('/'));
    EXPECT_FALSE(GetShortPath(ProgramFolder() + "/test_basCommon").empty());

    ::unsetenv("PAWLINEX_MEDIA_DIR");
    EXPECT_EQ(MediaDir(), "/usr/share/sounds/freedesktop/stereo/");
    ::setenv("PAWLINEX_MEDIA_DIR", "/opt/sounds", 1);
    EXPECT_EQ(MediaDir(), "/opt/sounds/");
    ::setenv("PAWLINEX_MEDIA_DIR", "/opt/sounds/", 1);
    EXPECT_EQ(MediaDir(), "/opt/sounds/");
    ::unsetenv("PAWLINEX_MEDIA_DIR");
}

TEST(WaitProcess, EndedProcessesReturnAtOnce) {
    app();
    pid_t reaped = spawn({"true"});
    ASSERT_GT(reaped, 0);
    ASSERT_EQ(::waitpid(reaped, nullptr, 0), reaped);
    EXPECT_TRUE(WaitProcess(reaped, 0));

    // Ended but not yet reaped: still counts as ended, and is left for its owner to reap.
    pid_t zombie = spawn({"true"});
    ASSERT_GT(zombie, 0);
    siginfo_t info{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(zombie), &info, WEXITED | WNOWAIT), 0);
    EXPECT_TRUE(WaitProcess(zombie, 0));
    EXPECT_EQ(::waitpid(zombie, nullptr, WNOHANG), zombie);

    EXPECT_TRUE(WaitProcess(0, 1000));
}

TEST(WaitProcess, RunsTheEventLoopUntilOurChildEnds) {
    app();
    pid_t child = spawn({"sleep", "30"});
    ASSERT_GT(child, 0);
    KillAfterTicks killer(child, 3);
    EXPECT_TRUE(WaitProcess(child, 120000));
    EXPECT_GE(killer.fired, 3);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status));
}

TEST(WaitProcess, WatchesADetachedProcess) {
    app();
    qint64 pid = 0;
    ASSERT_TRUE(QProcess::startDetached("sleep", {"30"}, QString(), &pid));
    ASSERT_GT(pid, 0);
    KillAfterTicks killer(static_cast<pid_t>(pid), 3);
    EXPECT_TRUE(WaitProcess(static_cast<pid_t>(pid), 120000));
    EXPECT_GE(killer.fired, 3);
}

TEST(WaitProcess, GivesUpAtTheLimit) {
    app();
    pid_t child = spawn({"sleep", "30"});
    ASSERT_GT(child, 0);
    EXPECT_FALSE(WaitProcess(child, 100));
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), 0); // still running, not touched
    ::kill(child, SIGKILL);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
}

} // namespace
