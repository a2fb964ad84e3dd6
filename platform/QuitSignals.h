#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Delivers SIGTERM, SIGINT and SIGHUP to the event loop, so that the program
// can save what it holds before it ends. The signal handler only writes the
// signal number to a pipe; a socket notifier reads it on the GUI thread and
// calls OnQuitSignal there. While the object lives, those signals no longer
// end the process by themselves: OnQuitSignal has to.
//
// Objects may nest (the newest one receives the signals); the previous
// handlers come back when the last one goes.
class TQuitSignals : public QObject {
public:
    explicit TQuitSignals(QObject *parent = nullptr);
    ~TQuitSignals() override;
    TQuitSignals(const TQuitSignals &) = delete;
    TQuitSignals &operator=(const TQuitSignals &) = delete;

    // Called on the GUI thread with the signal's number.
    std::function<void(int signal)> OnQuitSignal;

private:
    void Receive();

    int m_pipe[2] = { -1, -1 };
    int m_previousWriteEnd = -1;
    QSocketNotifier *m_notifier = nullptr;
};
