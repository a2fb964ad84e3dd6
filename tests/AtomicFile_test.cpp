#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

size_t FilesIn(const std::string &folder)
{
    return size_t(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

} // namespace

TEST(AtomicFile, ReplacesWholeAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Sega CD.dat").toStdString();
    WriteFileBytes(path, "old\r\n");
    WriteFileAtomically(path, "new1\r\nnew2\r\n");
    EXPECT_EQ(ReadFileBytes(path), "new1\r\nnew2\r\n");
    EXPECT_EQ(FilesIn(dir.path().toStdString()), 1u);
}

TEST(AtomicFile, MissingFolderIsCannotCreate)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("no/such/x.txt").toStdString();
    try {
        WriteFileAtomically(path, "x");
        FAIL() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot create file " + path);
    }
}

// A kill between writing and renaming leaves the old file and no file at the
// target's name that isn't whole.
TEST(AtomicFile, KillBeforeRenameKeepsOldFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("list.dat").toStdString();
    WriteFileBytes(path, "old\r\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetBeforeReplaceHook([](const std::string &) { ::raise(SIGKILL); });
        WriteFileAtomically(path, std::string(1 << 20, 'n'));
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
}

// The disk refusing the write (a file size limit) is reported, old file kept.
TEST(AtomicFile, RefusedWriteReportedAndOldKept)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("list.dat").toStdString();
    WriteFileBytes(path, "old\r\n");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{16, 16};
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteFileAtomically(path, std::string(4096, 'n'));
        } catch (const EInOutError &e) {
            _exit(std::string(e.what()).find("Cannot write file " + path) == 0 ? 3 : 4);
        }
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
    EXPECT_EQ(FilesIn(dir.path().toStdString()), 1u);
}
