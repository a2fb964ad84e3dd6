// The HTTP client's reply reader, through the real sockets: a loopback peer
// answers each request with the input's bytes (after the first) and closes.
// The first byte picks HEAD instead of GET (bit 0), the body into a file
// (bit 1) and the header into a file (bit 2). Redirects are never followed:
// a fuzzed Location must not send the client anywhere. Every failure must be
// one of the program's exceptions; a reply read whole must come back as the
// header the peer sent and a prefix of the rest as the body.
#include "fuzz/FuzzSupport.h"
#include "net/Nmhttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

namespace {

// A blocking peer on its own thread: reads a request header, sends the
// current reply, closes its side and drains the client's until it closes.
class TReplyPeer {
public:
    TReplyPeer()
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            FuzzFail("cannot listen on 127.0.0.1");
        m_port = ntohs(address.sin_port);
        std::thread([this] { Serve(); }).detach();
    }

    int Port() const { return m_port; }

    void SetReply(std::string reply)
    {
        std::lock_guard lock(m_mutex);
        m_reply = std::move(reply);
    }

private:
    void Serve()
    {
        for (;;) {
            const int peer = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                continue;
            std::string reply;
            {
                std::lock_guard lock(m_mutex);
                reply = m_reply;
            }
            std::string request;
            while (request.find("\r\n\r\n") == std::string::npos && Receive(peer, request)) { }
            for (size_t sent = 0; sent < reply.size();) {
                const ssize_t n
                    = ::send(peer, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
                if (n <= 0)
                    break;
                sent += size_t(n);
            }
            ::shutdown(peer, SHUT_WR);
            while (Receive(peer, request)) { }
            ::close(peer);
        }
    }

    // False at the client's close, an error or five silent seconds.
    static bool Receive(int fd, std::string &into)
    {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 5000) != 1)
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        into.append(buffer, size_t(n));
        return true;
    }

    int m_listener = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::string m_reply;
};

std::string FileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// The peer's header as the client must keep it: lines up to a blank one.
size_t HeaderEnd(const std::string &reply)
{
    for (size_t start = 0; start < reply.size();) {
        const size_t end = reply.find('\n', start);
        if (end == std::string::npos)
            break;
        const std::string line = reply.substr(start, end + 1 - start);
        start = end + 1;
        if (line == "\n" || line == "\r\n")
            return start;
    }
    return std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    static TReplyPeer peer;
    static const TScratchDir dir;
    const bool head = data[0] & 1, bodyToFile = data[0] & 2, headerToFile = data[0] & 4;
    const std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);
    peer.SetReply(reply);

    TNMHTTP http;
    http.InputFileMode = bodyToFile;
    http.OutputFileMode = headerToFile;
    http.Body = dir.Path("body");
    http.Header = dir.Path("header");
    http.OnRedirect = [](bool &handled) { handled = true; };
    const std::string url
        = "http://127.0.0.1:" + std::to_string(peer.Port()) + "/tirmo/version.ini";
    try {
        head ? http.Head(url) : http.Get(url);
    } catch (const Exception &) {
        return 0; // reported to the user as the program's own error
    }
    const std::string header = headerToFile ? FileBytes(http.Header) : http.Header;
    const std::string body = bodyToFile ? FileBytes(http.Body) : http.Body;
    const size_t headerEnd = HeaderEnd(reply);
    FUZZ_CHECK(headerEnd != std::string::npos, "a reply without a whole header was taken");
    FUZZ_CHECK(header == reply.substr(0, headerEnd), "header differs from the peer's");
    FUZZ_CHECK(reply.compare(headerEnd, body.size(), body) == 0, "body is not what the peer sent");
    FUZZ_CHECK(!head || body.empty(), "a body for HEAD");
    FUZZ_CHECK(http.ReplyCode >= 0 && http.ReplyCode <= 999, std::to_string(http.ReplyCode));
    return 0;
}
