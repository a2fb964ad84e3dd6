// Atomic replacement: whole files, kept modes and links, the reasons of
// failures, flushes in their order, and what the clean-up removes.

#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <QIODevice>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <filesystem>
#include <set>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// The flushes and renames of this process, in order, while a TSyncCalls
// lives: "sync <path of the descriptor>" and "rename <from> <to>".
std::vector<std::string> *g_syncCalls = nullptr;

std::string PathOfDescriptor(int fd)
{
    std::error_code error;
    return fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error).string();
}

template<class Function> Function Real(const char *name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

class TSyncCalls {
public:
    TSyncCalls() { g_syncCalls = &m_calls; }
    ~TSyncCalls() { g_syncCalls = nullptr; }
    TSyncCalls(const TSyncCalls &) = delete;
    TSyncCalls &operator=(const TSyncCalls &) = delete;
    const std::vector<std::string> &Calls() const { return m_calls; }

private:
    std::vector<std::string> m_calls;
};

} // namespace

// The C library's calls, seen on their way: the program's own code calls
// these definitions, which pass every call on.
extern "C" int fsync(int fd)
{
    static const auto real = Real<int (*)(int)>("fsync");
    if (g_syncCalls)
        g_syncCalls->push_back("sync " + PathOfDescriptor(fd));
    return real(fd);
}

extern "C" int fdatasync(int fd)
{
    static const auto real = Real<int (*)(int)>("fdatasync");
    if (g_syncCalls)
        g_syncCalls->push_back("sync " + PathOfDescriptor(fd));
    return real(fd);
}

extern "C" int rename(const char *from, const char *to) noexcept
{
    static const auto real = Real<int (*)(const char *, const char *)>("rename");
    if (g_syncCalls)
        g_syncCalls->push_back(std::string("rename ") + from + " " + to);
    return real(from, to);
}

namespace {

std::set<std::string> FilesIn(const std::string &folder)
{
    std::set<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

mode_t ModeOf(const std::string &path)
{
    struct stat st { };
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

// A name of `bytes` bytes: `unit` repeated, ".dat" at the end.
std::string NameOf(size_t bytes, const std::string &unit)
{
    std::string name;
    while (name.size() + unit.size() + 4 <= bytes)
        name += unit;
    name.append(bytes - 4 - name.size(), 'x');
    return name + ".dat";
}

// Runs `write` in a child process; its exit status.
int InChild(const std::function<void()> &write)
{
    const pid_t child = fork();
    if (child == 0) {
        write();
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return status;
}

class AtomicFile : public ::testing::Test {
protected:
    void TearDown() override { SetBeforeReplaceHook(nullptr); }

    std::string Path(const std::string &name) const { return folder + "/" + name; }

    QTemporaryDir m_dir;
    const std::string folder = m_dir.path().toStdString();
};

} // namespace

TEST_F(AtomicFile, ReplacesWholeWhateverTheTargetIsCalled)
{
    const std::string cases[] = { NameOf(5, "a"), NameOf(200, "a"), NameOf(255, "a"),
                                  NameOf(254, "\xC3\xA9"), NameOf(255, "\xE3\x82\xB2") };
    for (const std::string &name : cases) {
        SCOPED_TRACE(name.size());
        WriteFileBytes(Path(name), "old\r\n");
        ASSERT_TRUE(fs::exists(Path(name)));
        WriteFileAtomically(Path(name), "new1\r\nnew2\r\n");
        EXPECT_EQ(ReadFileBytes(Path(name)), "new1\r\nnew2\r\n");
        EXPECT_EQ(FilesIn(folder), std::set<std::string> { name });
        fs::remove(Path(name));
    }
}

TEST_F(AtomicFile, KeepsTheModeOfTheFileItReplaces)
{
    const struct {
        mode_t old; // 0: no old file
        mode_t umask;
        mode_t expected;
    } cases[] = { { 0600, 022, 0600 },
                  { 0640, 077, 0640 },
                  { 0755, 022, 0755 },
                  { 0, 022, 0644 },
                  { 0, 077, 0600 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.old) + " " + std::to_string(c.umask));
        const std::string path = Path("list.txt");
        fs::remove(path);
        if (c.old) {
            WriteFileBytes(path, "old");
            ::chmod(path.c_str(), c.old);
        }
        const mode_t before = ::umask(c.umask);
        WriteFileAtomically(path, "new");
        ::umask(before);
        EXPECT_EQ(ModeOf(path), c.expected);
        EXPECT_EQ(ReadFileBytes(path), "new");
    }
}

// The link stays a link; the file it names gets the content, replaced in its
// own folder.
TEST_F(AtomicFile, WritesThroughSymbolicLinks)
{
    fs::create_directories(Path("synced"));
    fs::create_directories(Path("here"));
    const struct {
        const char *what;
        std::vector<std::pair<std::string, std::string>> links; // (link, what it names)
        std::string file; // the file written in the end
        bool existed;
    } cases[] = {
        { "relative", { { "here/a.dat", "../synced/a.dat" } }, "synced/a.dat", true },
        { "absolute", { { "here/b.dat", Path("synced/b.dat") } }, "synced/b.dat", true },
        { "chain",
          { { "here/c.dat", "c2.dat" }, { "here/c2.dat", "../synced/c.dat" } },
          "synced/c.dat",
          true },
        { "to nothing yet", { { "here/d.dat", "../synced/d.dat" } }, "synced/d.dat", false },
    };
    const mode_t umaskBefore = ::umask(022);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.existed) {
            WriteFileBytes(Path(c.file), "old");
            ::chmod(Path(c.file).c_str(), 0600);
        }
        for (const auto &[link, target] : c.links)
            fs::create_symlink(target, Path(link));
        WriteFileAtomically(Path(c.links[0].first), "new");
        for (const auto &[link, target] : c.links) {
            EXPECT_TRUE(fs::is_symlink(Path(link))) << link;
            EXPECT_EQ(fs::read_symlink(Path(link)).string(), target);
        }
        EXPECT_EQ(ReadFileBytes(Path(c.file)), "new");
        EXPECT_EQ(ModeOf(Path(c.file)), c.existed ? 0600u : 0644u);
    }
    ::umask(umaskBefore);
    for (const char *sub : { "here", "synced" })
        for (const std::string &name : FilesIn(Path(sub)))
            EXPECT_FALSE(IsTemporaryFileName(name)) << sub << "/" << name;
}

