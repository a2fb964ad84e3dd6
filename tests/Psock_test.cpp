#include "net/Psock.h"

#include "platform/Application.h"
#include "tests/support/Loopback.h"
#include "tests/support/SockPeer.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using PsockTest = SockTest;

// ------------------------------------------------------------ reading

TEST_F(PsockTest, ReadLnKeepsCrLfAndLeavesTheNextLinePending)
{
    Peer peer({ Send("first\r\nsecond\n"), "sleep:300" });
    ConnectTo(peer.port);
    EXPECT_EQ(sock.ReadLn(), "first\r\n");
    EXPECT_TRUE(sock.DataAvailable());
    EXPECT_EQ(sock.ReadLn(), "second\n");
}

TEST_F(PsockTest, ReadLnOfALineArrivingInPieces)
{
    Peer peer({ Send("HTTP/1.0 "), "sleep:100", Send("200 OK"), "sleep:100", Send("\r\nnext"),
                "sleep:300" });
    ConnectTo(peer.port);
    EXPECT_EQ(sock.ReadLn(), "HTTP/1.0 200 OK\r\n");
}

TEST_F(PsockTest, ReadLnIsEmptyWhenThePeerClosesMidLine)
{
    // Short, and one byte short of the buffer, where the reader holds the
    // last bytes back.
    for (const QString &unfinished : { Send("unfinished"), QString("fill:61:65535") }) {
        SCOPED_TRACE(unfinished.left(20).toStdString());
        TPowersock client;
        client.Host = "127.0.0.1";
        client.TimeOut = 5000;
        Peer peer({ unfinished, "sleep:100", "close" });
        client.Port = peer.port;
        client.Connect();
        EXPECT_EQ(client.ReadLn(), "");
        EXPECT_EQ(client.ReadLn(), "");
    }
}

TEST_F(PsockTest, ReadLnReturnsAnOverlongLineInPieces)
{
    const std::string longLine(70000, 'a');
    Peer peer({ "fill:61:70000", Send("\nend\n"), "sleep:300" });
    ConnectTo(peer.port);
    const std::string first = sock.ReadLn();
    EXPECT_EQ(first.size(), 65535u);
    const std::string rest = sock.ReadLn();
    EXPECT_EQ(rest.size(), 70001u - 65535u);
    EXPECT_TRUE(first + rest == longLine + "\n");
    EXPECT_EQ(sock.ReadLn(), "end\n");
}

TEST_F(PsockTest, TransactionSetsReplyCode)
{
    struct Case {
        std::string reply;
        int code;
    };
    for (const Case &c : { Case { "250 OK\r\n", 250 }, Case { "OK 250\r\n", 0 },
                           Case { "99999 too big\r\n", -1 } }) {
        SCOPED_TRACE(c.reply);
        TPowersock client;
        client.Host = "127.0.0.1";
        client.TimeOut = 5000;
        std::vector<std::string> statuses;
        client.ReportLevel = 1;
        client.OnStatus = [&](QObject *, const std::string &text) { statuses.push_back(text); };
        Peer peer({ "read:6", Send(c.reply), "sleep:200" }, true);
        client.Port = peer.port;
        client.Connect();
        if (c.code < 0) {
            EXPECT_THROW(client.Transaction("HELO"), ERangeError);
            continue;
        }
        EXPECT_EQ(client.Transaction("HELO"), c.reply);
        EXPECT_EQ(client.ReplyCode, c.code);
        EXPECT_EQ(client.LastReply, c.reply);
        EXPECT_EQ(statuses, std::vector<std::string> { c.reply });
        EXPECT_EQ(peer.Received(), "HELO\r\n");
    }
}

TEST_F(PsockTest, CaptureStringUntilCloseKeepsEveryChunk)
{
    Peer peer({ Send("abc"), "sleep:50", Send("d"), "sleep:50", Send("efg"), "close" });
    ConnectTo(peer.port);
    int packets = 0;
    sock.OnPacketRecvd = [&](QObject *) { ++packets; };
    std::string text = "old";
    sock.CaptureString(text, -1);
    EXPECT_EQ(text, "abcdefg");
    EXPECT_EQ(sock.ReceivedBytes, 7);
    EXPECT_GE(packets, 3);
}

