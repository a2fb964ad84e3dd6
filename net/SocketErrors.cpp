#include "net/SocketErrors.h"

#include "platform/Winsock.h"

using namespace Winsock;

namespace {

struct ErrorText {
    int code;
    const char *text;
};

const ErrorText kErrorTexts[] = {
    { WSAEINTR, "Interrupted system call" },
    { WSAEBADF, "Bad file number" },
    { WSAEACCES, "Permission denied" },
    { WSAEFAULT, "Bad address" },
    { WSAEINVAL, "Invalid argument" },
    { WSAEMFILE, "Too many open files" },
    { WSAEWOULDBLOCK, "Operation would block" },
    { WSAEINPROGRESS, "Operation now in progress" },
    { WSAEALREADY, "Operation already in progress" },
    { WSAENOTSOCK, "Socket operation on non-socket" },
    { WSAEDESTADDRREQ, "Destination address required" },
    { WSAEMSGSIZE, "Message too long" },
    { WSAEPROTOTYPE, "Wrong protocol type for socket" },
    { WSAENOPROTOOPT, "Bad protocol option" },
    { WSAEPROTONOSUPPORT, "Protocol not supported" },
    { WSAESOCKTNOSUPPORT, "Socket type not supported" },
    { WSAEOPNOTSUPP, "Operation not supported on socket" },
    { WSAEPFNOSUPPORT, "Protocol family not supported" },
    { WSAEAFNOSUPPORT, "Address family not supported by protocol family" },
    { WSAEADDRINUSE, "Address already in use" },
    { WSAEADDRNOTAVAIL, "Can't assign requested address" },
    { WSAENETDOWN, "Network is down" },
    { WSAENETUNREACH, "Network is unreachable" },
    { WSAENETRESET, "Network dropped connection or reset" },
    { WSAECONNABORTED, "Software caused connection abort" },
    { WSAECONNRESET, "Connection reset by peer" },
    { WSAENOBUFS, "No buffer space available" },
    { WSAEISCONN, "Socket is already connected" },
    { WSAENOTCONN, "Socket is not connected" },
    { WSAESHUTDOWN, "Can't send after socket shutdown" },
    { WSAETOOMANYREFS, "Too many references, can't splice" },
    { WSAETIMEDOUT, "Connection timed out" },
    { WSAECONNREFUSED, "Connection refused" },
    { WSAELOOP, "Too many levels of symbolic links" },
    { WSAENAMETOOLONG, "File name too long" },
    { WSAEHOSTDOWN, "Host is down" },
    { WSAEHOSTUNREACH, "No route to Host" },
    { WSAENOTEMPTY, "Directory not empty" },
    { WSAEPROCLIM, "Too many processes" },
    { WSAEUSERS, "Too many users" },
    { WSAEDQUOT, "Disc quota exceeded" },
    { WSAESTALE, "Stale NFS file handle" },
    { WSAEREMOTE, "Too many levels of remote in path" },
    { WSASYSNOTREADY, "Network subsystem is unavailable" },
    { WSAVERNOTSUPPORTED, "Incompatible version of WINSOCK.DLL" },
    { WSANOTINITIALISED, "Successful WSAStartup not yet performed" },
    { WSAHOST_NOT_FOUND, "Host not found" },
    { WSATRY_AGAIN, "Non-Authoritative Host not found" },
    { WSANO_RECOVERY, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP" },
    { WSANO_DATA, "Valid name, no data record of requested type" },
};

} // namespace

std::string SocketErrorText(std::uint16_t Errno)
{
    if (Errno == 0)
        return std::string();
    for (const ErrorText &entry : kErrorTexts)
        if (entry.code == Errno)
            return std::to_string(entry.code) + ":" + entry.text;
    return "Unknown Error No. " + std::to_string(Errno);
}
