#include "net/Nmhttp.h"

#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

const std::string Accepts
    = "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
      "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string ContentType = "Content-type: application/x-www-form-urlencoded\r\n";

// A python3 peer on a free loopback port; it prints the port first.
class PythonPeer {
public:
    explicit PythonPeer(const QStringList &args,
                        const QRegularExpression &portPattern = QRegularExpression("^(\\d+)"))
    {
        m_process.start(TIRMO_PYTHON, args);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        QByteArray out;
        while (std::chrono::steady_clock::now() < deadline) {
            m_process.waitForReadyRead(200);
            out += m_process.readAllStandardOutput();
            const auto match = portPattern.match(QString::fromLatin1(out));
            if (match.hasMatch()) {
                m_port = match.captured(1).toInt();
                return;
            }
        }
        ADD_FAILURE() << "python3 " << args.join(' ').toStdString()
                      << " did not start: " << out.toStdString()
                      << m_process.readAllStandardError().toStdString();
    }
    ~PythonPeer()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int Port() const { return m_port; }
    std::string Url(const std::string &path = "/", const std::string &host = "127.0.0.1") const
    {
        return "http://" + host + ":" + std::to_string(m_port) + path;
    }

private:
    QProcess m_process;
    int m_port = 0;
};

// What the scripted server does on one connection.
struct Answer {
    Answer(std::string text, std::string then = "close", int repeat = 1)
        : text(std::move(text)), then(std::move(then)), repeat(repeat)
    {
    }
    std::string text; // sent `repeat` times
    std::string then; // "close", "hold" (open until the client closes) or "silent"
    int repeat;
};

using Script = std::vector<Answer>;

class ScriptedServer {
public:
    explicit ScriptedServer(const Script &answers)
    {
        QJsonArray replies;
        for (const Answer &a : answers) {
            QJsonArray parts { QJsonArray {
                QString::fromLatin1(a.text.data(), qsizetype(a.text.size())), a.repeat } };
            replies.append(
                QJsonObject { { "parts", parts }, { "then", QString::fromStdString(a.then) } });
        }
        const QString script = m_dir.filePath("script.json");
        WriteFileBytes(
            script.toStdString(),
            QJsonDocument(QJsonObject { { "replies", replies } }).toJson().toStdString());
        QDir(m_dir.path()).mkdir("log");
        m_peer = std::make_unique<PythonPeer>(QStringList {
            TIRMO_TEST_DIR "/servers/http_scripted.py", script, m_dir.filePath("log") });
    }
    int Port() const { return m_peer->Port(); }
    std::string Url(const std::string &path = "/", const std::string &host = "127.0.0.1") const
    {
        return m_peer->Url(path, host);
    }
    // The bytes of request `i` as the server received them.
    std::string Request(int i) const
    {
        const QString path = m_dir.filePath("log/request-" + QString::number(i) + ".bin");
        if (!QTest::qWaitFor([&] { return QFile::exists(path); }, 5000))
            ADD_FAILURE() << "the server logged no request " << i;
        return ReadFileBytes(path.toStdString());
    }
    int RequestCount() const
    {
        return int(QDir(m_dir.filePath("log")).entryList({ "*.bin" }).size());
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<PythonPeer> m_peer;
};

std::string Ok(const std::string &body, const std::string &extra = "")
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra
        + "\r\n" + body;
}

std::string Redirect(int code, const std::string &location, const std::string &extra = "")
{
    return "HTTP/1.0 " + std::to_string(code) + " Moved\r\nLocation: " + location + "\r\n" + extra
        + "\r\n";
}

class HttpTest : public ::testing::Test {
protected:
    HttpTest()
    {
        // Every request pass has a deadline: a hang fails the test instead.
        m_watchdog.setSingleShot(true);
        m_watchdog.setInterval(20000);
        QObject::connect(&m_watchdog, &QTimer::timeout, [this] {
            ADD_FAILURE() << "request still running after 20 s";
            http.Abort();
        });
        http.OnAboutToSend = [this](QObject *) { m_watchdog.start(); };
    }

