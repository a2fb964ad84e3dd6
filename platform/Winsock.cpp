#include "platform/Winsock.h"

#include "platform/Application.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace Winsock {

namespace {

thread_local int t_lastError = 0;

int Fail(int wsaError)
{
    t_lastError = wsaError;
    return SOCKET_ERROR;
}

int FailErrno()
{
    return Fail(ErrorFromErrno(errno));
}

bool OnMainThread()
{
    auto *app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

// Runs `f` on the GUI thread from the event loop.
template<typename F> void Queue(F f)
{
    if (auto *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
}

// The asynchronous selection of one socket. Notifiers live on the GUI
// thread; the flags are guarded by the registry's mutex.
struct Registration {
    enum State { Idle, Connecting, Connected, Listening };

    int fd = -1;
    std::uint64_t serial = 0;
    QPointer<TMessageWindow> window;
    unsigned msg = 0;
    long mask = 0;
    State state = Idle;
    bool readArmed = true; // FD_READ may be posted
    bool acceptArmed = true; // FD_ACCEPT may be posted
    bool closeSeen = false; // FD_CLOSE posted (or the connection failed)
    bool wantWrite = false; // a send would block: wake the loop when it can go on
    std::unique_ptr<QSocketNotifier> readNotifier;
    std::unique_ptr<QSocketNotifier> writeNotifier;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<int, std::unique_ptr<Registration>> sockets;
    std::uint64_t nextSerial = 0;
};

// Never destroyed: lookup threads may still finish while the process exits.
Registry &Sockets()
{
    static auto *registry = new Registry;
    return *registry;
}

Registration *Find(int fd)
{
    auto &sockets = Sockets().sockets;
    auto it = sockets.find(fd);
    return it == sockets.end() ? nullptr : it->second.get();
}

void Post(const Registration &reg, int event, int error)
{
    const int fd = reg.fd;
    const std::uint64_t serial = reg.serial;
    QPointer<TMessageWindow> window = reg.window;
    const unsigned msg = reg.msg;
    Queue([fd, serial, window, msg, event, error] {
        {
            std::lock_guard lock(Sockets().mutex);
            Registration *now = Find(fd);
            if (!now || now->serial != serial)
                return; // closed or registered anew since: stale
        }
        if (window)
            window->SendMessage(msg, std::uintptr_t(fd), WSAMAKESELECTREPLY(int(event), error));
    });
}

void OnReadable(int fd);
void OnWritable(int fd);

// Brings the notifiers in line with the flags. GUI thread, lock held.
void UpdateNotifiers(Registration &reg)
{
    const bool wantRead = (reg.state == Registration::Connected && !reg.closeSeen && reg.readArmed)
        || (reg.state == Registration::Listening && reg.acceptArmed);
    const bool wantWrite = reg.state == Registration::Connecting
        || (reg.state == Registration::Connected && reg.wantWrite && !reg.closeSeen);
    if (wantRead && !reg.readNotifier) {
        reg.readNotifier = std::make_unique<QSocketNotifier>(reg.fd, QSocketNotifier::Read);
        const int fd = reg.fd;
        QObject::connect(reg.readNotifier.get(), &QSocketNotifier::activated,
                         [fd] { OnReadable(fd); });
    }
    if (wantWrite && !reg.writeNotifier) {
        reg.writeNotifier = std::make_unique<QSocketNotifier>(reg.fd, QSocketNotifier::Write);
        const int fd = reg.fd;
        QObject::connect(reg.writeNotifier.get(), &QSocketNotifier::activated,
                         [fd] { OnWritable(fd); });
    }
    if (reg.readNotifier)
        reg.readNotifier->setEnabled(wantRead);
    if (reg.writeNotifier)
        reg.writeNotifier->setEnabled(wantWrite);
}

// Updates the notifiers now on the GUI thread, or later from another one.
// Lock held.
void Refresh(Registration &reg)
{
    if (OnMainThread()) {
        UpdateNotifiers(reg);
        return;
    }
    const int fd = reg.fd;
    const std::uint64_t serial = reg.serial;
    Queue([fd, serial] {
        std::lock_guard lock(Sockets().mutex);
        Registration *now = Find(fd);
        if (now && now->serial == serial)
            UpdateNotifiers(*now);
    });
}

void OnReadable(int fd)
{
    std::lock_guard lock(Sockets().mutex);
    Registration *reg = Find(fd);
    if (!reg)
        return;
    if (reg->state == Registration::Listening) {
        reg->acceptArmed = false;
        if (reg->mask & FD_ACCEPT)
            Post(*reg, FD_ACCEPT, 0);
    } else if (reg->state == Registration::Connected) {
        char probe;
        const ssize_t n = ::recv(fd, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
        if (n > 0) {
            reg->readArmed = false;
            if (reg->mask & FD_READ)
                Post(*reg, FD_READ, 0);
        } else if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            const int error = n == 0 ? 0 : ErrorFromErrno(errno);
            reg->closeSeen = true;
            if (reg->mask & FD_CLOSE)
                Post(*reg, FD_CLOSE, error);
        }
    }
    UpdateNotifiers(*reg);
}

void OnWritable(int fd)
{
    std::lock_guard lock(Sockets().mutex);
    Registration *reg = Find(fd);
    if (!reg)
        return;
    if (reg->state == Registration::Connecting) {
        int err = 0;
        socklen_t len = sizeof err;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        reg->state = err == 0 ? Registration::Connected : Registration::Idle;
        if (reg->mask & FD_CONNECT)
            Post(*reg, FD_CONNECT, err == 0 ? 0 : ErrorFromErrno(err));
    } else if (reg->wantWrite) {
        reg->wantWrite = false;
        if (reg->mask & FD_WRITE)
            Post(*reg, FD_WRITE, 0);
    }
    UpdateNotifiers(*reg);
}

// Errors that end a connection attempt: Winsock reports them through
// FD_CONNECT, never from connect itself.
bool IsConnectOutcome(int err)
{
    switch (err) {
    case ECONNREFUSED:
    case ETIMEDOUT:
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ECONNRESET:
        return true;
    default:
        return false;
    }
}

// --- name lookup ---

struct LookupTask {
    HANDLE handle = 0;
    QPointer<TMessageWindow> window;
    unsigned msg = 0;
    std::string name;
    char *buf = nullptr;
    int buflen = 0;
};

struct Lookups {
    std::mutex mutex;
    std::unordered_map<HANDLE, std::shared_ptr<LookupTask>> pending;
    HANDLE next = 0;
};

Lookups &PendingLookups()
{
    static auto *lookups = new Lookups;
    return *lookups;
}

int LookupError(int eai)
{
    switch (eai) {
    case EAI_NONAME:
        return WSAHOST_NOT_FOUND;
    case EAI_AGAIN:
        return WSATRY_AGAIN;
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return WSANO_DATA;
    default:
        return WSANO_RECOVERY;
    }
}

// The IPv4 addresses of a name, or a Winsock error.
int Resolve(const std::string &name, std::vector<in_addr> &addresses)
{
    addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0)
        return LookupError(rc);
    for (addrinfo *a = list; a; a = a->ai_next)
        addresses.push_back(reinterpret_cast<sockaddr_in *>(a->ai_addr)->sin_addr);
    ::freeaddrinfo(list);
    return addresses.empty() ? WSANO_DATA : 0;
}

// Lays a hostent out in `buf`: the record, the address pointers, the
// addresses and the name. Returns the bytes used, or 0 when even one
// address does not fit.
int LayOutHostEntry(const std::string &name, const std::vector<in_addr> &addresses, char *buf,
                    int buflen)
{
    const std::size_t fixed = sizeof(hostent) + sizeof(char *); // record + empty alias list
    const std::size_t perAddress = sizeof(char *) + sizeof(in_addr);
    const std::size_t nameSize = name.size() + 1;
    if (std::size_t(buflen) < fixed + sizeof(char *) + perAddress + nameSize)
        return 0;
    const std::size_t room = (std::size_t(buflen) - fixed - sizeof(char *) - nameSize) / perAddress;
    const std::size_t count = std::min(room, addresses.size());

    auto *entry = reinterpret_cast<hostent *>(buf);
    auto **aliases = reinterpret_cast<char **>(buf + sizeof(hostent));
    auto **list = aliases + 1;
    auto *addrs = reinterpret_cast<char *>(list + count + 1);
    char *nameCopy = addrs + count * sizeof(in_addr);
    aliases[0] = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(addrs + i * sizeof(in_addr), &addresses[i], sizeof(in_addr));
        list[i] = addrs + i * sizeof(in_addr);
    }
    list[count] = nullptr;
    std::memcpy(nameCopy, name.c_str(), nameSize);
    entry->h_name = nameCopy;
    entry->h_aliases = aliases;
    entry->h_addrtype = AF_INET;
    entry->h_length = sizeof(in_addr);
    entry->h_addr_list = list;
    return int(nameCopy + nameSize - buf);
}

// GUI thread: delivers a finished lookup unless it was given up on.
void CompleteLookup(HANDLE handle, int error, const std::vector<in_addr> &addresses)
{
    std::shared_ptr<LookupTask> task;
    {
        auto &lookups = PendingLookups();
        std::lock_guard lock(lookups.mutex);
        auto it = lookups.pending.find(handle);
        if (it == lookups.pending.end())
            return; // cancelled
        task = it->second;
        lookups.pending.erase(it);
    }
    if (!task->window)
        return;
    int used = 0;
    if (error == 0) {
        used = LayOutHostEntry(task->name, addresses, task->buf, task->buflen);
        if (used == 0)
            error = WSAENOBUFS;
    }
    task->window->SendMessage(task->msg, handle, WSAMAKESELECTREPLY(used, error));
}

} // namespace

