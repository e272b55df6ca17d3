#include "detection/AlarmCommand.h"

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>
#include <unistd.h>

namespace {

constexpr qsizetype kMaxTrialOutput = 64 * 1024;

std::string LogPath(const std::string& folder) {
    return folder + "/" + AlarmCommand::kLogName;
}

void AppendLog(const std::string& path, const std::string& text) {
    if (std::FILE* f = std::fopen(path.c_str(), "ab")) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
}

std::string RunLabel(const AlarmCommandRun& run) {
    return "=== " + IsoLocalTime(run.time) + " level " + std::to_string(run.level);
}

bool GroupAlive(pid_t group) {
    return group > 0 && (::kill(-group, 0) == 0 || errno == EPERM);
}

void SignalGroup(pid_t group, int sig) {
    if (group > 0)
        ::kill(-group, sig);
}

// The shell and everything it starts share a new session, so one kill reaches them all and a
// terminal's signals never do.
void Prepare(QProcess& p, const AlarmCommandRun& run) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PAWLINEX_PICTURE"), QString::fromStdString(run.picture));
    env.insert(QStringLiteral("PAWLINEX_CLIP"), QString::fromStdString(run.clip));
    env.insert(QStringLiteral("PAWLINEX_LEVEL"), QString::number(run.level));
    env.insert(QStringLiteral("PAWLINEX_TIME"), QString::fromStdString(IsoLocalTime(run.time)));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(QString::fromStdString(run.folder));
    p.setProgram(QStringLiteral("/bin/sh"));
    p.setArguments({QStringLiteral("-c"), QString::fromStdString(run.command)});
    p.setStandardInputFile(QProcess::nullDevice());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.setChildProcessModifier([] { ::setsid(); });
}

std::string Ending(int exitCode, QProcess::ExitStatus status, const std::string& reason) {
    std::string text = status == QProcess::NormalExit ? "exit " + std::to_string(exitCode)
                                                      : std::string("ended by a signal");
    if (!reason.empty())
        text += " (" + reason + ")";
    return text;
}

std::string Seconds(std::chrono::milliseconds ms) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", static_cast<double>(ms.count()) / 1000.0);
    return buf;
}

} // namespace

std::string IsoLocalTime(const QDateTime& time) {
    const QDateTime local = time.toLocalTime();
    const int offset = local.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return local.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toStdString() + zone;
}

// One command started by start(): its shell, its group and its time limit. It stays until the
// shell has ended and its group is empty or has been ended.
class AlarmCommand::Running : public QObject {
public:
    QProcess process{this};
    QTimer limit{this};
    QTimer kill{this};
    pid_t group = 0;
    std::string logPath;
    std::string label;
    std::string reason; // why the group was ended, when it was
    bool shellDone = false;

    void end(const std::string& why, std::chrono::milliseconds grace) {
        if (!reason.empty())
            return;
        reason = why;
        SignalGroup(group, SIGTERM);
        kill.start(grace);
    }
};

AlarmCommand::AlarmCommand(std::chrono::milliseconds limit, int maxRunning,
                           std::chrono::milliseconds grace)
    : m_limit(limit), m_maxRunning(maxRunning), m_grace(grace) {}

AlarmCommand::~AlarmCommand() {
    endAll();
}

int AlarmCommand::running() const {
    return static_cast<int>(std::count_if(m_runs.begin(), m_runs.end(),
                                          [](const Running* r) { return !r->shellDone; }));
}

void AlarmCommand::forget(Running* run) {
    const auto it = std::find(m_runs.begin(), m_runs.end(), run);
    if (it == m_runs.end())
        return;
    m_runs.erase(it);
    run->limit.stop();
    run->kill.stop();
    run->deleteLater();
}

