// Text helpers of the grid: CSV splitting, markup, the kind of a text (see Advutil.h).

#include "grid/Advutil.h"

#include "platform/Exceptions.h"

#include <cstring>

size_t SinglePos(char ch, std::string_view s)
{
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != ch)
            continue;
        if (i + 1 == s.size())
            return i + 1;
        if (s[i + 1] != ch && (i == 0 || s[i - 1] != ch))
            return i + 1;
    }
    return 0;
}

int NumSingleChar(char ch, std::string_view s)
{
    int count = 0;
    while (size_t p = SinglePos(ch, s)) {
        s.remove_prefix(p);
        ++count;
    }
    return count;
}

std::string DoubleToSingleChar(char ch, std::string_view s)
{
    if (s.empty() || s.find(ch) == std::string_view::npos)
        return std::string(s);
    std::string out(1, s[0]);
    for (size_t i = 1; i < s.size(); ++i)
        if (!(s[i] == ch && s[i - 1] == ch))
            out += s[i];
    return out;
}

std::string CSVToLineFeeds(std::string_view s)
{
    std::string out;
    out.reserve(s.size() + 8);
    for (char c : s) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

namespace {

// Code page 437's upper half in Unicode.
constexpr char16_t kCp437High[128]
    = { 0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8,
        0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2,
        0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1,
        0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD,
        0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562,
        0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534,
        0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560,
        0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,
        0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393,
        0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6,
        0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0,
        0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0 };

// Windows-1252's 0x80..0x9F in Unicode.
constexpr char16_t kCp1252High[32]
    = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

char ToCp1252(char16_t u)
{
    if (u >= 0xA0 && u <= 0xFF)
        return char(u);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == u)
            return char(0x80 + i);
    return '?';
}

void DecodeLineBreaks(std::string_view field, bool tildeLineBreaks,
                      std::vector<std::string_view> &fields, std::deque<std::string> &scratch)
{
    if (tildeLineBreaks) {
        if (field.find('~') == std::string_view::npos) {
            fields.push_back(field);
            return;
        }
        std::string out;
        for (char c : field)
            out += c == '~' ? std::string("\r\n") : std::string(1, c);
        fields.push_back(scratch.emplace_back(std::move(out)));
    } else if (field.find('\n') != std::string_view::npos) {
        fields.push_back(scratch.emplace_back(CSVToLineFeeds(field)));
    } else {
        fields.push_back(field);
    }
}

std::string_view Collapsed(std::string_view s, std::deque<std::string> &scratch)
{
    if (s.find('"') == std::string_view::npos)
        return s;
    return scratch.emplace_back(DoubleToSingleChar('"', s));
}

size_t FindDelimiter(std::string_view s, char delimiter)
{
    if (delimiter == '\0')
        return 0; // no delimiter: the whole line is one field
    const size_t p = s.find(delimiter);
    return p == std::string_view::npos ? 0 : p + 1;
}

} // namespace

std::string OemToAnsi(std::string_view s)
{
    std::string out(s);
    for (char &c : out) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x80)
            c = ToCp1252(kCp437High[b - 0x80]);
    }
    return out;
}

void SplitCSVLine(std::string_view line, char delimiter, bool tildeLineBreaks,
                  std::vector<std::string_view> &fields, std::deque<std::string> &scratch)
{
    fields.clear();
    std::string_view rest = line;
    size_t p;
    while ((p = FindDelimiter(rest, delimiter)) != 0) {
        std::string_view field;
        if (rest.front() == '"') {
            rest.remove_prefix(1);
            const size_t q = SinglePos('"', rest);
            if (q >= 1) {
                field = Collapsed(rest.substr(0, q - 1), scratch);
                rest.remove_prefix(q);
            }
            p = FindDelimiter(rest, delimiter);
        } else {
            field = rest.substr(0, p - 1);
        }
        DecodeLineBreaks(field, tildeLineBreaks, fields, scratch);
        rest.remove_prefix(p);
        if (p == 0)
            break; // the quoted field took the last delimiter's place
    }
    if (rest.empty())
        return;
    if (rest.front() == '"')
        rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '"')
        rest.remove_suffix(1);
    DecodeLineBreaks(Collapsed(rest, scratch), tildeLineBreaks, fields, scratch);
}

char DetectDelimiter(std::string_view line1, std::string_view line2)
{
    char delimiter = '\0';
    int best = 0;
    for (char candidate : { ',', ';', '#', '\t', '|' }) {
        const int k1 = NumSingleChar(candidate, line1);
        const int k2 = NumSingleChar(candidate, line2);
        if (k1 == k2 && k1 > best) {
            delimiter = candidate;
            best = k1;
        }
    }
    return delimiter;
}

