#include "net/Psock.h"

#include "platform/Application.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QThread>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

using namespace Winsock;

namespace {

// Components using the socket layer in this process.
std::atomic<int> g_winsockUsers { 0 };

struct ErrorText {
    int code;
    const char *text;
};

const ErrorText kErrorTexts[] = {
    { WSAEINTR, "Interrupted system call" },
    { WSAEBADF, "Bad file number" },
    { WSAEACCES, "Permission denied" },
    { WSAEFAULT, "Bad address" },
    { WSAEINVAL, "Invalid argument" },
    { WSAEMFILE, "Too many open files" },
    { WSAEWOULDBLOCK, "Operation would block" },
    { WSAEINPROGRESS, "Operation now in progress" },
    { WSAEALREADY, "Operation already in progress" },
    { WSAENOTSOCK, "Socket operation on non-socket" },
    { WSAEDESTADDRREQ, "Destination address required" },
    { WSAEMSGSIZE, "Message too long" },
    { WSAEPROTOTYPE, "Wrong protocol type for socket" },
    { WSAENOPROTOOPT, "Bad protocol option" },
    { WSAEPROTONOSUPPORT, "Protocol not supported" },
    { WSAESOCKTNOSUPPORT, "Socket type not supported" },
    { WSAEOPNOTSUPP, "Operation not supported on socket" },
    { WSAEPFNOSUPPORT, "Protocol family not supported" },
    { WSAEAFNOSUPPORT, "Address family not supported by protocol family" },
    { WSAEADDRINUSE, "Address already in use" },
    { WSAEADDRNOTAVAIL, "Can't assign requested address" },
    { WSAENETDOWN, "Network is down" },
    { WSAENETUNREACH, "Network is unreachable" },
    { WSAENETRESET, "Network dropped connection or reset" },
    { WSAECONNABORTED, "Software caused connection abort" },
    { WSAECONNRESET, "Connection reset by peer" },
    { WSAENOBUFS, "No buffer space available" },
    { WSAEISCONN, "Socket is already connected" },
    { WSAENOTCONN, "Socket is not connected" },
    { WSAESHUTDOWN, "Can't send after socket shutdown" },
    { WSAETOOMANYREFS, "Too many references, can't splice" },
    { WSAETIMEDOUT, "Connection timed out" },
    { WSAECONNREFUSED, "Connection refused" },
    { WSAELOOP, "Too many levels of symbolic links" },
    { WSAENAMETOOLONG, "File name too long" },
    { WSAEHOSTDOWN, "Host is down" },
    { WSAEHOSTUNREACH, "No route to Host" },
    { WSAENOTEMPTY, "Directory not empty" },
    { WSAEPROCLIM, "Too many processes" },
    { WSAEUSERS, "Too many users" },
    { WSAEDQUOT, "Disc quota exceeded" },
    { WSAESTALE, "Stale NFS file handle" },
    { WSAEREMOTE, "Too many levels of remote in path" },
    { WSASYSNOTREADY, "Network subsystem is unavailable" },
    { WSAVERNOTSUPPORTED, "Incompatible version of WINSOCK.DLL" },
    { WSANOTINITIALISED, "Successful WSAStartup not yet performed" },
    { WSAHOST_NOT_FOUND, "Host not found" },
    { WSATRY_AGAIN, "Non-Authoritative Host not found" },
    { WSANO_RECOVERY, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP" },
    { WSANO_DATA, "Valid name, no data record of requested type" },
};

constexpr int kBufferSize = 65536;

bool OnGuiThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::string VersionText(std::uint16_t version)
{
    return std::to_string(version & 0xFF) + "." + std::to_string(version >> 8);
}

void WriteOrFail(QIODevice &device, const char *data, qint64 size, const std::string &name)
{
    if (device.write(data, size) != size)
        throw EInOutError("Cannot write to \"" + name
                          + "\": " + device.errorString().toStdString());
}

std::string DeviceName(const QIODevice &device)
{
    if (auto *file = qobject_cast<const QFile *>(&device))
        return file->fileName().toStdString();
    return "the stream";
}

} // namespace

// ---------------------------------------------------------------- timer

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

// ---------------------------------------------------------------- connection

TPowersock::TPowersock(QObject *AOwner) : QObject(AOwner)
{
    StatusMessage(TStatusLevel::Trace, "Create");
    NotifyWindow = new TMessageWindow(this);
    NotifyWindow->WndProc = [this](TMessage &Message) {
        if (Message.Msg >= SocketEventMessage)
            Wndproc(Message);
    };
    Proxy.clear();
    HostEntryBuffer.reset(new char[1024]);
    Timer = new TThreadTimer(this);
    Timer->SetEnabled(false);
    Timer->SetOnTimer([this](QObject *Sender) { TimerFired(Sender); });
    TimeOut = 0;
    WinsockInfo = std::make_unique<TStringList>();
    Canceled = false;
    ShuttingDown = false;
    Connected = false;
    InitWinsock();
}

TPowersock::~TPowersock()
{
    if (m_waits > 0)
        qFatal("A socket component was deleted during one of its own waits, which then would use "
               "freed memory; "
               "deleteLater is the way to delete it from a handler");
    m_destroying = true;
    StatusMessage(TStatusLevel::Trace, "Destroy");
    try {
        TPowersock::Abort();
        Cancel();
        if (m_lookup)
            WSACancelAsyncRequest(m_lookup);
        WinsockInfo.reset();
        HostEntryBuffer.reset();
        // The timer and the notification window are children: Qt frees
        // them after this, and no event can reach them meanwhile.
        ShuttingDown = true;
        RequestCloseSocket();
    } catch (...) {
        // A destructor reports nothing: the socket is gone either way.
    }
    if (--g_winsockUsers == 0)
        WSACleanup();
}

void TPowersock::InitWinsock()
{
    StatusMessage(TStatusLevel::Trace, "Initializing Winsock");
    try {
        if (++g_winsockUsers == 1) {
            WSAStartup(0x0101, &WinsockData);
            WinsockInfo->Add("Version= " + VersionText(WinsockData.wVersion));
            WinsockInfo->Add("High Version= " + VersionText(WinsockData.wHighVersion));
            WinsockInfo->Add(
                "Description= "
                + std::string(WinsockData.szDescription, strnlen(WinsockData.szDescription, 257)));
            WinsockInfo->Add("System= "
                             + std::string(WinsockData.szSystemStatus,
                                           strnlen(WinsockData.szSystemStatus, 129)));
            WinsockInfo->Add("Max Sockets= " + std::to_string(WinsockData.iMaxSockets));
            WinsockInfo->Add("Max Udp pack size= " + std::to_string(WinsockData.iMaxUdpDg));
        }
        try {
            SocketHandle = NewSocket(IPPROTO_TCP);
            // Only this first socket resets its connection on close.
            const WSLinger linger { 1, 0 };
            Winsock::setsockopt(SocketHandle, WS_SOL_SOCKET, WS_SO_LINGER, &linger, sizeof linger);
            WSAAsyncSelect(SocketHandle, NotifyWindow, SocketEventMessage, SocketEventMask);
        } catch (...) {
            if (--g_winsockUsers == 0)
                WSACleanup();
            throw;
        }
    } catch (...) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

SOCKET TPowersock::NewSocket(int Protocol)
{
    const SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, Protocol);
    if (s == INVALID_SOCKET)
        throw ERangeError("No socket could be made: "
                          + SocketErrorStr(std::uint16_t(WSAGetLastError())));
    if (s >= NoSocket) {
        closesocket(s);
        throw ERangeError("Socket handle " + std::to_string(s) + " does not fit 16 bits");
    }
    return s;
}

// Holds back, for the time of a component's outermost wait on the GUI
// thread, every deferred delete of the component or of one of its owners:
// such a delete would free the component under the wait. The wait is
// cancelled instead, and the deletes are posted again once it is over, to
// run when control is back in the event loop that posted them.
class TDeletionHold : public QObject {
public:
    explicit TDeletionHold(TPowersock &Sock) : m_sock(Sock)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }
    ~TDeletionHold() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        for (const QPointer<QObject> &target : m_held)
            if (target)
                target->deleteLater();
    }

protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Event->type() != QEvent::DeferredDelete || !OwnsOrIs(Watched))
            return false;
        m_held.emplace_back(Watched);
        m_sock.m_doomed = true;
        m_sock.Canceled = true;
        return true;
    }

private:
    bool OwnsOrIs(const QObject *Object) const
    {
        for (const QObject *o = &m_sock; o; o = o->parent())
            if (o == Object)
                return true;
        return false;
    }

    TPowersock &m_sock;
    std::vector<QPointer<QObject>> m_held;
};

bool TPowersock::WaitFor(const std::function<TPass()> &Pass)
{
    ++m_waits;
    const auto done = qScopeGuard([this] { --m_waits; });
    std::optional<TDeletionHold> hold;
    if (m_waits == 1 && OnGuiThread())
        hold.emplace(*this);
    for (;;) {
        if (m_doomed)
            Canceled = true;
        if (Canceled)
            return false;
        const TPass pass = Pass();
        if (pass == TPass::Done)
            return !Canceled;
        Pump(pass);
    }
}

void TPowersock::Pump(TPass Pass)
{
    if (Pass == TPass::Flowing && std::chrono::steady_clock::now() - m_lastPump < PumpInterval)
        return;
    if (Pass == TPass::Partial)
        // The socket stays readable while part of a block is pending: nap
        // instead of spinning until the rest arrives.
        QThread::msleep(2);
    const bool idle = Pass == TPass::Nothing || Pass == TPass::NoRoom;
    if (OnGuiThread()) {
        if (idle)
            WaitMessage();
        else
            ProcessMessages();
    } else if (idle) {
        // No event loop here: wait on the socket itself, waking often
        // enough to see a cancel.
        WaitForSocket(SocketHandle, Pass == TPass::NoRoom, 20);
    }
    m_lastPump = std::chrono::steady_clock::now();
}

