#include "platform/TextFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

std::vector<std::string> ReadAll(const std::string &path, const char *mode, int size)
{
    TTextFile file(path, mode);
    EXPECT_TRUE(file.IsOpen());
    std::vector<std::string> lines;
    for (std::string line; file.ReadLine(line, size);)
        lines.push_back(line);
    return lines;
}

using LineVector = std::vector<std::string>;

} // namespace

TEST(TextFile, TextModeReadsLinesAsTheCLibraryDoes)
{
    struct Case {
        const char *what;
        std::string bytes;
        int size;
        LineVector lines;
    } cases[] = {
        { "CR LF and LF read alike", "a\r\nb\nc\r\n", 100, { "a\n", "b\n", "c\n" } },
        { "every CR is dropped", "a\rb\r\r\nc\r", 100, { "ab\n", "c" } },
        { "CRs first, last and before Ctrl-Z", "\r\ra\r\nb\r\x1a\r", 100, { "a\n", "b" } },
        { "only CRs", "\r\r\r", 100, {} },
        { "last line without LF", "one\ntwo", 100, { "one\n", "two" } },
        { "Ctrl-Z ends the file",
          "a\nb\x1a"
          "c\nd\n",
          100,
          { "a\n", "b" } },
        { "Ctrl-Z at a line start",
          "a\n\x1a"
          "b\n",
          100,
          { "a\n" } },
        { "at most size - 1 characters", "abcdefg\nhi\n", 5, { "abcd", "efg\n", "hi\n" } },
        { "LF as the last of size - 1", "abc\nd", 5, { "abc\n", "d" } },
        { "dropped CRs don't count", "ab\r\r\r\ncd", 4, { "ab\n", "cd" } },
        { "empty lines", "\n\n", 10, { "\n", "\n" } },
        { "empty file", "", 10, {} },
        { "only Ctrl-Z", "\x1a", 10, {} },
    };
    QTemporaryDir dir;
    const std::string path = dir.filePath("t.txt").toStdString();
    for (const Case &c : cases) {
        WriteFileBytes(path, c.bytes);
        EXPECT_EQ(ReadAll(path, "rt", c.size), c.lines) << c.what;
    }
}

TEST(TextFile, LongLinesAcrossReadBlocks)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("big.txt").toStdString();
    std::string bytes, line(1500, 'x');
    for (int i = 0; i < 200; ++i)
        bytes += line + "\r\n";
    WriteFileBytes(path, bytes);
    const LineVector lines = ReadAll(path, "rt", 1040);
    ASSERT_EQ(lines.size(), 400u);
    EXPECT_EQ(lines[0], std::string(1039, 'x'));
    EXPECT_EQ(lines[1], std::string(461, 'x') + "\n");
    std::string joined;
    for (const std::string &l : lines)
        joined += l;
    EXPECT_EQ(joined.size(), 200u * 1501);
}

TEST(TextFile, BinaryModeKeepsBytes)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("b.bin").toStdString();
    WriteFileBytes(path,
                   "a\r\n\x1a"
                   "b");
    EXPECT_EQ(ReadAll(path, "rb", 100),
              (LineVector { "a\r\n",
                            "\x1a"
                            "b" }));
}

TEST(TextFile, TextModeWritesLfAsCrLfAndEmptiesTheFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("w.txt").toStdString();
    WriteFileBytes(path, "old content that is longer\r\n");
    {
        TTextFile file(path, "w+t");
        ASSERT_TRUE(file.IsOpen());
        EXPECT_TRUE(file.Write("SLPS-01234\n"));
        EXPECT_TRUE(file.Write("a\n\nb"));
        EXPECT_TRUE(file.Write("\r\n"));
        EXPECT_TRUE(file.Close());
    }
    EXPECT_EQ(ReadFileBytes(path), "SLPS-01234\r\na\r\n\r\nb\r\r\n");
    EXPECT_EQ(ReadAll(path, "rt", 100), (LineVector { "SLPS-01234\n", "a\n", "\n", "b\n" }));
}

TEST(TextFile, OpenFailuresAreReported)
{
    QTemporaryDir dir;
    TTextFile file;
    EXPECT_FALSE(file.Open(dir.filePath("missing.txt").toStdString(), "rt"));
    EXPECT_FALSE(file.Open(dir.path().toStdString(), "rt")) << "a directory is no file";
    EXPECT_EQ(file.OpenFailure(), "Is a directory");
    // Nothing but a regular file is read, and opening never waits for a writer.
    const std::string fifo = dir.filePath("pipe").toStdString();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_FALSE(file.Open(fifo, "rt"));
    EXPECT_EQ(file.OpenFailure(), "Is a named pipe, not a file");
    EXPECT_FALSE(file.Open("/dev/null", "rb"));
    EXPECT_EQ(file.OpenFailure(), "Is a device, not a file");
    EXPECT_FALSE(file.Open(dir.filePath("no/such/dir/x.txt").toStdString(), "w+t"));
    std::string line = "stale";
    EXPECT_FALSE(file.ReadLine(line, 10));
    EXPECT_EQ(line, "");
    EXPECT_FALSE(file.Write("x"));
}

TEST(TextFile, WriteFailureShowsAtClose)
{
    TTextFile file("/dev/full", "w+t");
    ASSERT_TRUE(file.IsOpen());
    file.Write(std::string(100000, 'x'));
    EXPECT_FALSE(file.Close());
}
