// The pawlinex program: loads the settings, then hands the run to the main window. Command-line
// arguments are ignored.
#include "mainwindow/MessageBoxes.h"
#include "mainwindow/SignalPipe.h"
#include "mainwindow/UiFonts.h"
#include "mainwindow/frmSw_Mail.h"
#include "settings/basSettings.h"

#include <QApplication>

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    // Settings first, before any window (and before a display is even needed): a file that
    // cannot be read as intended ends the run here, untouched, with the reason on one line.
    if (!LoadSettings()) {
        std::fprintf(stderr, "%s\n", LastSettingsError().c_str());
        return 2;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pawlinex"));
    QApplication::setFont(JapaneseFont(9));
    // The close sequence ends the process itself; Qt must not quit behind its back when the last
    // window goes.
    QApplication::setQuitOnLastWindowClosed(false);

    QtMessageBoxes messages;
    frmSw_Mail window(messages);

    // Logging off, shutting down and Ctrl+C close the program like the close box does. The
    // close itself runs in the event loop, never inside the signal handler.
    SignalPipe signalPipe({SIGTERM, SIGINT, SIGHUP});
    QObject::connect(&signalPipe, &SignalPipe::signalled, &window,
                     [&window](int) { window.close(); });

    window.Start();
    return app.exec();
}
