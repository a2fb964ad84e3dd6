#pragma once

// TSocketConnection: one IPv4 TCP connection on the asynchronous Winsock
// notifications: Winsock start-up, the host lookup, connecting, listening
// and accepting, closing, the time-out timer, status reporting, the events,
// the error handling, and the one wait that every blocking-style operation
// runs in. TPowersock adds the transfers over it.
//
// Re-entrancy: every operation that waits (Connect, ResolveRemoteHost,
// Accept here; the reads, captures and stream sends of TPowersock) pumps the
// application's event loop until a notification, a cancel or the time-out
// ends it. Any handler of the program can therefore run in the middle of
// such a call, including this component's own events (OnStatus,
// OnPacketRecvd, OnDisconnect, ...). Such a handler may call Cancel or
// Abort, which is how a wait is stopped; it must not start another
// operation on the same component. A pass of a wait that finds nothing to
// do sleeps in the event loop until the next event, so waiting costs no CPU.
//
// Destruction during a wait: such a handler may call deleteLater on the
// component or on any of its owners. The deletion is held back until the
// wait is over, and the wait ends at once as if cancelled: the operation
// raises its abort error (EAbortError, or "Connection Canceled" and the
// like), every later wait of the doomed component does the same, and the
// component is deleted once control is back in the event loop that ran the
// handler which started the operation. Deleting the component (or an owner)
// directly during one of its waits cannot be made safe and ends the program
// with a message saying so.
//
// Threads: the component is created and notified on the GUI thread. A
// connection instance of a listening server runs its transfers on a thread
// of its own, which owns the connection's socket until Serve returns; the
// flags the notifications set are atomics for that reason, and a wait off
// the GUI thread polls the socket instead of the event loop.

#include "net/Events.h"
#include "net/SocketErrors.h"
#include "platform/StringList.h"
#include "platform/Winsock.h"

#include <QObject>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TThreadTimer;

using THandlerEvent = std::function<void(bool &Handled)>;
using TOnStatus = std::function<void(QObject *Sender, const std::string &Status)>;
using TOnHostResolved = std::function<void(QObject *Sender)>;
using TOnErrorEvent
    = std::function<void(QObject *Sender, std::uint16_t Errno, const std::string &Errmsg)>;

// Window messages of the hidden notification window.
inline constexpr unsigned SocketEventMessage = 1125;
inline constexpr unsigned AsyncDoneMessage = 1126;
// FD_READ, FD_OOB, FD_ACCEPT, FD_CONNECT and FD_CLOSE.
inline constexpr long SocketEventMask = 61;
// SocketHandle when there is no socket.
inline constexpr Winsock::SOCKET NoSocket = 65535;

class TSocketConnection : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Host READ GetHostText WRITE SetHostText)
    Q_PROPERTY(int Port MEMBER Port)
    Q_PROPERTY(int TimeOut MEMBER TimeOut)
    Q_PROPERTY(int ReportLevel MEMBER ReportLevel)
