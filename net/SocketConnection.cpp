#include "net/SocketConnection.h"

#include "net/ThreadTimer.h"
#include "platform/Application.h"

#include <QCoreApplication>
#include <QEvent>
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

bool OnGuiThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

std::string VersionText(std::uint16_t version)
{
    return std::to_string(version & 0xFF) + "." + std::to_string(version >> 8);
}

} // namespace

TSocketConnection::TSocketConnection(QObject *AOwner) : QObject(AOwner)
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

TSocketConnection::~TSocketConnection()
{
    if (m_waits > 0)
        qFatal("A socket component was deleted during one of its own waits, which then would use "
               "freed memory; "
               "deleteLater is the way to delete it from a handler");
    m_destroying = true;
    StatusMessage(TStatusLevel::Trace, "Destroy");
    try {
        TSocketConnection::Abort();
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

void TSocketConnection::InitWinsock()
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

SOCKET TSocketConnection::NewSocket(int Protocol)
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
    explicit TDeletionHold(TSocketConnection &Sock) : m_sock(Sock)
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

    TSocketConnection &m_sock;
    std::vector<QPointer<QObject>> m_held;
};

bool TSocketConnection::WaitFor(const std::function<TPass()> &Pass)
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

void TSocketConnection::Pump(TPass Pass)
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

void TSocketConnection::Fire(const TNotifyEvent &Event)
{
    if (Event)
        Event(this);
}

void TSocketConnection::ResolveRemoteHost()
{
    StatusMessage(TStatusLevel::Trace, "Resolve Host");
    // The name ends at a zero byte, as a C string does. The lookup keeps a copy.
    const std::string &given = Proxy.empty() ? Host : Proxy;
    const std::string name = given.substr(0, given.find('\0'));
    RemoteAddress.sin_addr.s_addr = in_addr_t(Winsock::inet_addr(name.c_str()));
    if (RemoteAddress.sin_addr.s_addr != INADDR_NONE)
        return;

    RemoteAddress.sin_addr.s_addr = 0;
    TimerOn();
    AsyncDone = false;
    m_lookup = WSAAsyncGetHostByName(NotifyWindow, AsyncDoneMessage, name.c_str(),
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

void TSocketConnection::Connect()
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

void TSocketConnection::Disconnect()
{
    StatusMessage(TStatusLevel::Trace, "Disconnecting");
    RequestCloseSocket();
}

void TSocketConnection::RequestCloseSocket()
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

void TSocketConnection::CertifyConnect()
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

void TSocketConnection::Cancel()
{
    StatusMessage(TStatusLevel::Trace, "Canceling");
    Canceled = true;
}

void TSocketConnection::Abort()
{
    StatusMessage(TStatusLevel::Trace, "Abort");
    Cancel();
}

void TSocketConnection::Close(std::uint64_t Socket)
{
    StatusMessage(TStatusLevel::Trace, "Closing Socket");
    if (Socket > std::uint64_t(INT32_MAX))
        throw ERangeError("Socket handle " + std::to_string(Socket) + " out of range");
    closesocket(SOCKET(Socket));
}

void TSocketConnection::TimerOn()
{
    StatusMessage(TStatusLevel::Trace, "Timer On");
    TimedOut = false;
    if (TimeOut < 0)
        throw ERangeError("TimeOut " + std::to_string(TimeOut) + " is negative");
    Timer->SetInterval(unsigned(TimeOut));
    Timer->SetEnabled(true);
}

void TSocketConnection::TimerOff()
{
    StatusMessage(TStatusLevel::Trace, "Timer Off");
    Timer->SetEnabled(false);
}

void TSocketConnection::TimerFired(QObject *)
{
    StatusMessage(TStatusLevel::Trace, "Timer Triggered");
    TimerOff();
    TimedOut = true;
    AsyncDone = true;
    Abort();
}

void TSocketConnection::StatusMessage(TStatusLevel Level, const std::string &Text)
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

std::string TSocketConnection::GetRemoteIP()
{
    StatusMessage(TStatusLevel::Trace, "Getting Remote IP");
    return Winsock::inet_ntoa(RemoteAddress.sin_addr);
}

std::string TSocketConnection::GetLocalIP()
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

sockaddr_in TSocketConnection::LocalName()
{
    sockaddr_in local {};
    int length = sizeof local;
    if (Winsock::getsockname(SocketHandle, reinterpret_cast<sockaddr *>(&local), &length) != 0)
        ErrorManager(WSAEWOULDBLOCK);
    return local;
}

std::string TSocketConnection::GetLocalAddress()
{
    std::string text = Winsock::inet_ntoa(LocalName().sin_addr);
    int replaced = 0;
    for (char &c : text)
        if (c == '.' && replaced < 3) {
            c = ',';
            ++replaced;
        }
    return text;
}

std::string TSocketConnection::GetPortString()
{
    const unsigned port = ntohs(LocalName().sin_port);
    return "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF);
}

void TSocketConnection::Wndproc(TMessage &Message)
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

void TSocketConnection::PeerClosed()
{
    // Unread data stays for the reader, which ends at the close itself.
    if (!DataAvailable())
        RequestCloseSocket();
}

QString TSocketConnection::GetHostText() const
{
    return QString::fromStdString(Host);
}

void TSocketConnection::SetHostText(const QString &Value)
{
    Host = Value.toStdString();
}

// ---------------------------------------------------------------- listening

void TSocketConnection::Listen(bool UseCompletionMessage)
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

SOCKET TSocketConnection::Accept()
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

bool TSocketConnection::DataAvailable()
{
    StatusMessage(TStatusLevel::Trace, "Data Available");
    // A byte of its own: the transfer buffer may hold a line that a reader
    // is building.
    char probe;
    return Winsock::recv(SocketHandle, &probe, 1, MSG_PEEK) > 0;
}

// ---------------------------------------------------------------- errors

std::string TSocketConnection::SocketErrorStr(std::uint16_t Errno)
{
    StatusMessage(TStatusLevel::Trace, "Looking Up Error Message");
    return SocketErrorText(Errno);
}

std::string TSocketConnection::ErrorManager(std::uint16_t Ignore)
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

void TSocketConnection::SetWSAError(std::uint16_t Errno, const std::string &Errmsg)
{
    StatusMessage(TStatusLevel::Trace, "Setting Winsock Error");
    LastErrorNo = Errno;
    const std::string text = Errmsg.empty() ? SocketErrorStr(Errno) : Errmsg;
    WSASetLastError(Errno);
    if (OnError)
        OnError(this, std::uint16_t(LastErrorNo), text);
}

int TSocketConnection::GetLastErrorNo()
{
    StatusMessage(TStatusLevel::Trace, "Getting LastError Number");
    return LastErrorNo;
}

void TSocketConnection::SetLastErrorNo(int Value)
{
    StatusMessage(TStatusLevel::Trace, "Setting LastError Number");
    LastErrorNo = Value;
}
