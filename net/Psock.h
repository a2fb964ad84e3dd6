#pragma once

// TPowersock: the socket component's transfers over its connection (see
// TSocketConnection for the connection, its waits and their re-entrancy):
// sending buffers, texts, files and streams, reading blocks and bounded
// lines, and capturing what arrives into files, strings and streams. Also
// the unit's text helpers.
//
// The reads, the captures, SendFile, SendStream and FilterHeader wait, and
// pump the event loop as every wait of the component does. SendBuffer, Write
// and Writeln do not pump: nothing interrupts them.

#include "net/SocketConnection.h"

#include <cstdint>
#include <functional>
#include <string>

class QIODevice;

class TPowersock : public TSocketConnection {
    Q_OBJECT
public:
    Q_INVOKABLE explicit TPowersock(QObject *AOwner = nullptr);

    // --- reading and writing ---
    // Len 0: up to the first zero byte. More than 65535 bytes: ERangeError.
    void SendBuffer(const char *Buf, std::size_t Len);
    // Sends Text up to its first zero byte.
    void Write(const std::string &Text);
    void Writeln(const std::string &Text = std::string());
    void SendFile(const std::string &FileName);
    void SendStream(QIODevice &Stream);
    // Size bytes once they are all pending; 0: whatever is pending.
    std::string Read(std::size_t Size = 0);
    // The next line with its CR LF, or empty when the connection ended
    // before a line feed. A line longer than the 65536-byte buffer comes in
    // pieces of 65534 or 65535 bytes, the last one ending with the line
    // feed; a piece never ends where the rest would be a bare CR LF or LF,
    // so no piece looks like an empty line.
    std::string ReadLn();
    virtual std::string Transaction(const std::string &Command);
    void CaptureFile(const std::string &FileName);
    void AppendFile(const std::string &FileName);
    // The captures end at the peer's orderly close; a reset raises.
    // Size -1: one receive pass. Otherwise until Stream holds Size bytes;
    // nothing past them is read.
    void CaptureStream(QIODevice &Stream, std::int32_t Size);
    // Size -1: until the peer closes. Otherwise until Text holds Size bytes;
    // nothing past them is read.
    void CaptureString(std::string &Text, std::int32_t Size);
    void FilterHeader(QIODevice &Stream);
    void ClearInput();

    // --- fields ---
    std::int64_t SentBytes = 0;
    std::int64_t TotalBytes = 0;
    std::int64_t ReceivedBytes = 0;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;
    std::string LastReply;
    std::int16_t ReplyCode = 0;

protected:
    // Where a capture puts each block it receives.
    using TSink = std::function<void(const char *Data, int Size)>;
    // The receive loop of the captures: receives into Sink until Limit bytes
    // have arrived (-1: no limit; nothing past it is read), the peer closes,
    // or, with OnePass, after one pass. ReceivedBytes counts them. While
    // blocks keep arriving it receives them back to back, letting the event
    // loop run every PumpInterval. A reset or any receive error but
    // would-block raises ESockError through ErrorManager; a cancel or
    // time-out raises EAbortError with AbortText.
    void CaptureInto(const TSink &Sink, std::int64_t Limit, const char *AbortText,
                     bool OnePass = false);

private:
    // Every transfer goes through it.
    char IOBuffer[65536];

    void RaiseAbort(const char *Text);
    // Moves Count pending bytes into Line at Taken; Taken counts them.
    void Take(std::string &Line, std::size_t &Taken, std::size_t Count);
    // One recv of up to Size bytes into IOBuffer; a failure sets LastErrorNo
    // and, unless it is would-block or not-connected, raises through
    // ErrorManager.
    int Receive(int Size);
    // At the end of the data: raises the error of a reset that the close
    // notification reported.
    void RaiseIfReset();
    bool SendChunk(const char *Buf, std::size_t Len);
};

// The N-th of the Delimiter-separated words of Text (from 1).
std::string NthWord(const std::string &Text, char Delimiter, int N);
// The 1-based position of the N-th Delimiter, or the length + 1.
int NthPos(const std::string &Text, char Delimiter, int N);
// Writes Text and CR LF.
void StreamLn(QIODevice &Stream, const std::string &Text);