void TPowersock::Fire(const TNotifyEvent &Event)
{
    if (Event)
        Event(this);
}

void TPowersock::ResolveRemoteHost()
{
    StatusMessage(TStatusLevel::Trace, "Resolve Host");
    const std::string &name = Proxy.empty() ? Host : Proxy;
    const std::size_t length = std::min(name.size(), sizeof IOBuffer - 1);
    std::memcpy(IOBuffer, name.data(), length);
    IOBuffer[length] = '\0';
    RemoteAddress.sin_addr.s_addr = in_addr_t(Winsock::inet_addr(IOBuffer));
    if (RemoteAddress.sin_addr.s_addr != INADDR_NONE)
        return;

    RemoteAddress.sin_addr.s_addr = 0;
    TimerOn();
    AsyncDone = false;
    m_lookup = WSAAsyncGetHostByName(NotifyWindow, AsyncDoneMessage, IOBuffer,
                                     HostEntryBuffer.get(), 1024);
    if (m_lookup == 0) {
        EventSucceeded = false;
        AsyncDone = true;
    }
    WaitFor([this] { return AsyncDone || TimedOut ? TPass::Done : TPass::Nothing; });
    // A lookup given up on must never deliver later.
    if (m_lookup)
        WSACancelAsyncRequest(std::exchange(m_lookup, 0));
    TimerOff();
    if (TimedOut)
        throw ELookupAborted("Host Lookup Timed Out");
    if (Canceled)
        throw ELookupAborted("Host Lookup Canceled");
    if (!EventSucceeded)
        throw ESockError("Host Lookup Failed");
    const auto *entry = reinterpret_cast<const hostent *>(HostEntryBuffer.get());
    std::memcpy(&RemoteAddress.sin_addr, entry->h_addr_list[0], sizeof(in_addr));
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect()
{
    StatusMessage(TStatusLevel::Trace, "Connecting");
    Canceled = false;
    if (Connected)
        throw ESockError("Already connected");
    int attempts = 0;
    for (;;) {
        try {
            ResolveRemoteHost();
        } catch (const ELookupAborted &) {
            throw;
        } catch (const ESockError &) {
            // No address: OnInvalidHost may mend the name.
        }
        if (RemoteAddress.sin_addr.s_addr != 0)
            break;
        if (attempts >= 1 || !OnInvalidHost)
            throw ESockError("Null Remote Address");
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address");
        ++attempts;
    }
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_port = htons(std::uint16_t(Proxy.empty() ? Port : ProxyPort));
    AsyncDone = false;
    EventSucceeded = true;
    if (Winsock::connect(SocketHandle, reinterpret_cast<const sockaddr *>(&RemoteAddress), 16)
        == SOCKET_ERROR)
        ErrorManager(WSAEWOULDBLOCK);
    TimerOn();
    WaitFor(
        [this] { return Connected || TimedOut || !EventSucceeded ? TPass::Done : TPass::Nothing; });
    TimerOff();
    if (!TimedOut && !Canceled && EventSucceeded)
        return;
    Fire(OnConnectionFailed);
    if (TimedOut)
        throw ESockError("Connection Timed out");
    if (Canceled)
        throw ESockError("Connection Canceled");
    throw ESockError("Connection Failed");
}

void TPowersock::Disconnect()
{
    StatusMessage(TStatusLevel::Trace, "Disconnecting");
    RequestCloseSocket();
}

void TPowersock::RequestCloseSocket()
{
    StatusMessage(TStatusLevel::Activity, "Request Close Socket");
    Connected = false;
    if (SocketHandle == NoSocket)
        return;
    if (closesocket(SocketHandle) != 0) {
        ErrorManager(WSAEWOULDBLOCK);
        return;
    }
    SocketHandle = NoSocket;
    if (!m_destroying)
        Fire(OnDisconnect);
    if (ShuttingDown)
        return;
    // A fresh socket without linger: later closes are graceful.
    SocketHandle = NewSocket(0);
    WSAAsyncSelect(SocketHandle, NotifyWindow, SocketEventMessage, SocketEventMask);
}

void TPowersock::CertifyConnect()
{
    StatusMessage(TStatusLevel::Trace, "Checking Connection");
    bool asked = false;
    while (!Connected) {
        if (asked || !OnNotConnected)
            throw Exception("Not Connected");
        asked = true;
        bool handled = false;
        OnNotConnected(handled);
        if (!handled)
            throw Exception("Not Connected");
    }
}

void TPowersock::Cancel()
{
    StatusMessage(TStatusLevel::Trace, "Canceling");
    Canceled = true;
}

void TPowersock::Abort()
{
    StatusMessage(TStatusLevel::Trace, "Abort");
    Cancel();
}

void TPowersock::Close(std::uint64_t Socket)
{
    StatusMessage(TStatusLevel::Trace, "Closing Socket");
    if (Socket > std::uint64_t(INT32_MAX))
        throw ERangeError("Socket handle " + std::to_string(Socket) + " out of range");
    closesocket(SOCKET(Socket));
}

void TPowersock::TimerOn()
{
    StatusMessage(TStatusLevel::Trace, "Timer On");
    TimedOut = false;
    if (TimeOut < 0)
        throw ERangeError("TimeOut " + std::to_string(TimeOut) + " is negative");
    Timer->SetInterval(unsigned(TimeOut));
    Timer->SetEnabled(true);
}

void TPowersock::TimerOff()
{
    StatusMessage(TStatusLevel::Trace, "Timer Off");
    Timer->SetEnabled(false);
}

void TPowersock::TimerFired(QObject *)
{
    StatusMessage(TStatusLevel::Trace, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

void TPowersock::StatusMessage(TStatusLevel Level, const std::string &Text)
{
    if (int(Level) > ReportLevel)
        return;
    Status = Text;
    if (m_destroying || !OnStatus)
        return;
    try {
        OnStatus(this, Status);
    } catch (...) {
        // A status display must never break the operation it reports on.
    }
}

std::string TPowersock::GetRemoteIP()
{
    StatusMessage(TStatusLevel::Trace, "Getting Remote IP");
    return Winsock::inet_ntoa(RemoteAddress.sin_addr);
}

std::string TPowersock::GetLocalIP()
{
    StatusMessage(TStatusLevel::Trace, "Getting Local IP");
    std::vector<char> name(200, '\0');
    if (Winsock::gethostname(name.data(), int(name.size()) - 1) != 0)
        ErrorManager(WSAEWOULDBLOCK);
    const hostent *entry = Winsock::gethostbyname(name.data());
    if (!entry)
        ErrorManager(WSAEWOULDBLOCK);
    const auto *a = reinterpret_cast<const unsigned char *>(entry->h_addr_list[0]);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", a[0], a[1], a[2], a[3]);
    return text;
}

std::string TPowersock::GetLocalAddress()
{
    sockaddr_in local {};
    int length = sizeof local;
    if (Winsock::getsockname(SocketHandle, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        ErrorManager(WSAEWOULDBLOCK);
    std::string text = Winsock::inet_ntoa(local.sin_addr);
    int replaced = 0;
    for (char &c : text)
        if (c == '.' && replaced < 3) {
            c = ',';
            ++replaced;
        }
    return text;
}

std::string TPowersock::GetPortString()
{
    sockaddr_in local {};
    int length = sizeof local;
    if (Winsock::getsockname(SocketHandle, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        ErrorManager(WSAEWOULDBLOCK);
    const unsigned port = ntohs(local.sin_port);
    return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

void TPowersock::Wndproc(TMessage &Message)
{
    EventSucceeded = WSAGETSELECTERROR(Message.LParam) == 0;
    const int event = WSAGETSELECTEVENT(Message.LParam);
    if (Message.Msg == SocketEventMessage) {
        switch (event) {
        case FD_READ:
            try {
                Fire(OnDataReady);
            } catch (...) {
            }
            break;
        case FD_ACCEPT:
            Connected = true;
            Fire(OnAcceptReady);
            break;
        case FD_CONNECT:
            if (EventSucceeded) {
                m_closeError = 0;
                Connected = true;
                Fire(OnConnect);
            }
            break;
        case FD_CLOSE:
            // A reset ends the data as well: the captures raise its error.
            m_closeError = WSAGETSELECTERROR(Message.LParam);
            PeerClosed();
            break;
        default:
            break;
        }
    } else if (Message.Msg == AsyncDoneMessage) {
        // An accept announced this way only wakes the waiting Accept.
        if (event == FD_ACCEPT)
            Connected = true;
        AsyncDone = true;
    }
    Message.Result = 0;
}

void TPowersock::PeerClosed()
{
    // Unread data stays for the reader, which ends at the close itself.
    if (!DataAvailable())
        RequestCloseSocket();
}

QString TPowersock::GetHostText() const
{
    return QString::fromStdString(Host);
}

void TPowersock::SetHostText(const QString &Value)
{
    Host = Value.toStdString();
}

// ---------------------------------------------------------------- listening

void TPowersock::Listen(bool UseCompletionMessage)
{
    StatusMessage(TStatusLevel::Trace, "Listening");
    if (Port < 0 || Port > 65535)
        throw ERangeError("Port " + std::to_string(Port) + " out of range");
    RemoteAddress = sockaddr_in {};
    RemoteAddress.sin_family = AF_INET;
    RemoteAddress.sin_addr.s_addr = in_addr_t(Winsock::inet_addr("0.0.0.0"));
    RemoteAddress.sin_port = htons(std::uint16_t(Port));
    AsyncDone = false;
    if (Winsock::bind(SocketHandle, reinterpret_cast<const sockaddr *>(&RemoteAddress), 16) != 0)
        ErrorManager(WSAEWOULDBLOCK);
    WSAAsyncSelect(SocketHandle, NotifyWindow,
                   UseCompletionMessage ? AsyncDoneMessage : SocketEventMessage, FD_ACCEPT);
    // The system's longest queue: a burst of clients waits in it rather than
    // being turned away or reset.
    if (Winsock::listen(SocketHandle, SOMAXCONN) != 0)
        ErrorManager(WSAEWOULDBLOCK);
}

SOCKET TPowersock::Accept()
{
    StatusMessage(TStatusLevel::Activity, "Accepting");
    sockaddr_in peer {};
    SOCKET s = INVALID_SOCKET;
    const bool done = WaitFor([&] {
        if (!AsyncDone)
            return TPass::Nothing;
        if (!EventSucceeded)
            return TPass::Done; // the listen failed: nothing to accept
        int length = sizeof peer;
        s = Winsock::accept(SocketHandle, reinterpret_cast<sockaddr *>(&peer), &length);
        if (s != INVALID_SOCKET)
            return TPass::Done;
        ErrorManager(WSAEWOULDBLOCK);
        AsyncDone = false; // nobody waiting after all: wait for the next
        return TPass::Nothing;
    });
    if (!done) {
        if (s != INVALID_SOCKET)
            closesocket(s);
        throw ESockError("Accepting Canceled");
    }
    if (s == INVALID_SOCKET)
        throw ESockError("Error creating Data Connection");
    if (s >= NoSocket) {
        closesocket(s);
        throw ERangeError("Socket handle " + std::to_string(s) + " does not fit 16 bits");
    }
    // The listening socket may be the first one, which resets its
    // connection on close; an accepted one inherits that, and must not.
    const WSLinger graceful { 0, 0 };
    Winsock::setsockopt(s, WS_SOL_SOCKET, WS_SO_LINGER, &graceful, sizeof graceful);
    WSAAsyncSelect(s, NotifyWindow, SocketEventMessage, SocketEventMask);
    RemoteAddress = peer;
    return s;
}

// ---------------------------------------------------------------- transfers

void TPowersock::RaiseAbort(const char *Text)
{
    Canceled = false;
    throw EAbortError(Text);
}

void TPowersock::SendBuffer(const char *Buf, std::size_t Len)
{
    StatusMessage(TStatusLevel::Activity, "Sending Buffer");
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    if (!Canceled) {
        if (Len == 0)
            Len = std::strlen(Buf);
        if (Len > 65535)
            throw ERangeError("Buffer of " + std::to_string(Len) + " bytes is longer than 65535");
        std::size_t remaining = Len;
        while (remaining > 0 && !Canceled) {
            const int n = Winsock::send(SocketHandle, Buf + (Len - remaining), int(remaining), 0);
            if (n == 0)
                break;
            if (n > 0) {
                remaining -= std::size_t(n);
                continue;
            }
            ErrorManager(WSAEWOULDBLOCK);
            // Nothing may interrupt this loop: wait for room without pumping.
            WaitForSocket(SocketHandle, true, 100);
        }
    }
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

void TPowersock::Write(const std::string &Text)
{
    StatusMessage(TStatusLevel::Trace, "Write");
    const std::size_t length = strnlen(Text.data(), Text.size());
    if (length > 65535)
        throw ERangeError("Text of " + std::to_string(length) + " bytes is longer than 65535");
    std::memcpy(IOBuffer, Text.data(), length);
    IOBuffer[length] = '\0';
    SendBuffer(IOBuffer, 0);
}

void TPowersock::Writeln(const std::string &Text)
{
    StatusMessage(TStatusLevel::Trace, "Writeln");
    Write(Text + "\r\n");
}

// Sends one chunk, pumping messages after each send. False when send took
// nothing.
bool TPowersock::SendChunk(const char *Buf, std::size_t Len)
{
    std::size_t remaining = Len;
    bool taken = true;
    WaitFor([&] {
        if (remaining == 0)
            return TPass::Done;
        const int n = Winsock::send(SocketHandle, Buf + (Len - remaining), int(remaining), 0);
        if (n == 0) {
            taken = false;
            return TPass::Done;
        }
        if (n < 0) {
            ErrorManager(WSAEWOULDBLOCK);
            return TPass::NoRoom;
        }
        remaining -= std::size_t(n);
        SentBytes += n;
        Fire(OnPacketSent);
        return TPass::Progress;
    });
    return taken;
}

void TPowersock::SendFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "SendFile");
    QFile file(QString::fromStdString(FileName));
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError("Cannot open file \"" + FileName + "\". "
                          + file.errorString().toStdString());
    do {
        if (Canceled)
            break;
        const qint64 got = file.read(IOBuffer, kBufferSize);
        if (got < 0)
            throw EInOutError("Cannot read file \"" + FileName
                              + "\": " + file.errorString().toStdString());
        SendChunk(IOBuffer, std::size_t(got));
    } while (file.pos() != file.size() && !Canceled);
    file.close();
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

void TPowersock::SendStream(QIODevice &Stream)
{
    StatusMessage(TStatusLevel::Trace, "SendStream");
    Stream.seek(0);
    if (!Canceled) {
        SentBytes = 0;
        TotalBytes = Stream.size();
        do {
            const qint64 chunk = std::min<qint64>(Stream.size() - Stream.pos(), kBufferSize);
            const qint64 got = Stream.read(IOBuffer, chunk);
            if (got < 0)
                throw EInOutError("Cannot read " + DeviceName(Stream) + ": "
                                  + Stream.errorString().toStdString());
            if (!SendChunk(IOBuffer, std::size_t(got)))
                return;
        } while (Stream.pos() != Stream.size() && !Canceled);
    }
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

std::string TPowersock::Read(std::size_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Read( " + std::to_string(Size) + " )");
    if (Size > 65535)
        throw ERangeError("Read of " + std::to_string(Size) + " bytes is longer than 65535");
    if (Size == 0) {
        const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, MSG_PEEK);
        if (n == SOCKET_ERROR) {
            ErrorManager(WSAEWOULDBLOCK);
            return std::string();
        }
        if (n == kBufferSize)
            throw ERangeError("Read: 65536 bytes pending, more than 65535");
        Size = std::size_t(n);
    } else {
        bool closed = false;
        int last = -1;
        const bool done = WaitFor([&] {
            const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, MSG_PEEK);
            closed = n == 0;
            if (closed || n >= int(Size))
                return TPass::Done;
            if (n == SOCKET_ERROR) {
                ErrorManager(WSAEWOULDBLOCK);
                return TPass::Nothing;
            }
            if (std::exchange(last, n) != n)
                return TPass::Progress;
            // The rest of the block never comes from a peer that has closed.
            closed = PeerHasClosed(SocketHandle);
            return closed ? TPass::Done : TPass::Partial;
        });
        if (closed)
            return std::string();
        if (!done)
            RaiseAbort("Socket send aborted");
    }
    if (Size == 0)
        return std::string();
    std::string result(Size, '\0');
    const int got = Winsock::recv(SocketHandle, result.data(), int(Size), 0);
    result.resize(std::size_t(std::max(got, 0)));
    return result;
}

void TPowersock::Take(std::string &Line, std::size_t &Taken, std::size_t Count)
{
    Line.resize(Taken + Count);
    const int got = Winsock::recv(SocketHandle, Line.data() + Taken, int(Count), 0);
    if (got == SOCKET_ERROR)
        ErrorManager(WSAEWOULDBLOCK);
    Taken += std::size_t(std::max(got, 0));
    Line.resize(Taken);
}

std::string TPowersock::ReadLn()
{
    StatusMessage(TStatusLevel::Trace, "ReadLn");
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    std::string line;
    std::size_t taken = 0; // bytes of the line moved into `line`
    std::size_t end = 0; // bytes to return: through the line feed, or a piece
    bool ended = false;
    // IOBuffer mirrors the line from its first byte. The buffer's last two
    // bytes stay pending until the buffer is full: they decide where a piece
    // of an overlong line ends.
    const bool done = WaitFor([&] {
        const int n
            = Winsock::recv(SocketHandle, IOBuffer + taken, int(kBufferSize - taken), MSG_PEEK);
        if (n == 0) {
            ended = true; // the peer closed
            return TPass::Done;
        }
        if (n < 0) {
            LastErrorNo = WSAGetLastError();
            ended = LastErrorNo == WSAENOTCONN;
            if (ended)
                return TPass::Done;
            ErrorManager(WSAEWOULDBLOCK);
            return TPass::Nothing;
        }
        if (const void *lineFeed = std::memchr(IOBuffer + taken, '\n', std::size_t(n))) {
            end = std::size_t(static_cast<const char *>(lineFeed) - IOBuffer) + 1;
            return TPass::Done;
        }
        const std::size_t pending = taken + std::size_t(n);
        if (pending == kBufferSize) {
            // The rest must not start with CR LF, or it would read as an
            // empty line: the piece ends before a non-CR byte, or leaves two.
            end = IOBuffer[kBufferSize - 1] != '\r' ? kBufferSize - 1 : kBufferSize - 2;
            return TPass::Done;
        }
        const std::size_t keep = std::min(pending, std::size_t(kBufferSize - 2));
        if (keep == taken) {
            // Only the held-back bytes are pending: the line ends unfinished
            // if the peer has closed.
            ended = PeerHasClosed(SocketHandle);
            return ended ? TPass::Done : TPass::Partial;
        }
        Take(line, taken, keep - taken);
        return TPass::Progress;
    });
    if (!done)
        RaiseAbort("Socket readln aborted");
    if (ended)
        return std::string(); // also when bytes of the line were taken
    Take(line, taken, end - taken);
    return line;
}

std::string TPowersock::Transaction(const std::string &Command)
{
    StatusMessage(TStatusLevel::Trace, "Transaction");
    ReplyCode = 0;
    Writeln(Command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(TStatusLevel::Reply, LastReply);
        std::size_t digits = 0;
        while (digits < 10 && digits < LastReply.size() && LastReply[digits] >= '0'
               && LastReply[digits] <= '9')
            ++digits;
        if (digits > 0) {
            const long long value = std::stoll(LastReply.substr(0, digits));
            if (value > INT16_MAX)
                throw ERangeError("Reply code " + std::to_string(value) + " out of range");
            ReplyCode = std::int16_t(value);
        }
    }
    return LastReply;
}

int TPowersock::Receive(int Size)
{
    const int n = Winsock::recv(SocketHandle, IOBuffer, Size, 0);
    if (n == SOCKET_ERROR) {
        LastErrorNo = WSAGetLastError();
        if (LastErrorNo != WSAENOTCONN)
            ErrorManager(WSAEWOULDBLOCK);
    }
    return n;
}

void TPowersock::RaiseIfReset()
{
    // The close notification that carries a reset may still be queued
    // behind the receive that found the end: let it arrive first.
    Pump(TPass::Progress);
    if (m_closeError == 0)
        return;
    WSASetLastError(m_closeError);
    ErrorManager(WSAEWOULDBLOCK);
}

void TPowersock::CaptureInto(const TSink &Sink, std::int64_t Limit, const char *AbortText,
                             bool OnePass)
{
    ReceivedBytes = 0;
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    bool passed = false;
    const bool done = WaitFor([&] {
        if (ReceivedBytes == Limit || (OnePass && passed))
            return TPass::Done;
        passed = true;
        // Never more than asked for: what lies past the limit stays unread.
        const std::int64_t left = Limit < 0 ? kBufferSize : Limit - ReceivedBytes;
        const int n = Receive(int(std::min<std::int64_t>(left, kBufferSize)));
        if (n == 0 || (n < 0 && LastErrorNo == WSAENOTCONN)) {
            RaiseIfReset();
            return TPass::Done;
        }
        if (n < 0) // the single pass takes what is there and does not wait
            return OnePass ? TPass::Progress : TPass::Nothing;
        Sink(IOBuffer, n);
        ReceivedBytes += n;
        Fire(OnPacketRecvd);
        TimerOn();
        return OnePass ? TPass::Progress : TPass::Flowing;
    });
    if (!done)
        RaiseAbort(AbortText);
}

void TPowersock::CaptureFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "CaptureFile");
    ReceivedBytes = 0;
    QFile file(QString::fromStdString(FileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw EFCreateError("Cannot create file \"" + FileName + "\". "
                            + file.errorString().toStdString());
    CaptureInto([&](const char *Data, int Size) { WriteOrFail(file, Data, Size, FileName); }, -1,
                "Socket send aborted");
}

void TPowersock::CaptureString(std::string &Text, std::int32_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Capture String");
    Text.clear();
    CaptureInto([&](const char *Data, int Count) { Text.append(Data, std::size_t(Count)); }, Size,
                "Socket capture aborted");
}

void TPowersock::CaptureStream(QIODevice &Stream, std::int32_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Capture Stream");
    const std::string name = DeviceName(Stream);
    // What the stream held before counts towards Size.
    const std::int64_t limit = Size == -1 ? -1 : std::max<std::int64_t>(Size - Stream.size(), 0);
    CaptureInto([&](const char *Data, int Count) { WriteOrFail(Stream, Data, Count, name); }, limit,
                "Socket capture aborted", Size == -1);
}

void TPowersock::AppendFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "Append File");
    ReceivedBytes = 0;
    bool done = false;
    {
        QFile file(QString::fromStdString(FileName));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly
                       | QIODevice::Unbuffered))
            throw EFOpenError("Cannot open file \"" + FileName + "\". "
                              + file.errorString().toStdString());
        done = WaitFor([&] {
            if (!Connected)
                return TPass::Done;
            const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, 0);
            if (n == SOCKET_ERROR)
                ErrorManager(WSAEWOULDBLOCK);
            // Without data (or after the peer's close) wait for the next
            // notification: the close clears Connected.
            if (n <= 0)
                return TPass::Nothing;
            WriteOrFail(file, IOBuffer, n, FileName);
            ReceivedBytes += n;
            Fire(OnPacketRecvd);
            return TPass::Progress;
        });
    }
    if (!done)
        RaiseAbort("Socket send aborted");
}

void TPowersock::FilterHeader(QIODevice &Stream)
{
    StatusMessage(TStatusLevel::Trace, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        if (line.empty())
            return;
        WriteOrFail(Stream, line.data(), qint64(line.size()), DeviceName(Stream));
        if (line == "\n" || line == "\r\n")
            return;
    }
}

bool TPowersock::DataAvailable()
{
    StatusMessage(TStatusLevel::Trace, "Data Available");
    // A byte of its own: IOBuffer may hold a line that a reader is building.
    char probe;
    return Winsock::recv(SocketHandle, &probe, 1, MSG_PEEK) > 0;
}

void TPowersock::ClearInput()
{
    StatusMessage(TStatusLevel::Trace, "Clearing Input");
    std::vector<char> scratch(kBufferSize);
    Winsock::recv(SocketHandle, scratch.data(), kBufferSize, 0);
}

// ---------------------------------------------------------------- errors

std::string TPowersock::SocketErrorStr(std::uint16_t Errno)
{
    StatusMessage(TStatusLevel::Trace, "Looking Up Error Message");
    if (Errno == 0)
        return std::string();
    for (const ErrorText &entry : kErrorTexts)
        if (entry.code == Errno)
            return std::to_string(entry.code) + ":" + entry.text;
    return "Unknown Error No. " + std::to_string(Errno);
}

std::string TPowersock::ErrorManager(std::uint16_t Ignore)
{
    const int err = WSAGetLastError();
    LastErrorNo = err;
    if (err != Ignore && err > WSABASEERR) {
        const std::string text = SocketErrorStr(std::uint16_t(err));
        if (OnError)
            OnError(this, std::uint16_t(LastErrorNo), text);
        throw ESockError(text);
    }
    return std::string();
}

void TPowersock::SetWSAError(std::uint16_t Errno, const std::string &Errmsg)
{
    StatusMessage(TStatusLevel::Trace, "Setting Winsock Error");
    LastErrorNo = Errno;
    const std::string text = Errmsg.empty() ? SocketErrorStr(Errno) : Errmsg;
    WSASetLastError(Errno);
    if (OnError)
        OnError(this, std::uint16_t(LastErrorNo), text);
}

int TPowersock::GetLastErrorNo()
{
    StatusMessage(TStatusLevel::Trace, "Getting LastError Number");
    return LastErrorNo;
}

void TPowersock::SetLastErrorNo(int Value)
{
    StatusMessage(TStatusLevel::Trace, "Setting LastError Number");
    LastErrorNo = Value;
}

// ---------------------------------------------------------------- text helpers

std::string NthWord(const std::string &Text, char Delimiter, int N)
{
    std::string word;
    int count = 0;
    for (char c : Text) {
        if (count == N)
            break;
        if (c == Delimiter)
            ++count;
        else if (count == N - 1)
            word += c;
    }
    return word;
}

int NthPos(const std::string &Text, char Delimiter, int N)
{
    int count = 0;
    for (std::size_t i = 0; i < Text.size(); ++i)
        if (Text[i] == Delimiter && ++count == N)
            return int(i + 1);
    return int(Text.size() + 1);
}

void StreamLn(QIODevice &Stream, const std::string &Text)
{
    const std::string line = Text + "\r\n";
    WriteOrFail(Stream, line.data(), qint64(line.size()), DeviceName(Stream));
}
