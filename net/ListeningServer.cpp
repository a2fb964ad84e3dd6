#include "net/ListeningServer.h"

#include "platform/Application.h"

using namespace Winsock;

namespace {

// Serialises making and removing connection threads; one per process.
std::mutex &ServerLock()
{
    static std::mutex lock;
    return lock;
}

} // namespace

TNMGeneralServer::TNMGeneralServer(QObject *AOwner) : TPowersock(AOwner)
{
    // Instances made for a connection are owned by their server.
    if (!dynamic_cast<TNMGeneralServer *>(AOwner))
        ClientThreads = std::make_unique<TThreadList<TNMGeneralServer *>>();
}

TNMGeneralServer::~TNMGeneralServer()
{
    Abort();
    // No thread may outlive its server or touch a freed instance. The list
    // is emptied first: a thread that ends meanwhile finds itself gone.
    for (std::unique_ptr<InstantiateServethread> &thread : std::exchange(m_serveThreads, {})) {
        thread->wait();
        thread->Instance()->OnDisconnect = nullptr; // no events from a server being destroyed
        thread.reset();
    }
    ClientThreads.reset();
}

void TNMGeneralServer::Loaded()
{
    OnAcceptReady = [this](QObject *Sender) { ServerAccept(Sender); };
    Listen(false);
}

void TNMGeneralServer::Connect()
{
}

void TNMGeneralServer::Abort()
{
    if (!ClientThreads) {
        // A connection instance: its own time-out and cancel end its waits.
        TPowersock::Abort();
        return;
    }
    for (TNMGeneralServer *instance : ClientThreads->LockList())
        instance->Cancel();
}

void TNMGeneralServer::PeerClosed()
{
    if (!ServerThread) {
        TPowersock::PeerClosed();
        return;
    }
    // The socket is Serve's until it returns; it is closed then.
    Connected = false;
}

void TNMGeneralServer::ServerAccept(QObject *)
{
    AsyncDone = true; // so Accept does not wait
    // Accept may pump events, which may end a connection thread: the lock
    // is taken after it.
    const SOCKET socket = Accept();
    {
        std::lock_guard lock(ServerLock());
        auto thread = std::make_unique<InstantiateServethread>(this, socket);
        if (thread->Instance())
            m_serveThreads.push_back(std::move(thread));
    }
    Fire(OnClientContact);
}

void TNMGeneralServer::EndServeThread(InstantiateServethread *Thread)
{
    const auto it = std::find_if(m_serveThreads.begin(), m_serveThreads.end(),
                                 [&](const auto &owned) { return owned.get() == Thread; });
    if (it == m_serveThreads.end())
        return;
    // Out of the list before it is freed: its OnDisconnect may pump events
    // and so end other connections meanwhile.
    const std::unique_ptr<InstantiateServethread> ended = std::move(*it);
    m_serveThreads.erase(it);
}

void TNMGeneralServer::TakeConnection(TNMGeneralServer &Server, InstantiateServethread &Thread,
                                      SOCKET Socket)
{
    Connected = true;
    RemoteAddress = Server.RemoteAddress;
    ServerThread = &Thread;
    OnConnect = Server.OnConnect;
    OnDisconnect = Server.OnDisconnect;
    closesocket(SocketHandle);
    SocketHandle = Socket;
    Server.ClientThreads->Add(this);
    WSAAsyncSelect(Socket, NotifyWindow, SocketEventMessage, SocketEventMask);
    ParentServer = &Server;
}

void TNMGeneralServer::EndConnection()
{
    // Serve has returned: the socket is the GUI thread's again.
    ShuttingDown = true;
    RequestCloseSocket(); // fires OnDisconnect
}

void TNMGeneralServer::Serve()
{
}

InstantiateServethread::InstantiateServethread(TNMGeneralServer *Server, SOCKET Socket)
    : m_server(Server)
{
    try {
        // The server's own class: a descendant server gets its own instances.
        std::unique_ptr<QObject> made(Server->metaObject()->newInstance(Q_ARG(QObject *, Server)));
        auto *instance = qobject_cast<TNMGeneralServer *>(made.get());
        if (!instance)
            throw Exception(std::string("No connection instance of ")
                            + Server->metaObject()->className());
        m_instance.reset(static_cast<TNMGeneralServer *>(made.release()));
        m_instance->TakeConnection(*Server, *this, Socket);
    } catch (...) {
        // A connection that cannot be set up is dropped; the server goes on.
        // Once the instance holds the socket, freeing it closes the socket.
        const bool socketTaken = m_instance && m_instance->SocketHandle == Socket;
        if (m_instance) {
            Server->ClientThreads->Remove(m_instance.get());
            m_instance.reset();
        }
        if (!socketTaken)
            closesocket(Socket);
        return;
    }
    // Queued: the server holds the thread by then, also when Serve returns
    // at once.
    connect(
        this, &QThread::finished, Server, [Server, this] { Server->EndServeThread(this); },
        Qt::QueuedConnection);
    start();
}

InstantiateServethread::~InstantiateServethread()
{
    if (!m_instance)
        return;
    {
        std::lock_guard lock(ServerLock());
        if (m_server->ClientThreads)
            m_server->ClientThreads->Remove(m_instance.get());
    }
    try {
        m_instance->EndConnection();
    } catch (...) {
        if (Application())
            HandleException(std::current_exception());
    }
}

void InstantiateServethread::run()
{
    try {
        m_instance->Serve();
    } catch (...) {
        // A failed or cancelled connection ends its own thread only.
    }
}