    std::string TempPath(const char *name) const { return m_dir.filePath(name).toStdString(); }

    // Runs a request and returns the message of the exception it raised.
    template<typename E = Exception, typename F> std::string ErrorOf(F request)
    {
        try {
            request();
        } catch (const E &e) {
            return e.Message();
        }
        return "no error";
    }

    TNMHTTP http;
    QTemporaryDir m_dir;
    QTimer m_watchdog;
};

} // namespace

TEST(NMHTTPParseURL, SplitsHostPortAndPath)
{
    struct Case {
        std::string url;
        int port;
        std::string host, path, currentUrl;
        int expectedPort;
    } cases[] = {
        { "http://host/dir/file", 0, "host", "/dir/file", "http://host/dir/file", 80 },
        { "http://host:8080/x", 0, "host", "/x", "http://host:8080/x", 8080 },
        { "http://host", 0, "host", "/", "http://host/", 80 },
        { "http://host/", 0, "host", "/", "http://host/", 80 },
        { "HTTP://Host:81/a?b=c", 5, "Host", "/a?b=c", "HTTP://Host:81/a?b=c", 81 },
        { "gopher://g/x", 0, "g", "/x", "gopher://g/x", 70 },
        { "ftp://f/", 0, "f", "/", "ftp://f/", 21 },
        { "host/x", 0, "host", "/x", "host/x", 80 },
        { "host/x", 8000, "host", "/x", "host/x", 8000 },
        { "name", 8000, "name", "/", "name/", 8000 },
        { "/only/path", 8081, "before", "/only/path", "/only/path", 8081 },
        // A colon in the query is no scheme: the port stays.
        { "/a?t=12:30", 8081, "before", "/a?t=12:30", "/a?t=12:30", 8081 },
        { "localhost:8082/p", 0, "localhost", "/p", "localhost:8082/p", 8082 },
    };
    for (const Case &c : cases) {
        TNMHTTP http;
        http.Host = "before";
        http.Port = c.port;
        http.CurrentURL = c.url;
        http.ParseURL();
        EXPECT_EQ(http.Host, c.host) << c.url;
        EXPECT_EQ(http.Port, c.expectedPort) << c.url;
        EXPECT_EQ(http.RequestPath, c.path) << c.url;
        EXPECT_EQ(http.CurrentURL, c.currentUrl) << c.url;
    }
}

TEST(NMHTTPParseURL, RefusesBadUrls)
{
    TNMHTTP http;
    const auto parse = [&](const std::string &url) {
        http.CurrentURL = url;
        http.ParseURL();
    };
    EXPECT_THROW(
        {
            try {
                parse("");
            } catch (const Exception &e) {
                EXPECT_STREQ(e.what(), "Empty URL");
                throw;
            }
        },
        Exception);
    EXPECT_THROW(
        {
            try {
                parse("HTTPS://secure/x");
            } catch (const Exception &e) {
                EXPECT_STREQ(e.what(), "HTTP Secure Socket is not supported");
                throw;
            }
        },
        Exception);
    EXPECT_THROW(parse("http://host:abc/"), EConvertError);
    EXPECT_THROW(parse("http://host:/"), EConvertError);
    EXPECT_THROW(parse("http://host:70000/"), EConvertError);
}

TEST_F(HttpTest, HttpsIsRefusedBeforeAnyConnection)
{
    ScriptedServer server(Script { { Ok("never") } });
    EXPECT_EQ(
        ErrorOf([&] { http.Get("https://127.0.0.1:" + std::to_string(server.Port()) + "/"); }),
        "HTTP Secure Socket is not supported");
    // Had it connected, that connection would be the server's first.
    http.Get(server.Url("/after"));
    EXPECT_EQ(server.Request(0).substr(0, 21), "GET /after HTTP/1.0\r\n");
    EXPECT_EQ(server.RequestCount(), 1);
}

