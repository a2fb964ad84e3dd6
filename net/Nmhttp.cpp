#include "net/Nmhttp.h"

#include "net/Nmurl.h"
#include "net/Nmuue.h"
#include "platform/Collate.h"
#include "platform/Exceptions.h"

#include <QBuffer>
#include <QFile>
#include <QIODevice>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

constexpr const char *RequestWords[]
    = { "GET ",  "OPTIONS ", "HEAD ", "POST ",   "PUT ",   "PATCH ",  "COPY ",
        "MOVE ", "DELETE ",  "LINK ", "UNLINK ", "TRACE ", "WRAPPED " };

bool SendsBody(CmdType cmd)
{
    return cmd == CmdPOST || cmd == CmdPUT || cmd == CmdPATCH || cmd == CmdTRACE
        || cmd == CmdWRAPPED;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string AsciiLower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

// "http", "ftp", ... : a letter, then letters, digits, '+', '-', '.'. Text
// before a colon further on in a path or query is no scheme.
bool IsSchemeName(const std::string &s)
{
    if (s.empty() || !IsAlpha(s[0]))
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) {
        return IsAlpha(c) || IsDigit(c) || c == '+' || c == '-' || c == '.';
    });
}

int PortNumber(const std::string &text, const std::string &url)
{
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), IsDigit))
        throw EConvertError("'" + text + "' is not a valid integer value (the port of " + url
                            + ")");
    const int port = std::stoi(text);
    if (port < 1 || port > 65535)
        throw EConvertError("Port " + text + " of " + url + " is out of range");
    return port;
}

void CreateFile(QFile &file, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    if (!file.open(mode | QIODevice::Truncate))
        throw EFCreateError("Cannot create file \"" + file.fileName().toStdString()
                            + "\": " + file.errorString().toStdString());
}

void WriteFile(QFile &file, const char *data, qint64 size)
{
    if (file.write(data, size) != size)
        throw EInOutError("Cannot write file \"" + file.fileName().toStdString()
                          + "\": " + file.errorString().toStdString());
}

// A short, printable excerpt of bytes a peer sent, for an error message.
std::string Excerpt(const std::string &bytes)
{
    std::string out;
    for (char c : bytes.substr(0, 40))
        out += (static_cast<unsigned char>(c) < 32 || c == 127) ? '.' : c;
    return out;
}

} // namespace

TNMHTTP::TNMHTTP(QObject *owner) : TPowersock(owner)
{
}

void TNMHTTP::Request(CmdType cmd, const std::string &url)
{
    CurrentURL = url;
    CurrentCmd = cmd;
    HTTPConnect();
}

void TNMHTTP::Options(const std::string &url)
{
    Request(CmdOPTIONS, url);
}
void TNMHTTP::Get(const std::string &url)
{
    Request(CmdGET, url);
}
void TNMHTTP::Head(const std::string &url)
{
    Request(CmdHEAD, url);
}
void TNMHTTP::Delete(const std::string &url)
{
    Request(CmdDELETE, url);
}

void TNMHTTP::Post(const std::string &url, const std::string &data)
{
    SendData = EncodePostData && !OutputFileMode ? TNMURL().URLEncode(data) : data;
    Request(CmdPOST, url);
}

void TNMHTTP::Put(const std::string &url, const std::string &data)
{
    SendData = data;
    Request(CmdPUT, url);
}

void TNMHTTP::Patch(const std::string &url, const std::string &data)
{
    SendData = data;
    Request(CmdPATCH, url);
}

void TNMHTTP::Trace(const std::string &url, const std::string &data)
{
    SendData = data;
    Request(CmdTRACE, url);
}

void TNMHTTP::Wrapped(const std::string &url, const std::string &data)
{
    SendData = data;
    Request(CmdWRAPPED, url);
}

void TNMHTTP::Copy(const std::string &url, const std::string &destination)
{
    DestinationURL = destination;
    Request(CmdCOPY, url);
}

void TNMHTTP::Move(const std::string &url, const std::string &destination)
{
    DestinationURL = destination;
    Request(CmdMOVE, url);
}

void TNMHTTP::Link(const std::string &url, const std::string &destination)
{
    DestinationURL = destination;
    Request(CmdLINK, url);
}

void TNMHTTP::UnLink(const std::string &url, const std::string &destination)
{
    DestinationURL = destination;
    Request(CmdUNLINK, url);
}