TEST_F(PsockTest, CaptureWithASizeReadsNothingPastIt)
{
    const std::string data(100000, 'x');
    Peer peer({ "fill:78:100000", Send("stream rest"), "sleep:500" });
    ConnectTo(peer.port);
    std::string text;
    sock.CaptureString(text, 100000);
    EXPECT_EQ(text, data);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("12");
    sock.CaptureStream(buffer, 8);
    EXPECT_EQ(buffer.data().toStdString(), "12stream");
    EXPECT_EQ(sock.ReceivedBytes, 6);
    sock.CaptureString(text, 5);
    EXPECT_EQ(text, " rest");
}

// Only an orderly close ends a capture with what arrived; a reset raises,
// whether it comes while data is still unread or after the last of it.
TEST_F(PsockTest, CapturesRaiseOnAResetAndEndAtAClose)
{
    const std::string file = dir.filePath("captured").toStdString();
    const std::pair<const char *, std::function<void()>> captures[] = {
        { "file", [&] { sock.CaptureFile(file); } },
        { "string",
          [&] {
              std::string text;
              sock.CaptureString(text, -1);
          } },
        { "string with a size",
          [&] {
              std::string text;
              sock.CaptureString(text, 1 << 30);
          } },
        { "stream",
          [&] {
              QBuffer buffer;
              buffer.open(QIODevice::ReadWrite);
              sock.CaptureStream(buffer, 1 << 30);
          } },
    };
    for (const auto &[name, capture] : captures) {
        for (const QStringList &end :
             { QStringList { "sleep:200", "reset" }, QStringList { "reset" },
               QStringList { "sleep:200", "close" } }) {
            SCOPED_TRACE(name + (" " + end.join(" ").toStdString()));
            // The peer sends once the client has spoken, so after the connect,
            // before anything can reset it.
            Peer peer(QStringList { "read:1", "fill:72:100000" } + end);
            ConnectTo(peer.port);
            sock.Write("!");
            std::vector<int> errors;
            sock.OnError = [&](QObject *, std::uint16_t error, const std::string &) {
                errors.push_back(error);
            };
            if (end.last() == "reset") {
                EXPECT_EQ(ErrorOf([&] { capture(); }), "10054:Connection reset by peer");
                EXPECT_EQ(errors, std::vector<int> { 10054 });
            } else {
                capture();
                EXPECT_EQ(sock.ReceivedBytes, 100000);
                EXPECT_TRUE(errors.empty());
            }
            sock.OnError = nullptr;
            sock.Disconnect();
        }
    }
}

TEST_F(PsockTest, CaptureStreamWithMinusOneMakesOnePass)
{
    Peer peer({ Send("abc"), "sleep:1000", Send("def") });
    ConnectTo(peer.port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sock.DataAvailable(); }));
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("123");
    QElapsedTimer clock;
    clock.start();
    sock.CaptureStream(buffer, -1);
    EXPECT_LT(clock.elapsed(), 900);
    EXPECT_EQ(buffer.data().toStdString(), "123abc");
}

TEST_F(PsockTest, CaptureStreamCountsWhatTheStreamHeldBefore)
{
    Peer peer({ Send("abc"), "sleep:300", Send("def"), "sleep:300" });
    ConnectTo(peer.port);
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    buffer.write("1234");
    sock.CaptureStream(buffer, 7);
    EXPECT_EQ(buffer.data().toStdString(), "1234abc");
}

TEST_F(PsockTest, CaptureFileOverwritesAndAppendFileAppends)
{
    const std::string path = dir.filePath("body").toStdString();
    WriteFileBytes(path, "old content that is longer");
    {
        Peer peer({ Send("new"), "close" });
        ConnectTo(peer.port);
        sock.CaptureFile(path);
        EXPECT_EQ(ReadFileBytes(path), "new");
        sock.Disconnect();
    }
    {
        Peer peer({ Send("+more"), "sleep:100", Send("+end"), "close" });
        ConnectTo(peer.port);
        sock.AppendFile(path);
        EXPECT_EQ(ReadFileBytes(path), "new+more+end");
        EXPECT_EQ(sock.ReceivedBytes, 9);
        EXPECT_FALSE(sock.Connected);
    }
}

TEST_F(PsockTest, FileErrorsNameTheFile)
{
    const std::string missing = dir.filePath("no/such/dir/file").toStdString();
    EXPECT_NE(ErrorOf<EFCreateError>([&] { sock.CaptureFile(missing); }).find(missing),
              std::string::npos);
    EXPECT_NE(ErrorOf<EFOpenError>([&] { sock.AppendFile(missing); }).find(missing),
              std::string::npos);
    EXPECT_NE(ErrorOf<EFOpenError>([&] { sock.SendFile(missing); }).find(missing),
              std::string::npos);
}

