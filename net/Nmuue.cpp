#include "net/Nmuue.h"

#include "platform/Exceptions.h"

#include <QBuffer>

#include <algorithm>
#include <vector>

namespace {

constexpr char MimeTable[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char UUTable[] = "`!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_";
constexpr int LineBytes = 45;

// The 6-bit value of an alphabet character, or -1.
int MimeValue(char c)
{
    const char *at = std::find(MimeTable, MimeTable + 64, c);
    return at == MimeTable + 64 ? -1 : int(at - MimeTable);
}

// Turns groups of four 6-bit values into bytes; a short last group of two or
// three values gives one or two bytes.
std::string Unpack(const std::vector<int> &values)
{
    std::string out;
    for (size_t i = 0; i + 1 < values.size(); i += 4) {
        const int n = int(std::min<size_t>(4, values.size() - i));
        unsigned bits = 0;
        for (int k = 0; k < 4; ++k)
            bits = bits << 6 | unsigned(k < n ? values[i + size_t(k)] : 0);
        for (int k = 0; k < n - 1; ++k)
            out += char(bits >> (16 - 8 * k) & 0xFF);
    }
    return out;
}

void WriteAll(QIODevice &stream, const std::string &bytes)
{
    if (stream.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        throw Exception("Cannot write the encoded text: " + stream.errorString().toStdString());
}

} // namespace

TNMUUProcessor::TNMUUProcessor(QObject *owner) : QObject(owner)
{
}

void TNMUUProcessor::CheckStreams() const
{
    if (!InputStream || !OutputStream)
        throw Exception("The encoder needs an input and an output stream");
}

std::string TNMUUProcessor::EncodeLine(const unsigned char *bytes, int count) const
{
    const char *table = Method == uuMime ? MimeTable : UUTable;
    std::string line;
    if (Method == uuCode)
        line += table[count];
    for (int i = 0; i < count; i += 3) {
        const int n = std::min(3, count - i);
        const unsigned bits = unsigned(bytes[i]) << 16 | unsigned(n > 1 ? bytes[i + 1] : 0) << 8
            | unsigned(n > 2 ? bytes[i + 2] : 0);
        for (int k = 0; k < 4; ++k) {
            // base64 pads a short group with '='; uuencode carries the length up front.
            if (Method == uuMime && k > n)
                line += '=';
            else
                line += table[bits >> (18 - 6 * k) & 0x3F];
        }
    }
    return line + "\r\n";
}

void TNMUUProcessor::Encode()
{
    CheckStreams();
    InputStream->seek(0);
    if (OnBeginEncode)
        OnBeginEncode(this);
    char block[LineBytes];
    for (int n; (n = int(InputStream->read(block, LineBytes))) > 0;)
        WriteAll(*OutputStream, EncodeLine(reinterpret_cast<unsigned char *>(block), n));
    OutputStream->seek(0);
    if (OnEndEncode)
        OnEndEncode(this);
}

void TNMUUProcessor::Decode()
{
    CheckStreams();
    InputStream->seek(0);
    const std::string text = InputStream->readAll().toStdString();
    if (OnBeginDecode)
        OnBeginDecode(this);
    size_t start = 0;
    std::vector<int> values;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        if (Method == uuMime) {
            // base64 runs on across lines until its padding.
            for (char c : line.substr(0, line.find('=')))
                if (const int v = MimeValue(c); v >= 0)
                    values.push_back(v);
            continue;
        }
        if (line.empty() || line[0] == '\r')
            continue;
        const size_t count = size_t((line[0] - ' ') & 0x3F);
        std::vector<int> lineValues;
        for (size_t i = 1; i < line.size() && line[i] != '\r'; ++i)
            lineValues.push_back((line[i] - ' ') & 0x3F);
        WriteAll(*OutputStream, Unpack(lineValues).substr(0, count));
    }
    if (Method == uuMime)
        WriteAll(*OutputStream, Unpack(values));
    OutputStream->seek(0);
    if (OnEndDecode)
        OnEndDecode(this);
}

std::string Base64Encode(const std::string &bytes)
{
    QBuffer input, output;
    input.setData(QByteArray::fromStdString(bytes));
    input.open(QIODevice::ReadOnly);
    output.open(QIODevice::ReadWrite);
    TNMUUProcessor encoder;
    encoder.InputStream = &input;
    encoder.OutputStream = &output;
    encoder.Encode();
    // Long input spans several lines; a header value must stay on one.
    std::string text = output.data().toStdString();
    std::erase(text, '\r');
    std::erase(text, '\n');
    return text;
}
