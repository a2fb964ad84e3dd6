#pragma once

// Windows Sockets 1.1 over POSIX sockets: the same call names, the same
// error numbers (10035 would-block, 10057 not connected, ...) and the same
// asynchronous notifications, delivered as messages to a hidden window on
// the thread that owns it.
//
// Notifications are only ever delivered from the event loop (between two
// passes of a wait that pumps messages), never from inside a call of this
// layer. Every socket and window must be registered from the thread the
// window lives in; send and recv may be called from any thread.

#include <QObject>

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdint>
#include <functional>

namespace Winsock {

using SOCKET = unsigned int;
using HANDLE = unsigned int;
inline constexpr SOCKET INVALID_SOCKET = ~0u;
inline constexpr int SOCKET_ERROR = -1;

// Error numbers. The socket errors lie above WSABASEERR.
inline constexpr int WSABASEERR = 10000;
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAEINPROGRESS = 10036;
inline constexpr int WSAEALREADY = 10037;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEDESTADDRREQ = 10039;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTOTYPE = 10041;
inline constexpr int WSAENOPROTOOPT = 10042;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEPFNOSUPPORT = 10046;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAENETUNREACH = 10051;
inline constexpr int WSAENETRESET = 10052;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAECONNRESET = 10054;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAEISCONN = 10056;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSAETOOMANYREFS = 10059;
inline constexpr int WSAETIMEDOUT = 10060;
inline constexpr int WSAECONNREFUSED = 10061;
inline constexpr int WSAELOOP = 10062;
inline constexpr int WSAENAMETOOLONG = 10063;
inline constexpr int WSAEHOSTDOWN = 10064;
inline constexpr int WSAEHOSTUNREACH = 10065;
inline constexpr int WSAENOTEMPTY = 10066;
inline constexpr int WSAEPROCLIM = 10067;
inline constexpr int WSAEUSERS = 10068;
inline constexpr int WSAEDQUOT = 10069;
inline constexpr int WSAESTALE = 10070;
inline constexpr int WSAEREMOTE = 10071;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSASYSCALLFAILURE = 10107;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// Notification events (low word of a notification's lParam).
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

// Option level and name as Winsock numbers them; the linger record is
// Winsock's 4-byte one.
inline constexpr int WS_SOL_SOCKET = 0xFFFF;
inline constexpr int WS_SO_LINGER = 0x80;
struct WSLinger {
    std::uint16_t l_onoff;
    std::uint16_t l_linger;
};

struct WSADATA {
    std::uint16_t wVersion;
    std::uint16_t wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    std::uint16_t iMaxSockets;
    std::uint16_t iMaxUdpDg;
    char *lpVendorInfo;
};

constexpr std::intptr_t WSAMAKESELECTREPLY(int event, int error)
{
    return std::intptr_t((std::uint32_t(error & 0xFFFF) << 16) | std::uint32_t(event & 0xFFFF));
}
constexpr int WSAGETSELECTEVENT(std::intptr_t lParam)
{
    return int(lParam & 0xFFFF);
}
constexpr int WSAGETSELECTERROR(std::intptr_t lParam)
{
    return int((lParam >> 16) & 0xFFFF);
}

// A window message as the hidden window's procedure receives it.
struct TMessage {
    unsigned Msg = 0;
    std::uintptr_t WParam = 0;
    std::intptr_t LParam = 0;
    std::intptr_t Result = 0;
};

// The hidden window: every message given to it goes to WndProc on the
// window's thread. Without a WndProc messages are dropped.
class TMessageWindow : public QObject {
public:
    explicit TMessageWindow(QObject *parent = nullptr) : QObject(parent) { }
    std::function<void(TMessage &)> WndProc;

    // Calls WndProc at once; the caller must be on the window's thread.
    void SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam);
};
using HWND = TMessageWindow *;

int WSAStartup(std::uint16_t versionRequested, WSADATA *data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// The Winsock number of a POSIX errno value.
int ErrorFromErrno(int err);

SOCKET socket(int af, int type, int protocol);
int setsockopt(SOCKET s, int level, int optname, const void *optval, int optlen);
int closesocket(SOCKET s);

// A registered (non-blocking) socket whose connection is under way reports
// would-block; the outcome arrives as FD_CONNECT with its error word. After
// a failed attempt the same socket may connect again.
int connect(SOCKET s, const sockaddr *name, int namelen);
// Never raises SIGPIPE; a closed peer is an error like any other.
int send(SOCKET s, const char *buf, int len, int flags);
// Flags 0 or MSG_PEEK. Every call re-enables FD_READ.
int recv(SOCKET s, char *buf, int len, int flags);

int bind(SOCKET s, const sockaddr *name, int namelen);
int listen(SOCKET s, int backlog);
// The new socket is non-blocking; FD_ACCEPT is re-enabled.
SOCKET accept(SOCKET s, sockaddr *addr, int *addrlen);
int getsockname(SOCKET s, sockaddr *name, int *namelen);

// Not Winsock: blocks the calling thread, without pumping messages, until
// the socket is writable (or readable) or `timeoutMs` has passed (-1: no
// limit). For loops that must not be interrupted, and for threads without
// an event loop.
bool WaitForSocket(SOCKET s, bool forWrite, int timeoutMs);

// Not Winsock: true when the peer has closed its side of the connection,
// also while bytes it sent are still pending. Does not wait.
bool PeerHasClosed(SOCKET s);

// Makes the socket non-blocking and delivers the events of `events` to
// `window` as message `msg` (wParam the socket, lParam the event and error).
// A mask of 0 with no window cancels the notifications.
int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events);

// Looks the name up off the calling thread. The completion arrives as `msg`
// (wParam the handle, error in the high word of lParam) with a hostent laid
// out in `buf`. A cancelled lookup, or one whose window is gone, delivers
// nothing and never touches `buf`. Returns 0 on failure.
HANDLE WSAAsyncGetHostByName(HWND window, unsigned msg, const char *name, char *buf, int buflen);
int WSACancelAsyncRequest(HANDLE task);

unsigned long inet_addr(const char *cp);
char *inet_ntoa(in_addr in);
int gethostname(char *name, int namelen);
// IPv4 entries only; the result lives until the thread's next call.
hostent *gethostbyname(const char *name);

} // namespace Winsock
