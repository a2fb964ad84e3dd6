#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The header of an HTTP reply taken apart without any I/O: the client hands
// it the lines it reads from the socket, a test or a fuzzer whole bytes.

enum class TReplyHeaderError : std::uint8_t {
    None,
    NoReply, // the peer closed before the status line
    NotHttp, // the status line doesn't begin with "HTTP/"
    LineTooLong, // a line longer than TReplyHeader::MaxLine
    TooManyLines, // more than TReplyHeader::MaxLines lines after the status line
    Cut, // the peer closed before the empty line that ends the header
};

struct TReplyField {
    std::string Name; // as sent: the text before the first colon
    std::string Value; // after the colon and its blanks, without the line end
};

struct TReplyHeader {
    // A line longer than this, or more lines than MaxLines, refuses the
    // reply: a hostile server can't make us hold more.
    static constexpr std::size_t MaxLine = std::size_t(64) * 1024;
    static constexpr int MaxLines = 100;

    // The status line "HTTP/1.0 200 OK", split at its spaces.
    std::string Version;
    int Code = 0; // 0 when the second word is no number of up to three digits
    std::string Reason; // what follows the second word, without the line end

    // The lines after the status line that have a colon, in their order.
    std::vector<TReplyField> Fields;
    int Lines = 0; // lines after the status line, with or without a colon
    // Bytes of the lines taken: every line read but one that is refused for
    // its length or for not being HTTP.
    std::size_t Size = 0;
    bool Complete = false; // the empty line that ends the header was read
    TReplyHeaderError Error = TReplyHeaderError::None;

    // The value of the last field of that name, ASCII case ignored.
    std::optional<std::string> Value(std::string_view name) const;
    // The first run of digits in the last Content-Length, the largest int64
    // when it is longer; none when there is no such field or no digit in it.
    std::optional<std::int64_t> ContentLength() const;
};

// Takes the next line as the socket reads it: through its line feed, a piece
// of an overlong line without one, or empty when the peer has closed. False
// once the header is complete or refused (see Error).
bool AddReplyHeaderLine(TReplyHeader &header, std::string_view line);

// The header at the start of a reply's bytes, read as the socket would read
// them: bytes that end before the empty line are a peer that closed. When
// Complete, the body begins at Size.
TReplyHeader ParseReplyHeader(std::string_view bytes);