void TMessageWindow::SendMessage(unsigned msg, std::uintptr_t wParam, std::intptr_t lParam)
{
    if (!WndProc)
        return;
    TMessage message { msg, wParam, lParam, 0 };
    try {
        WndProc(message);
    } catch (...) {
        HandleException(std::current_exception());
    }
}

int ErrorFromErrno(int err)
{
    switch (err) {
    case 0:
        return 0;
    case EINTR:
        return WSAEINTR;
    case EBADF:
        return WSAENOTSOCK;
    case EACCES:
    case EPERM:
        return WSAEACCES;
    case EFAULT:
        return WSAEFAULT;
    case EINVAL:
        return WSAEINVAL;
    case EMFILE:
    case ENFILE:
        return WSAEMFILE;
#if EAGAIN != EWOULDBLOCK
    case EWOULDBLOCK:
#endif
    case EAGAIN:
        return WSAEWOULDBLOCK;
    case EINPROGRESS:
        return WSAEINPROGRESS;
    case EALREADY:
        return WSAEALREADY;
    case ENOTSOCK:
        return WSAENOTSOCK;
    case EDESTADDRREQ:
        return WSAEDESTADDRREQ;
    case EMSGSIZE:
        return WSAEMSGSIZE;
    case EPROTOTYPE:
        return WSAEPROTOTYPE;
    case ENOPROTOOPT:
        return WSAENOPROTOOPT;
    case EPROTONOSUPPORT:
        return WSAEPROTONOSUPPORT;
    case ESOCKTNOSUPPORT:
        return WSAESOCKTNOSUPPORT;
    case EOPNOTSUPP:
        return WSAEOPNOTSUPP;
    case EPFNOSUPPORT:
        return WSAEPFNOSUPPORT;
    case EAFNOSUPPORT:
        return WSAEAFNOSUPPORT;
    case EADDRINUSE:
        return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
        return WSAEADDRNOTAVAIL;
    case ENETDOWN:
        return WSAENETDOWN;
    case ENETUNREACH:
        return WSAENETUNREACH;
    case ENETRESET:
        return WSAENETRESET;
    case ECONNABORTED:
        return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE:
        return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM:
        return WSAENOBUFS;
    case EISCONN:
        return WSAEISCONN;
    case ENOTCONN:
        return WSAENOTCONN;
    case ESHUTDOWN:
        return WSAESHUTDOWN;
    case ETOOMANYREFS:
        return WSAETOOMANYREFS;
    case ETIMEDOUT:
        return WSAETIMEDOUT;
    case ECONNREFUSED:
        return WSAECONNREFUSED;
    case ELOOP:
        return WSAELOOP;
    case ENAMETOOLONG:
        return WSAENAMETOOLONG;
    case EHOSTDOWN:
        return WSAEHOSTDOWN;
    case EHOSTUNREACH:
        return WSAEHOSTUNREACH;
    case ENOTEMPTY:
        return WSAENOTEMPTY;
    case EUSERS:
        return WSAEUSERS;
    case EDQUOT:
        return WSAEDQUOT;
    case ESTALE:
        return WSAESTALE;
    case EREMOTE:
        return WSAEREMOTE;
    default:
        return WSASYSCALLFAILURE;
    }
}