TEST_F(HttpTest, GetSendsExactlyTheRequestLines)
{
    ScriptedServer server(Script { { Ok("hello") } });
    http.Get(server.Url("/dir/file.txt"));
    EXPECT_EQ(server.Request(0),
              "GET /dir/file.txt HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts + ContentType + "\r\n");
    EXPECT_EQ(http.Body, "hello");
    EXPECT_EQ(http.ReplyCode, 200);
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\n");
}

TEST_F(HttpTest, ThroughAProxyTheRequestNamesTheWholeUrl)
{
    ScriptedServer proxy(Script { { Ok("via proxy") } });
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.Port();
    http.Get("http://origin.example/x");
    EXPECT_EQ(proxy.Request(0),
              "GET http://origin.example/x HTTP/1.0\r\nProxy-Connection: Keep-Alive\r\n"
              "Host: origin.example\r\n"
                  + Accepts + ContentType + "\r\n");
    EXPECT_EQ(http.Body, "via proxy");
}

TEST_F(HttpTest, HeaderInfoValuesAndBasicCredentials)
{
    ScriptedServer server(Script { { Ok("") } });
    http.HeaderInfo = { "me@example.org", "TIRMO test", "a=1", "http://ref/", "user", "pass" };
    http.Get(server.Url("/"));
    EXPECT_EQ(server.Request(0),
              "GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts
                  + "User-Agent: TIRMO test\r\nFrom: me@example.org\r\nCookie: a=1\r\n"
                    "Referer: http://ref/\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"
                  + ContentType + "\r\n");
}

TEST_F(HttpTest, LongCredentialsGiveOneBasicValue)
{
    ScriptedServer server(Script { { Ok("") } });
    http.HeaderInfo.UserId = std::string(40, 'u');
    http.HeaderInfo.Password = std::string(40, 'p') + "\r\nX: y";
    http.Get(server.Url("/"));
    const std::string request = server.Request(0);
    const size_t start = request.find("Authorization: Basic ") + 21;
    const size_t end = request.find("\r\n", start);
    ASSERT_NE(start, std::string::npos + 21);
    EXPECT_EQ(QByteArray::fromBase64(QByteArray::fromStdString(request.substr(start, end - start)))
                  .toStdString(),
              http.HeaderInfo.UserId + ":" + http.HeaderInfo.Password);
    EXPECT_EQ(request.substr(end, 2 + ContentType.size()), "\r\n" + ContentType);
}

TEST_F(HttpTest, RequestsWithBodiesAndDestinations)
{
    struct Case {
        std::function<void(TNMHTTP &, const std::string &url)> call;
        std::string expected; // request line, then what follows the Content-type line
    } cases[] = {
        { [](TNMHTTP &h, const std::string &u) { h.Options(u); }, "OPTIONS /r HTTP/1.0|" },
        { [](TNMHTTP &h, const std::string &u) { h.Head(u); }, "HEAD /r HTTP/1.0|" },
        { [](TNMHTTP &h, const std::string &u) { h.Delete(u); }, "DELETE /r HTTP/1.0|" },
        { [](TNMHTTP &h, const std::string &u) { h.Post(u, "a b&c=\xe9"); },
          "POST /r HTTP/1.0|Content-Length: 13\r\n\r\na+b%26c%3D%E9" },
        { [](TNMHTTP &h, const std::string &u) { h.Put(u, std::string("x\0y", 3)); },
          "PUT /r HTTP/1.0|Content-Length: 3\r\n\r\n" + std::string("x\0y", 3) },
        { [](TNMHTTP &h, const std::string &u) { h.Patch(u, "p"); },
          "PATCH /r HTTP/1.0|Content-Length: 1\r\n\r\np" },
        { [](TNMHTTP &h, const std::string &u) { h.Trace(u, ""); },
          "TRACE /r HTTP/1.0|Content-Length: 0\r\n\r\n" },
        { [](TNMHTTP &h, const std::string &u) { h.Wrapped(u, "wrap"); },
          "WRAPPED /r HTTP/1.0|Content-Length: 4\r\n\r\nwrap" },
        { [](TNMHTTP &h, const std::string &u) { h.Copy(u, "http://d/c"); },
          "COPY /r HTTP/1.0|URI-header: http://d/c\r\n\r\n" },
        { [](TNMHTTP &h, const std::string &u) { h.Move(u, "http://d/m"); },
          "MOVE /r HTTP/1.0|URI-header: http://d/m\r\n\r\n" },
        { [](TNMHTTP &h, const std::string &u) { h.Link(u, "http://d/l"); },
          "LINK /r HTTP/1.0|Link: http://d/l\r\nContent-Length: 0\r\n\r\n" },
        { [](TNMHTTP &h, const std::string &u) { h.UnLink(u, "http://d/u"); },
          "UNLINK /r HTTP/1.0|Link: http://d/u\r\nContent-Length: 0\r\n\r\n" },
    };
    ScriptedServer server(Script { { Ok("") } });
    int i = 0;
    for (const Case &c : cases) {
        c.call(http, server.Url("/r"));
        const size_t bar = c.expected.find('|');
        const std::string head = c.expected.substr(0, bar);
        std::string tail = c.expected.substr(bar + 1);
        if (tail.empty())
            tail = "\r\n";
        EXPECT_EQ(server.Request(i++),
                  head + "\r\nHost: 127.0.0.1\r\n" + Accepts + ContentType + tail)
            << head;
    }
}

TEST_F(HttpTest, PostFromAFileAndHeaderIntoAFile)
{
    ScriptedServer server(Script { { Ok("body") } });
    const std::string data = TempPath("send.dat"), header = TempPath("head.txt");
    WriteFileBytes(data, std::string("raw a b\0", 8));
    http.OutputFileMode = true;
    http.Header = header;
    http.Post(server.Url("/p"), data);
    EXPECT_EQ(server.Request(0),
              "POST /p HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts + ContentType
                  + "Content-Length: 8\r\n\r\n" + std::string("raw a b\0", 8));
    EXPECT_EQ(ReadFileBytes(header), "HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n");
    EXPECT_EQ(http.Header, header);
    EXPECT_EQ(http.Body, "body");
}

TEST_F(HttpTest, FileBodyFromPythonHttpServer)
{
    QTemporaryDir site;
    std::string content;
    for (int i = 0; i < 300000; ++i)
        content += char('a' + i % 26);
    WriteFileBytes(site.filePath("big.cdl").toStdString(), content);
    WriteFileBytes(site.filePath("small.txt").toStdString(), "small");
    PythonPeer server(
        { "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", site.path() },
        QRegularExpression("port (\\d+)"));

    std::vector<std::pair<int64_t, int64_t>> packets;
    std::vector<CmdType> results;
    std::vector<std::string> statuses;
    http.OnPacketRecvd
        = [&](QObject *) { packets.emplace_back(http.ReceivedBytes, http.TotalBytes); };
    http.OnSuccess = [&](CmdType cmd) { results.push_back(cmd); };
    http.OnStatus = [&](QObject *, const std::string &text) { statuses.push_back(text); };
    http.ReportLevel = 2;
    http.InputFileMode = true;
    http.Body = TempPath("big.cdl");
    http.Get(server.Url("/big.cdl"));
    EXPECT_EQ(http.ReplyCode, 200);
    EXPECT_EQ(ReadFileBytes(http.Body), content);
    EXPECT_EQ(http.TotalBytes, 300000);
    EXPECT_EQ(http.ReceivedBytes, 300000);
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.back(), std::make_pair(int64_t(300000), int64_t(300000)));
    EXPECT_EQ(results, std::vector<CmdType> { CmdGET });
    EXPECT_EQ(statuses, std::vector<std::string> { "Transaction Completed" });
    EXPECT_EQ(http.Header.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
    EXPECT_EQ(http.Header.substr(http.Header.size() - 4), "\r\n\r\n");

    // 404: the error page lands in the body file, OnFailure fires, no exception.
    std::vector<CmdType> failures;
    http.OnFailure = [&](CmdType cmd) { failures.push_back(cmd); };
    http.Get(server.Url("/missing.cdl"));
    EXPECT_EQ(http.ReplyCode, 404);
    EXPECT_EQ(failures, std::vector<CmdType> { CmdGET });
    EXPECT_NE(ReadFileBytes(http.Body).find("404"), std::string::npos);

    http.InputFileMode = false;
    http.Get(server.Url("/small.txt"));
    EXPECT_EQ(http.Body, "small");
}

TEST_F(HttpTest, BodyLengthsFromTheReplyHeader)
{
    ScriptedServer server(Script {
        { "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nno length, read to the close" },
        { "HTTP/1.0 200 OK\r\nContent-Length: bytes=1234\r\n\r\n" + std::string(1234, 'b') },
        { "HTTP/1.0 200 OK\r\ncontent-length:3\r\n\r\nabcdef" },
    });
    http.Get(server.Url("/a"));
    EXPECT_EQ(http.Body, "no length, read to the close");
    EXPECT_EQ(http.TotalBytes, 0);
    http.Get(server.Url("/b"));
    EXPECT_EQ(http.TotalBytes, 1234);
    EXPECT_EQ(http.Body.size(), 1234u);
    // What follows the announced length is not body.
    http.Get(server.Url("/c"));
    EXPECT_EQ(http.Body, "abc");
    EXPECT_EQ(http.ReceivedBytes, 3);
}

TEST_F(HttpTest, AKeptAliveReplyEndsAtItsContentLength)
{
    ScriptedServer proxy(Script { { Ok("12345"), "hold" },
                                  { "HTTP/1.0 200 OK\r\nContent-Length: 999\r\n\r\n", "hold" } });
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.Port();
    http.InputFileMode = true;
    http.Body = TempPath("kept.txt");
    http.Get("http://origin.example/kept");
    EXPECT_EQ(ReadFileBytes(http.Body), "12345");
    // A HEAD reply has no body whatever its Content-Length says.
    http.Head("http://origin.example/kept");
    EXPECT_EQ(http.TotalBytes, 999);
    EXPECT_EQ(ReadFileBytes(http.Body), "");
}

TEST_F(HttpTest, RedirectsFollowLocationAndCarryTheCookie)
{
    ScriptedServer server(Script {
        { Redirect(302, "/next", "Set-Cookie: sid=abc\r\n") },
        { Redirect(301, "page.html") },
        { Ok("final") },
    });
    std::vector<int> redirects;
    http.OnRedirect = [&](bool &handled) {
        redirects.push_back(http.ReplyCode);
        EXPECT_FALSE(handled);
    };
    http.Get(server.Url("/start"));
    EXPECT_EQ(http.Body, "final");
    EXPECT_EQ(redirects, (std::vector<int> { 302, 301 }));
    EXPECT_EQ(server.Request(1),
              "GET /next HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts + "Cookie: sid=abc\r\n"
                  + ContentType + "\r\n");
    // A bare name goes to the root of the same server, port included.
    EXPECT_EQ(server.Request(2).substr(0, 26), "GET /page.html HTTP/1.0\r\nH");
    EXPECT_EQ(http.CurrentURL, server.Url("/page.html"));
    EXPECT_EQ(http.RedirectLocation, "page.html");
}

TEST_F(HttpTest, CredentialsAndCookiesStayWithTheirHost)
{
    ScriptedServer other(Script { { Ok("elsewhere") } });
    ScriptedServer first(
        Script { { Redirect(301, other.Url("/new", "localhost"), "Set-Cookie: s=1\r\n") } });
    http.HeaderInfo.UserId = "user";
    http.HeaderInfo.Password = "pass";
    http.HeaderInfo.Cookie = "mine=0";
    http.Get(first.Url("/old"));
    EXPECT_NE(first.Request(0).find("Authorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
    EXPECT_NE(first.Request(0).find("Cookie: mine=0\r\n"), std::string::npos);
    EXPECT_EQ(other.Request(0),
              "GET /new HTTP/1.0\r\nHost: localhost\r\n" + Accepts + ContentType + "\r\n");
    EXPECT_EQ(http.Host, "localhost");
    EXPECT_EQ(http.Body, "elsewhere");
}

TEST_F(HttpTest, ARedirectLoopEndsAfterTwentyRequests)
{
    ScriptedServer server(Script { { Redirect(302, "/loop") } });
    const std::string error = ErrorOf([&] { http.Get(server.Url("/loop")); });
    EXPECT_NE(error.find("Too many redirects"), std::string::npos) << error;
    EXPECT_EQ(server.RequestCount(), TNMHTTP::MaxPasses);
}

TEST_F(HttpTest, HandledRedirectAndOtherStatusesEndTheRequest)
{
    ScriptedServer server(Script { { Redirect(302, "/elsewhere") },
                                   { "HTTP/1.0 304 Not Modified\r\n\r\n" },
                                   { "HTTP/1.0 302 Found\r\nContent-Length: 0\r\n\r\n" } });
    http.OnRedirect = [](bool &handled) { handled = true; };
    http.Get(server.Url("/a"));
    EXPECT_EQ(http.ReplyCode, 302);
    http.OnRedirect = nullptr;
    http.Get(server.Url("/b"));
    EXPECT_EQ(http.ReplyCode, 304);
    // No Location of its own: the older one is not asked for again.
    http.Get(server.Url("/c"));
    EXPECT_EQ(http.ReplyCode, 302);
    EXPECT_EQ(http.CurrentURL, server.Url("/c"));
    EXPECT_EQ(server.RequestCount(), 3);
}

TEST_F(HttpTest, SeeOtherAfterPostIsFetchedWithGet)
{
    ScriptedServer server(Script { { Redirect(303, "/result") }, { Ok("done") } });
    http.Post(server.Url("/form"), "x=1");
    EXPECT_EQ(server.Request(1).substr(0, 26), "GET /result HTTP/1.0\r\nHost");
    EXPECT_EQ(server.Request(1).find("Content-Length"), std::string::npos);
    EXPECT_EQ(http.Body, "done");
}

TEST_F(HttpTest, Unauthorized)
{
    ScriptedServer server(
        Script { { "HTTP/1.0 401 Unauthorized\r\nContent-Length: 6\r\n\r\ndenied" } });
    int asked = 0;
    std::vector<CmdType> failures;
    http.OnAuthenticationNeeded = [&](QObject *sender) { asked += sender == &http; };
    http.OnFailure = [&](CmdType cmd) { failures.push_back(cmd); };
    http.Get(server.Url("/secret"));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(failures, std::vector<CmdType> { CmdGET });
    EXPECT_EQ(http.Body, "denied");
}

TEST_F(HttpTest, BrokenRepliesEndWithAClearError)
{
    const std::string bigLine = "X-Big: " + std::string(1 << 20, 'a') + "\r\n";
    std::string manyLines = "HTTP/1.0 200 OK\r\n";
    for (int i = 0; i < 150; ++i)
        manyLines += "X-Line: " + std::to_string(i) + "\r\n";
    struct Case {
        Answer answer;
        std::string error;
    } cases[] = {
        { { "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789" },
          "Connection closed by 127.0.0.1:PORT after 10 of 100 bytes of the reply" },
        { { "HTTP/1.0 200 OK\r\nContent-Length: 9223372036854775808\r\n\r\nshort" },
          "Connection closed by 127.0.0.1:PORT after 5 of 9223372036854775807 bytes of the reply" },
        { { "SSH-2.0-OpenSSH_9.2\r\n\r\n" },
          "Not an HTTP reply from 127.0.0.1:PORT: \"SSH-2.0-OpenSSH_9.2..\"" },
        { { "" }, "Connection closed by 127.0.0.1:PORT before it replied" },
        { { "HTTP/1.0 200 OK\r\nServer: x\r\n" },
          "Connection closed by 127.0.0.1:PORT in the middle of the reply header" },
        { { "HTTP/1.0 200 OK\r\n" + bigLine + "\r\n" },
          "The reply from 127.0.0.1:PORT has a header line longer than 64 KiB" },
        { { manyLines + "\r\n" }, "The reply from 127.0.0.1:PORT has more than 100 header lines" },
        { { "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n" },
          "The reply from 127.0.0.1:PORT is sent with \"Transfer-Encoding: chunked\", which an "
          "HTTP/1.0 client can't read" },
    };
    for (const Case &c : cases) {
        ScriptedServer server(Script { c.answer });
        std::string expected = c.error;
        expected.replace(expected.find("PORT"), 4, std::to_string(server.Port()));
        http.InputFileMode = true;
        http.Body = TempPath("broken.bin");
        EXPECT_EQ(ErrorOf([&] { http.Get(server.Url("/")); }), expected);
    }
}

TEST_F(HttpTest, TruncatedBodyKeepsWhatArrived)
{
    ScriptedServer server(
        Script { { "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n0123456789" } });
    http.InputFileMode = true;
    http.Body = TempPath("part.bin");
    EXPECT_THROW(http.Get(server.Url("/")), ESockError);
    EXPECT_EQ(ReadFileBytes(http.Body), "0123456789");
    EXPECT_EQ(http.ReceivedBytes, 10);
    EXPECT_EQ(http.TotalBytes, 100);
}

// A body ends at its Content-Length or at an orderly close; a reset is no
// end, with or without a length.
TEST_F(HttpTest, AResetBodyIsAnError)
{
    for (const std::string &head :
         { std::string("HTTP/1.0 200 OK\r\n\r\n"),
           std::string("HTTP/1.0 200 OK\r\nContent-Length: 200000\r\n\r\n") }) {
        for (bool toFile : { true, false }) {
            SCOPED_TRACE(head + (toFile ? "file" : "string"));
            ScriptedServer server(Script { { head + std::string(100000, 'h'), "reset" } });
            http.InputFileMode = toFile;
            http.Body = TempPath("reset.bin");
            EXPECT_EQ(ErrorOf([&] { http.Get(server.Url("/")); }),
                      "10054:Connection reset by peer");
        }
    }
}

// A fetch's bound on the body: a longer one is refused before its body when
// it says so, and one byte past the bound when it doesn't.
TEST_F(HttpTest, FetchBoundsTheBody)
{
    struct Case {
        Answer answer;
        bool toFile;
        std::string error; // empty: the body arrives
        int64_t received;
    } cases[] = {
        { { Ok("12345") }, true, "", 5 },
        { { "HTTP/1.0 200 OK\r\n\r\n12345" }, false, "", 5 },
        { { Ok("123456") },
          true,
          "The reply from 127.0.0.1:PORT announces 6 bytes, more than the 5 accepted",
          0 },
        { { "HTTP/1.0 200 OK\r\n\r\n", "endless" },
          true,
          "The reply from 127.0.0.1:PORT goes on past 5 bytes, the most accepted",
          6 },
        { { "HTTP/1.0 200 OK\r\n\r\n", "endless" },
          false,
          "The reply from 127.0.0.1:PORT goes on past 5 bytes, the most accepted",
          6 },
    };
    for (const Case &c : cases) {
        ScriptedServer server(Script { c.answer });
        SCOPED_TRACE(c.answer.text);
        std::string expected = c.error;
        if (!expected.empty())
            expected.replace(expected.find("PORT"), 4, std::to_string(server.Port()));
        const std::string path = TempPath("bounded.bin");
        QFile file(QString::fromStdString(path));
        QBuffer buffer;
        QIODevice &body = c.toFile ? static_cast<QIODevice &>(file) : buffer;
        ASSERT_TRUE(body.open(QIODevice::WriteOnly));
        if (expected.empty()) {
            http.Fetch(server.Url("/"), body, 5);
            file.close();
            EXPECT_EQ(c.toFile ? ReadFileBytes(path) : buffer.data().toStdString(), "12345");
        } else {
            EXPECT_EQ(ErrorOf<EBodyTooLong>([&] { http.Fetch(server.Url("/"), body, 5); }),
                      expected);
        }
        EXPECT_EQ(http.ReceivedBytes, c.received);
    }
}

// What a fetch returns, and what a refused body tells besides its message.
TEST_F(HttpTest, FetchTellsTheReply)
{
    ScriptedServer server(Script { { "HTTP/1.0 404 Not Found\r\nContent-Length: 4\r\n\r\ngone" },
                                   { "HTTP/1.0 200 OK\r\n\r\nno length" },
                                   { "HTTP/1.0 404 Not Found\r\nContent-Length: 9\r\n\r\n" },
                                   { "HTTP/1.0 503 Busy\r\n\r\n", "endless" } });
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    const TFetchReply missing = http.Fetch(server.Url("/a"), body, 5);
    EXPECT_EQ(missing.Status, 404);
    EXPECT_EQ(missing.Announced, 4);
    EXPECT_EQ(missing.Received, 4);
    EXPECT_EQ(body.data().toStdString(), "gone");
    const TFetchReply unsized = http.Fetch(server.Url("/b"), body, 100);
    EXPECT_EQ(unsized.Status, 200);
    EXPECT_EQ(unsized.Announced, std::nullopt);
    EXPECT_EQ(unsized.Received, 9);
    for (const auto &[status, announced] :
         { std::pair<int, std::optional<int64_t>> { 404, 9 }, { 503, std::nullopt } }) {
        try {
            http.Fetch(server.Url("/c"), body, 5);
            ADD_FAILURE() << "no EBodyTooLong for " << status;
        } catch (const EBodyTooLong &e) {
            EXPECT_EQ(e.Status, status);
            EXPECT_EQ(e.Announced, announced);
        }
    }
}

TEST_F(HttpTest, AFetchWritesTheFinalReplyOnly)
{
    ScriptedServer server(
        Script { { Redirect(302, "/next") + "<html>moved</html>" }, { Ok("final body") } });
    QBuffer stream;
    stream.open(QIODevice::WriteOnly);
    http.Fetch(server.Url("/first"), stream, 1 << 20);
    EXPECT_EQ(stream.data().toStdString(), "final body");
    EXPECT_EQ(http.ReceivedBytes, 10);
    // A device that refuses a write ends the request with the reason.
    QBuffer closed;
    EXPECT_NE(ErrorOf<EInOutError>([&] {
                  http.Fetch(server.Url("/again"), closed, 1 << 20);
              }).find("Cannot write the reply from 127.0.0.1:"),
              std::string::npos);
}

TEST_F(HttpTest, ASilentServerIsEndedByAbortFromAHandler)
{
    ScriptedServer server(Script { { "", "silent" } });
    QTimer::singleShot(300, [this] { http.Abort(); });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(http.Get(server.Url("/")), EAbortError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    // The component is usable again.
    ScriptedServer next(Script { { Ok("again") } });
    http.Get(next.Url("/"));
    EXPECT_EQ(http.Body, "again");
}

TEST_F(HttpTest, LineBreaksNeverReachTheRequest)
{
    ScriptedServer server(Script { { Redirect(302, "/x\rSet-Cookie: evil=1") } });
    EXPECT_EQ(ErrorOf([&] { http.Get(server.Url("/a\r\nX-Injected: 1")); }),
              "Refused to send the request: its URL contains a line break or a zero byte");
    http.HeaderInfo.Referer = "http://r/\nX-Injected: 1";
    EXPECT_EQ(
        ErrorOf([&] { http.Get(server.Url("/")); }),
        "Refused to send the request: the Referer value contains a line break or a zero byte");
    http.HeaderInfo.Referer.clear();
    EXPECT_NE(ErrorOf([&] { http.Copy(server.Url("/"), "http://d/\r\nX: 1"); }).find("URI-header"),
              std::string::npos);
    EXPECT_EQ(server.RequestCount(), 0);
    // A Location with a line break is refused before the next request.
    EXPECT_NE(ErrorOf([&] { http.Get(server.Url("/")); }).find("its URL"), std::string::npos);
    EXPECT_EQ(server.RequestCount(), 1);
}

TEST_F(HttpTest, EmptyUrlAndRefusedConnection)
{
    EXPECT_EQ(ErrorOf([&] { http.Get(""); }), "Empty URL");
    int port;
    {
        ScriptedServer gone(Script { { Ok("") } });
        port = gone.Port();
    }
    EXPECT_EQ(ErrorOf([&] { http.Get("http://127.0.0.1:" + std::to_string(port) + "/"); }),
              "Connection Failed");
}
