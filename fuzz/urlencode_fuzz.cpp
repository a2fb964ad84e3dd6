// URL encoding: any bytes. Checks every byte against the encoding table and
// that decoding the result gives the input back.
#include "fuzz/FuzzSupport.h"
#include "net/Nmurl.h"

#include <QByteArray>

#include <cctype>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    TNMURL url;
    url.InputString = input;
    const std::string encoded = url.Encode();

    size_t at = 0;
    for (unsigned char c : input) {
        char expected[4];
        if (std::isalnum(c) && c < 128)
            std::snprintf(expected, sizeof expected, "%c", c);
        else if (c == ' ')
            std::snprintf(expected, sizeof expected, "+");
        else
            std::snprintf(expected, sizeof expected, "%%%02X", c);
        const std::string piece = expected;
        FUZZ_CHECK(encoded.compare(at, piece.size(), piece) == 0, "byte " + std::to_string(c));
        at += piece.size();
    }
    FUZZ_CHECK(at == encoded.size(), "trailing output");

    QByteArray plus = QByteArray::fromStdString(encoded);
    plus.replace('+', ' ');
    FUZZ_CHECK(QByteArray::fromPercentEncoding(plus).toStdString() == input, "round trip");
    return 0;
}