int WSAStartup(std::uint16_t versionRequested, WSADATA *data)
{
    if (!data)
        return WSAEFAULT;
    std::memset(data, 0, sizeof *data);
    data->wVersion = versionRequested < 0x0101 ? versionRequested : 0x0101;
    data->wHighVersion = 0x0101;
    std::strcpy(data->szDescription, "TIRMO sockets over POSIX");
    std::strcpy(data->szSystemStatus, "Running");
    rlimit files {};
    ::getrlimit(RLIMIT_NOFILE, &files);
    data->iMaxSockets = std::uint16_t(std::min<rlim_t>(files.rlim_cur, 0xFFFF));
    data->iMaxUdpDg = 65467;
    return 0;
}

int WSACleanup()
{
    return 0;
}

int WSAGetLastError()
{
    return t_lastError;
}

void WSASetLastError(int error)
{
    t_lastError = error;
}

SOCKET socket(int af, int type, int protocol)
{
    const int fd = ::socket(af, type | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return INVALID_SOCKET;
    }
    return SOCKET(fd);
}

int setsockopt(SOCKET s, int level, int optname, const void *optval, int optlen)
{
    if (level != WS_SOL_SOCKET || optname != WS_SO_LINGER)
        return Fail(WSAENOPROTOOPT);
    if (!optval || optlen < int(sizeof(WSLinger)))
        return Fail(WSAEFAULT);
    WSLinger ws;
    std::memcpy(&ws, optval, sizeof ws);
    const linger native { ws.l_onoff ? 1 : 0, ws.l_linger };
    if (::setsockopt(int(s), SOL_SOCKET, SO_LINGER, &native, sizeof native) != 0)
        return FailErrno();
    return 0;
}

