// Installing: `cmake --install` into a prefix gives a folder the program runs
// from through its launcher, with its menu entry and icons; a later install
// over a folder in use keeps what the user and the updates put there.

#include "tests/support/TestSupport.h"

#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

const fs::path kSample = TIRMO_SOURCE_DIR "/sample";
const std::string kId = "net.velmarin.tirmo";

// Compares whole files without printing them.
void ExpectBytes(const std::string &path, const std::string &bytes, const char *why)
{
    EXPECT_TRUE(ReadFileBytes(path) == bytes) << path << ": " << why;
}

std::string Output(QProcess &process)
{
    return process.readAllStandardOutput().toStdString()
        + process.readAllStandardError().toStdString();
}

// The display names of the sample databases: each first line up to its TAB.
std::multiset<std::string> SampleSystems()
{
    std::multiset<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(kSample / "cdl"))
        if (entry.path().extension() == ".cdl") {
            const std::string bytes = ReadFileBytes(entry.path().string());
            names.insert(bytes.substr(0, bytes.find_first_of("\t\r\n")));
        }
    return names;
}

class Install : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    void RunInstall()
    {
        QProcess cmake;
        cmake.start(TIRMO_CMAKE,
                    { "--install", TIRMO_BINARY_DIR, "--prefix", QString::fromStdString(prefix) });
        ASSERT_TRUE(cmake.waitForFinished(120000));
        ASSERT_EQ(cmake.exitCode(), 0) << Output(cmake);
    }

    // Starts the installed launcher offscreen; a probe in the program reports
    // the main window's title and the selector's entries, then closes it.
    void RunLauncher(std::string &title, std::multiset<std::string> &entries)
    {
        const QString report = m_dir.filePath("probe.txt");
        QFile::remove(report);
        QProcess tirmo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_PLUGIN_PATH", TIRMO_PROBE_PLUGINS);
        env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
        env.insert("TIRMO_PROBE_REPORT", report);
        tirmo.setProcessEnvironment(env);
        tirmo.start(QString::fromStdString(prefix + "/bin/tirmo"), {});
        ASSERT_TRUE(tirmo.waitForFinished(60000)) << "the window never showed: " << Output(tirmo);
        ASSERT_EQ(tirmo.exitStatus(), QProcess::NormalExit) << Output(tirmo);
        EXPECT_EQ(tirmo.exitCode(), 0) << Output(tirmo);

        const std::string text = ReadFileBytes(report.toStdString());
        ASSERT_FALSE(text.empty()) << "no report: " << Output(tirmo);
        size_t start = text.find('\n') + 1;
        title = text.substr(0, start - 1);
        entries.clear();
        for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
            entries.insert(text.substr(start, end - start));
    }

    QTemporaryDir m_dir;
    // A space in it, as in many a home folder.
    const std::string prefix = m_dir.filePath("my programs").toStdString();
    const std::string app = prefix + "/lib/tirmo";
};

TEST_F(Install, LaysOutTheProgramsFolderWithLauncherEntryIconsAndMetainfo)
{
    RunInstall();

    ExpectBytes(app + "/tirmo", ReadFileBytes(TIRMO_BINARY_DIR "/app/tirmo"),
                "not the program built");
    ExpectBytes(app + "/version.ini", ReadFileBytes((kSample / "version.ini").string()),
                "not the sample's");
    for (const fs::directory_entry &entry : fs::directory_iterator(kSample / "cdl"))
        if (entry.path().extension() == ".cdl")
            ExpectBytes(app + "/cdl/" + entry.path().filename().string(),
                        ReadFileBytes(entry.path().string()), "not the sample's");
    ASSERT_TRUE(fs::is_directory(app + "/cdl/data"));
    EXPECT_TRUE(fs::is_empty(app + "/cdl/data"));
    EXPECT_NE(fs::status(prefix + "/bin/tirmo").permissions() & fs::perms::owner_exec,
              fs::perms::none);

    const std::string entry = ReadFileBytes(prefix + "/share/applications/" + kId + ".desktop");
    EXPECT_NE(entry.find("\nExec=\"" + prefix + "/bin/tirmo\"\n"), std::string::npos) << entry;
    EXPECT_NE(entry.find("\nIcon=" + kId + "\n"), std::string::npos) << entry;
    const std::string icons = prefix + "/share/icons/hicolor/";
    EXPECT_TRUE(fs::is_regular_file(icons + "scalable/apps/" + kId + ".svg"));
    for (int size : { 16, 24, 32, 48, 64, 128, 256 }) {
        const std::string png
            = icons + std::to_string(size) + "x" + std::to_string(size) + "/apps/" + kId + ".png";
        EXPECT_EQ(QImage(QString::fromStdString(png)).size(), QSize(size, size)) << png;
    }
    const std::string metainfo = ReadFileBytes(prefix + "/share/metainfo/" + kId + ".metainfo.xml");
    EXPECT_NE(metainfo.find("<launchable type=\"desktop-id\">" + kId + ".desktop</launchable>"),
              std::string::npos);

    std::string title;
    std::multiset<std::string> entries;
    RunLauncher(title, entries);
    EXPECT_EQ(title, "TIRMO - Velmarin v0.2");
    EXPECT_EQ(entries, SampleSystems());
    EXPECT_TRUE(fs::is_empty(app + "/cdl/data")) << "nothing chosen, nothing written";
}

TEST_F(Install, ALaterInstallKeepsTicksAndUpdatesAndReplacesTheProgram)
{
    RunInstall();
    const std::string ticks = app + "/cdl/data/Sega Saturn.dat";
    WriteFileBytes(ticks, "sfiii\r\nnights\r\n");
    const std::string updated = ReadFileBytes(app + "/cdl/psx.cdl")
        + "A Game an Update Brought\tUSA\t2026\tSomeone\t\tnewgame\r\n";
    WriteFileBytes(app + "/cdl/psx.cdl", updated);
    const std::string manifest = "Main;0.2\r\npsx.cdl;an update\r\n";
    WriteFileBytes(app + "/version.ini", manifest);
    fs::remove(app + "/cdl/nuon.cdl");
    WriteFileBytes(app + "/tirmo", "an older program");

    RunInstall();
    ExpectBytes(ticks, "sfiii\r\nnights\r\n", "the ticks were overwritten");
    ExpectBytes(app + "/cdl/psx.cdl", updated, "the updated database was overwritten");
    ExpectBytes(app + "/version.ini", manifest, "the updated manifest was overwritten");
    ExpectBytes(app + "/cdl/nuon.cdl", ReadFileBytes((kSample / "cdl/nuon.cdl").string()),
                "a missing database comes back");
    ExpectBytes(app + "/tirmo", ReadFileBytes(TIRMO_BINARY_DIR "/app/tirmo"),
                "the program was not replaced");

    std::string title;
    std::multiset<std::string> entries;
    RunLauncher(title, entries);
    EXPECT_EQ(entries, SampleSystems());
    ExpectBytes(ticks, "sfiii\r\nnights\r\n", "the program changed the ticks");
}

} // namespace
