#include "net/ListeningServer.h"

#include "tests/support/Loopback.h"

#include <QBuffer>
#include <QEventLoop>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

// A client of a server under test. It connects without blocking, pumping
// the GUI thread, which is where the server accepts.
struct Client {
    explicit Client(int port)
    {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(std::uint16_t(port));
        if (::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 && errno != EINPROGRESS)
            return;
        int error = -1;
        const bool settled = QTest::qWaitFor([&] {
            pollfd p { fd, POLLOUT, 0 };
            if (::poll(&p, 1, 0) != 1)
                return false;
            socklen_t len = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
            return true;
        });
        connected = settled && error == 0;
    }
    ~Client() { ::close(fd); }
    void Send(const std::string &text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }
    // Everything up to the server's close, pumping the GUI thread meanwhile.
    std::string ReadToClose()
    {
        std::string got;
        const bool closed = QTest::qWaitFor([&] {
            char buf[256];
            const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0)
                got.append(buf, std::size_t(n));
            return n == 0 || (n < 0 && errno != EAGAIN);
        });
        return closed ? got : got + "(still open)";
    }
    int fd;
    bool connected = false;
};

int ListeningPort(TPowersock &server)
{
    sockaddr_in a {};
    int len = sizeof a;
    Winsock::getsockname(server.SocketHandle, reinterpret_cast<sockaddr *>(&a), &len);
    return ntohs(a.sin_port);
}

// Answers one line per client, naming the class that serves it.
class LineServer : public TNMGeneralServer {
    Q_OBJECT
public:
    Q_INVOKABLE explicit LineServer(QObject *owner = nullptr) : TNMGeneralServer(owner) { }
    void Serve() override
    {
        TimeOut = 5000;
        try {
            const std::string line = ReadLn();
            Writeln(std::string(metaObject()->className()) + " heard "
                    + line.substr(0, line.find('\r')));
        } catch (const EAbortError &) {
            ++aborted;
        }
    }
    static inline std::atomic<int> aborted { 0 };
};

// Waits for a line that never comes, until cancelled.
class WaitingServer : public TNMGeneralServer {
    Q_OBJECT
public:
    Q_INVOKABLE explicit WaitingServer(QObject *owner = nullptr) : TNMGeneralServer(owner) { }
    void Serve() override
    {
        ++waiting;
        try {
            ReadLn();
        } catch (const EAbortError &) {
            ++aborted;
        }
        --waiting;
    }
    static inline std::atomic<int> waiting { 0 };
    static inline std::atomic<int> aborted { 0 };
};

// Sends 2 MiB of the pattern i % 251 and ends.
class BulkServer : public TNMGeneralServer {
    Q_OBJECT
public:
    Q_INVOKABLE explicit BulkServer(QObject *owner = nullptr) : TNMGeneralServer(owner) { }
    static constexpr int kSize = 2 << 20;
    void Serve() override
    {
        QByteArray data(kSize, '\0');
        for (int i = 0; i < kSize; ++i)
            data[i] = char(i % 251);
        QBuffer stream(&data);
        stream.open(QIODevice::ReadOnly);
        SendStream(stream);
    }
};

// Echoes every line until the client closes.
class EchoServer : public TNMGeneralServer {
    Q_OBJECT
public:
    Q_INVOKABLE explicit EchoServer(QObject *owner = nullptr) : TNMGeneralServer(owner) { }
    void Serve() override
    {
        TimeOut = 10000;
        const Winsock::SOCKET socket = SocketHandle;
        try {
            for (;;) {
                const std::string line = ReadLn();
                if (line.empty())
                    break;
                Write(line);
                QThread::msleep(1); // the client's close comes meanwhile
            }
            ++closed;
        } catch (const std::exception &e) {
            std::lock_guard lock(mutex);
            errors.push_back(e.what());
        }
        if (SocketHandle != socket) {
            std::lock_guard lock(mutex);
            errors.push_back("the socket was replaced under Serve");
        }
    }
    static inline std::atomic<int> closed { 0 };
    static inline std::mutex mutex;
    static inline std::vector<std::string> errors;
};

// Runs tests/servers/sock_clients.py against a server of this process; the
// GUI thread, where the server accepts, runs its event loop meanwhile.
std::string RunClients(const QStringList &args)
{
    QProcess clients;
    clients.setProcessChannelMode(QProcess::MergedChannels);
    QEventLoop loop;
    QObject::connect(&clients, &QProcess::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    clients.start(TIRMO_PYTHON, QStringList { TIRMO_TEST_DIR "/servers/sock_clients.py" } + args);
    loop.exec();
    if (clients.state() != QProcess::NotRunning)
        clients.kill();
    clients.waitForFinished(1000);
    return clients.readAll().toStdString();
}

TEST(GeneralServer, ListensOnceItsOwnerHasLoadedIt)
{
    QObject form;
    auto *server = new TNMGeneralServer(&form);
    server->Port = ClosedPort();
    EXPECT_FALSE(Client(server->Port).connected);
    server->Loaded();
    EXPECT_TRUE(Client(server->Port).connected);
}

TEST(GeneralServer, DefaultServeClosesEachConnectionAtOnce)
{
    TNMGeneralServer server;
    int contacts = 0;
    server.OnClientContact = [&](QObject *sender) {
        EXPECT_EQ(sender, &server);
        ++contacts;
    };
    server.Loaded();
    Client first(ListeningPort(server));
    EXPECT_EQ(first.ReadToClose(), "");
    Client second(ListeningPort(server));
    EXPECT_EQ(second.ReadToClose(), "");
    EXPECT_EQ(contacts, 2);
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.ClientThreads->Snapshot().empty(); }));
}