int closesocket(SOCKET s)
{
    const int fd = int(s);
    std::unique_ptr<Registration> reg;
    {
        std::lock_guard lock(Sockets().mutex);
        auto &sockets = Sockets().sockets;
        auto it = sockets.find(fd);
        if (it != sockets.end()) {
            reg = std::move(it->second);
            sockets.erase(it);
        }
    }
    if (reg && !OnMainThread()) {
        // The notifiers must be gone before the descriptor can be reused:
        // close it on the GUI thread, after them.
        ::shutdown(fd, SHUT_RDWR);
        Queue([r = std::shared_ptr<Registration>(std::move(reg)), fd]() mutable {
            r.reset();
            ::close(fd);
        });
        return 0;
    }
    reg.reset();
    if (::close(fd) != 0)
        return FailErrno();
    return 0;
}

int connect(SOCKET s, const sockaddr *name, int namelen)
{
    const int fd = int(s);
    int rc = ::connect(fd, name, socklen_t(namelen));
    int err = errno;
    if (rc != 0 && err == ECONNABORTED) {
        // After a failed non-blocking attempt Linux still counts the socket
        // as connecting, and the next call only ends that state. Winsock lets
        // the caller simply try again: so the attempt is made now.
        rc = ::connect(fd, name, socklen_t(namelen));
        err = errno;
    }
    std::lock_guard lock(Sockets().mutex);
    Registration *reg = Find(fd);
    if (rc == 0) {
        if (reg) {
            reg->state = Registration::Connected;
            Refresh(*reg);
            if (reg->mask & FD_CONNECT)
                Post(*reg, FD_CONNECT, 0);
        }
        return 0;
    }
    if (err == EINPROGRESS) {
        if (reg) {
            reg->state = Registration::Connecting;
            Refresh(*reg);
        }
        return Fail(WSAEWOULDBLOCK);
    }
    if (reg && IsConnectOutcome(err)) {
        reg->state = Registration::Idle;
        if (reg->mask & FD_CONNECT)
            Post(*reg, FD_CONNECT, ErrorFromErrno(err));
        return Fail(WSAEWOULDBLOCK);
    }
    return Fail(ErrorFromErrno(err));
}

