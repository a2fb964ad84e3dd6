#include "net/Nmuue.h"

#include "platform/Exceptions.h"

#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

std::string Process(TNMUUProcessor &processor, const std::string &input, bool encode)
{
    QBuffer in, out;
    in.setData(input.data(), qsizetype(input.size()));
    in.open(QIODevice::ReadOnly);
    out.open(QIODevice::ReadWrite);
    processor.InputStream = &in;
    processor.OutputStream = &out;
    encode ? processor.Encode() : processor.Decode();
    EXPECT_EQ(out.pos(), 0);
    return out.data().toStdString();
}

std::string Encode(const std::string &input, UUMethods method = uuMime)
{
    TNMUUProcessor processor;
    processor.Method = method;
    return Process(processor, input, true);
}

std::string Decode(const std::string &text, UUMethods method = uuMime)
{
    TNMUUProcessor processor;
    processor.Method = method;
    return Process(processor, text, false);
}

// Each input encoded by python3's base64 (or binascii's uuencode), 45 bytes
// per line; one process for all of them.
std::vector<std::string> PythonEncode(const std::vector<std::string> &inputs, const char *method)
{
    QTemporaryDir dir;
    QStringList args = { "-c", R"(
import base64, binascii, sys
for path in sys.argv[2:]:
    data = open(path, 'rb').read()
    for i in range(0, len(data), 45):
        chunk = data[i:i + 45]
        if sys.argv[1] == 'mime':
            line = base64.b64encode(chunk)
        else:
            line = binascii.b2a_uu(chunk, backtick=True)[:-1]
        sys.stdout.buffer.write(line + b'\r\n')
    sys.stdout.buffer.write(b'\0')
)",
                         method };
    for (size_t i = 0; i < inputs.size(); ++i) {
        const QString path = dir.filePath(QString::number(i));
        WriteFileBytes(path.toStdString(), inputs[i]);
        args << path;
    }
    QProcess python;
    python.start(TIRMO_PYTHON, args);
    EXPECT_TRUE(python.waitForFinished(20000));
    std::vector<std::string> outputs;
    std::string out = python.readAllStandardOutput().toStdString();
    for (size_t at; (at = out.find('\0')) != std::string::npos; out.erase(0, at + 1))
        outputs.push_back(out.substr(0, at));
    return outputs;
}

std::string AllBytes(size_t n)
{
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += char((i * 7 + 3) & 0xFF);
    return s;
}

} // namespace

TEST(NMUUProcessor, Base64Table)
{
    std::string fullLine;
    for (int i = 0; i < 15; ++i)
        fullLine += "eHh4";
    struct Case {
        std::string in, out;
    } cases[] = {
        { "", "" },
        { "a", "YQ==\r\n" },
        { "ab", "YWI=\r\n" },
        { "abc", "YWJj\r\n" },
        { "user:pass", "dXNlcjpwYXNz\r\n" },
        { "\xff\xfe\xfd", "//79\r\n" },
        { std::string(45, 'x'), fullLine + "\r\n" },
        { std::string(46, 'x'), fullLine + "\r\neA==\r\n" },
    };
    for (const Case &c : cases)
        EXPECT_EQ(Encode(c.in), c.out) << c.in;
}

TEST(NMUUProcessor, MatchesPythonAtLineBoundaries)
{
    std::vector<std::string> inputs;
    for (size_t n : { 1, 2, 3, 44, 45, 46, 89, 90, 91, 1000 })
        inputs.push_back(AllBytes(n));
    const std::vector<std::string> mime = PythonEncode(inputs, "mime");
    const std::vector<std::string> uu = PythonEncode(inputs, "uu");
    ASSERT_EQ(mime.size(), inputs.size());
    ASSERT_EQ(uu.size(), inputs.size());
    for (size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(Encode(inputs[i]), mime[i]) << inputs[i].size();
        EXPECT_EQ(Encode(inputs[i], uuCode), uu[i]) << inputs[i].size();
        EXPECT_EQ(Decode(mime[i]), inputs[i]) << inputs[i].size();
        EXPECT_EQ(Decode(uu[i], uuCode), inputs[i]) << inputs[i].size();
    }
}

TEST(NMUUProcessor, EventsRewindAndMissingStreams)
{
    TNMUUProcessor processor;
    std::vector<std::string> events;
    processor.OnBeginEncode
        = [&](QObject *s) { events.push_back(s == &processor ? "begin" : "?"); };
    processor.OnEndEncode = [&](QObject *) { events.push_back("end"); };
    processor.OnBeginDecode = [&](QObject *) { events.push_back("begin decode"); };
    processor.OnEndDecode = [&](QObject *) { events.push_back("end decode"); };

    QBuffer in, out;
    in.open(QIODevice::ReadWrite);
    in.write("abcd"); // left at the end: Encode starts from the front anyway
    out.open(QIODevice::ReadWrite);
    processor.InputStream = &in;
    processor.OutputStream = &out;
    processor.Encode();
    EXPECT_EQ(out.data().toStdString(), "YWJjZA==\r\n");
    EXPECT_EQ(Decode("YWJj\r\nZA==\r\n"), "abcd");
    EXPECT_EQ(Process(processor, "YW Jj\r\nZA==", false), "abcd");
    EXPECT_EQ(events, (std::vector<std::string> { "begin", "end", "begin decode", "end decode" }));

    processor.OutputStream = nullptr;
    EXPECT_THROW(processor.Encode(), Exception);
}

TEST(NMUUProcessor, Base64EncodeKeepsLongValuesOnOneLine)
{
    const std::string credentials = std::string(40, 'u') + ":" + std::string(40, 'p');
    const std::string value = Base64Encode(credentials);
    EXPECT_EQ(value.find_first_of("\r\n"), std::string::npos);
    EXPECT_EQ(Decode(value), credentials);
    EXPECT_EQ(Base64Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
}
