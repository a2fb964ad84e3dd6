#pragma once

// TThreadTimer: the periodic timer a socket component times its waits out
// with. OnTimer runs on the timer's thread, and an exception from it goes to
// the application's message box.

#include "net/Events.h"

#include <QObject>
#include <QTimer>

#include <atomic>

class TThreadTimer : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool Enabled READ GetEnabled WRITE SetEnabled)
    Q_PROPERTY(unsigned Interval READ GetInterval WRITE SetInterval)
public:
    explicit TThreadTimer(QObject *AOwner = nullptr);
    ~TThreadTimer() override;

    bool GetEnabled() const { return Enabled; }
    // Enabling, a new interval or a new OnTimer restarts the period; a timer
    // without an interval, disabled or without OnTimer stands still. From
    // another thread the change reaches the timer through its event loop.
    void SetEnabled(bool Value);
    unsigned GetInterval() const { return Interval; }
    void SetInterval(unsigned Value);
    void SetOnTimer(TNotifyEvent Value);

    // Atomic: a connection thread switches its instance's timer on and off.
    std::atomic<unsigned> Interval { 1000 };
    TNotifyEvent OnTimer;
    std::atomic<bool> Enabled { true };

protected:
    // Fires OnTimer.
    virtual void Timer();
    void UpdateTimer();

private:
    QTimer m_timer;
};