int send(SOCKET s, const char *buf, int len, int flags)
{
    const int fd = int(s);
    const ssize_t n = ::send(fd, buf, std::size_t(len), flags | MSG_NOSIGNAL);
    if (n >= 0)
        return int(n);
    int err = errno;
    if (err == EAGAIN || err == EWOULDBLOCK) {
        std::lock_guard lock(Sockets().mutex);
        if (Registration *reg = Find(fd); reg && !reg->wantWrite) {
            reg->wantWrite = true;
            Refresh(*reg);
        }
    } else if (err == EPIPE) {
        // Linux answers EPIPE also on a socket that never connected.
        sockaddr_in peer {};
        socklen_t plen = sizeof peer;
        if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &plen) != 0
            && errno == ENOTCONN) {
            std::lock_guard lock(Sockets().mutex);
            Registration *reg = Find(fd);
            if (!reg || reg->state != Registration::Connected)
                err = ENOTCONN;
        }
    }
    return Fail(ErrorFromErrno(err));
}

int recv(SOCKET s, char *buf, int len, int flags)
{
    const int fd = int(s);
    const ssize_t n = ::recv(fd, buf, std::size_t(len), flags);
    const int err = errno;
    {
        std::lock_guard lock(Sockets().mutex);
        if (Registration *reg = Find(fd); reg && !reg->readArmed) {
            reg->readArmed = true;
            Refresh(*reg);
        }
    }
    if (n >= 0)
        return int(n);
    return Fail(ErrorFromErrno(err));
}

int bind(SOCKET s, const sockaddr *name, int namelen)
{
    if (::bind(int(s), name, socklen_t(namelen)) != 0)
        return FailErrno();
    return 0;
}

int listen(SOCKET s, int backlog)
{
    if (::listen(int(s), backlog) != 0)
        return FailErrno();
    std::lock_guard lock(Sockets().mutex);
    if (Registration *reg = Find(int(s))) {
        reg->state = Registration::Listening;
        Refresh(*reg);
    }
    return 0;
}

