#include "settings/basCommon.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

int32_t GetPlatformId() {
    // Linux is always the wide, Unicode-aware platform; cached so the answer never changes.
    static const int32_t platformId = 2;
    return platformId;
}

std::string GetShortPath(const std::string& path) {
    struct stat st;
    if (path.empty() || ::stat(path.c_str(), &st) != 0)
        return std::string();
    return path;
}

std::string ProgramFolder() {
    std::string folder;
    if (const char* home = std::getenv("PAWLINEX_HOME"); home && *home) {
        folder = home;
    } else {
        char buffer[PATH_MAX];
        ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        if (n > 0) {
            folder.assign(buffer, static_cast<size_t>(n));
            folder.erase(folder.find_last_of('/') + 1);
        } else {
            folder = ".";
        }
    }
    while (!folder.empty() && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string MediaDir() {
    std::string dir = "/usr/share/sounds/freedesktop/stereo/";
    if (const char* media = std::getenv("PAWLINEX_MEDIA_DIR"); media && *media)
        dir = media;
    if (dir.back() != '/')
        dir.push_back('/');
    return dir;
}

namespace {

bool pidfdReadable(int pidfd, int timeoutMs) {
    pollfd p{pidfd, POLLIN, 0};
    int rc;
    do {
        rc = ::poll(&p, 1, timeoutMs);
    } while (rc < 0 && errno == EINTR);
    return rc > 0;
}

bool processGone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// For kernels without pidfd_open: check the process now and then while the loop runs. Checking
// every 50 ms costs nothing and still ends the wait promptly.
bool waitByCheckingNow(pid_t pid, int limitMs) {
    if (processGone(pid))
        return true;
    if (!QCoreApplication::instance()) {
        for (int waited = 0; waited < limitMs; waited += 50) {
            ::usleep(50 * 1000);
            if (processGone(pid))
                return true;
        }
        return processGone(pid);
    }
    QEventLoop loop;
    QTimer check;
    check.setInterval(50);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (processGone(pid))
            loop.quit();
    });
    QTimer::singleShot(limitMs, &loop, &QEventLoop::quit);
    check.start();
    loop.exec();
    return processGone(pid);
}

} // namespace

bool WaitProcess(pid_t pid, int limitMs) {
    if (pid <= 0)
        return true;
    if (limitMs < 0)
        limitMs = 0;
    int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd < 0) {
        if (errno == ENOSYS)
            return waitByCheckingNow(pid, limitMs);
        return true; // already ended (and reaped) or not ours to watch
    }
    // A pidfd turns readable once the process has ended, zombie or not, so our own child is
    // left for its owner to reap.
    bool ended = pidfdReadable(pidfd, 0);
    if (!ended && limitMs > 0) {
        if (QCoreApplication::instance()) {
            QEventLoop loop;
            QSocketNotifier notifier(pidfd, QSocketNotifier::Read);
            QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
            QTimer limit;
            limit.setSingleShot(true);
            QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
            limit.start(limitMs);
            loop.exec();
            notifier.setEnabled(false);
        } else {
            pidfdReadable(pidfd, limitMs);
        }
        ended = pidfdReadable(pidfd, 0);
    }
    ::close(pidfd);
    return ended;
}

std::string TrimSpaces(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

void AppendLogLine(const std::string& path, const std::vector<std::string>& fields) {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char when[32];
    std::strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &tm);
    std::string line = when;
    for (const std::string& field : fields)
        line += '\t' + field;
    line += '\n';
    std::ofstream out(path, std::ios::binary | std::ios::app);
    if (out)
        out << line;
}
