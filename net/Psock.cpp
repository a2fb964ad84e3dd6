#include "net/Psock.h"

#include <QFile>
#include <QIODevice>
#include <QScopeGuard>

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

using namespace Winsock;

namespace {

constexpr int kBufferSize = 65536;

void WriteOrFail(QIODevice &device, const char *data, qint64 size, const std::string &name)
{
    if (device.write(data, size) != size)
        throw EInOutError("Cannot write to \"" + name
                          + "\": " + device.errorString().toStdString());
}

std::string DeviceName(const QIODevice &device)
{
    if (auto *file = qobject_cast<const QFile *>(&device))
        return file->fileName().toStdString();
    return "the stream";
}

} // namespace

TPowersock::TPowersock(QObject *AOwner) : TSocketConnection(AOwner)
{
}

void TPowersock::RaiseAbort(const char *Text)
{
    Canceled = false;
    throw EAbortError(Text);
}

void TPowersock::SendBuffer(const char *Buf, std::size_t Len)
{
    StatusMessage(TStatusLevel::Activity, "Sending Buffer");
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    if (!Canceled) {
        if (Len == 0)
            Len = std::strlen(Buf);
        if (Len > 65535)
            throw ERangeError("Buffer of " + std::to_string(Len) + " bytes is longer than 65535");
        std::size_t remaining = Len;
        while (remaining > 0 && !Canceled) {
            const int n = Winsock::send(SocketHandle, Buf + (Len - remaining), int(remaining), 0);
            if (n == 0)
                break;
            if (n > 0) {
                remaining -= std::size_t(n);
                continue;
            }
            ErrorManager(WSAEWOULDBLOCK);
            // Nothing may interrupt this loop: wait for room without pumping.
            WaitForSocket(SocketHandle, true, 100);
        }
    }
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

void TPowersock::Write(const std::string &Text)
{
    StatusMessage(TStatusLevel::Trace, "Write");
    const std::size_t length = strnlen(Text.data(), Text.size());
    if (length > 65535)
        throw ERangeError("Text of " + std::to_string(length) + " bytes is longer than 65535");
    std::memcpy(IOBuffer, Text.data(), length);
    IOBuffer[length] = '\0';
    SendBuffer(IOBuffer, 0);
}

void TPowersock::Writeln(const std::string &Text)
{
    StatusMessage(TStatusLevel::Trace, "Writeln");
    Write(Text + "\r\n");
}

// Sends one chunk, pumping messages after each send. False when send took
// nothing.
bool TPowersock::SendChunk(const char *Buf, std::size_t Len)
{
    std::size_t remaining = Len;
    bool taken = true;
    WaitFor([&] {
        if (remaining == 0)
            return TPass::Done;
        const int n = Winsock::send(SocketHandle, Buf + (Len - remaining), int(remaining), 0);
        if (n == 0) {
            taken = false;
            return TPass::Done;
        }
        if (n < 0) {
            ErrorManager(WSAEWOULDBLOCK);
            return TPass::NoRoom;
        }
        remaining -= std::size_t(n);
        SentBytes += n;
        Fire(OnPacketSent);
        return TPass::Progress;
    });
    return taken;
}

void TPowersock::SendFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "SendFile");
    QFile file(QString::fromStdString(FileName));
    if (!file.open(QIODevice::ReadOnly))
        throw EFOpenError("Cannot open file \"" + FileName + "\". "
                          + file.errorString().toStdString());
    do {
        if (Canceled)
            break;
        const qint64 got = file.read(IOBuffer, kBufferSize);
        if (got < 0)
            throw EInOutError("Cannot read file \"" + FileName
                              + "\": " + file.errorString().toStdString());
        SendChunk(IOBuffer, std::size_t(got));
    } while (file.pos() != file.size() && !Canceled);
    file.close();
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

void TPowersock::SendStream(QIODevice &Stream)
{
    StatusMessage(TStatusLevel::Trace, "SendStream");
    Stream.seek(0);
    if (!Canceled) {
        SentBytes = 0;
        TotalBytes = Stream.size();
        do {
            const qint64 chunk = std::min<qint64>(Stream.size() - Stream.pos(), kBufferSize);
            const qint64 got = Stream.read(IOBuffer, chunk);
            if (got < 0)
                throw EInOutError("Cannot read " + DeviceName(Stream) + ": "
                                  + Stream.errorString().toStdString());
            if (!SendChunk(IOBuffer, std::size_t(got)))
                return;
        } while (Stream.pos() != Stream.size() && !Canceled);
    }
    if (Canceled)
        RaiseAbort("Socket send aborted");
}

