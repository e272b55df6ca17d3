#pragma once

#include <QObject>

#include <initializer_list>
#include <vector>

class QSocketNotifier;

// Turns the termination signals into a Qt signal delivered by the event loop. The handler only
// writes the signal number into a socket pair; everything else (the whole close sequence) runs
// later on the user-interface thread, in whichever event loop is running at the time, nested
// ones included. One instance per process; the destructor puts the default actions back.
class SignalPipe : public QObject {
    Q_OBJECT
public:
    explicit SignalPipe(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalPipe() override;

    // False when the socket pair or a handler could not be set up; the signals then keep their
    // default action.
    bool isActive() const { return m_active; }

signals:
    void signalled(int signalNumber);

private:
    void readPending();

    QSocketNotifier* m_notifier = nullptr;
    std::vector<int> m_signals;
    bool m_active = false;
};
