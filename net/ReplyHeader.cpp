#include "net/ReplyHeader.h"

#include <algorithm>
#include <limits>

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool SameText(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::string_view WithoutLineEnd(std::string_view text)
{
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// The first run of digits in `text`, saturated.
std::optional<std::int64_t> FirstNumber(std::string_view text)
{
    const auto start = std::find_if(text.begin(), text.end(), IsDigit);
    if (start == text.end())
        return std::nullopt;
    std::int64_t value = 0;
    for (auto it = start; it != text.end() && IsDigit(*it); ++it) {
        if (value > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
            return std::numeric_limits<std::int64_t>::max();
        value = value * 10 + (*it - '0');
    }
    return value;
}

// The words are the runs between single spaces: "HTTP/1.0  200" has an
// empty second word, so no code.
void TakeStatusLine(TReplyHeader &header, std::string_view line)
{
    const size_t first = line.find(' ');
    header.Version = WithoutLineEnd(line.substr(0, first));
    if (first == std::string_view::npos)
        return;
    const size_t second = line.find(' ', first + 1);
    const std::string_view code = WithoutLineEnd(
        line.substr(first + 1, second == std::string_view::npos ? second : second - first - 1));
    if (!code.empty() && code.size() <= 3 && std::all_of(code.begin(), code.end(), IsDigit))
        header.Code = std::stoi(std::string(code));
    if (second != std::string_view::npos)
        header.Reason = WithoutLineEnd(line.substr(second + 1));
}

// A line without a colon (a folded one, say) counts as a line but is no
// field; blanks before a colon stay in the name, so it matches no name asked
// for.
void TakeField(TReplyHeader &header, std::string_view line)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return;
    const size_t start = line.find_first_not_of(" \t", colon + 1);
    header.Fields.push_back(
        { std::string(line.substr(0, colon)),
          std::string(WithoutLineEnd(start == std::string_view::npos ? "" : line.substr(start))) });
}

} // namespace

std::optional<std::string> TReplyHeader::Value(std::string_view name) const
{
    const auto field = std::find_if(Fields.rbegin(), Fields.rend(),
                                    [&](const TReplyField &f) { return SameText(f.Name, name); });
    if (field == Fields.rend())
        return std::nullopt;
    return field->Value;
}

std::optional<std::int64_t> TReplyHeader::ContentLength() const
{
    const std::optional<std::string> value = Value("Content-Length");
    return value ? FirstNumber(*value) : std::nullopt;
}

bool AddReplyHeaderLine(TReplyHeader &header, std::string_view line)
{
    const auto refuse = [&](TReplyHeaderError error) {
        header.Error = error;
        return false;
    };
    if (header.Complete || header.Error != TReplyHeaderError::None)
        return false;
    if (line.size() > TReplyHeader::MaxLine || (!line.empty() && line.back() != '\n'))
        return refuse(TReplyHeaderError::LineTooLong);
    // Every line taken has at least its line feed.
    const bool statusLine = header.Size == 0;
    if (line.empty())
        return refuse(statusLine ? TReplyHeaderError::NoReply : TReplyHeaderError::Cut);
    if (statusLine) {
        if (!SameText(line.substr(0, 5), "http/"))
            return refuse(TReplyHeaderError::NotHttp);
        header.Size = line.size();
        TakeStatusLine(header, line);
        return true;
    }
    header.Size += line.size();
    if (line == "\n" || line == "\r\n") {
        header.Complete = true;
        return false;
    }
    if (++header.Lines > TReplyHeader::MaxLines)
        return refuse(TReplyHeaderError::TooManyLines);
    TakeField(header, line);
    return true;
}

TReplyHeader ParseReplyHeader(std::string_view bytes)
{
    TReplyHeader header;
    for (std::string_view rest = bytes;;) {
        // The socket gives a line through its line feed, a piece of
        // MaxLine - 1 bytes when that many have none, and nothing at all
        // when the peer closes in the middle of a line.
        const size_t lineFeed = rest.find('\n');
        const std::string_view line = lineFeed != std::string_view::npos
            ? rest.substr(0, lineFeed + 1)
            : rest.substr(0, rest.size() >= TReplyHeader::MaxLine ? TReplyHeader::MaxLine - 1 : 0);
        if (!AddReplyHeaderLine(header, line))
            return header;
        rest.remove_prefix(line.size());
    }
}
