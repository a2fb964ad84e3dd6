#include "platform/Winsock.h"

#include <QTest>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <vector>

using namespace Winsock;

namespace {

constexpr unsigned kMsg = 1125;
constexpr unsigned kLookupMsg = 1126;

// A hidden window that keeps every message it is given.
struct Recorder {
    Recorder()
    {
        window.WndProc = [this](TMessage &m) { messages.push_back(m); };
    }
    int Count(int event) const
    {
        int n = 0;
        for (const TMessage &m : messages)
            if (m.Msg == kMsg && WSAGETSELECTEVENT(m.LParam) == event)
                ++n;
        return n;
    }
    TMessageWindow window;
    std::vector<TMessage> messages;
};

struct Listener {
    Listener()
    {
        fd = ::socket(AF_INET, SOCK_STREAM, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd, 4);
        socklen_t len = sizeof address;
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &len);
    }
    ~Listener() { ::close(fd); }
    const sockaddr *Address() const { return reinterpret_cast<const sockaddr *>(&address); }
    int fd;
    sockaddr_in address {};
};

// A registered client socket connected to a listener, and the peer's end.
struct Connection {
    Connection()
    {
        s = Winsock::socket(AF_INET, SOCK_STREAM, 0);
        WSAAsyncSelect(s, &recorder.window, kMsg, FD_READ | FD_CONNECT | FD_CLOSE);
        const int rc = Winsock::connect(s, listener.Address(), sizeof(sockaddr_in));
        connectResult = rc == 0 ? 0 : WSAGetLastError();
        peer = ::accept(listener.fd, nullptr, nullptr);
    }
    ~Connection()
    {
        if (peer >= 0)
            ::close(peer);
        closesocket(s);
    }
    Listener listener;
    Recorder recorder;
    SOCKET s;
    int connectResult;
    int peer;
};

TEST(Winsock, ErrnoBecomesWinsockNumber)
{
    struct Case {
        int err;
        int wsa;
    };
    for (const Case &c :
         { Case { EAGAIN, 10035 }, Case { ENOTCONN, 10057 }, Case { ECONNREFUSED, 10061 },
           Case { ECONNRESET, 10054 }, Case { EPIPE, 10054 }, Case { EADDRINUSE, 10048 },
           Case { ETIMEDOUT, 10060 }, Case { EBADF, 10038 }, Case { 0, 0 }, Case { EDOM, 10107 } })
        EXPECT_EQ(ErrorFromErrno(c.err), c.wsa) << std::strerror(c.err);
}

TEST(Winsock, UnconnectedSocketReportsNotConnected)
{
    Recorder recorder;
    const SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(s, INVALID_SOCKET);
    WSAAsyncSelect(s, &recorder.window, kMsg, 61);
    char buf[4];
    EXPECT_EQ(Winsock::recv(s, buf, 4, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    EXPECT_EQ(Winsock::send(s, "x", 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTCONN);
    QTest::qWait(50); // time for a stray notification to show
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(closesocket(s), 0);
}

TEST(Winsock, ConnectCompletesThroughFdConnectDeliveredByTheEventLoop)
{
    Connection c;
    EXPECT_TRUE(c.connectResult == 0 || c.connectResult == WSAEWOULDBLOCK);
    EXPECT_TRUE(c.recorder.messages.empty()); // never from inside a call
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_CONNECT) == 1; }));
    const TMessage &m = c.recorder.messages.front();
    EXPECT_EQ(m.WParam, c.s);
    EXPECT_EQ(WSAGETSELECTERROR(m.LParam), 0);
}

TEST(Winsock, RefusedConnectArrivesAsFdConnectWithItsError)
{
    sockaddr_in closed;
    {
        Listener l;
        closed = l.address;
    }
    Recorder recorder;
    const SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, 0);
    WSAAsyncSelect(s, &recorder.window, kMsg, 61);
    EXPECT_EQ(Winsock::connect(s, reinterpret_cast<sockaddr *>(&closed), sizeof closed),
              SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Count(FD_CONNECT) == 1; }));
    EXPECT_EQ(WSAGETSELECTERROR(recorder.messages.front().LParam), WSAECONNREFUSED);

    // As in Winsock, the same socket may try again, and now succeeds.
    Listener there;
    const int rc = Winsock::connect(s, there.Address(), sizeof(sockaddr_in));
    EXPECT_TRUE(rc == 0 || WSAGetLastError() == WSAEWOULDBLOCK) << WSAGetLastError();
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Count(FD_CONNECT) == 2; }));
    EXPECT_EQ(WSAGETSELECTERROR(recorder.messages.back().LParam), 0);
    closesocket(s);
}

TEST(Winsock, FdReadOnceUntilTheNextRecvAndFdCloseOnce)
{
    Connection c;
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_CONNECT) == 1; }));
    char buf[16];
    EXPECT_EQ(Winsock::recv(c.s, buf, sizeof buf, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);

    ASSERT_EQ(::send(c.peer, "abc", 3, 0), 3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_READ) == 1; }));
    QTest::qWait(50); // time for a second one to show
    EXPECT_EQ(c.recorder.Count(FD_READ), 1); // not again while nobody reads

    EXPECT_EQ(Winsock::recv(c.s, buf, 1, 0), 1); // data left: FD_READ again
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_READ) == 2; }));

    ::close(c.peer);
    c.peer = -1;
    EXPECT_EQ(Winsock::recv(c.s, buf, sizeof buf, 0), 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_CLOSE) == 1; }));
    EXPECT_EQ(Winsock::recv(c.s, buf, sizeof buf, 0), 0);
    QTest::qWait(50); // time for a second one to show
    EXPECT_EQ(c.recorder.Count(FD_CLOSE), 1);
}

