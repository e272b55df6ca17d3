// Termination signals arrive through the event loop, in order, and the default actions come
// back when the pipe goes.
#include "mainwindow/SignalPipe.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

class TestSignalPipe : public QObject {
    Q_OBJECT
private slots:
    void signalsBecomeEventsInOrder() {
        SignalPipe pipe({SIGTERM, SIGINT, SIGHUP});
        QVERIFY(pipe.isActive());
        QSignalSpy spy(&pipe, &SignalPipe::signalled);
        ::raise(SIGHUP);
        ::raise(SIGTERM);
        ::raise(SIGINT);
        // Nothing is delivered inside the handler: only the event loop hands them out.
        QCOMPARE(spy.count(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.count(), 3, 10000);
        QCOMPARE(spy.at(0).at(0).toInt(), SIGHUP);
        QCOMPARE(spy.at(1).at(0).toInt(), SIGTERM);
        QCOMPARE(spy.at(2).at(0).toInt(), SIGINT);
    }

    void aSecondPipeInTheSameProcessStaysInactive() {
        SignalPipe first({SIGTERM});
        SignalPipe second({SIGTERM});
        QVERIFY(first.isActive());
        QVERIFY(!second.isActive());
    }

    void destroyingThePipeRestoresTheDefaultActions() {
        { SignalPipe pipe({SIGTERM, SIGHUP}); }
        for (int s : {SIGTERM, SIGHUP}) {
            struct sigaction current {};
            QVERIFY(::sigaction(s, nullptr, &current) == 0);
            QVERIFY(current.sa_handler == SIG_DFL);
        }
        // And a new pipe can be set up again afterwards.
        SignalPipe again({SIGTERM});
        QVERIFY(again.isActive());
    }
};

QTEST_MAIN(TestSignalPipe)
#include "test_SignalPipe.moc"