TEST_F(AtomicFile, AFileThatCantBeMadeIsCannotCreateWithTheReason)
{
    fs::create_directories(Path("folder"));
    WriteFileBytes(Path("plain"), "a file");
    const struct {
        std::string path;
        std::string reason;
    } cases[] = {
        { Path("no/such/x.txt"), "No such file or directory" },
        { Path("plain/x.txt"), "Not a directory" },
    };
    for (const auto &c : cases) {
        try {
            WriteFileAtomically(c.path, "x");
            ADD_FAILURE() << "no error for " << c.path;
        } catch (const EFCreateError &e) {
            EXPECT_EQ(std::string(e.what()), "Cannot create file " + c.path + ": " + c.reason);
        }
    }
    // A folder at the target's name stays a folder.
    try {
        WriteFileAtomically(Path("folder"), "x");
        ADD_FAILURE() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot replace file " + Path("folder") + ": Is a directory");
    }
    EXPECT_EQ(FilesIn(folder), (std::set<std::string> { "folder", "plain" }));
}

TEST_F(AtomicFile, ReadOnlyFolderIsCannotCreate)
{
    WriteFileBytes(Path("list.dat"), "old");
    ::chmod(folder.c_str(), 0555);
    const TPermissionsObeyed obeyed;
    ASSERT_TRUE(obeyed.Active());
    try {
        WriteFileAtomically(Path("list.dat"), "new");
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(std::string(e.what()),
                  "Cannot create file " + Path("list.dat") + ": Permission denied");
    }
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(ReadFileBytes(Path("list.dat")), "old");
}

// The disk refusing the write (a file size limit) is reported, old file kept.
TEST_F(AtomicFile, RefusedWriteReportedAndOldKept)
{
    const std::string path = Path("list.dat");
    WriteFileBytes(path, "old\r\n");
    const int status = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit { 16, 16 };
        setrlimit(RLIMIT_FSIZE, &limit);
        try {
            WriteFileAtomically(path, std::string(4096, 'n'));
        } catch (const EInOutError &e) {
            _exit(std::string(e.what()) == "Cannot write file " + path + ": File too large" ? 3
                                                                                            : 4);
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
    EXPECT_EQ(FilesIn(folder), std::set<std::string> { "list.dat" });
}

// Several files written through their devices, all finished before any is
// put in place; one never committed leaves nothing behind.
TEST_F(AtomicFile, StreamsFinishesAndCommitsLater)
{
    WriteFileBytes(Path("a.cdl"), "old a");
    WriteFileBytes(Path("c.cdl"), "old c");
    {
        std::vector<TAtomicFile> files;
        for (const char *name : { "a.cdl", "b.cdl", "c.cdl" }) {
            files.emplace_back(Path(name));
            QIODevice &device = files.back().Device();
            EXPECT_TRUE(device.isWritable());
            EXPECT_EQ(device.write("new "), 4);
            EXPECT_EQ(device.write(name), qint64(std::strlen(name)));
        }
        for (TAtomicFile &file : files)
            file.Finish();
        EXPECT_EQ(ReadFileBytes(Path("a.cdl")), "old a");
        files[0].Commit();
        files[1].Commit();
        // files[2] goes uncommitted
    }
    EXPECT_EQ(ReadFileBytes(Path("a.cdl")), "new a.cdl");
    EXPECT_EQ(ReadFileBytes(Path("b.cdl")), "new b.cdl");
    EXPECT_EQ(ReadFileBytes(Path("c.cdl")), "old c");
    EXPECT_EQ(FilesIn(folder), (std::set<std::string> { "a.cdl", "b.cdl", "c.cdl" }));
}

TEST_F(AtomicFile, ARefusedDeviceWriteFailsTheFinish)
{
    const std::string path = Path("big.cdl");
    WriteFileBytes(path, "old");
    const int status = InChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit { 100, 100 };
        setrlimit(RLIMIT_FSIZE, &limit);
        TAtomicFile file(path);
        if (file.Device().write(std::string(50, 'a').c_str(), 50) != 50)
            _exit(5);
        if (file.Device().write(std::string(100, 'b').c_str(), 100) != -1)
            _exit(6);
        try {
            file.Commit();
        } catch (const EInOutError &e) {
            _exit(std::string(e.what()) == "Cannot write file " + path + ": File too large" ? 3
                                                                                            : 4);
        }
    });
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 3);
    EXPECT_EQ(ReadFileBytes(path), "old");
    EXPECT_EQ(FilesIn(folder), std::set<std::string> { "big.cdl" });
}

