#pragma once

#include <functional>
#include <string>
#include <sys/types.h>

// The record of uploads in FtpAppPath: one line per upload, good or bad.
inline constexpr const char* kFtpLogName = "ftp.log.txt";

// How long AutoFTP waits for the client before stopping it (default 10 minutes, far above a slow
// upload of a 30-second clip).
inline constexpr int kDefaultAutoFTPWaitLimitMs = 10 * 60 * 1000;

// The FTP runner: one upload at a time with the pawlinex-ftp client. `main()` makes one and hands
// it down; the alarm sets the login before every upload, the main window shows the upload's
// progress and stops it when the program closes. User-interface thread only.
class AutoFtp {
public:
    // Tests pass their own client program (empty: see FtpClientPath) and a wait limit in
    // milliseconds (0 or less: kDefaultAutoFTPWaitLimitMs).
    explicit AutoFtp(std::string clientPath = {}, int waitLimitMs = 0);

    // Set by the caller before AutoFTP: the program folder and the FTP login.
    std::string FtpAppPath;
    std::string FtpHost;
    std::string FtpUser;
    std::string FtpPass;

    // Uploads one file with the pawlinex-ftp client: writes FTP_PUT.txt (mode 0600) in FtpAppPath,
    // starts the client beside the program, waits for it with a bounded WaitProcess (the windows
    // keep painting) and deletes the script. An empty local path takes the remote name, an empty
    // mode becomes "ascii"; both defaults are written back into the caller's variables.
    // FtpHost may be "host", "host port", "host:port", "[v6]:port" or an ftp:// address whose login
    // and folder then take the place of FtpUser, FtpPass and `remoteFolder`. Every upload appends
    // one line to ftp.log.txt: time, local file, remote name, "OK" or "NG: " and the reason (the
    // client's first error line, or how it ended). A control character in any of the texts skips
    // the upload with one line on standard error and an NG line in the log.
    // The upload is skipped, with no script left behind and only its line in the log, when the
    // script cannot be written or the client cannot be started. While an upload runs (AutoFTP waits
    // inside a local event loop) a second AutoFTP returns at once without uploading.
    void AutoFTP(std::string& remoteName, std::string& localPath, const std::string& remoteFolder,
                 std::string& mode);

    // Stops a running client (SIGTERM, then SIGKILL after a short grace) and deletes its script.
    // For the close sequence, which can run inside AutoFTP's wait; AutoFTP then returns as soon as
    // control gets back to it. Does nothing when no upload runs.
    void AbortAutoFTP();

    // True while AutoFTP waits for the client.
    bool AutoFTPRunning() const { return m_running; }

    // Told once the client has started and once it has ended, whatever the outcome (the main
    // window's progress bar). An upload skipped before its client starts tells neither. One
    // listener; empty functions detach it.
    void setUploadListener(std::function<void()> started, std::function<void()> finished);

    // The client program: the one this object was made with, else PAWLINEX_FTP_CLIENT, else
    // pawlinex-ftp in the folder of the running executable.
    std::string FtpClientPath() const;

private:
    std::string m_clientPath;
    std::function<void()> m_started;
    std::function<void()> m_finished;
    int m_waitLimitMs;
    // The upload in progress, if any. m_pid is cleared by AbortAutoFTP once it has reaped the
    // client, so AutoFTP never signals a process id that may already belong to someone else.
    bool m_running = false;
    pid_t m_pid = -1;
    std::string m_scriptPath;
    bool m_aborted = false;
    // Wait status of the client last reaped; -1 while unknown.
    int m_status = -1;
};
