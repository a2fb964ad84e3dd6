// The UU/base64 decoder on hostile text: the first input byte picks the
// method (bit 0: uuencode) and whether the input stream starts at its end
// (bit 1; decoding reads from the start anyway), the rest is the text.
// base64 is checked against Qt's decoder given the alphabet characters ahead
// of each line's first '='; uuencode against a plain bit-stream decoding of
// each line cut to the length its first character gives.
#include "fuzz/FuzzSupport.h"
#include "net/Nmuue.h"

#include <QBuffer>

namespace {

std::string ExpectedBase64(const std::string &text)
{
    static const std::string alphabet
        = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string kept;
    for (const std::string &line : LfLines(text))
        for (char c : line.substr(0, line.find('=')))
            if (alphabet.find(c) != std::string::npos)
                kept += c;
    return QByteArray::fromBase64(QByteArray::fromStdString(kept)).toStdString();
}

// Six bits per character (its code less 32), eight to a byte.
std::string SixBitStream(const std::string &chars)
{
    std::string out;
    unsigned bits = 0;
    int held = 0;
    for (char c : chars) {
        bits = (bits << 6 | ((unsigned(static_cast<unsigned char>(c)) - 32U) & 0x3F)) & 0xFFFF;
        held += 6;
        if (held >= 8) {
            held -= 8;
            out += char(bits >> held & 0xFF);
        }
    }
    return out;
}

std::string ExpectedUU(const std::string &text)
{
    std::string out;
    for (const std::string &line : LfLines(text)) {
        if (line.empty() || line[0] == '\r')
            continue;
        const size_t count = (unsigned(static_cast<unsigned char>(line[0])) - 32U) & 0x3F;
        const std::string body = line.substr(1, line.find('\r', 1) - 1);
        out += SixBitStream(body).substr(0, count);
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool uu = data[0] & 1, atEnd = data[0] & 2;
    const std::string text(reinterpret_cast<const char *>(data + 1), size - 1);

    QBuffer input, output;
    input.setData(QByteArray::fromStdString(text));
    input.open(QIODevice::ReadOnly);
    if (atEnd)
        input.seek(input.size());
    output.open(QIODevice::ReadWrite);
    TNMUUProcessor processor;
    processor.Method = uu ? uuCode : uuMime;
    processor.InputStream = &input;
    processor.OutputStream = &output;
    int begun = 0, ended = 0;
    processor.OnBeginDecode = [&](QObject *) { ++begun; };
    processor.OnEndDecode = [&](QObject *) { ++ended; };
    processor.Decode();

    FUZZ_CHECK(begun == 1 && ended == 1, "begin/end events");
    FUZZ_CHECK(output.pos() == 0, "output not rewound");
    const std::string decoded = output.data().toStdString();
    FUZZ_CHECK(decoded == (uu ? ExpectedUU(text) : ExpectedBase64(text)),
               std::string(uu ? "uuencode" : "base64") + " decoding differs");
    return 0;
}
