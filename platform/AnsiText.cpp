#include "platform/AnsiText.h"

#include <QStringDecoder>

namespace {

// Windows-1252's 0x80..0x9F; the rest of the range is Latin-1.
constexpr char16_t kCp1252High[32]
    = { 0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178 };

QString FromCp1252(const std::string &bytes)
{
    QString out;
    out.reserve(qsizetype(bytes.size()));
    for (unsigned char c : bytes)
        out.append(QChar(c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char16_t(c)));
    return out;
}

// The byte of a character in Windows-1252, or 0 for one it can't hold.
char ToCp1252(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF))
        return char(u);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == u)
            return char(0x80 + i);
    return '\0';
}

} // namespace

QString ToDisplay(const std::string &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    return FromCp1252(bytes);
}

std::string FromDisplay(const QString &text)
{
    return text.toStdString();
}

std::string ToSameEncoding(const QString &text, const std::string &original)
{
    if (IsUtf8(original))
        return text.toStdString();
    std::string out;
    ToWindows1252(text, out);
    return out;
}

bool IsUtf8(std::string_view bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    Q_UNUSED(decoded); // decoding is lazy: converting runs it
    return !utf8.hasError();
}

bool ToWindows1252(const QString &text, std::string &bytes)
{
    bytes.clear();
    bytes.reserve(size_t(text.size()));
    bool exact = true;
    for (QChar c : text) {
        const char b = ToCp1252(c);
        exact = exact && (b != '\0' || c.unicode() == 0);
        bytes.push_back(b != '\0' || c.unicode() == 0 ? b : '?');
    }
    return exact;
}

std::string_view WithoutByteOrderMark(std::string_view text)
{
    constexpr std::string_view kMark = "\xEF\xBB\xBF";
    if (text.starts_with(kMark))
        text.remove_prefix(kMark.size());
    return text;
}