TCSVLineReader::TCSVLineReader(std::FILE *file, std::string fileName)
    : m_file(file), m_fileName(std::move(fileName)), m_buffer(1 << 16)
{
}

bool TCSVLineReader::Fill()
{
    if (m_eof)
        return false;
    m_pos = 0;
    m_end = std::fread(m_buffer.data(), 1, m_buffer.size(), m_file);
    if (m_end == 0) {
        if (std::ferror(m_file))
            throw EInOutError("Read error on file " + m_fileName);
        m_eof = true;
        return false;
    }
    return true;
}

bool TCSVLineReader::ReadLine(std::string &line)
{
    return NextLine(&line);
}

bool TCSVLineReader::SkipLine()
{
    return NextLine(nullptr);
}

bool TCSVLineReader::NextLine(std::string *line)
{
    if (line)
        line->clear();
    bool any = false;
    for (;;) {
        if (m_pos == m_end && !Fill())
            return any;
        if (m_skipLF) {
            m_skipLF = false;
            if (m_buffer[m_pos] == '\n' && ++m_pos == m_end)
                continue;
        }
        const char *start = m_buffer.data() + m_pos;
        const size_t avail = m_end - m_pos;
        const void *cr = std::memchr(start, '\r', avail);
        const size_t span = cr ? size_t(static_cast<const char *>(cr) - start) : avail;
        if (const void *eof = std::memchr(start, '\x1a', span)) {
            const size_t before = size_t(static_cast<const char *>(eof) - start);
            if (line)
                line->append(start, before);
            m_eof = true;
            m_pos = m_end = 0;
            return any || before > 0;
        }
        if (line)
            line->append(start, span);
        any = true;
        m_pos += span;
        if (cr) {
            ++m_pos;
            m_skipLF = true;
            return true;
        }
    }
}

void TCSVLineReader::Rewind()
{
    if (std::fseek(m_file, 0, SEEK_SET) != 0)
        throw EInOutError("Seek error on file " + m_fileName);
    std::clearerr(m_file);
    m_pos = m_end = 0;
    m_eof = false;
    m_skipLF = false;
}

bool IsHTML(std::string_view s)
{
    if (s.find('<') == std::string_view::npos)
        return false;
    for (const char *tag : { "</", "<B", "<I", "<b", "<i" })
        if (s.find(tag) != std::string_view::npos)
            return true;
    return false;
}

std::string StripHTML(std::string_view s)
{
    std::string out;
    bool inTag = false;
    for (char c : s) {
        if (c == '<')
            inTag = true;
        else if (c == '>' && inTag)
            inTag = false;
        else if (!inTag)
            out += c;
    }
    return out;
}

TTextKind DetectTextKind(std::string_view s, char thousandSeparator, char decimalSeparator)
{
    const auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
    bool allDigits = true;
    bool numberLike = true;
    int minus = 0, decimals = 0;
    size_t lastThousand = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (isDigit(c))
            continue;
        if (c == '-') {
            ++minus;
            continue;
        }
        allDigits = false;
        if (c == thousandSeparator && thousandSeparator != '\0') {
            if (i + 1 - lastThousand < 3)
                numberLike = false;
            lastThousand = i + 1;
        } else if (c == decimalSeparator) {
            ++decimals;
        } else {
            numberLike = false;
            break;
        }
    }
    if (minus < 2 && decimals < 2 && (allDigits || numberLike))
        return TTextKind::Number;
    // Only the first "/" counts, and only at place 2 or 3: no need to look further.
    size_t slash = 0;
    if (s.size() > 1 && s[1] == '/')
        slash = 1;
    else if (s.size() > 2 && s[2] == '/' && s[0] != '/')
        slash = 2;
    if (slash && slash + 1 < s.size() && isDigit(s[slash - 1]) && isDigit(s[slash + 1]))
        return TTextKind::Date;
    return TTextKind::Text;
}

bool IsAscii(std::string_view s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

namespace {

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

} // namespace

bool EndsInsideCharacter(const std::string &s)
{
    size_t lead = s.size();
    while (lead > 0 && IsContinuation(s[lead - 1]))
        --lead;
    if (lead == 0)
        return false;
    const unsigned char c = static_cast<unsigned char>(s[lead - 1]);
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return s.size() - (lead - 1) < length;
}

void DropLastCharacter(std::string &s)
{
    while (!s.empty() && IsContinuation(s.back()))
        s.pop_back();
    if (!s.empty())
        s.pop_back();
}