std::string TPowersock::Read(std::size_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Read( " + std::to_string(Size) + " )");
    if (Size > 65535)
        throw ERangeError("Read of " + std::to_string(Size) + " bytes is longer than 65535");
    if (Size == 0) {
        const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, MSG_PEEK);
        if (n == SOCKET_ERROR) {
            ErrorManager(WSAEWOULDBLOCK);
            return std::string();
        }
        if (n == kBufferSize)
            throw ERangeError("Read: 65536 bytes pending, more than 65535");
        Size = std::size_t(n);
    } else {
        bool closed = false;
        int last = -1;
        const bool done = WaitFor([&] {
            const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, MSG_PEEK);
            closed = n == 0;
            if (closed || n >= int(Size))
                return TPass::Done;
            if (n == SOCKET_ERROR) {
                ErrorManager(WSAEWOULDBLOCK);
                return TPass::Nothing;
            }
            if (std::exchange(last, n) != n)
                return TPass::Progress;
            // The rest of the block never comes from a peer that has closed.
            closed = PeerHasClosed(SocketHandle);
            return closed ? TPass::Done : TPass::Partial;
        });
        if (closed)
            return std::string();
        if (!done)
            RaiseAbort("Socket send aborted");
    }
    if (Size == 0)
        return std::string();
    std::string result(Size, '\0');
    const int got = Winsock::recv(SocketHandle, result.data(), int(Size), 0);
    result.resize(std::size_t(std::max(got, 0)));
    return result;
}

void TPowersock::Take(std::string &Line, std::size_t &Taken, std::size_t Count)
{
    Line.resize(Taken + Count);
    const int got = Winsock::recv(SocketHandle, Line.data() + Taken, int(Count), 0);
    if (got == SOCKET_ERROR)
        ErrorManager(WSAEWOULDBLOCK);
    Taken += std::size_t(std::max(got, 0));
    Line.resize(Taken);
}

std::string TPowersock::ReadLn()
{
    StatusMessage(TStatusLevel::Trace, "ReadLn");
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    std::string line;
    std::size_t taken = 0; // bytes of the line moved into `line`
    std::size_t end = 0; // bytes to return: through the line feed, or a piece
    bool ended = false;
    // IOBuffer mirrors the line from its first byte. The buffer's last two
    // bytes stay pending until the buffer is full: they decide where a piece
    // of an overlong line ends.
    const bool done = WaitFor([&] {
        const int n
            = Winsock::recv(SocketHandle, IOBuffer + taken, int(kBufferSize - taken), MSG_PEEK);
        if (n == 0) {
            ended = true; // the peer closed
            return TPass::Done;
        }
        if (n < 0) {
            LastErrorNo = WSAGetLastError();
            ended = LastErrorNo == WSAENOTCONN;
            if (ended)
                return TPass::Done;
            ErrorManager(WSAEWOULDBLOCK);
            return TPass::Nothing;
        }
        if (const void *lineFeed = std::memchr(IOBuffer + taken, '\n', std::size_t(n))) {
            end = std::size_t(static_cast<const char *>(lineFeed) - IOBuffer) + 1;
            return TPass::Done;
        }
        const std::size_t pending = taken + std::size_t(n);
        if (pending == kBufferSize) {
            // The rest must not start with CR LF, or it would read as an
            // empty line: the piece ends before a non-CR byte, or leaves two.
            end = IOBuffer[kBufferSize - 1] != '\r' ? kBufferSize - 1 : kBufferSize - 2;
            return TPass::Done;
        }
        const std::size_t keep = std::min(pending, std::size_t(kBufferSize - 2));
        if (keep == taken) {
            // Only the held-back bytes are pending: the line ends unfinished
            // if the peer has closed.
            ended = PeerHasClosed(SocketHandle);
            return ended ? TPass::Done : TPass::Partial;
        }
        Take(line, taken, keep - taken);
        return TPass::Progress;
    });
    if (!done)
        RaiseAbort("Socket readln aborted");
    if (ended)
        return std::string(); // also when bytes of the line were taken
    Take(line, taken, end - taken);
    return line;
}

std::string TPowersock::Transaction(const std::string &Command)
{
    StatusMessage(TStatusLevel::Trace, "Transaction");
    ReplyCode = 0;
    Writeln(Command);
    LastReply = ReadLn();
    if (!LastReply.empty()) {
        StatusMessage(TStatusLevel::Reply, LastReply);
        std::size_t digits = 0;
        while (digits < 10 && digits < LastReply.size() && LastReply[digits] >= '0'
               && LastReply[digits] <= '9')
            ++digits;
        if (digits > 0) {
            const long long value = std::stoll(LastReply.substr(0, digits));
            if (value > INT16_MAX)
                throw ERangeError("Reply code " + std::to_string(value) + " out of range");
            ReplyCode = std::int16_t(value);
        }
    }
    return LastReply;
}

int TPowersock::Receive(int Size)
{
    const int n = Winsock::recv(SocketHandle, IOBuffer, Size, 0);
    if (n == SOCKET_ERROR) {
        LastErrorNo = WSAGetLastError();
        if (LastErrorNo != WSAENOTCONN)
            ErrorManager(WSAEWOULDBLOCK);
    }
    return n;
}

void TPowersock::RaiseIfReset()
{
    // The close notification that carries a reset may still be queued
    // behind the receive that found the end: let it arrive first.
    Pump(TPass::Progress);
    if (CloseError() == 0)
        return;
    WSASetLastError(CloseError());
    ErrorManager(WSAEWOULDBLOCK);
}

