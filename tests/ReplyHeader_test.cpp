#include "net/ReplyHeader.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

using E = TReplyHeaderError;

std::string Lines(int count)
{
    std::string lines;
    for (int i = 0; i < count; ++i)
        lines += "X-Line: " + std::to_string(i) + "\r\n";
    return lines;
}

} // namespace

TEST(ReplyHeader, StatusLineAndWhereTheHeaderEnds)
{
    const std::string longLine = std::string(TReplyHeader::MaxLine - 1, 'a') + "\n";
    struct Case {
        std::string bytes;
        E error;
        int code;
        std::string version, reason;
        size_t size; // of the header; npos: all of the bytes
    } cases[] = {
        { "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nbody", E::None, 200, "HTTP/1.0", "OK", 30 },
        { "HTTP/1.1 404 Not Found\nServer: x\n\n<html>\r\n\r\n</html>", E::None, 404, "HTTP/1.1",
          "Not Found", 34 },
        { "http/1.0 302 Found\r\n\r\n", E::None, 302, "http/1.0", "Found", std::string::npos },
        { "HTTP/1.0 304\r\n\r\n", E::None, 304, "HTTP/1.0", "", std::string::npos },
        { "HTTP/1.0\r\n\r\n", E::None, 0, "HTTP/1.0", "", std::string::npos },
        // No code: one of more than three digits, a word, an empty word.
        { "HTTP/1.0 2000 Big\r\n\r\n", E::None, 0, "HTTP/1.0", "Big", std::string::npos },
        { "HTTP/1.0 OK 200\r\n\r\n", E::None, 0, "HTTP/1.0", "200", std::string::npos },
        { "HTTP/1.0  200 OK\r\n\r\n", E::None, 0, "HTTP/1.0", "200 OK", std::string::npos },
        { "HTTP/1.0 007 James\r\n\r\n", E::None, 7, "HTTP/1.0", "James", std::string::npos },
        // A carriage return at the end of the code is part of its line end.
        { "HTTP/1.0 200\r OK\r\n\r\n", E::None, 200, "HTTP/1.0", "OK", std::string::npos },
        // Only a bare line feed or CR LF ends the header.
        { "HTTP/1.0 200 OK\r\n\r\r\n \r\n", E::Cut, 200, "HTTP/1.0", "OK", std::string::npos },
        { "HTTP/1.0 200 OK\r\n" + longLine + "\r\n", E::None, 200, "HTTP/1.0", "OK",
          std::string::npos },
        { "", E::NoReply, 0, "", "", 0 },
        { "HTTP/1.0 200 OK", E::NoReply, 0, "", "", 0 },
        { "\r\nHTTP/1.0 200 OK\r\n\r\n", E::NotHttp, 0, "", "", 0 },
        { "SSH-2.0-OpenSSH_9.2\r\n\r\n", E::NotHttp, 0, "", "", 0 },
        { "HTTP\r\n\r\n", E::NotHttp, 0, "", "", 0 },
        { "HTTP/1.0 200 OK\r\nServer: x\r\n", E::Cut, 200, "HTTP/1.0", "OK", std::string::npos },
        { "HTTP/1.0 200 OK\r\nServ", E::Cut, 200, "HTTP/1.0", "OK", 17 },
        { "HTTP/1.0 200 OK\r\nX: " + longLine + "\r\n", E::LineTooLong, 200, "HTTP/1.0", "OK", 17 },
        // A line that has no end within the limit is refused, not taken as a close.
        { "HTTP/1.0 200 OK\r\n" + std::string(TReplyHeader::MaxLine, 'a'), E::LineTooLong, 200,
          "HTTP/1.0", "OK", 17 },
        { "HTTP/1.0 200 " + longLine, E::LineTooLong, 0, "", "", 0 },
        { "HTTP/1.0 200 OK\r\n" + Lines(TReplyHeader::MaxLines) + "\r\n", E::None, 200, "HTTP/1.0",
          "OK", std::string::npos },
        // The line past the limit is taken before it's refused.
        { "HTTP/1.0 200 OK\r\n" + Lines(TReplyHeader::MaxLines + 1) + "\r\n", E::TooManyLines, 200,
          "HTTP/1.0", "OK", 17 + Lines(TReplyHeader::MaxLines + 1).size() },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes.substr(0, 60));
        const TReplyHeader header = ParseReplyHeader(c.bytes);
        EXPECT_EQ(header.Error, c.error);
        EXPECT_EQ(header.Complete, c.error == E::None);
        EXPECT_EQ(header.Code, c.code);
        EXPECT_EQ(header.Version, c.version);
        EXPECT_EQ(header.Reason, c.reason);
        EXPECT_EQ(header.Size, c.size == std::string::npos ? c.bytes.size() : c.size);
    }
}

