#include "ftp/FtpScript.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::string ComposeFtpScript(const FtpScriptInput& in) {
    static const std::string eol = "\r\n";
    std::string s;
    s += "open " + in.host + eol;
    s += in.user + eol;
    s += in.pass + eol;
    if (!in.remoteFolder.empty())
        s += "CD " + in.remoteFolder + eol;
    s += in.mode + eol;
    s += "PUT \"" + in.localPath + "\" " + in.remoteName + eol;
    s += "quit" + eol;
    s += eol + eol;
    return s;
}

bool WriteFtpScript(const std::string& path, const std::string& text) {
    // Unlink first and create exclusively: an old script with wider rights, or a link planted
    // under the script's name, must not receive the password.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        return false;
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    size_t done = 0;
    while (ok && done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0)
        ok = false;
    if (!ok)
        ::unlink(path.c_str());
    return ok;
}
