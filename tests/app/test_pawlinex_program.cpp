// The real pawlinex executable: a settings file that cannot be loaded ends it before any window
// with one line on standard error, exit status 2 and the file untouched; SIGTERM, SIGINT and SIGHUP
// run the close sequence (settings saved, a left-over FTP script deleted), also while the "no
// driver" message box is waiting.
#include "../capture/CaptureTestUtil.h"
#include "../mainwindow/MainWindowTestUtil.h"

#include <QElapsedTimer>

#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <sys/stat.h>

using namespace mainwindow_test;

namespace {

QString ProgramPath() {
    return QString::fromLocal8Bit(qgetenv("PAWLINEX_PROGRAM_DIR")) + "/pawlinex";
}

// True once the process catches `signalNumber` (its handlers are installed), read from
// /proc/<pid>/status.
bool Catches(qint64 pid, int signalNumber) {
    const QByteArray status = ReadFile(QString("/proc/%1/status").arg(pid));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signalNumber - 1)) & 1;
    return false;
}

} // namespace

class TestPawlinexProgram : public QObject {
    Q_OBJECT

private slots:
    void unreadableSettingsEndTheProgramBeforeAnyWindow_data() {
        QTest::addColumn<QByteArray>("original"); // empty: a named pipe in the file's place
        QTest::addColumn<QByteArray>("reason");
        QTest::newRow("a number key that is no number")
            << QByteArray("[COM]\r\nTIMER=5\r\nCKSUM=abc\r\nACCURACY=20\r\n")
            << QByteArray("CKSUM=abc");
        // Opening a pipe for reading would wait for a writer that never comes.
        QTest::newRow("a named pipe") << QByteArray() << QByteArray("regular file");
    }

    void unreadableSettingsEndTheProgramBeforeAnyWindow() {
        QFETCH(QByteArray, original);
        QFETCH(QByteArray, reason);
        QTemporaryDir home;
        const QString ini = home.filePath("pawlinex.ini");
        if (original.isEmpty())
            QCOMPARE(::mkfifo(QFile::encodeName(ini).constData(), 0600), 0);
        else
            WriteFile(ini, original);
        const QDateTime modified = QFileInfo(ini).lastModified();

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PAWLINEX_HOME", home.path());
        env.insert("PAWLINEX_VIDEO_SOURCES", "demo");
        // No display at all: a program that got as far as making its application object would
        // die with the platform plug-in's own complaint instead of the settings line.
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        program.setProcessEnvironment(env);
        program.start(ProgramPath(), {});
        const bool ended = program.waitForFinished(60000);
        if (!ended)
            program.kill();
        QVERIFY(ended);

        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 2);
        const QByteArray err = program.readAllStandardError();
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(err.endsWith('\n'));
        QVERIFY2(err.contains(reason), err.constData());
        QVERIFY(program.readAllStandardOutput().isEmpty());
        if (original.isEmpty()) {
            struct stat st;
            QCOMPARE(::stat(QFile::encodeName(ini).constData(), &st), 0);
            QVERIFY(S_ISFIFO(st.st_mode));
        } else {
            QCOMPARE(ReadFile(ini), original);
        }
        QCOMPARE(QFileInfo(ini).lastModified(), modified);
    }

    void signalsRunTheCloseSequence_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QByteArray>("sources");
        QTest::newRow("SIGTERM on the demo camera") << int(SIGTERM) << QByteArray("demo");
        QTest::newRow("SIGINT on a lavfi camera")
            << int(SIGINT) << QByteArray("lavfi:color=c=gray:s=160x120:r=10");
        QByteArray none;
        for (int i = 0; i < 10; ++i)
            none += "/nonexistent/camera" + QByteArray::number(i) + ".avi;";
        // No camera: the close arrives while the message box waits for its OK.
        QTest::newRow("SIGHUP during the no-driver message") << int(SIGHUP) << none;
        // Every camera keeps its open waiting: the close must not wait for them all.
        QTest::newRow("SIGTERM while cameras hang in open") << int(SIGTERM) << QByteArray("HANG");
    }

    void signalsRunTheCloseSequence() {
        QFETCH(int, signalNumber);
        QFETCH(QByteArray, sources);
        capture_test::TricklingHttpServer hanging;
        if (sources == "HANG") {
            sources.clear();
            for (int i = 0; i < 10; ++i)
                sources += QByteArray::fromStdString(hanging.url("/cam" + std::to_string(i))) + ';';
        }
        QTemporaryDir home;
        for (const char* sub : {"img", "avi", "help"})
            QDir(home.path()).mkdir(sub);
        const QString ini = home.filePath("pawlinex.ini");
        // TIMER 0 loads as 20, so a saved file is told apart from the one written here.
        WriteFile(ini, "[COM]\r\nTIMER=0\r\nCKSUM=40\r\n");
        const QString script = home.filePath("FTP_PUT.txt");
        WriteFile(script, "open 127.0.0.1\r\nuser\r\nsecret\r\n");

        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("PAWLINEX_HOME", home.path());
        env.insert("PAWLINEX_VIDEO_SOURCES", QString::fromUtf8(sources));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.start(ProgramPath(), {});
        QVERIFY(program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(Catches(program.processId(), signalNumber), 60000);

        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(static_cast<pid_t>(program.processId()), signalNumber);
        const bool ended = program.waitForFinished(60000);
        qInfo("ended %lld ms after the signal", sinceSignal.elapsed());
        // Ten cameras of five seconds each would take fifty.
        QVERIFY(sinceSignal.elapsed() < 25000);
        if (!ended)
            program.kill();
        QVERIFY(ended);
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QCOMPARE(IniValue(ReadFile(ini), "COM", "TIMER"), QByteArray("20"));
        QCOMPARE(IniValue(ReadFile(ini), "COM", "CKSUM"), QByteArray("40"));
        QVERIFY(!QFile::exists(script));
    }
};

QTEST_GUILESS_MAIN(TestPawlinexProgram)
#include "test_pawlinex_program.moc"