SOCKET accept(SOCKET s, sockaddr *addr, int *addrlen)
{
    socklen_t len = addrlen ? socklen_t(*addrlen) : 0;
    const int fd = ::accept4(int(s), addr, addrlen ? &len : nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    const int err = errno;
    {
        std::lock_guard lock(Sockets().mutex);
        if (Registration *reg = Find(int(s)); reg && !reg->acceptArmed) {
            reg->acceptArmed = true;
            Refresh(*reg);
        }
    }
    if (fd < 0) {
        Fail(ErrorFromErrno(err));
        return INVALID_SOCKET;
    }
    if (addrlen)
        *addrlen = int(len);
    return SOCKET(fd);
}

int getsockname(SOCKET s, sockaddr *name, int *namelen)
{
    socklen_t len = namelen ? socklen_t(*namelen) : 0;
    if (::getsockname(int(s), name, &len) != 0)
        return FailErrno();
    if (namelen)
        *namelen = int(len);
    return 0;
}

bool WaitForSocket(SOCKET s, bool forWrite, int timeoutMs)
{
    pollfd p { int(s), short(forWrite ? POLLOUT : POLLIN), 0 };
    int rc;
    do
        rc = ::poll(&p, 1, timeoutMs);
    while (rc < 0 && errno == EINTR);
    return rc > 0;
}

bool PeerHasClosed(SOCKET s)
{
    pollfd p { int(s), POLLRDHUP, 0 };
    return ::poll(&p, 1, 0) == 1 && (p.revents & (POLLRDHUP | POLLHUP)) != 0;
}

int WSAAsyncSelect(SOCKET s, HWND window, unsigned msg, long events)
{
    const int fd = int(s);
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        return FailErrno();
    std::lock_guard lock(Sockets().mutex);
    auto &registry = Sockets();
    if (!window && events == 0) {
        registry.sockets.erase(fd);
        return 0;
    }
    auto &slot = registry.sockets[fd];
    if (!slot) {
        slot = std::make_unique<Registration>();
        slot->fd = fd;
        int listening = 0;
        socklen_t len = sizeof listening;
        sockaddr_in peer {};
        socklen_t plen = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &len) == 0 && listening)
            slot->state = Registration::Listening;
        else if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &plen) == 0)
            slot->state = Registration::Connected;
    }
    // A new selection replaces the old one; what was posted for it is dropped.
    slot->serial = ++registry.nextSerial;
    slot->window = window;
    slot->msg = msg;
    slot->mask = events;
    slot->readArmed = true;
    slot->acceptArmed = true;
    Refresh(*slot);
    return 0;
}

HANDLE WSAAsyncGetHostByName(HWND window, unsigned msg, const char *name, char *buf, int buflen)
{
    if (!window || !name || !buf) {
        Fail(WSAEFAULT);
        return 0;
    }
    auto task = std::make_shared<LookupTask>();
    task->window = window;
    task->msg = msg;
    task->name = name;
    task->buf = buf;
    task->buflen = buflen;
    {
        auto &lookups = PendingLookups();
        std::lock_guard lock(lookups.mutex);
        do
            task->handle = ++lookups.next;
        while (task->handle == 0 || lookups.pending.count(task->handle));
        lookups.pending[task->handle] = task;
    }
    std::thread([handle = task->handle, name = task->name] {
        std::vector<in_addr> addresses;
        const int error = Resolve(name, addresses);
        Queue([handle, error, addresses] { CompleteLookup(handle, error, addresses); });
    }).detach();
    return task->handle;
}

int WSACancelAsyncRequest(HANDLE task)
{
    auto &lookups = PendingLookups();
    std::lock_guard lock(lookups.mutex);
    if (lookups.pending.erase(task) == 0)
        return Fail(WSAEINVAL);
    return 0;
}

unsigned long inet_addr(const char *cp)
{
    return cp ? ::inet_addr(cp) : INADDR_NONE;
}

char *inet_ntoa(in_addr in)
{
    return ::inet_ntoa(in);
}

int gethostname(char *name, int namelen)
{
    if (::gethostname(name, std::size_t(namelen)) != 0)
        return FailErrno();
    return 0;
}

hostent *gethostbyname(const char *name)
{
    thread_local std::vector<char> storage;
    std::vector<in_addr> addresses;
    const int error = Resolve(name ? name : "", addresses);
    if (error != 0) {
        Fail(error);
        return nullptr;
    }
    const std::string text(name);
    storage.assign(sizeof(hostent) + 3 * sizeof(char *)
                       + addresses.size() * (sizeof(char *) + sizeof(in_addr)) + text.size() + 1,
                   0);
    LayOutHostEntry(text, addresses, storage.data(), int(storage.size()));
    return reinterpret_cast<hostent *>(storage.data());
}

} // namespace Winsock