// The new bytes are on the disk before their name replaces the old file,
// and the new name is after: a power cut leaves the old file or the new one,
// never an empty file in place of either.
TEST_F(AtomicFile, FlushesTheDataBeforeTheRenameAndTheFolderAfter)
{
    const std::string path = Path("list.dat");
    WriteFileBytes(path, "old\r\n");
    const TSyncCalls calls;
    TAtomicFile file(path);
    file.Write("new\r\n");
    const std::string temporary = file.TemporaryPath();
    file.Commit();
    const std::string real = fs::canonical(folder).string();
    const std::string name = fs::path(temporary).filename().string();
    EXPECT_EQ(calls.Calls(),
              (std::vector<std::string> { "sync " + real + "/" + name, "sync " + real,
                                          "rename " + temporary + " " + path, "sync " + real }));
    EXPECT_EQ(ReadFileBytes(path), "new\r\n");
}

// A kill between writing and renaming leaves the old file whole; its scratch
// goes at the next clean-up, and nothing else does.
TEST_F(AtomicFile, KillBeforeRenameKeepsOldFileAndCleanUpRemovesItsScratch)
{
    const std::string path = Path("list.dat");
    WriteFileBytes(path, "old\r\n");
    const int status = InChild([&] {
        SetBeforeReplaceHook([](const std::string &) { ::raise(SIGKILL); });
        WriteFileAtomically(path, std::string(1 << 20, 'n'));
    });
    ASSERT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
    std::set<std::string> scratch = FilesIn(folder);
    scratch.erase("list.dat");
    ASSERT_EQ(scratch.size(), 1u);
    EXPECT_TRUE(IsTemporaryFileName(*scratch.begin())) << *scratch.begin();

    const std::set<std::string> foreign = {
        "list.dat",
        ".tirmo-0123456789ab.tmp.bak",
        ".tirmo-0123456789AB.tmp",
        "tirmo-0123456789ab.tmp",
        ".tirmo-0123456789a.tmp",
        ".tirmo-0123456789abc.tmp",
        "list.dat.part",
        "list.dat.12345.part",
        ".0123456789ab.part",
        "list.dat.0123456789ag.part",
    };
    for (const std::string &name : foreign)
        if (name != "list.dat")
            WriteFileBytes(Path(name), "mine");
    fs::create_directories(Path(".tirmo-00000000000a.tmp"));
    fs::create_symlink("list.dat", Path(".tirmo-00000000000b.tmp"));
    TAtomicFile live(Path("other.dat"));
    const std::string liveName = fs::path(live.TemporaryPath()).filename().string();

    RemoveTemporaryFiles(folder);
    std::set<std::string> expected = foreign;
    expected.insert({ ".tirmo-00000000000a.tmp", ".tirmo-00000000000b.tmp", liveName });
    EXPECT_EQ(FilesIn(folder), expected);
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
    live.Commit();
    EXPECT_TRUE(fs::exists(Path("other.dat")));
    RemoveTemporaryFiles(Path("no such folder"));
}

TEST(AtomicFileNames, TheProgramsPatternsOnly)
{
    const struct {
        const char *name;
        bool temporary;
    } cases[] = {
        { ".tirmo-0123456789ab.tmp", true },
        { ".tirmo-ffffffffffff.tmp", true },
        { "psx.cdltmp", true }, // the copy earlier versions loaded a database from
        { "SATURN.CDLtmp", true },
        { ".cdltmp", false },
        { "psx.cdltmp.keep", false },
        { "Sega CD.dat.0123456789ab.part", false }, // no release wrote these
        { "list.txt.0123456789ab.part", false },
        { ".dat.0123456789ab.part", false },
        { "x.0123456789ab.part", false },
        { ".tirmo-0123456789AB.tmp", false },
        { ".tirmo-0123456789ab.TMP", false },
        { ".tirmo-0123456789ab.tmpx", false },
        { "a.tirmo-0123456789ab.tmp", false },
        { ".0123456789ab.part", false },
        { "x0123456789ab.part", false },
        { "x.0123456789ab.partx", false },
        { "Sega CD.dat", false },
        { "", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(IsTemporaryFileName(c.name), c.temporary) << c.name;
}