TEST(Winsock, NothingArrivesForAClosedSocket)
{
    Connection c;
    ASSERT_EQ(::send(c.peer, "abc", 3, 0), 3);
    QTest::qWait(20); // the notification may be queued by now
    EXPECT_EQ(closesocket(c.s), 0);
    const auto before = c.recorder.messages.size();
    QTest::qWait(50); // time for a queued one to show
    for (std::size_t i = before; i < c.recorder.messages.size(); ++i)
        ADD_FAILURE() << "message after close: event "
                      << WSAGETSELECTEVENT(c.recorder.messages[i].LParam);
    c.s = Winsock::socket(AF_INET, SOCK_STREAM, 0); // for the destructor
}

TEST(Winsock, SendToAClosedPeerFailsWithoutSignal)
{
    Connection c;
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_CONNECT) == 1; }));
    linger reset { 1, 0 };
    ::setsockopt(c.peer, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    ::close(c.peer);
    c.peer = -1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.recorder.Count(FD_CLOSE) == 1; }));
    const std::vector<char> block(65536, 'x');
    int rc = 0;
    for (int i = 0; i < 100 && rc != SOCKET_ERROR; ++i)
        rc = Winsock::send(c.s, block.data(), int(block.size()), 0);
    ASSERT_EQ(rc, SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAECONNRESET);
}

TEST(Winsock, LookupDeliversAHostEntry)
{
    Recorder recorder;
    alignas(hostent) char buffer[1024];
    const HANDLE task
        = WSAAsyncGetHostByName(&recorder.window, kLookupMsg, "localhost", buffer, sizeof buffer);
    ASSERT_NE(task, 0u);
    EXPECT_TRUE(recorder.messages.empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.messages.empty(); }));
    const TMessage &m = recorder.messages.front();
    EXPECT_EQ(m.Msg, kLookupMsg);
    EXPECT_EQ(m.WParam, task);
    EXPECT_EQ(WSAGETSELECTERROR(m.LParam), 0);
    const auto *entry = reinterpret_cast<const hostent *>(buffer);
    ASSERT_NE(entry->h_addr_list[0], nullptr);
    in_addr first;
    std::memcpy(&first, entry->h_addr_list[0], sizeof first);
    EXPECT_STREQ(::inet_ntoa(first), "127.0.0.1");
    EXPECT_STREQ(entry->h_name, "localhost");
}

TEST(Winsock, LookupOfAnUnknownNameFails)
{
    Recorder recorder;
    alignas(hostent) char buffer[1024];
    WSAAsyncGetHostByName(&recorder.window, kLookupMsg, "no-such-host.invalid", buffer,
                          sizeof buffer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.messages.empty(); }));
    EXPECT_EQ(WSAGETSELECTERROR(recorder.messages.front().LParam), WSAHOST_NOT_FOUND);
}

TEST(Winsock, AbandonedLookupsDeliverNothing)
{
    // Cancelled: the buffer stays untouched.
    Recorder recorder;
    alignas(hostent) char buffer[1024];
    std::memset(buffer, 0xAB, sizeof buffer);
    const HANDLE task
        = WSAAsyncGetHostByName(&recorder.window, kLookupMsg, "localhost", buffer, sizeof buffer);
    EXPECT_EQ(WSACancelAsyncRequest(task), 0);
    // Window gone: its buffer is gone too.
    auto gone = std::make_unique<Recorder>();
    auto goneBuffer = std::make_unique<char[]>(1024);
    WSAAsyncGetHostByName(&gone->window, kLookupMsg, "localhost", goneBuffer.get(), 1024);
    gone.reset();
    goneBuffer.reset();

    // A later lookup completes; the abandoned ones must have finished by then.
    Recorder witness;
    alignas(hostent) char witnessBuffer[1024];
    WSAAsyncGetHostByName(&witness.window, kLookupMsg, "localhost", witnessBuffer,
                          sizeof witnessBuffer);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !witness.messages.empty(); }));
    QTest::qWait(100); // time for a stray delivery to show
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_TRUE(
        std::all_of(buffer, buffer + sizeof buffer, [](char c) { return c == char(0xAB); }));
    EXPECT_EQ(WSACancelAsyncRequest(task), SOCKET_ERROR);
}

TEST(Winsock, ListeningSocketAnnouncesEachConnection)
{
    Recorder recorder;
    const SOCKET s = Winsock::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(Winsock::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    WSAAsyncSelect(s, &recorder.window, kMsg, FD_ACCEPT);
    ASSERT_EQ(Winsock::listen(s, 4), 0);
    int len = sizeof a;
    Winsock::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len);

    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr *>(&a), sizeof a), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder.Count(FD_ACCEPT) == 1; }));
    sockaddr_in peer {};
    int plen = sizeof peer;
    const SOCKET accepted = Winsock::accept(s, reinterpret_cast<sockaddr *>(&peer), &plen);
    ASSERT_NE(accepted, INVALID_SOCKET);
    EXPECT_EQ(peer.sin_addr.s_addr, htonl(INADDR_LOOPBACK));
    QTest::qWait(50); // time for a second one to show
    EXPECT_EQ(recorder.Count(FD_ACCEPT), 1);
    ::close(client);
    closesocket(accepted);
    closesocket(s);
}

} // namespace
