// The base64 encoder: any bytes. Checks the line layout (45 input bytes, 60
// characters and CR LF per line), decodes every line with Qt's strict
// decoder as the reference, and checks the one-line header form and the
// processor's own decoding (base64 and uuencode) round trip.
#include "fuzz/FuzzSupport.h"
#include "net/Nmuue.h"

#include <QBuffer>

namespace {

std::string Run(UUMethods method, bool encode, const std::string &bytes)
{
    QBuffer input, output;
    input.setData(QByteArray::fromStdString(bytes));
    input.open(QIODevice::ReadOnly);
    output.open(QIODevice::ReadWrite);
    TNMUUProcessor processor;
    processor.Method = method;
    processor.InputStream = &input;
    processor.OutputStream = &output;
    encode ? processor.Encode() : processor.Decode();
    FUZZ_CHECK(output.pos() == 0, "output not rewound");
    return output.data().toStdString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::string encoded = Run(uuMime, true, input);

    std::string decoded, oneLine;
    size_t start = 0;
    while (start < encoded.size()) {
        const size_t end = encoded.find("\r\n", start);
        FUZZ_CHECK(end != std::string::npos, "line without CR LF");
        const std::string line = encoded.substr(start, end - start);
        const size_t chunk = std::min<size_t>(45, input.size() - decoded.size());
        FUZZ_CHECK(line.size() == (chunk + 2) / 3 * 4,
                   "line length " + std::to_string(line.size()));
        const auto reference = QByteArray::fromBase64Encoding(
            QByteArray::fromStdString(line), QByteArray::AbortOnBase64DecodingErrors);
        FUZZ_CHECK(bool(reference), "not base64: " + line);
        decoded += reference.decoded.toStdString();
        oneLine += line;
        start = end + 2;
    }
    FUZZ_CHECK(decoded == input, "round trip");
    FUZZ_CHECK(Base64Encode(input) == oneLine, "header form differs");
    FUZZ_CHECK(Run(uuMime, false, encoded) == input, "own base64 decoding");
    FUZZ_CHECK(Run(uuCode, false, Run(uuCode, true, input)) == input, "uuencode round trip");
    return 0;
}
