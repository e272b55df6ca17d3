#include "ftp/basAutoFTP.h"

#include "ftp/FtpHostForm.h"
#include "ftp/FtpScript.h"
#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

std::string executableFolder() {
    std::vector<char> buf(4096);
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0)
        return ".";
    std::string exe(buf.data(), static_cast<size_t>(n));
    size_t slash = exe.find_last_of('/');
    return slash == std::string::npos || slash == 0 ? std::string("/") : exe.substr(0, slash);
}

// Reaps `pid` if it has ended, keeping its wait status in *waitStatus. True when it is gone (or was
// never our child).
bool reaped(pid_t pid, int* waitStatus) {
    for (;;) {
        int status = 0;
        pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            *waitStatus = status;
            return true;
        }
        if (r == 0)
            return false;
        if (errno == EINTR)
            continue;
        return true; // ECHILD: already reaped by the watcher
    }
}

bool waitReaped(pid_t pid, int graceMs, int* waitStatus) {
    for (int waited = 0; waited < graceMs; waited += 20) {
        if (reaped(pid, waitStatus))
            return true;
        QThread::msleep(20);
    }
    return reaped(pid, waitStatus);
}

// The client runs in its own process group, so anything it started goes with it.
void stopClient(pid_t pid, int* waitStatus) {
    if (!reaped(pid, waitStatus)) {
        ::kill(-pid, SIGTERM);
        if (!waitReaped(pid, 3000, waitStatus)) {
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
// (appended), else discarded; its error lines to `errFd` when that is open. Returns -1 when it
// cannot be started.
pid_t startClient(const std::string& client, const std::string& scriptPath, int errFd) {
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
    posix_spawn_file_actions_adddup2(&actions, errFd >= 0 ? errFd : 1, 2);

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
// `current` is the runner's process id, which an abort inside the wait clears.
bool waitForClient(pid_t pid, int limitMs, const pid_t& current, int* waitStatus) {
    if (!WaitProcess(pid, limitMs))
        return current != pid; // an abort inside the wait has already dealt with it
    if (current != pid || reaped(pid, waitStatus))
        return true;
    QThread* ui = QCoreApplication::instance() ? QCoreApplication::instance()->thread() : nullptr;
    for (int waited = 0; waited < limitMs; waited += 20) {
        if (ui == QThread::currentThread())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
        if (current != pid || reaped(pid, waitStatus))
            return true;
    }
    return false;
}

// The first line the client wrote to its error output, which it keeps for failures.
std::string firstLine(int fd) {
    if (fd < 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    char buf[1024];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n <= 0)
        return {};
    std::string text(buf, static_cast<size_t>(n));
    return text.substr(0, text.find('\n'));
}

std::string clientOutcome(bool aborted, bool ended, int waitLimitMs, int status, int errFd) {
    if (aborted)
        return "stopped because the program closed";
    if (!ended)
        return "no end within " + std::to_string(waitLimitMs / 1000) + " s; client stopped";
    const std::string reason = firstLine(errFd);
    if (status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    if (!reason.empty())
        return reason;
    if (status != -1 && WIFSIGNALED(status))
        return "FTP client ended by signal " + std::to_string(WTERMSIG(status));
    if (status != -1)
        return "FTP client ended with status " + std::to_string(WEXITSTATUS(status));
    return "FTP client ended, outcome unknown";
}

// One line of ftp.log.txt: local time, local file, remote name (after the folder), then "OK" or
// "NG: reason"; tab-separated like mail.log.txt. Control characters become spaces so nothing
// can break the line in two. The password is never among the fields. Write failures are
// ignored: the log must not cost the upload.
void appendFtpLog(const std::string& appPath, const std::string& local, const std::string& remote,
                  const std::string& error) {
    auto field = [](std::string s) {
        for (char& ch : s)
            if (IsControlCharacter(ch))
                ch = ' ';
        return s;
    };
    AppendLogLine(appPath + kFtpLogName,
                  {field(local), field(remote), error.empty() ? "OK" : "NG: " + field(error)});
}

// A hand-edited settings file can hold what the dialog refuses. Returns the first field that
// carries a control character, or nothing.
const char* fieldWithControlCharacter(const AutoFtp& ftp, const std::string& remoteName,
                                      const std::string& localPath,
                                      const std::string& remoteFolder) {
    const std::pair<const char*, const std::string*> fields[] = {
        {"host", &ftp.FtpHost},    {"user", &ftp.FtpUser},       {"password", &ftp.FtpPass},
        {"folder", &remoteFolder}, {"remote name", &remoteName}, {"local file", &localPath}};
    for (const auto& [name, text] : fields)
        if (HasControlCharacter(*text))
            return name;
    return nullptr;
}

} // namespace

std::string AutoFtp::FtpClientPath() const {
    if (!m_clientPath.empty())
        return m_clientPath;
    const char* env = std::getenv("PAWLINEX_FTP_CLIENT");
    if (env && *env)
        return env;
    return executableFolder() + "/pawlinex-ftp";
}

AutoFtp::AutoFtp(std::string clientPath, int waitLimitMs)
    : m_clientPath(std::move(clientPath)),
      m_waitLimitMs(waitLimitMs > 0 ? waitLimitMs : kDefaultAutoFTPWaitLimitMs) {}

void AutoFtp::AbortAutoFTP() {
    if (!m_running)
        return;
    m_aborted = true;
    if (m_pid > 0) {
        stopClient(m_pid, &m_status);
        m_pid = -1;
    }
    if (!m_scriptPath.empty())
        ::unlink(m_scriptPath.c_str());
}

void AutoFtp::AutoFTP(std::string& remoteName, std::string& localPath,
                      const std::string& remoteFolder, std::string& mode) {
    if (localPath.empty())
        localPath = remoteName;
    if (mode.empty())
        mode = "ascii";
    if (FtpAppPath.empty() || FtpAppPath.back() != '/')
        FtpAppPath += '/';
    std::string folder = remoteFolder;
    const auto remoteShown = [&] {
        return folder.empty() ? remoteName : folder + "/" + remoteName;
    };
    if (m_running)
        return;

    if (const char* field = fieldWithControlCharacter(*this, remoteName, localPath, remoteFolder)) {
        const std::string why = std::string("control character in the ") + field;
        std::fprintf(stderr, "pawlinex: FTP upload skipped: %s\n", why.c_str());
        return appendFtpLog(FtpAppPath, localPath, remoteShown(), why);
    }
    // The stored host is "host" or "host port", but a hand-edited file may hold "host:port" or a
    // whole ftp:// address; the script gets the stored form and the login the address carries.
    std::string why;
    const std::optional<FtpHostParts> host = ParseFtpHost(FtpHost, &why);
    if (!host)
        return appendFtpLog(FtpAppPath, localPath, remoteShown(), "FTP host: " + why);
    FtpScriptInput in{FtpHostStoredForm(*host),
                      host->user.value_or(FtpUser),
                      host->pass.value_or(FtpPass),
                      host->folder.value_or(folder),
                      mode,
                      localPath,
                      remoteName};
    folder = in.remoteFolder;

    const std::string scriptPath = FtpAppPath + kFtpScriptName;
    if (!WriteFtpScript(scriptPath, ComposeFtpScript(in)))
        return appendFtpLog(FtpAppPath, localPath, remoteShown(), "cannot write " + scriptPath);

    const int errFd = ::memfd_create("pawlinex-ftp-errors", MFD_CLOEXEC);
    const std::string client = FtpClientPath();
    const pid_t pid = startClient(client, scriptPath, errFd);
    if (pid < 0) {
        ::unlink(scriptPath.c_str());
        if (errFd >= 0)
            ::close(errFd);
        return appendFtpLog(FtpAppPath, localPath, remoteShown(),
                            "cannot start the FTP client " + client);
    }
    m_running = true;
    m_aborted = false;
    m_status = -1;
    m_pid = pid;
    m_scriptPath = scriptPath;
    if (m_started)
        m_started();

    // A hung server or client must not hold up detection for ever.
    const bool ended = waitForClient(pid, m_waitLimitMs, m_pid, &m_status);
    if (!ended && m_pid == pid)
        stopClient(pid, &m_status);

    ::unlink(scriptPath.c_str());
    appendFtpLog(FtpAppPath, localPath, remoteShown(),
                 clientOutcome(m_aborted, ended, m_waitLimitMs, m_status, errFd));
    if (errFd >= 0)
        ::close(errFd);
    m_running = false;
    m_pid = -1;
    m_scriptPath.clear();
    if (m_finished)
        m_finished();
}

void AutoFtp::setUploadListener(std::function<void()> started, std::function<void()> finished) {
    m_started = std::move(started);
    m_finished = std::move(finished);
}