TEST_F(PsockTest, WriteStopsAtZeroByteAndWritelnOfNothingSendsCrLf)
{
    Peer peer({ "readall" }, true);
    ConnectTo(peer.port);
    sock.Write(std::string("ab\0cd", 5));
    sock.Writeln("");
    sock.Writeln("line");
    ASSERT_TRUE(peer.WaitReceived(10));
    sock.Disconnect();
    EXPECT_EQ(peer.Received(), "ab\r\nline\r\n");
}

TEST_F(PsockTest, WriteOfMoreThan65535BytesSendsNothing)
{
    Peer peer({ "readall" }, true);
    ConnectTo(peer.port);
    EXPECT_THROW(sock.Write(std::string(65536, 'x')), ERangeError);
    sock.Write("ok");
    ASSERT_TRUE(peer.WaitReceived(2));
    sock.Disconnect();
    EXPECT_EQ(peer.Received(), "ok");
}

TEST_F(PsockTest, SendFileAndSendStreamSendEveryByte)
{
    std::string data(200000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = char(i * 7 % 251);
    const std::string path = dir.filePath("out").toStdString();
    WriteFileBytes(path, data);
    Peer peer({ "readall" }, true);
    ConnectTo(peer.port);
    sock.SendFile(path);
    EXPECT_EQ(sock.SentBytes, std::int64_t(data.size()));
    QBuffer stream;
    stream.setData(QByteArray::fromStdString("tail"));
    stream.open(QIODevice::ReadOnly);
    sock.SendStream(stream);
    EXPECT_EQ(sock.SentBytes, 4);
    EXPECT_EQ(sock.TotalBytes, 4);
    ASSERT_TRUE(peer.WaitReceived(data.size() + 4));
    sock.Disconnect();
    const std::string received = peer.Received();
    EXPECT_EQ(received.size(), data.size() + 4);
    EXPECT_TRUE(received == data + "tail")
        << "first difference at "
        << std::mismatch(received.begin(), received.end(), data.begin()).first - received.begin();
}

TEST_F(PsockTest, FilterHeaderCopiesUpToTheBlankLine)
{
    Peer peer({ Send("HTTP/1.0 200 OK\r\nA: b\r\n\r\nBODY"), "close" });
    ConnectTo(peer.port);
    QBuffer header;
    header.open(QIODevice::ReadWrite);
    sock.FilterHeader(header);
    EXPECT_EQ(header.data().toStdString(), "HTTP/1.0 200 OK\r\nA: b\r\n\r\n");
    std::string body;
    sock.CaptureString(body, -1);
    EXPECT_EQ(body, "BODY");
}

TEST_F(PsockTest, FilterHeaderKeepsLinesLongerThanTheBufferWhole)
{
    // A header line around the buffer's size, its CR LF falling on every
    // side of a piece's end, then a normal header, the blank line and a body.
    struct Case {
        const char *filler; // hex of the line's byte
        int count;
    };
    for (const Case &c : { Case { "61", 65534 }, Case { "61", 65535 }, Case { "61", 65536 },
                           Case { "61", 131071 }, Case { "0d", 65536 } }) {
        SCOPED_TRACE(std::string(c.filler) + " x " + std::to_string(c.count));
        TPowersock client;
        client.Host = "127.0.0.1";
        client.TimeOut = 5000;
        Peer peer({ Send("HTTP/1.0 200 OK\r\n"), QString("fill:%1:%2").arg(c.filler).arg(c.count),
                    Send("\r\nA: b\r\n\r\nBODY"), "close" });
        client.Port = peer.port;
        client.Connect();
        QBuffer header;
        header.open(QIODevice::ReadWrite);
        client.FilterHeader(header);
        const std::string line(std::size_t(c.count), char(QByteArray::fromHex(c.filler)[0]));
        EXPECT_TRUE(header.data().toStdString()
                    == "HTTP/1.0 200 OK\r\n" + line + "\r\nA: b\r\n\r\n")
            << header.size() << " bytes of header";
        std::string body;
        client.CaptureString(body, -1);
        EXPECT_EQ(body, "BODY");
    }
}

TEST_F(PsockTest, ReadWaitsForTheWholeBlock)
{
    Peer peer({ Send("ab"), "sleep:200", Send("cdefg"), "sleep:300" });
    ConnectTo(peer.port);
    EXPECT_EQ(sock.Read(5), "abcde");
    EXPECT_EQ(sock.Read(0), "fg");
}

TEST_F(PsockTest, ReadOfABlockThatNeverComesEndsAtTheClose)
{
    Peer peer({ Send("abc"), "sleep:100", "close" });
    ConnectTo(peer.port);
    EXPECT_EQ(sock.Read(5), "");
}

TEST_F(PsockTest, ClearInputDropsWhatIsPending)
{
    // The line follows once the client has cleared.
    Peer peer({ Send("junk"), "read:1", Send("line\n"), "sleep:300" });
    ConnectTo(peer.port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sock.DataAvailable(); }));
    sock.ClearInput();
    sock.Write("!");
    EXPECT_EQ(sock.ReadLn(), "line\n");
}

