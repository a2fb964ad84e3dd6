#include "net/SocketConnection.h"

#include "net/Psock.h"
#include "tests/support/Loopback.h"
#include "tests/support/SockPeer.h"

#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// The connection's tests read a line here and there to see it work.
using SocketConnectionTest = SockTest;

// ------------------------------------------------------------ connection

TEST_F(SocketConnectionTest, DottedAddressConnectsWithoutLookup)
{
    Peer peer({ "sleep:200" });
    int resolved = 0, connected = 0;
    sock.OnHostResolved = [&](QObject *) { ++resolved; };
    sock.OnConnect = [&](QObject *sender) {
        EXPECT_EQ(sender, &sock);
        ++connected;
    };
    ConnectTo(peer.port);
    EXPECT_EQ(resolved, 0);
    EXPECT_EQ(connected, 1);
    EXPECT_EQ(sock.GetRemoteIP(), "127.0.0.1");
    EXPECT_EQ(sock.GetLocalAddress(), "127,0,0,1");
    sockaddr_in local {};
    socklen_t len = sizeof local;
    ::getsockname(int(sock.SocketHandle), reinterpret_cast<sockaddr *>(&local), &len);
    const int port = ntohs(local.sin_port);
    EXPECT_EQ(sock.GetPortString(),
              "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF));
}

TEST_F(SocketConnectionTest, LocalhostIsResolved)
{
    Peer peer({ "sleep:200" });
    int resolved = 0;
    sock.Host = "localhost";
    sock.OnHostResolved = [&](QObject *) { ++resolved; };
    ConnectTo(peer.port);
    EXPECT_EQ(resolved, 1);
    EXPECT_EQ(sock.GetRemoteIP(), "127.0.0.1");
}

TEST_F(SocketConnectionTest, UnresolvableHostGivesNullRemoteAddressAskingOnce)
{
    sock.Host = "no-such-host.invalid";
    sock.Port = ClosedPort();
    EXPECT_EQ(ErrorOf([&] { sock.Connect(); }), "Null Remote Address");

    int asked = 0;
    sock.OnInvalidHost = [&](bool &handled) {
        ++asked;
        handled = true; // claims a repair but leaves the name as it was
    };
    EXPECT_EQ(ErrorOf([&] { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);
}

TEST_F(SocketConnectionTest, InvalidHostHandlerCanRepairTheName)
{
    Peer peer({ "sleep:200" });
    sock.Host = "no-such-host.invalid";
    sock.OnInvalidHost = [&](bool &handled) {
        sock.Host = "127.0.0.1";
        handled = true;
    };
    ConnectTo(peer.port);
}

TEST_F(SocketConnectionTest, RefusedPortFailsAfterOnConnectionFailed)
{
    std::vector<std::string> events;
    sock.OnConnectionFailed = [&](QObject *) { events.push_back("failed"); };
    sock.Port = ClosedPort();
    try {
        sock.Connect();
        events.push_back("connected");
    } catch (const ESockError &e) {
        events.push_back(e.what());
    }
    EXPECT_EQ(events, (std::vector<std::string> { "failed", "Connection Failed" }));
    EXPECT_FALSE(sock.Connected);
}

TEST_F(SocketConnectionTest, ConnectAfterARefusedConnectConnects)
{
    sock.Port = ClosedPort();
    EXPECT_EQ(ErrorOf([&] { sock.Connect(); }), "Connection Failed");
    Peer peer({ Send("hello\n"), "sleep:300" });
    ConnectTo(peer.port);
    EXPECT_EQ(sock.ReadLn(), "hello\n");
}

TEST_F(SocketConnectionTest, ConnectTimesOut)
{
    // A full backlog leaves the next connection attempt pending.
    Listener full(0);
    const int first = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(std::uint16_t(full.port));
    ::connect(first, reinterpret_cast<sockaddr *>(&a), sizeof a);

    sock.TimeOut = 300;
    sock.Port = full.port;
    EXPECT_EQ(ErrorOf([&] { sock.Connect(); }), "Connection Timed out");
    EXPECT_TRUE(sock.TimedOut);
    ::close(first);
}

TEST_F(SocketConnectionTest, ConnectWhileConnectedLeavesTheConnection)
{
    Peer peer({ Send("hello\n"), "sleep:300" });
    ConnectTo(peer.port);
    EXPECT_EQ(ErrorOf([&] { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected);
    EXPECT_EQ(sock.ReadLn(), "hello\n");
}

TEST_F(SocketConnectionTest, ConnectsAgainAfterDisconnect)
{
    int disconnects = 0;
    sock.OnDisconnect = [&](QObject *) { ++disconnects; };
    Peer first({ Send("one\n"), "sleep:300" });
    ConnectTo(first.port);
    EXPECT_EQ(sock.ReadLn(), "one\n");
    sock.Disconnect();
    EXPECT_FALSE(sock.Connected);
    EXPECT_EQ(disconnects, 1);

    Peer second({ Send("two\n"), "sleep:300" });
    ConnectTo(second.port);
    EXPECT_EQ(sock.ReadLn(), "two\n");
}

TEST_F(SocketConnectionTest, CertifyConnectRaisesPlainExceptionAfterAskingOnce)
{
    int asked = 0;
    sock.OnNotConnected = [&](bool &handled) {
        ++asked;
        handled = true;
    };
    try {
        sock.CertifyConnect();
        FAIL() << "no exception";
    } catch (const ESockError &) {
        FAIL() << "a socket error, not the plain exception";
    } catch (const Exception &e) {
        EXPECT_STREQ(e.what(), "Not Connected");
    }
    EXPECT_EQ(asked, 1);
}

TEST_F(SocketConnectionTest, OnlyTheFirstComponentFillsWinsockInfo)
{
    EXPECT_EQ(sock.WinsockInfo->Count(), 6);
    EXPECT_EQ((*sock.WinsockInfo)[0], "Version= 1.1");
    EXPECT_EQ(sock.WinsockInfo->Lines()[5].rfind("Max Udp pack size= ", 0), 0u);
    TPowersock second;
    EXPECT_EQ(second.WinsockInfo->Count(), 0);
}

// A component deleted later by a handler that runs during its own wait.
TEST(SocketConnectionLifetime, DeferredDeleteDuringAWaitEndsTheWaitAndDeletesAfterIt)
{
    for (const bool byOwner : { false, true }) {
        SCOPED_TRACE(byOwner ? "the owner's deleteLater" : "the component's own deleteLater");
        Peer peer({ "sleep:1000" });
        auto *owner = new QObject;
        QPointer<QObject> ownerLeft = owner;
        QPointer<TPowersock> sock = new TPowersock(owner);
        sock->Host = "127.0.0.1";
        sock->Port = peer.port;
        sock->TimeOut = 5000;
        sock->Connect();
        std::string outcome = "(not run)";
        // The read starts from an event handler, as the program's do.
        QTimer::singleShot(0, [&] {
            try {
                outcome = "line " + sock->ReadLn();
            } catch (const EAbortError &e) {
                outcome = e.what();
            }
            outcome += sock ? ", then still there" : ", then gone";
        });
        QTimer::singleShot(100, [&] {
            if (byOwner)
                owner->deleteLater();
            else
                sock->deleteLater();
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return !sock; }));
        EXPECT_EQ(outcome, "Socket readln aborted, then still there");
        EXPECT_EQ(ownerLeft.isNull(), byOwner);
        delete ownerLeft.data();
    }
}

TEST(SocketConnectionLifetime, DeletingDirectlyDuringAWaitEndsTheProgramWithAMessage)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto *listener = new TPowersock;
            listener->Port = ClosedPort();
            listener->Listen(true);
            QTimer::singleShot(50, [listener] { delete listener; });
            listener->Accept();
        },
        "deleted during one of its own waits");
}

// ------------------------------------------------------------ errors and status

TEST_F(SocketConnectionTest, ErrorManagerFiresOnErrorBeforeRaising)
{
    std::vector<std::string> events;
    sock.OnError = [&](QObject *, std::uint16_t code, const std::string &text) {
        events.push_back(std::to_string(code) + " " + text);
    };
    Winsock::WSASetLastError(10035);
    EXPECT_EQ(sock.ErrorManager(10035), "");
    EXPECT_EQ(sock.LastErrorNo, 10035);
    EXPECT_TRUE(events.empty());

    Winsock::WSASetLastError(10061);
    try {
        sock.ErrorManager(10035);
        events.push_back("nothing raised");
    } catch (const ESockError &e) {
        events.push_back(e.what());
    }
    EXPECT_EQ(events,
              (std::vector<std::string> { "10061 10061:Connection refused",
                                          "10061:Connection refused" }));

    sock.OnError = [](QObject *, std::uint16_t, const std::string &) {
        throw Exception("from the handler");
    };
    Winsock::WSASetLastError(10054);
    EXPECT_EQ(ErrorOf<Exception>([&] { sock.ErrorManager(10035); }), "from the handler");
}

TEST_F(SocketConnectionTest, SetWSAErrorReportsWithoutRaising)
{
    std::vector<std::string> texts;
    sock.OnError = [&](QObject *, std::uint16_t code, const std::string &text) {
        texts.push_back(std::to_string(code) + " " + text);
    };
    sock.SetWSAError(10054, "");
    sock.SetWSAError(10060, "my own text");
    EXPECT_EQ(
        texts,
        (std::vector<std::string> { "10054 10054:Connection reset by peer", "10060 my own text" }));
    EXPECT_EQ(sock.LastErrorNo, 10060);
    EXPECT_EQ(Winsock::WSAGetLastError(), 10060);
}

TEST_F(SocketConnectionTest, StatusTextsFollowReportLevel)
{
    Peer peer({ "sleep:300" });
    std::vector<std::string> seen;
    sock.OnStatus = [&](QObject *, const std::string &text) {
        seen.push_back(text);
        throw Exception("a faulty status handler changes nothing");
    };
    sock.Port = peer.port;
    sock.ReportLevel = 0;
    sock.Connect();
    sock.Disconnect();
    EXPECT_TRUE(seen.empty());

    Peer second({ "sleep:300" });
    sock.Port = second.port;
    sock.ReportLevel = 8;
    sock.Connect();
    sock.Disconnect();
    EXPECT_EQ(seen,
              (std::vector<std::string> { "Connecting", "Resolve Host", "Timer On", "Timer Off",
                                          "Disconnecting", "Request Close Socket" }));
    EXPECT_EQ(sock.Status, "Request Close Socket");

    seen.clear();
    sock.ReportLevel = 4;
    sock.Cancel();
    sock.RequestCloseSocket();
    EXPECT_EQ(seen, std::vector<std::string> { "Request Close Socket" });
}

} // namespace
