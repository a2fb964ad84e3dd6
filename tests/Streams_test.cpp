#include "platform/Streams.h"

#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Streams, MemoryStreamReadsWritesAndSeeks)
{
    TMemoryStream s;
    s.WriteString("hello world");
    EXPECT_EQ(s.Size(), 11);
    EXPECT_EQ(s.Position(), 11);
    s.SetPosition(6);
    s.WriteString("WORLD!");
    EXPECT_EQ(s.Bytes(), "hello WORLD!");
    s.SetPosition(0);
    char buf[8] = {};
    EXPECT_EQ(s.Read(buf, 5), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    s.Seek(-2, TStream::soEnd);
    EXPECT_EQ(s.Read(buf, 8), 2);
    EXPECT_EQ(s.Read(buf, 8), 0);
    EXPECT_THROW(s.ReadBuffer(buf, 1), EReadError);
    s.Seek(3, TStream::soEnd);
    s.WriteString("x");
    EXPECT_EQ(s.Bytes(), std::string("hello WORLD!\0\0\0x", 16));
}

TEST(Streams, FileStreamModesAndErrorsNameTheFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("f.bin").toStdString();
    EXPECT_THROW(TFileStream(path, TFileStream::fmOpenRead), EFOpenError);
    {
        TFileStream f(path, TFileStream::fmCreate);
        f.WriteString("0123456789");
    }
    {
        TFileStream f(path, TFileStream::fmOpenReadWrite);
        EXPECT_EQ(f.Size(), 10);
        f.Seek(0, TStream::soEnd);
        f.WriteString("ab");
    }
    EXPECT_EQ(ReadFileBytes(path), "0123456789ab");
    {
        TFileStream f(path, TFileStream::fmCreate);
    }
    EXPECT_EQ(ReadFileBytes(path), "");
    const std::string bad = dir.filePath("no/such/dir").toStdString();
    try {
        TFileStream f(bad, TFileStream::fmCreate);
        FAIL();
    } catch (const EFCreateError &e) {
        EXPECT_NE(e.Message().find(bad), std::string::npos);
    }
}