// ------------------------------------------------------------ cancel, time-out

TEST_F(PsockTest, CancelFromPacketHandlerAbortsTheCapture)
{
    Peer peer({ Send("data"), "sleep:2000" });
    ConnectTo(peer.port);
    sock.OnPacketRecvd = [&](QObject *) { sock.Cancel(); };
    const std::string path = dir.filePath("capture").toStdString();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { sock.CaptureFile(path); }), "Socket send aborted");
    EXPECT_FALSE(sock.Canceled);
    EXPECT_FALSE(sock.TimedOut);
    EXPECT_EQ(ReadFileBytes(path), "data");
}

TEST_F(PsockTest, CancelEndsTheCaptureOperationsWithTheirTexts)
{
    Peer peer({ "sleep:2000" });
    ConnectTo(peer.port);
    auto cancelSoon = [&] { QTimer::singleShot(50, [&] { sock.Cancel(); }); };
    std::string text;
    cancelSoon();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { sock.CaptureString(text, -1); }),
              "Socket capture aborted");
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    cancelSoon();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { sock.CaptureStream(buffer, 10); }),
              "Socket capture aborted");
    cancelSoon();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { sock.Read(3); }), "Socket send aborted");
}

TEST_F(PsockTest, TimeOutEndsReadLn)
{
    Peer peer({ "sleep:3000" });
    ConnectTo(peer.port);
    sock.TimeOut = 200;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(ErrorOf<EAbortError>([&] { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(sock.TimedOut);
    EXPECT_FALSE(sock.Canceled);
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(PsockTest, SendingToAClosedPeerIsAnErrorNotASignal)
{
    // The peer resets once the client has spoken, so after the connect.
    Peer peer({ "read:1", "reset" });
    ConnectTo(peer.port);
    sock.Write("!");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !sock.Connected; }));
    // The peer's reset has closed the connection: whatever socket is left,
    // a send fails with a socket error and the program goes on.
    const std::string error = ErrorOf([&] {
        for (int i = 0; i < 100; ++i)
            sock.Write(std::string(60000, 'x'));
    });
    EXPECT_TRUE(error == "10057:Socket is not connected"
                || error == "10054:Connection reset by peer")
        << error;
}

TEST(Psock, NthWordAndNthPos)
{
    struct WordCase {
        std::string text;
        char delimiter;
        int n;
        std::string word;
    };
    for (const WordCase &c :
         { WordCase { "HTTP/1.0 200 OK", ' ', 2, "200" }, WordCase { "a,,b", ',', 3, "b" },
           WordCase { "a,,b", ',', 2, "" }, WordCase { "first second", ' ', 1, "first" },
           WordCase { "one two", ' ', 5, "" }, WordCase { "", ' ', 1, "" } }) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.n));
        EXPECT_EQ(NthWord(c.text, c.delimiter, c.n), c.word);
    }
    struct PosCase {
        std::string text;
        char delimiter;
        int n;
        int pos;
    };
    for (const PosCase &c : { PosCase { "a/b/c", '/', 2, 4 }, PosCase { "a/b/", '/', 2, 4 },
                              PosCase { "abc", '/', 1, 4 }, PosCase { "/x", '/', 1, 1 } }) {
        SCOPED_TRACE(c.text + " " + std::to_string(c.n));
        EXPECT_EQ(NthPos(c.text, c.delimiter, c.n), c.pos);
    }
}

TEST(Psock, StreamLnEndsWithCrLf)
{
    QBuffer buffer;
    buffer.open(QIODevice::ReadWrite);
    StreamLn(buffer, "GET / HTTP/1.0");
    EXPECT_EQ(buffer.data().toStdString(), "GET / HTTP/1.0\r\n");
}

} // namespace