void TNMHTTP::Abort()
{
    AsyncDone = true;
    Cancel();
}

void TNMHTTP::HTTPConnect()
{
    RequestLoop(nullptr);
}

TFetchReply TNMHTTP::Fetch(const std::string &url, QIODevice &destination, std::int64_t maxBody)
{
    CurrentURL = url;
    CurrentCmd = CmdGET;
    const TBodyTarget target { destination, maxBody };
    RequestLoop(&target);
    return { ReplyCode, m_reply.ContentLength(), ReceivedBytes };
}

void TNMHTTP::RequestLoop(const TBodyTarget *fetch)
{
    // The caller's own cookie belongs to the host first asked; one carried
    // over from a redirect belongs to the host that set it.
    const bool callersCookie = HeaderInfo.Cookie != m_carriedCookie;
    for (int pass = 1;; ++pass) {
        if (pass > MaxPasses)
            throw ESockError("Too many redirects: gave up after " + std::to_string(MaxPasses)
                             + " requests, the last one for " + CurrentURL);
        ParseURL();
        if (pass == 1) {
            m_originHost = Host;
            m_originPort = Port;
            if (callersCookie) {
                m_cookieHost = Host;
                m_cookiePort = Port;
            }
        }
        AssembleHTTPHeader();
        if (OnAboutToSend)
            OnAboutToSend(this);
        RunPass(fetch);
        if (!AfterReply())
            return;
    }
}

void TNMHTTP::RunPass(const TBodyTarget *fetch)
{
    try {
        Connect();
        SendHTTP();
        ReplyCode = 0;
        RemoveHeader();
        ReceiveBody(fetch);
    } catch (...) {
        try {
            Disconnect();
        } catch (...) {
            // The first error is the one to report.
        }
        throw;
    }
    Disconnect();
}

bool TNMHTTP::AfterReply()
{
    if (ReplyCode < 299) {
        if (OnSuccess)
            OnSuccess(CurrentCmd);
        StatusMessage(TStatusLevel::Completion, "Transaction Completed");
    } else if (ReplyCode > 399) {
        if (OnFailure)
            OnFailure(CurrentCmd);
    }
    const int code = ReplyCode;
    const bool follow = FollowsRedirect();
    if (follow)
        CurrentURL = RedirectLocation;
    if (code >= 300 && code <= 398) {
        if (!ReceivedCookie.empty()) {
            HeaderInfo.Cookie = m_carriedCookie = ReceivedCookie;
            m_cookieHost = Host;
            m_cookiePort = Port;
        }
        bool handled = false;
        if (OnRedirect)
            OnRedirect(handled);
        if (handled)
            return false;
        if (CurrentURL.find('/') == std::string::npos)
            CurrentURL = "http://" + Host + (Port == 80 ? "" : ":" + std::to_string(Port)) + "/"
                + CurrentURL;
    }
    if (code == 401 && OnAuthenticationNeeded)
        OnAuthenticationNeeded(this);
    // "See other" is fetched, whatever asked for it.
    if (follow && code == 303 && CurrentCmd != CmdHEAD)
        CurrentCmd = CmdGET;
    return follow;
}

bool TNMHTTP::FollowsRedirect() const
{
    // A redirect without a Location of its own ends here rather than asking
    // the same (or an older) URL again.
    const int code = ReplyCode;
    return m_reply.Value("Location")
        && ((code >= 300 && code <= 303) || code == 307 || code == 308);
}

void TNMHTTP::ParseURL()
{
    const std::string &url = CurrentURL;
    if (url.empty())
        throw Exception("Empty URL");
    if (Port == 0)
        Port = 80;

    const bool hasDoubleSlash = url.find("//") != std::string::npos;
    if (hasDoubleSlash)
        RequestPath = url.substr(std::min(url.size(), size_t(NthPos(url, '/', 3) - 1)));
    else if (const size_t slash = url.find('/'); slash != std::string::npos)
        RequestPath = url.substr(slash);
    else
        RequestPath.clear();

    if (const size_t colon = url.find(':'); colon != std::string::npos) {
        const std::string scheme = AsciiLower(url.substr(0, colon));
        if (scheme == "https")
            throw Exception("HTTP Secure Socket is not supported");
        if (IsSchemeName(scheme))
            Port = scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : 80;
    }

    std::string host = hasDoubleSlash ? NthWord(url, '/', 3)
        : url[0] != '/'               ? NthWord(url, '/', 1)
                                      : "";
    if (const size_t colon = host.find(':'); colon != std::string::npos) {
        Port = PortNumber(host.substr(colon + 1), url);
        host.resize(colon);
    }
    if (!host.empty())
        Host = host;

    if (RequestPath.empty()) {
        RequestPath = "/";
        CurrentURL += "/";
    }
}