TEST(ReplyHeader, FieldsInTheirOrderAndTheLastOfANameCounts)
{
    const TReplyHeader header = ParseReplyHeader("HTTP/1.0 302 Found\r\n"
                                                 "Location: /first\r\n"
                                                 "SET-COOKIE:\r\n"
                                                 "X-Folded: one\r\n"
                                                 "  two: parts\r\n"
                                                 "no colon at all\r\n"
                                                 "Spaced : name\r\n"
                                                 "location: \t /second \r\n"
                                                 "Empty-Later: x\r\n"
                                                 "Empty-Later:\n"
                                                 "\r\n");
    ASSERT_TRUE(header.Complete);
    EXPECT_EQ(header.Lines, 9);
    const std::vector<std::pair<std::string, std::string>> expected = {
        { "Location", "/first" }, { "SET-COOKIE", "" },  { "X-Folded", "one" },
        { "  two", "parts" },     { "Spaced ", "name" }, { "location", "/second " },
        { "Empty-Later", "x" },   { "Empty-Later", "" },
    };
    std::vector<std::pair<std::string, std::string>> fields;
    for (const TReplyField &f : header.Fields)
        fields.emplace_back(f.Name, f.Value);
    EXPECT_EQ(fields, expected);
    EXPECT_EQ(header.Value("LOCATION"), "/second ");
    EXPECT_EQ(header.Value("set-cookie"), "");
    EXPECT_EQ(header.Value("Empty-Later"), "");
    // A folded line belongs to no field, and a blank before the colon makes another name.
    EXPECT_EQ(header.Value("two"), std::nullopt);
    EXPECT_EQ(header.Value("Spaced"), std::nullopt);
    EXPECT_EQ(header.ContentLength(), std::nullopt);
}

TEST(ReplyHeader, ContentLengthIsTheFirstRunOfDigitsOfTheLastOne)
{
    constexpr auto Huge = std::numeric_limits<std::int64_t>::max();
    const struct {
        std::string fields;
        std::optional<std::int64_t> length;
    } cases[] = {
        { "Content-Length: 1234\r\n", 1234 },
        { "content-length:3\r\n", 3 },
        { "CONTENT-LENGTH: \t 0\r\n", 0 },
        { "Content-Length: 00012\r\n", 12 },
        { "Content-Length: bytes=1234\r\n", 1234 },
        { "Content-Length: 12 34\r\n", 12 },
        { "Content-Length: -5\r\n", 5 },
        { "Content-Length: 9223372036854775807\r\n", Huge },
        { "Content-Length: 9223372036854775808\r\n", Huge },
        { "Content-Length: " + std::string(400, '9') + "\r\n", Huge },
        { "Content-Length: abc\r\n", std::nullopt },
        { "Content-Length:\r\n", std::nullopt },
        { "Content-Length : 5\r\n", std::nullopt },
        { "Content-Length: 5\r\nContent-Length: 7\r\n", 7 },
        { "Content-Length: 5\r\nContent-Length: none\r\n", std::nullopt },
        { "X-Content-Length: 5\r\n", std::nullopt },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fields.substr(0, 60));
        const TReplyHeader header = ParseReplyHeader("HTTP/1.0 200 OK\r\n" + c.fields + "\r\n");
        ASSERT_TRUE(header.Complete);
        EXPECT_EQ(header.ContentLength(), c.length);
    }
}

// The client feeds the lines one by one as it reads them; the result is the
// same as for the whole bytes, and a finished header takes no more.
TEST(ReplyHeader, LineByLineAsTheSocketReads)
{
    TReplyHeader header;
    EXPECT_TRUE(AddReplyHeaderLine(header, "HTTP/1.0 200 OK\r\n"));
    EXPECT_EQ(header.Code, 200);
    EXPECT_TRUE(AddReplyHeaderLine(header, "Content-Length: 5\r\n"));
    EXPECT_EQ(header.ContentLength(), 5);
    EXPECT_FALSE(AddReplyHeaderLine(header, "\r\n"));
    EXPECT_TRUE(header.Complete);
    EXPECT_FALSE(AddReplyHeaderLine(header, "Late: field\r\n"));
    EXPECT_EQ(header.Fields.size(), 1u);
    EXPECT_EQ(header.Size, 38u);

    // A piece of an overlong line comes without its line feed.
    TReplyHeader cut;
    EXPECT_TRUE(AddReplyHeaderLine(cut, "HTTP/1.0 200 OK\r\n"));
    EXPECT_FALSE(AddReplyHeaderLine(cut, std::string(TReplyHeader::MaxLine - 1, 'a')));
    EXPECT_EQ(cut.Error, E::LineTooLong);
    EXPECT_FALSE(AddReplyHeaderLine(cut, "\r\n"));
    EXPECT_FALSE(cut.Complete);
}