void AlarmCommand::start(const AlarmCommandRun& run) {
    if (run.command.empty())
        return;
    const std::string logPath = LogPath(run.folder);
    const std::string label = RunLabel(run);
    if (running() >= m_maxRunning) {
        AppendLog(logPath, label + ": skipped, " + std::to_string(m_maxRunning) +
                               " commands still running\n");
        return;
    }
    AppendLog(logPath, label + ": " + run.command + "\n");

    auto* r = new Running;
    r->setParent(this);
    r->logPath = logPath;
    r->label = label;
    m_runs.push_back(r);
    Prepare(r->process, run);
    r->process.setStandardOutputFile(QString::fromStdString(logPath), QIODevice::Append);

    r->kill.setSingleShot(true);
    connect(&r->kill, &QTimer::timeout, r, [this, r] {
        SignalGroup(r->group, SIGKILL);
        if (r->shellDone)
            forget(r);
    });
    r->limit.setSingleShot(true);
    connect(&r->limit, &QTimer::timeout, r, [this, r] {
        if (!r->shellDone || GroupAlive(r->group))
            r->end("ended after " + Seconds(m_limit), m_grace);
        else
            forget(r);
    });
    connect(&r->process, &QProcess::finished, r, [this, r](int code, QProcess::ExitStatus status) {
        r->shellDone = true;
        AppendLog(r->logPath, r->label + ": " + Ending(code, status, r->reason) + "\n");
        // Whatever the shell left behind stays under the time limit.
        if (!GroupAlive(r->group))
            forget(r);
    });
    connect(&r->process, &QProcess::errorOccurred, r, [this, r](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        r->shellDone = true;
        AppendLog(r->logPath,
                  r->label + ": failed to start: " + r->process.errorString().toStdString() + "\n");
        forget(r);
    });

    // The shell's pid names its group; it is known once the fork is done, which may be inside
    // start() or just after it.
    auto track = [this, r] {
        if (r->group > 0 || r->process.processId() <= 0)
            return;
        r->group = static_cast<pid_t>(r->process.processId());
        r->limit.start(m_limit);
    };
    connect(&r->process, &QProcess::started, r, track);
    r->process.start();
    track();
}

AlarmCommandResult AlarmCommand::runAndWait(const AlarmCommandRun& run) {
    AlarmCommandResult result;
    const std::string logPath = LogPath(run.folder);
    const std::string label = RunLabel(run);
    AppendLog(logPath, label + ": " + run.command + "\n");

    QProcess process;
    Prepare(process, run);
    QEventLoop loop;
    QTimer limit;
    QTimer kill;
    limit.setSingleShot(true);
    kill.setSingleShot(true);
    pid_t group = 0;
    std::string reason;
    QByteArray output;
    connect(&process, &QProcess::readyRead, &loop, [&] { output += process.readAll(); });
    connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart)
            loop.quit();
    });
    connect(&limit, &QTimer::timeout, &loop, [&] {
        reason = "ended after " + Seconds(m_limit);
        SignalGroup(group, SIGTERM);
        kill.start(m_grace);
    });
    connect(&kill, &QTimer::timeout, &loop, [&] { SignalGroup(group, SIGKILL); });

    process.start();
    group = static_cast<pid_t>(process.processId());
    if (group > 0) {
        limit.start(m_limit);
        loop.exec();
    }
    limit.stop();
    kill.stop();

    if (process.error() == QProcess::FailedToStart || group <= 0) {
        result.output = "failed to start: " + process.errorString().toStdString();
        AppendLog(logPath, label + ": " + result.output + "\n");
        return result;
    }
    output += process.readAll();
    // A trial leaves nothing behind: what the shell started in the background goes with it.
    if (GroupAlive(group)) {
        SignalGroup(group, SIGTERM);
        if (reason.empty())
            reason = "left-overs ended";
    }
    result.started = true;
    if (process.exitStatus() == QProcess::NormalExit && reason.rfind("ended after", 0) != 0)
        result.exitStatus = process.exitCode();
    const std::string all = output.toStdString();
    AppendLog(logPath, all + (all.empty() || all.back() == '\n' ? "" : "\n") + label + ": " +
                           Ending(process.exitCode(), process.exitStatus(), reason) + "\n");
    result.output = all.substr(0, kMaxTrialOutput);
    return result;
}

void AlarmCommand::endAll() {
    const std::vector<Running*> runs = m_runs;
    if (runs.empty())
        return;
    for (Running* r : runs)
        r->end("ended at close", m_grace);
    // A short wait lets the commands end on SIGTERM; whatever is still there then is killed.
    const auto deadline = std::chrono::steady_clock::now() + m_grace;
    for (Running* r : runs) {
        if (r->shellDone)
            continue;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        r->process.waitForFinished(static_cast<int>(std::max<int64_t>(left.count(), 1)));
    }
    for (Running* r : runs) {
        SignalGroup(r->group, SIGKILL);
        if (!r->shellDone)
            r->process.waitForFinished(1000);
    }
    for (Running* r : runs) {
        m_runs.erase(std::remove(m_runs.begin(), m_runs.end(), r), m_runs.end());
        delete r;
    }
}