void TPowersock::CaptureInto(const TSink &Sink, std::int64_t Limit, const char *AbortText,
                             bool OnePass)
{
    ReceivedBytes = 0;
    TimerOn();
    const auto off = qScopeGuard([this] { TimerOff(); });
    bool passed = false;
    const bool done = WaitFor([&] {
        if (ReceivedBytes == Limit || (OnePass && passed))
            return TPass::Done;
        passed = true;
        // Never more than asked for: what lies past the limit stays unread.
        const std::int64_t left = Limit < 0 ? kBufferSize : Limit - ReceivedBytes;
        const int n = Receive(int(std::min<std::int64_t>(left, kBufferSize)));
        if (n == 0 || (n < 0 && LastErrorNo == WSAENOTCONN)) {
            RaiseIfReset();
            return TPass::Done;
        }
        if (n < 0) // the single pass takes what is there and does not wait
            return OnePass ? TPass::Progress : TPass::Nothing;
        Sink(IOBuffer, n);
        ReceivedBytes += n;
        Fire(OnPacketRecvd);
        TimerOn();
        return OnePass ? TPass::Progress : TPass::Flowing;
    });
    if (!done)
        RaiseAbort(AbortText);
}

void TPowersock::CaptureFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "CaptureFile");
    ReceivedBytes = 0;
    QFile file(QString::fromStdString(FileName));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw EFCreateError("Cannot create file \"" + FileName + "\". "
                            + file.errorString().toStdString());
    CaptureInto([&](const char *Data, int Size) { WriteOrFail(file, Data, Size, FileName); }, -1,
                "Socket send aborted");
}

void TPowersock::CaptureString(std::string &Text, std::int32_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Capture String");
    Text.clear();
    CaptureInto([&](const char *Data, int Count) { Text.append(Data, std::size_t(Count)); }, Size,
                "Socket capture aborted");
}

void TPowersock::CaptureStream(QIODevice &Stream, std::int32_t Size)
{
    StatusMessage(TStatusLevel::Trace, "Capture Stream");
    const std::string name = DeviceName(Stream);
    // What the stream held before counts towards Size.
    const std::int64_t limit = Size == -1 ? -1 : std::max<std::int64_t>(Size - Stream.size(), 0);
    CaptureInto([&](const char *Data, int Count) { WriteOrFail(Stream, Data, Count, name); }, limit,
                "Socket capture aborted", Size == -1);
}

void TPowersock::AppendFile(const std::string &FileName)
{
    StatusMessage(TStatusLevel::Trace, "Append File");
    ReceivedBytes = 0;
    bool done = false;
    {
        QFile file(QString::fromStdString(FileName));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::ExistingOnly
                       | QIODevice::Unbuffered))
            throw EFOpenError("Cannot open file \"" + FileName + "\". "
                              + file.errorString().toStdString());
        done = WaitFor([&] {
            if (!Connected)
                return TPass::Done;
            const int n = Winsock::recv(SocketHandle, IOBuffer, kBufferSize, 0);
            if (n == SOCKET_ERROR)
                ErrorManager(WSAEWOULDBLOCK);
            // Without data (or after the peer's close) wait for the next
            // notification: the close clears Connected.
            if (n <= 0)
                return TPass::Nothing;
            WriteOrFail(file, IOBuffer, n, FileName);
            ReceivedBytes += n;
            Fire(OnPacketRecvd);
            return TPass::Progress;
        });
    }
    if (!done)
        RaiseAbort("Socket send aborted");
}

void TPowersock::FilterHeader(QIODevice &Stream)
{
    StatusMessage(TStatusLevel::Trace, "FilterHeader");
    for (;;) {
        const std::string line = ReadLn();
        if (line.empty())
            return;
        WriteOrFail(Stream, line.data(), qint64(line.size()), DeviceName(Stream));
        if (line == "\n" || line == "\r\n")
            return;
    }
}

void TPowersock::ClearInput()
{
    StatusMessage(TStatusLevel::Trace, "Clearing Input");
    std::vector<char> scratch(kBufferSize);
    Winsock::recv(SocketHandle, scratch.data(), kBufferSize, 0);
}

// ---------------------------------------------------------------- text helpers

std::string NthWord(const std::string &Text, char Delimiter, int N)
{
    std::string word;
    int count = 0;
    for (char c : Text) {
        if (count == N)
            break;
        if (c == Delimiter)
            ++count;
        else if (count == N - 1)
            word += c;
    }
    return word;
}

int NthPos(const std::string &Text, char Delimiter, int N)
{
    int count = 0;
    for (std::size_t i = 0; i < Text.size(); ++i)
        if (Text[i] == Delimiter && ++count == N)
            return int(i + 1);
    return int(Text.size() + 1);
}

void StreamLn(QIODevice &Stream, const std::string &Text)
{
    const std::string line = Text + "\r\n";
    WriteOrFail(Stream, line.data(), qint64(line.size()), DeviceName(Stream));
}
