// The pawlinex program: loads the settings, then hands the run to the main window. Command-line
// arguments are ignored.
#include "capture/VideoSources.h"
#include "detection/AlarmPortsLive.h"
#include "ftp/basAutoFTP.h"
#include "mail/MailSender.h"
#include "mail/MailTransport.h"
#include "mainwindow/QtMessageBoxes.h"
#include "mainwindow/SignalPipe.h"
#include "mainwindow/UiFonts.h"
#include "mainwindow/frmSw_Mail.h"
#include "settings/StatusPanels.h"
#include "settings/basSettings.h"

#include <QApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool VisibleDisplay() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v && *v;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    // A box on a platform nobody sees would only keep the program from ending.
    if (platform &&
        (std::strncmp(platform, "offscreen", 9) == 0 || std::strncmp(platform, "minimal", 7) == 0))
        return false;
    return set("DISPLAY") || set("WAYLAND_DISPLAY");
}

// A start from the desktop menu shows no standard error, so the reason also goes into a box. It
// runs in a child process: a display that cannot be reached aborts inside Qt, and the run must
// still end with its own exit status, after the line on standard error.
void ShowStartFailure(int argc, char** argv, const std::string& text) {
    if (!VisibleDisplay())
        return;
    const pid_t child = ::fork();
    if (child < 0)
        return;
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0)
            ::dup2(null, STDERR_FILENO);
        QApplication app(argc, argv);
        QApplication::setFont(JapaneseFont(9));
        QtMessageBoxes().showOk(nullptr, MessageBoxes::Icon::Critical, QStringLiteral("Pawlinex"),
                                QString::fromUtf8(text.c_str()));
        std::_Exit(0);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}

} // namespace

int main(int argc, char** argv) {
    // Settings first, before any window: a file that cannot be read as intended ends the run
    // here, untouched, with the reason on one line.
    if (!LoadSettings()) {
        const std::string reason = LastSettingsError();
        std::fprintf(stderr, "%s\n", reason.c_str());
        ShowStartFailure(argc, argv, reason);
        return 2;
    }

    // Qt's own event loop rather than GLib's: the loop wakes some forty times a second for the
    // preview, the detection tick and the display, and GLib's costs a twentieth of the whole
    // program's time on top. Nothing here needs GLib's loop: the program opens no native file,
    // colour or font dialog, the only things a desktop's GTK theme runs through it.
    qputenv("QT_NO_GLIB", "1");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pawlinex"));
    QApplication::setFont(JapaneseFont(9));
    // The close sequence ends the process itself; Qt must not quit behind its back when the last
    // window goes.
    QApplication::setQuitOnLastWindowClosed(false);

    // The real services, made once; everything below reaches them through the main window.
    QtMessageBoxes messages;
    CurlMailTransport mailTransport;
    MailSender mail(mailTransport);
    AutoFtp ftp;
    StatusPanels panels;
    SystemClock clock;
    VideoSourceList videoSources;
    const Services services{messages, mail, ftp, panels, clock, videoSources};
    frmSw_Mail window(services);

    // Logging off, shutting down and Ctrl+C close the program like the close box does. The
    // close itself runs in the event loop, never inside the signal handler.
    SignalPipe signalPipe({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&signalPipe, &SignalPipe::signalled, &window,
                     [&window](int) { window.close(); });

    window.Start();
    return app.exec();
}
