#include "ftp/basAutoFTP.h"

#include "ftp/FtpScript.h"
#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string g_clientPath;
int g_waitLimitMs = kDefaultAutoFTPWaitLimitMs;

// The upload in progress, if any. g_pid is cleared by AbortAutoFTP once it has reaped the
// client, so AutoFTP never signals a process id that may already belong to someone else.
bool g_running = false;
pid_t g_pid = -1;
std::string g_scriptPath;

std::string executableFolder() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    size_t slash = exe.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
}

// Reaps `pid` if it has ended. True when it is gone (or was never our child).
bool reaped(pid_t pid) {
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid)
            return true;
        if (r == 0)
            return false;
        if (errno == EINTR)
            continue;
        return true; // ECHILD: already reaped by the watcher
    }
}

bool waitReaped(pid_t pid, int graceMs) {
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (reaped(pid))
            return true;
        QThread::msleep(20);
    }
    return reaped(pid);
}

// The client runs in its own process group, so anything it started goes with it.
void stopClient(pid_t pid) {
    if (!reaped(pid)) {
        ::kill(-pid, SIGTERM);
        if (!waitReaped(pid, 3000)) {
            ::kill(-pid, SIGKILL);
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    // Whatever the client started may outlive it, ignoring SIGTERM. The group id cannot be
    // handed out again while a member remains, so this reaches only those left-overs.
    ::kill(-pid, SIGKILL);
}

// Starts `client -s:"script"` hidden: no terminal input, output to PAWLINEX_FTP_LOG when set
// (appended), else discarded. Returns -1 when it cannot be started.
pid_t startClient(const std::string& client, const std::string& scriptPath) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);

    const char* log = std::getenv("PAWLINEX_FTP_LOG");
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (log && *log)
        posix_spawn_file_actions_addopen(&actions, 1, log, O_WRONLY | O_CREAT | O_APPEND, 0600);
    else
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);

    // Signal handlers and masks of the program (its own SIGTERM handling, for one) must not
    // leak into the client, or it could not be stopped with SIGTERM.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP);

    // No shell between us and the client: the quotes reach it as written, spaces and all.
    std::string arg = "-s:\"" + scriptPath + "\"";
    char* argv[] = {const_cast<char*>(client.c_str()), const_cast<char*>(arg.c_str()), nullptr};
    pid_t pid = -1;
    int rc = ::posix_spawn(&pid, client.c_str(), &actions, &attr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    return rc == 0 ? pid : -1;
}

// True once the client has ended and been reaped (or an abort took it), false at the limit.
// WaitProcess says "ended" for a process it cannot watch. Then keep waiting here, still
// serving events, so the script is never deleted under a client that is still reading it.
bool waitForClient(pid_t pid, int limitMs) {
    if (!WaitProcess(pid, limitMs))
        return g_pid != pid; // an abort inside the wait has already dealt with it
    if (g_pid != pid || reaped(pid))
        return true;
    QThread* ui = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    for (int waited = 0; waited < limitMs; waited += 20) {
        if (ui == QThread::currentThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
        if (g_pid != pid || reaped(pid))
            return true;
    }
    return false;
}

} // namespace

std::string FtpClientPath() {
    if (!g_clientPath.empty())
        return g_clientPath;
    const char* env = std::getenv("PAWLINEX_FTP_CLIENT");
    if (env && *env)
        return env;
    return executableFolder() + "/pawlinex-ftp";
}

void SetFtpClientPath(const std::string& path) {
    g_clientPath = path;
}

void SetAutoFTPWaitLimit(int limitMs) {
    g_waitLimitMs = limitMs > 0 ? limitMs : kDefaultAutoFTPWaitLimitMs;
}

bool AutoFTPRunning() {
    return g_running;
}

void AbortAutoFTP() {
    if (!g_running)
        return;
    if (g_pid > 0) {
        stopClient(g_pid);
        g_pid = -1;
    }
    if (!g_scriptPath.empty())
        ::unlink(g_scriptPath.c_str());
}

void AutoFTP(std::string& remoteName, std::string& localPath, const std::string& remoteFolder,
             std::string& mode) {
    if (localPath.empty())
        localPath = remoteName;
    if (mode.empty())
        mode = "ascii";
    if (FtpAppPath.empty() || FtpAppPath.back() != '/')
        FtpAppPath += '/';
    if (g_running)
        return;

    const std::string scriptPath = FtpAppPath + kFtpScriptName;
    FtpScriptInput in{FtpHost, FtpUser, FtpPass, remoteFolder, mode, localPath, remoteName};
    if (!WriteFtpScript(scriptPath, ComposeFtpScript(in)))
        return;

    const pid_t pid = startClient(FtpClientPath(), scriptPath);
    if (pid < 0) {
        ::unlink(scriptPath.c_str());
        return;
    }
    g_running = true;
    g_pid = pid;
    g_scriptPath = scriptPath;

    // A hung server or client must not hold up detection for ever.
    if (!waitForClient(pid, g_waitLimitMs) && g_pid == pid)
        stopClient(pid);

    ::unlink(scriptPath.c_str());
    g_running = false;
    g_pid = -1;
    g_scriptPath.clear();
}
