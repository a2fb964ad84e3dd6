// The Debian package: built from this build folder by CPack, unpacked with
// dpkg-deb into a temporary root and run from there as a user who isn't
// root, it keeps the ticks in the user's data folder and leaves its own tree
// as it was. lintian and the AppStream validators accept it.

#include "tests/support/ProgramRun.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

namespace fs = std::filesystem;

namespace {

const std::string kMetainfo = "usr/share/metainfo/net.velmarin.tirmo.metainfo.xml";

struct TResult {
    int exitCode;
    std::string output;
};

TResult RunTool(const QString &program, const QStringList &args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(240000))
        return { -1, program.toStdString() + " did not finish" };
    if (process.exitStatus() != QProcess::NormalExit)
        return { -1, program.toStdString() + " crashed" };
    return { process.exitCode(), process.readAll().toStdString() };
}

// Every file of a tree with its bytes and permissions.
std::map<std::string, std::string> Snapshot(const std::string &root)
{
    std::map<std::string, std::string> files;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root)) {
        std::string &state = files[entry.path().string()];
        state = std::to_string(int(fs::symlink_status(entry.path()).permissions()));
        if (entry.is_regular_file())
            state += ReadFileBytes(entry.path().string());
    }
    return files;
}

class Package : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        // The user the program runs as must reach what is in it.
        fs::permissions(m_dir.path().toStdString(), fs::perms(0755));
        fs::create_directories(dir("work"));
        const TResult cpack
            = RunTool(TIRMO_CPACK,
                      { "-G", "DEB", "--config", TIRMO_BINARY_DIR "/CPackConfig.cmake", "-B",
                        m_dir.filePath("package") });
        ASSERT_EQ(cpack.exitCode, 0) << cpack.output;
        for (const fs::directory_entry &entry : fs::directory_iterator(dir("package")))
            if (entry.path().extension() == ".deb")
                deb = entry.path().string();
        ASSERT_FALSE(deb.empty()) << cpack.output;
        const TResult unpack
            = RunTool("dpkg-deb", { "-x", QString::fromStdString(deb), m_dir.filePath("root") });
        ASSERT_EQ(unpack.exitCode, 0) << unpack.output;
    }

    std::string dir(const char *name) const { return m_dir.filePath(name).toStdString(); }

    QTemporaryDir m_dir;
    std::string deb;
};

TEST_F(Package, RunFromTheUnpackedTreeByAUserKeepsTheTicksInTheirDataFolder)
{
    const std::string root = dir("root");
    const TResult depends = RunTool("dpkg-deb", { "-f", QString::fromStdString(deb), "Depends" });
    EXPECT_NE(depends.output.find("libqt6widgets6"), std::string::npos) << depends.output;
    ASSERT_TRUE(fs::is_regular_file(root + "/usr/bin/tirmo"));
    ASSERT_TRUE(fs::is_regular_file(root + "/usr/share/tirmo/cdl/saturn.cdl"));
    ASSERT_TRUE(fs::is_regular_file(root + "/usr/share/doc/tirmo/copyright"));
    ASSERT_TRUE(fs::is_regular_file(root + "/usr/share/man/man1/tirmo.1.gz"));

    TProgramStart start;
    start.program = root + "/usr/bin/tirmo";
    start.probePlugins = TIRMO_PROBE_PLUGINS;
    start.workDir = dir("work");
    start.home = UnprivilegedUsersFolder(dir("home"));
    start.dataHome = UnprivilegedUsersFolder(dir("home/data"));
    start.unprivileged = true;
    start.choose = "Sega Saturn";
    start.tick = true;
    const std::string user = start.dataHome + "/tirmo";
    const std::map<std::string, std::string> tree = Snapshot(root);

    const TProgramRun ticked = RunProgram(start);
    ASSERT_TRUE(ticked.finished) << Describe(ticked);
    EXPECT_EQ(ticked.exitCode, 0) << Describe(ticked);
    EXPECT_EQ(ticked.messages, "");
    ASSERT_NE(ticked.status.find("You Have 1 of"), std::string::npos) << ticked.status;
    const std::string ticks = user + "/cdl/data/Sega Saturn.dat";
    ASSERT_TRUE(fs::is_regular_file(ticks));
    EXPECT_FALSE(ReadFileBytes(ticks).empty());
    const std::string shipped = ReadFileBytes(root + "/usr/share/tirmo/cdl/saturn.cdl");
    EXPECT_TRUE(ReadFileBytes(user + "/cdl/saturn.cdl") == shipped);
    EXPECT_TRUE(Snapshot(root) == tree) << "the unpacked tree changed";

    start.tick = false;
    const TProgramRun again = RunProgram(start);
    ASSERT_TRUE(again.finished) << Describe(again);
    EXPECT_EQ(again.status, ticked.status) << "the tick was lost";

    // An upgrade brings a newer database: the user's copy stays.
    WriteFileBytes(root + "/usr/share/tirmo/cdl/saturn.cdl", shipped + "newer\r\n");
    const TProgramRun upgraded = RunProgram(start);
    ASSERT_TRUE(upgraded.finished) << Describe(upgraded);
    EXPECT_EQ(upgraded.status, ticked.status);
    EXPECT_TRUE(ReadFileBytes(user + "/cdl/saturn.cdl") == shipped) << "the user's copy changed";
}

TEST_F(Package, LintianAndTheAppStreamValidatorsFindNoError)
{
    const TResult lintian
        = RunTool("lintian", { "--fail-on", "error", QString::fromStdString(deb) });
    EXPECT_EQ(lintian.exitCode, 0) << lintian.output;
    const QString metainfo = QString::fromStdString(dir("root") + "/" + kMetainfo);
    const TResult appstream
        = RunTool("appstreamcli", { "validate", "--pedantic", "--no-net", metainfo });
    EXPECT_EQ(appstream.exitCode, 0) << appstream.output;
    const TResult util = RunTool("appstream-util", { "validate-relax", "--nonet", metainfo });
    EXPECT_EQ(util.exitCode, 0) << util.output;
}

} // namespace