TEST(GeneralServer, ConnectionsCloseGracefullyAfterAllTheirData)
{
    BulkServer server;
    server.Loaded();
    EXPECT_EQ(RunClients({ "drain", QString::number(ListeningPort(server)), "3",
                           QString::number(BulkServer::kSize) }),
              "ok 3\n");
}

TEST(GeneralServer, ServeSeesTheClientsCloseAsAnEmptyLine)
{
    EchoServer::closed = 0;
    EchoServer::errors.clear();
    EchoServer server;
    int disconnects = 0;
    server.OnDisconnect = [&](QObject *) {
        ++disconnects;
        QThread::msleep(2); // a handler that shows the news takes a while
    };
    server.Loaded();
    EXPECT_EQ(RunClients({ "echo", QString::number(ListeningPort(server)), "200" }), "ok 200\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.ClientThreads->Snapshot().empty(); }));
    EXPECT_EQ(EchoServer::closed, 200);
    EXPECT_EQ(disconnects, 200);
    std::lock_guard lock(EchoServer::mutex);
    EXPECT_EQ(EchoServer::errors, std::vector<std::string> {});
}

// 200 clients connecting at the same moment all wait in the listen queue:
// none is reset, every one gets its echo.
TEST(GeneralServer, ABurstOfClientsIsServedWithoutAReset)
{
    EchoServer::closed = 0;
    EchoServer::errors.clear();
    EchoServer server;
    server.Loaded();
    EXPECT_EQ(RunClients({ "burst", QString::number(ListeningPort(server)), "200" }), "ok 200\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return server.ClientThreads->Snapshot().empty(); }));
    EXPECT_EQ(EchoServer::closed, 200);
    std::lock_guard lock(EchoServer::mutex);
    EXPECT_EQ(EchoServer::errors, std::vector<std::string> {});
}

TEST(GeneralServer, DescendantAnswersSeveralClientsAtOnce)
{
    LineServer server;
    int contacts = 0;
    server.OnClientContact = [&](QObject *) { ++contacts; };
    server.Loaded();
    const int port = ListeningPort(server);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i)
        clients.push_back(std::make_unique<Client>(port));
    ASSERT_TRUE(QTest::qWaitFor([&] { return contacts == 3; }));
    // All three are served at the same time: none has spoken yet.
    EXPECT_EQ(server.ClientThreads->Snapshot().size(), 3u);
    for (int i = 2; i >= 0; --i)
        clients[std::size_t(i)]->Send("client " + std::to_string(i) + "\r\n");
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(clients[std::size_t(i)]->ReadToClose(),
                  "LineServer heard client " + std::to_string(i) + "\r\n");
    EXPECT_EQ(contacts, 3);
}

TEST(GeneralServer, AcceptWaitsForTheCompletionMessage)
{
    TPowersock listener;
    int disconnects = 0;
    listener.OnDisconnect = [&](QObject *) { ++disconnects; };
    listener.Port = ClosedPort();
    listener.Listen(true);
    Client client(listener.Port);
    ASSERT_TRUE(client.connected);
    const Winsock::SOCKET accepted = listener.Accept();
    EXPECT_NE(accepted, Winsock::INVALID_SOCKET);
    EXPECT_EQ(listener.GetRemoteIP(), "127.0.0.1");
    EXPECT_TRUE(listener.Connected);
    EXPECT_EQ(disconnects, 0);
    listener.Close(accepted);

    QTimer::singleShot(50, [&] { listener.Cancel(); });
    try {
        listener.Accept();
        ADD_FAILURE() << "no exception";
    } catch (const ESockError &e) {
        EXPECT_STREQ(e.what(), "Accepting Canceled");
    }
}

TEST(GeneralServer, ListenOnAPortInUseIsAnError)
{
    Listener taken;
    TNMGeneralServer server;
    server.Port = taken.port;
    try {
        server.Loaded();
        ADD_FAILURE() << "no exception";
    } catch (const ESockError &e) {
        EXPECT_STREQ(e.what(), "10048:Address already in use");
    }
}

TEST(GeneralServer, AbortCancelsEveryConnection)
{
    WaitingServer::aborted = 0;
    WaitingServer server;
    server.Loaded();
    Client a(ListeningPort(server)), b(ListeningPort(server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return WaitingServer::waiting == 2; }));
    server.Abort();
    EXPECT_EQ(a.ReadToClose(), "");
    EXPECT_EQ(b.ReadToClose(), "");
    EXPECT_EQ(WaitingServer::aborted, 2);
}

TEST(GeneralServer, DestroyedWhileConnectionsRun)
{
    WaitingServer::aborted = 0;
    auto server = std::make_unique<WaitingServer>();
    server->Loaded();
    Client a(ListeningPort(*server)), b(ListeningPort(*server));
    ASSERT_TRUE(QTest::qWaitFor([&] { return WaitingServer::waiting == 2; }));
    server.reset();
    EXPECT_EQ(WaitingServer::waiting, 0);
    EXPECT_EQ(WaitingServer::aborted, 2);
    EXPECT_EQ(a.ReadToClose(), "");
    EXPECT_EQ(b.ReadToClose(), "");
}

} // namespace

#include "ListeningServer_test.moc"
