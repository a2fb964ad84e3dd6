// The HTTP client's reply header parser, in process: any bytes as the start
// of a reply. The header must end complete or with one error; a complete one
// must end at an empty line, come out the same from its own bytes without
// the body and from its lines given one by one, and have fields whose names
// and values hold no line end.
#include "fuzz/FuzzSupport.h"
#include "net/ReplyHeader.h"

namespace {

bool SameHeader(const TReplyHeader &a, const TReplyHeader &b)
{
    if (a.Fields.size() != b.Fields.size())
        return false;
    for (size_t i = 0; i < a.Fields.size(); ++i)
        if (a.Fields[i].Name != b.Fields[i].Name || a.Fields[i].Value != b.Fields[i].Value)
            return false;
    return a.Version == b.Version && a.Code == b.Code && a.Reason == b.Reason && a.Lines == b.Lines
        && a.Size == b.Size && a.Complete == b.Complete && a.Error == b.Error;
}

void CheckFields(const TReplyHeader &header)
{
    FUZZ_CHECK(header.Fields.size() <= size_t(header.Lines), std::to_string(header.Lines));
    FUZZ_CHECK(header.Lines <= TReplyHeader::MaxLines
                       + (header.Error == TReplyHeaderError::TooManyLines ? 1 : 0),
               std::to_string(header.Lines));
    for (const TReplyField &field : header.Fields) {
        FUZZ_CHECK(field.Name.find_first_of(":\n") == std::string::npos, field.Name);
        FUZZ_CHECK(field.Value.find('\n') == std::string::npos, field.Value);
        FUZZ_CHECK(
            field.Value.empty()
                || (field.Value.back() != '\r' && field.Value[0] != ' ' && field.Value[0] != '\t'),
            field.Value);
        const std::optional<std::string> value = header.Value(field.Name);
        FUZZ_CHECK(value.has_value(), "no value for " + field.Name);
    }
    if (const auto length = header.ContentLength())
        FUZZ_CHECK(*length >= 0, std::to_string(*length));
}

void CheckComplete(const TReplyHeader &header, std::string_view bytes)
{
    const std::string_view text = bytes.substr(0, header.Size);
    FUZZ_CHECK(text.size() >= 2 && text.back() == '\n', "ends without a line feed");
    const size_t lastLine = text.find_last_of('\n', text.size() - 2);
    const std::string_view empty
        = text.substr(lastLine == std::string_view::npos ? 0 : lastLine + 1);
    FUZZ_CHECK(empty == "\n" || empty == "\r\n", "ends at a line that isn't empty");
    FUZZ_CHECK(SameHeader(ParseReplyHeader(text), header), "the body changed the header");

    TReplyHeader byLines;
    for (size_t start = 0; start < text.size();) {
        const size_t end = text.find('\n', start) + 1;
        const bool more = AddReplyHeaderLine(byLines, text.substr(start, end - start));
        start = end;
        FUZZ_CHECK(more == (start < text.size()), "ended at another line");
    }
    FUZZ_CHECK(SameHeader(byLines, header), "line by line differs");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char *>(data), size);
    const TReplyHeader header = ParseReplyHeader(bytes);
    FUZZ_CHECK(header.Complete != (header.Error != TReplyHeaderError::None),
               "complete and refused, or neither");
    FUZZ_CHECK(header.Size <= size, std::to_string(header.Size));
    FUZZ_CHECK(header.Code >= 0 && header.Code <= 999, std::to_string(header.Code));
    if (header.Error == TReplyHeaderError::NoReply || header.Error == TReplyHeaderError::NotHttp)
        FUZZ_CHECK(header.Size == 0 && header.Fields.empty(), "took a line of no reply");
    CheckFields(header);
    if (header.Complete)
        CheckComplete(header, bytes);
    return 0;
}