public:
    explicit TSocketConnection(QObject *AOwner = nullptr);
    ~TSocketConnection() override;

    // --- connection ---
    // Resolves Host (or Proxy), connects and waits; raises ESockError.
    virtual void Connect();
    virtual void Disconnect();
    // Raises Exception "Not Connected" unless connected (OnNotConnected may mend it).
    void CertifyConnect();
    // Ends the current wait: it raises its abort or cancel error.
    void Cancel();
    virtual void Abort();
    void ResolveRemoteHost();
    void InitWinsock();
    // Closes the socket and makes a fresh one (none while shutting down).
    void RequestCloseSocket();
    void Close(std::uint64_t Socket);
    void TimerOn();
    void TimerOff();
    void TimerFired(QObject *Sender);
    // How much a status text tells; a text reaches OnStatus when its level
    // is at most ReportLevel.
    enum class TStatusLevel : std::uint8_t {
        Reply = 1, // the reply line of a Transaction
        Completion = 2, // a descendant's completed transaction
        Activity = 4, // sending a buffer, closing the socket, accepting
        Trace = 8, // every other step
    };
    void StatusMessage(TStatusLevel Level, const std::string &Text);
    std::string GetRemoteIP();
    std::string GetLocalIP();
    std::string GetLocalAddress();
    std::string GetPortString();
    void Wndproc(Winsock::TMessage &Message);
    bool DataAvailable();

    // --- listening ---
    void Listen(bool UseCompletionMessage);
    // The accepted socket; SocketHandle stays the listening one.
    virtual Winsock::SOCKET Accept();

    // --- errors ---
    std::string SocketErrorStr(std::uint16_t Errno);
    // After a failed Winsock call: raises ESockError unless the error is
    // Ignore or not a Winsock error number.
    std::string ErrorManager(std::uint16_t Ignore);
    void SetWSAError(std::uint16_t Errno, const std::string &Errmsg);
    int GetLastErrorNo();
    void SetLastErrorNo(int Value);

    // --- fields ---
    TNotifyEvent OnDataReady;
    TNotifyEvent OnAcceptReady;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TOnErrorEvent OnError;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    THandlerEvent OnNotConnected;
    TOnStatus OnStatus;
    TNotifyEvent OnConnectionFailed;
    std::unique_ptr<TStringList> WinsockInfo;
    std::atomic<bool> Canceled { false };
    std::int32_t LastErrorNo = 0;
    int TimeOut = 0;
    int ReportLevel = 0;
    std::string Status;
    std::string Proxy;
    int ProxyPort = 0;
    std::atomic<bool> TimedOut { false };
    int Port = 0;
    std::string Host;
    std::atomic<Winsock::SOCKET> SocketHandle { NoSocket };
    std::atomic<bool> Connected { false };

protected:
    // Ends the wait of an asynchronous request (a lookup, an Accept).
    std::atomic<bool> AsyncDone { false };
    // No fresh socket after a close: the component is going.
    std::atomic<bool> ShuttingDown { false };
    sockaddr_in RemoteAddress {};
    Winsock::HWND NotifyWindow = nullptr; // a child

    // What one pass of a wait found.
    enum class TPass {
        Done, // the wait is over
        Progress, // something moved: pump and go on at once
        // A block arrived and more may be pending: go on at once, pumping
        // only when the last pump is PumpInterval ago. A stream that keeps
        // the socket full thus costs no event-loop pass per block.
        Flowing,
        Nothing, // nothing to read or no event yet: sleep until the next event
        NoRoom, // a send would block: sleep until the socket takes more
        Partial, // part of what is awaited is pending: nap, then go on
    };
    // How often a wait that keeps receiving lets the event loop run:
    // often enough for a progress display, a cancel or a time-out.
    static constexpr std::chrono::milliseconds PumpInterval { 5 };
    // The one wait of the component: runs Pass, pumping the event loop
    // between passes, until Pass reports Done (true) or a cancel, a fired
    // time-out or a deletion of the component ends it (false; Canceled is
    // set then). Off the GUI thread it polls the socket instead.
    bool WaitFor(const std::function<TPass()> &Pass);
    // Pumps once, as a pass that found `Pass` asks for.
    void Pump(TPass Pass);
    // Calls a notify event when it is assigned.
    void Fire(const TNotifyEvent &Event);
    // FD_CLOSE: closes the connection unless data is still pending for the
    // reader, which then ends at the close by itself.
    virtual void PeerClosed();
    // The error word of this connection's close notification: a reset when
    // not 0.
    int CloseError() const { return m_closeError; }

private:
    Winsock::WSADATA WinsockData {};
    std::unique_ptr<char[]> HostEntryBuffer;
    TThreadTimer *Timer = nullptr; // a child
    // Whether the last notification reported success.
    std::atomic<bool> EventSucceeded { false };

    QString GetHostText() const;
    void SetHostText(const QString &Value);
    Winsock::SOCKET NewSocket(int Protocol);
    // The socket's own address; a failure raises through ErrorManager.
    sockaddr_in LocalName();

    friend class TDeletionHold;

    bool m_destroying = false;
    Winsock::HANDLE m_lookup = 0;
    // Waits running now (nested ones included).
    int m_waits = 0;
    // A deletion of the component or an owner was held back during a wait.
    bool m_doomed = false;
    // When a wait last let the event loop run.
    std::chrono::steady_clock::time_point m_lastPump;
    // Atomic: a connection instance reads it on Serve's thread.
    std::atomic<int> m_closeError { 0 };
};
