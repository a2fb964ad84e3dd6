#include "net/ThreadTimer.h"

#include "platform/Application.h"
#include "platform/Exceptions.h"

#include <QThread>

#include <algorithm>
#include <cstdint>
#include <utility>

TThreadTimer::TThreadTimer(QObject *AOwner) : QObject(AOwner)
{
    // A time-out must not fire early, as a coarse timer may.
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        try {
            Timer();
        } catch (...) {
            HandleException(std::current_exception());
        }
    });
}

TThreadTimer::~TThreadTimer()
{
    Enabled = false;
    if (QThread::currentThread() == thread())
        m_timer.stop();
}

void TThreadTimer::SetEnabled(bool Value)
{
    if (Value == Enabled)
        return;
    Enabled = Value;
    UpdateTimer();
}

void TThreadTimer::SetInterval(unsigned Value)
{
    if (Value == Interval)
        return;
    Interval = Value;
    UpdateTimer();
}

void TThreadTimer::SetOnTimer(TNotifyEvent Value)
{
    OnTimer = std::move(Value);
    UpdateTimer();
}

void TThreadTimer::UpdateTimer()
{
    if (QThread::currentThread() != thread()) {
        // Qt timers are only started and stopped on their own thread.
        QMetaObject::invokeMethod(
            this, [this] { UpdateTimer(); }, Qt::QueuedConnection);
        return;
    }
    m_timer.stop();
    if (Interval == 0 || !Enabled || !OnTimer)
        return;
    m_timer.start(int(std::min<unsigned>(Interval, unsigned(INT32_MAX))));
    if (!m_timer.isActive())
        throw Exception("No Timer");
}

void TThreadTimer::Timer()
{
    if (OnTimer)
        OnTimer(this);
}
