#pragma once

// TNMHTTP: the HTTP/1.0 client the updates are fetched with, on the socket
// component.

#include "net/Nmextstr.h"
#include "net/Psock.h"
#include "net/ReplyHeader.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

enum CmdType : std::uint8_t {
    CmdGET,
    CmdOPTIONS,
    CmdHEAD,
    CmdPOST,
    CmdPUT,
    CmdPATCH,
    CmdCOPY,
    CmdMOVE,
    CmdDELETE,
    CmdLINK,
    CmdUNLINK,
    CmdTRACE,
    CmdWRAPPED
};

using TResultEvent = std::function<void(CmdType cmd)>;

// A reply body longer than a fetch accepts (TNMHTTP::Fetch). It tells the
// reply's status, which may say more than the body's length, and the length
// the header announced when that alone was past the bound.
class EBodyTooLong : public ESockError {
public:
    EBodyTooLong(const std::string &message, int status, std::optional<std::int64_t> announced)
        : ESockError(message), Status(status), Announced(announced)
    {
    }
    int Status;
    std::optional<std::int64_t> Announced;
};

// What a fetch received: the final reply's status (an error status is no
// failure: its page is the body), the Content-Length its header announced,
// and the body bytes written.
struct TFetchReply {
    int Status = 0;
    std::optional<std::int64_t> Announced;
    std::int64_t Received = 0;
};

// Optional request header values; empty ones are not sent.
struct THeaderInfo {
    std::string LocalMailAddress;
    std::string LocalProgram;
    std::string Cookie;
    std::string Referer;
    std::string UserId;
    std::string Password;
};

// An HTTP/1.0 client: one request per call over a fresh connection, redirects
// followed with one more request each, the reply header and body delivered
// into strings or files.
//
// Every call waits by pumping the event loop (see TPowersock): handlers run
// inside it, and Abort() from one of them ends the call with an error. One
// request at a time per component.
//
// Failures are raised, all the way from the socket to the file a body goes
// to (ESockError and its kin, the file errors of platform/); a reply with an
// error status is no failure: the caller reads its status.
class TNMHTTP : public TPowersock {
public:
    // Passes of the request loop before a chain of redirects is given up.
    static constexpr int MaxPasses = 20;

    explicit TNMHTTP(QObject *owner = nullptr);

    std::string Body = "Default.htm";
    std::string Header = "Head.txt";
    std::string RequestPath;
    TExStringList RequestHeader;
    std::string RedirectLocation;
    THeaderInfo HeaderInfo;
    std::string ReceivedCookie;
    bool InputFileMode = false;
    bool OutputFileMode = false;
    bool EncodePostData = true;
    std::string SendData;
    std::string DestinationURL;
    std::string CurrentURL;
    CmdType CurrentCmd = CmdGET;

    TResultEvent OnSuccess;
    TResultEvent OnFailure;
    TNotifyEvent OnAboutToSend;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    virtual void HTTPConnect();
    virtual void ParseURL();
    virtual void AssembleHTTPHeader();
    virtual void RemoveHeader();
    virtual void SendHTTP();
    virtual void Options(const std::string &url);
    virtual void Get(const std::string &url);
    virtual void Post(const std::string &url, const std::string &data);
    virtual void Put(const std::string &url, const std::string &data);
    virtual void Head(const std::string &url);
    virtual void Patch(const std::string &url, const std::string &data);
    virtual void Delete(const std::string &url);
    virtual void Trace(const std::string &url, const std::string &data);
    virtual void Copy(const std::string &url, const std::string &destination);
    virtual void Move(const std::string &url, const std::string &destination);
    virtual void Link(const std::string &url, const std::string &destination);
    virtual void UnLink(const std::string &url, const std::string &destination);
    virtual void Wrapped(const std::string &url, const std::string &data);
    void Abort() override;

    // GETs `url`, the final reply's body into `destination` (Body and
    // InputFileMode play no part), and at most `maxBody` bytes of it.
    // Failures are raised, as by every request here: the socket's errors
    // (EAbortError for Abort), EBodyTooLong for a body past `maxBody`
    // (announced, or going on past it: reading stops one byte after, so a
    // server can't fill the disk or the memory), EInOutError when
    // `destination` refuses a write. The body of a redirect that is followed
    // isn't written: a device can't be emptied for the next reply.
    TFetchReply Fetch(const std::string &url, QIODevice &destination, std::int64_t maxBody);

private:
    // Where a fetch puts the body, and its bound.
    struct TBodyTarget {
        QIODevice &Device;
        std::int64_t Max;
    };

    void Request(CmdType cmd, const std::string &url);
    void RequestLoop(const TBodyTarget *fetch);
    void RunPass(const TBodyTarget *fetch);
    void ReceiveBody(const TBodyTarget *fetch);
    void FetchBody(const TBodyTarget &fetch, std::optional<int64_t> expected);
    // Events and redirect handling after a reply; true to ask again.
    bool AfterReply();
    // True when the reply's status and Location make the request ask again.
    bool FollowsRedirect() const;
    int64_t RequestBodySize() const;
    // The members that tell the caller about the reply, from what is parsed.
    void TakeReplyValues();
    [[noreturn]] void RefuseReply(const std::string &line) const;
    std::string PeerName() const;
    bool SameOrigin(const std::string &host, int port) const;

    TReplyHeader m_reply; // the header of the current reply
    // Where the caller's credentials and the cookie in HeaderInfo may go.
    std::string m_originHost, m_cookieHost;
    std::string m_carriedCookie; // the cookie a redirect put into HeaderInfo
    int m_originPort = 0, m_cookiePort = 0;
};
