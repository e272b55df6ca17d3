#pragma once

#include <QDateTime>
#include <QImage>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One start of the user's alarm command (ONALARM).
struct AlarmCommandRun {
    std::string command; // a /bin/sh command line
    std::string folder;  // the program folder: working directory, and where hook.log.txt goes
    std::string picture; // PAWLINEX_PICTURE: the alarm frame as a JPEG, empty when not written
    std::string clip;    // PAWLINEX_CLIP: the alarm's clip, empty without one
    int32_t level = 0;   // PAWLINEX_LEVEL
    QDateTime time;      // PAWLINEX_TIME, local time
};

// What one run that was waited for ended with.
struct AlarmCommandResult {
    bool started = false; // false: the shell could not be started; `output` says why
    int exitStatus = -1;  // the shell's exit status; -1 when a signal or the time limit ended it
    std::string output;   // standard output and error as they came (the first 64 KiB)
};

// The settings dialog's trial: runs `command` once with `frame` as the alarm picture (an empty
// frame: the last one the camera gave), waits for it within the time limit, keeping the windows
// painted, and returns what it did.
using AlarmCommandTrial =
    std::function<AlarmCommandResult(const std::string& command, const QImage& frame)>;

// Starts alarm commands. The live one is AlarmCommand; tests of the alarm actions record calls.
class AlarmCommandRunner {
public:
    virtual ~AlarmCommandRunner() = default;
    // Returns at once; the command runs on its own. Never throws.
    virtual void start(const AlarmCommandRun& run) = 0;
    // Returns when the command has ended (or been ended at the time limit).
    virtual AlarmCommandResult runAndWait(const AlarmCommandRun& run) = 0;
    // Ends every command still running, with all it started.
    virtual void endAll() = 0;
};

// "2026-12-07T09:05:03+09:00": local time with its offset from UTC.
std::string IsoLocalTime(const QDateTime& time);

// Runs each command through /bin/sh -c in the program folder, in a process group of its own so
// that whatever it starts can be ended with it, with the PAWLINEX_* variables added to the
// program's environment. Standard output and error are appended to hook.log.txt in the program
// folder, between a line naming the run (time, level) and a line with how it ended. A group is
// ended (SIGTERM, then SIGKILL after a grace period) when the limit has passed since the start,
// and by endAll() or the destructor. At most `maxRunning` run at once; a start beyond that is
// only logged as skipped. Lives on the user-interface thread; its signals need the event loop.
class AlarmCommand final : public QObject, public AlarmCommandRunner {
public:
    explicit AlarmCommand(std::chrono::milliseconds limit = std::chrono::seconds(60),
                          int maxRunning = 4,
                          std::chrono::milliseconds grace = std::chrono::seconds(2));
    ~AlarmCommand() override;

    void start(const AlarmCommandRun& run) override;
    AlarmCommandResult runAndWait(const AlarmCommandRun& run) override;
    void endAll() override;

    // Shells still running from start().
    int running() const;

    static constexpr const char* kLogName = "hook.log.txt";

private:
    class Running;
    void forget(Running* run);

    std::chrono::milliseconds m_limit;
    int m_maxRunning;
    std::chrono::milliseconds m_grace;
    std::vector<Running*> m_runs;
};