bool TNMHTTP::SameOrigin(const std::string &host, int port) const
{
    return host.empty() || (AnsiCompareText(host, Host) == 0 && port == Port);
}

void TNMHTTP::AssembleHTTPHeader()
{
    TExStringList &h = RequestHeader;
    h.Clear();
    h.Add(RequestWords[CurrentCmd] + (Proxy.empty() ? RequestPath : CurrentURL) + " HTTP/1.0");
    if (!Proxy.empty()) {
        h.Add("Proxy-Connection: Keep-Alive");
        h.Add("Host: " + Host);
    }
    h.SetValue("Host", Host);
    h.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    h.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    h.SetValue("User-Agent", HeaderInfo.LocalProgram);
    h.SetValue("From", HeaderInfo.LocalMailAddress);
    // Credentials and cookies never follow a redirect to another server.
    if (SameOrigin(m_cookieHost, m_cookiePort))
        h.SetValue("Cookie", HeaderInfo.Cookie);
    h.SetValue("Referer", HeaderInfo.Referer);
    if (!HeaderInfo.UserId.empty() && !HeaderInfo.Password.empty()
        && SameOrigin(m_originHost, m_originPort))
        h.SetValue("Authorization",
                   "Basic " + Base64Encode(HeaderInfo.UserId + ":" + HeaderInfo.Password));
    h.Add("Content-type: application/x-www-form-urlencoded");
    if (CurrentCmd == CmdCOPY || CurrentCmd == CmdMOVE)
        h.Add("URI-header: " + DestinationURL);
    if (CurrentCmd == CmdLINK || CurrentCmd == CmdUNLINK) {
        // These carry no body: the link is in the header.
        h.Add("Link: " + DestinationURL);
        h.Add("Content-Length: 0");
    }
    if (SendsBody(CurrentCmd))
        h.Add("Content-Length: " + std::to_string(RequestBodySize()));

    // A line break in a value would let it add lines of its own; a zero byte
    // would cut the request short.
    for (int i = 0; i < h.Count(); ++i)
        if (h[i].find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
            throw Exception("Refused to send the request: "
                            + (i == 0 ? std::string("its URL") : "the " + h.NameOf(i) + " value")
                            + " contains a line break or a zero byte");
}

int64_t TNMHTTP::RequestBodySize() const
{
    if (!OutputFileMode)
        return int64_t(SendData.size());
    std::error_code error;
    const auto size = std::filesystem::file_size(SendData, error);
    if (error)
        throw EFOpenError("Cannot open file \"" + SendData + "\": " + error.message());
    return int64_t(size);
}

void TNMHTTP::SendHTTP()
{
    Write(RequestHeader.Text());
    Writeln("");
    if (!SendsBody(CurrentCmd))
        return;
    if (OutputFileMode) {
        SendFile(SendData);
    } else if (!SendData.empty()) {
        // A stream sends every byte, zero bytes and long data included.
        QBuffer data;
        data.setData(QByteArray::fromStdString(SendData));
        data.open(QIODevice::ReadOnly);
        SendStream(data);
    }
}

std::string TNMHTTP::PeerName() const
{
    return Proxy.empty() ? Host + ":" + std::to_string(Port)
                         : Proxy + ":" + std::to_string(ProxyPort);
}

void TNMHTTP::RemoveHeader()
{
    TotalBytes = 0;
    ReceivedCookie.clear();
    m_reply = {};
    QFile file(QString::fromStdString(Header));
    if (OutputFileMode)
        CreateFile(file);
    else
        Header.clear();
    for (bool more = true; more;) {
        const std::string line = ReadLn();
        const size_t taken = m_reply.Size;
        more = AddReplyHeaderLine(m_reply, line);
        TakeReplyValues();
        // The header text holds the lines as received, up to the refused one.
        if (m_reply.Size > taken) {
            if (OutputFileMode)
                WriteFile(file, line.data(), qint64(line.size()));
            else
                Header += line;
        }
        if (m_reply.Error != TReplyHeaderError::None)
            RefuseReply(line);
    }
}

void TNMHTTP::TakeReplyValues()
{
    ReplyCode = std::int16_t(m_reply.Code);
    if (auto cookie = m_reply.Value("Set-Cookie"))
        ReceivedCookie = *cookie;
    if (auto location = m_reply.Value("Location"))
        RedirectLocation = *location;
    TotalBytes = m_reply.ContentLength().value_or(0);
}

void TNMHTTP::RefuseReply(const std::string &line) const
{
    switch (m_reply.Error) {
    case TReplyHeaderError::NoReply:
        throw ESockError("Connection closed by " + PeerName() + " before it replied");
    case TReplyHeaderError::NotHttp:
        throw ESockError("Not an HTTP reply from " + PeerName() + ": \"" + Excerpt(line) + "\"");
    case TReplyHeaderError::LineTooLong:
        throw ESockError("The reply from " + PeerName() + " has a header line longer than "
                         + std::to_string(TReplyHeader::MaxLine / 1024) + " KiB");
    case TReplyHeaderError::TooManyLines:
        throw ESockError("The reply from " + PeerName() + " has more than "
                         + std::to_string(TReplyHeader::MaxLines) + " header lines");
    case TReplyHeaderError::Cut:
    case TReplyHeaderError::None:
        break;
    }
    throw ESockError("Connection closed by " + PeerName() + " in the middle of the reply header");
}

void TNMHTTP::ReceiveBody(const TBodyTarget *fetch)
{
    ReceivedBytes = 0;
    std::optional<int64_t> expected = m_reply.ContentLength();
    if (CurrentCmd == CmdHEAD || ReplyCode == 204 || ReplyCode == 304
        || (ReplyCode >= 100 && ReplyCode < 200))
        expected = 0;
    // HTTP/1.0 has no chunks: a body sent in them would be taken, chunk
    // sizes and all, as if it were the data.
    const std::optional<std::string> coding = m_reply.Value("Transfer-Encoding");
    if (coding && expected != 0 && AsciiLower(*coding) != "identity")
        throw ESockError("The reply from " + PeerName() + " is sent with \"Transfer-Encoding: "
                         + *coding + "\", which an HTTP/1.0 client can't read");
    // With a Content-Length the body ends there even if the peer (a proxy
    // asked to keep the connection) stays silent; without one, at its close
    // (or one byte past a fetch's bound).
    if (fetch) {
        FetchBody(*fetch, expected);
    } else if (InputFileMode) {
        StatusMessage(TStatusLevel::Trace, "CaptureFile");
        QFile file(QString::fromStdString(Body));
        CreateFile(file, QIODevice::WriteOnly | QIODevice::Unbuffered);
        CaptureInto([&](const char *data, int size) { WriteFile(file, data, size); },
                    expected.value_or(-1), "Socket send aborted");
    } else {
        StatusMessage(TStatusLevel::Trace, "Capture String");
        Body.clear();
        CaptureInto([&](const char *data, int size) { Body.append(data, size_t(size)); },
                    expected.value_or(-1), "Socket capture aborted");
    }
    if (expected && ReceivedBytes < *expected)
        throw ESockError("Connection closed by " + PeerName() + " after "
                         + std::to_string(ReceivedBytes) + " of " + std::to_string(*expected)
                         + " bytes of the reply");
}

void TNMHTTP::FetchBody(const TBodyTarget &fetch, std::optional<int64_t> expected)
{
    if (expected && *expected > fetch.Max)
        throw EBodyTooLong("The reply from " + PeerName() + " announces "
                               + std::to_string(*expected) + " bytes, more than the "
                               + std::to_string(fetch.Max) + " accepted",
                           ReplyCode, expected);
    StatusMessage(TStatusLevel::Trace, "Capture Stream");
    const bool keep = !FollowsRedirect();
    CaptureInto(
        [&](const char *data, int size) {
            if (keep && fetch.Device.write(data, size) != size)
                throw EInOutError("Cannot write the reply from " + PeerName() + ": "
                                  + fetch.Device.errorString().toStdString());
        },
        expected ? *expected : fetch.Max + 1, "Socket capture aborted");
    if (ReceivedBytes > fetch.Max)
        throw EBodyTooLong("The reply from " + PeerName() + " goes on past "
                               + std::to_string(fetch.Max) + " bytes, the most accepted",
                           ReplyCode, std::nullopt);
}
