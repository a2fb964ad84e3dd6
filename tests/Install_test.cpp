// Installing: `cmake --install` into a prefix lays out the installed layout,
// the executable in bin/ and the data it ships with in share/tirmo/, with the
// menu entry and icons. Run from there, the program keeps each user's ticks
// and updates in their data folder, seeded from the shipped data and never
// overwritten by it.

#include "tests/support/ProgramRun.h"
#include "tests/support/TestSupport.h"

#include <QImage>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <thread>

namespace fs = std::filesystem;

namespace {

const fs::path kSample = TIRMO_SOURCE_DIR "/sample";
const std::string kId = "net.velmarin.tirmo";
const std::string kBuilt = TIRMO_BINARY_DIR "/app/tirmo";

// Compares whole files without printing them.
void ExpectBytes(const std::string &path, const std::string &bytes, const char *why)
{
    EXPECT_TRUE(ReadFileBytes(path) == bytes) << path << ": " << why;
}

void ExpectSampleData(const std::string &folder, const char *why)
{
    ExpectBytes(folder + "/version.ini", ReadFileBytes((kSample / "version.ini").string()), why);
    for (const fs::directory_entry &entry : fs::directory_iterator(kSample / "cdl"))
        if (entry.path().extension() == ".cdl")
            ExpectBytes(folder + "/cdl/" + entry.path().filename().string(),
                        ReadFileBytes(entry.path().string()), why);
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

    void RunInstall(const std::string &into, const std::string &destDir = {})
    {
        QProcess cmake;
        if (!destDir.empty()) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("DESTDIR", QString::fromStdString(destDir));
            cmake.setProcessEnvironment(env);
        }
        QStringList args
            = { "--install", TIRMO_BINARY_DIR, "--prefix", QString::fromStdString(into) };
        // Its own manifest, which no other install writes meanwhile.
        if (!destDir.empty())
            args << "--component"
                 << "Unspecified";
        cmake.start(TIRMO_CMAKE, args);
        ASSERT_TRUE(cmake.waitForFinished(120000));
        ASSERT_EQ(cmake.exitCode(), 0) << Output(cmake);
    }

    TProgramStart Start(const std::string &program)
    {
        TProgramStart start;
        start.program = program;
        start.probePlugins = TIRMO_PROBE_PLUGINS;
        start.workDir = m_dir.path().toStdString();
        start.dataHome = dataHome;
        return start;
    }

    QTemporaryDir m_dir;
    // A space in it, as in many a home folder.
    const std::string prefix = m_dir.filePath("my programs").toStdString();
    const std::string shipped = prefix + "/share/tirmo";
    const std::string dataHome = m_dir.filePath("home/.local/share").toStdString();
    const std::string user = dataHome + "/tirmo";
};

TEST_F(Install, LaysOutTheInstalledLayoutAndSeedsTheUsersFolderAtTheFirstStart)
{
    RunInstall(prefix);

    ExpectBytes(prefix + "/bin/tirmo", ReadFileBytes(kBuilt), "not the program built");
    ExpectSampleData(shipped, "not the sample's");
    EXPECT_FALSE(fs::exists(shipped + "/cdl/data")) << "the installed tree holds no ticks";
    EXPECT_FALSE(fs::exists(prefix + "/lib/tirmo"));

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
    EXPECT_TRUE(fs::is_regular_file(prefix + "/share/man/man1/tirmo.1.gz"));
    EXPECT_TRUE(fs::is_regular_file(prefix + "/share/doc/tirmo/copyright"));

    const TProgramRun run = RunProgram(Start(prefix + "/bin/tirmo"));
    ASSERT_TRUE(run.finished) << Describe(run);
    EXPECT_EQ(run.exitCode, 0) << Describe(run);
    EXPECT_EQ(run.title, "TIRMO - Velmarin v0.2");
    EXPECT_EQ(run.entries, SampleSystems());
    EXPECT_EQ(run.messages, "");
    ExpectSampleData(user, "not copied from the shipped data");
    ASSERT_TRUE(fs::is_directory(user + "/cdl/data"));
    EXPECT_TRUE(fs::is_empty(user + "/cdl/data")) << "nothing chosen, nothing written";
}

TEST_F(Install, TicksAndUpdatesStayTheUsersThroughAnUpgrade)
{
    RunInstall(prefix);
    TProgramStart tick = Start(prefix + "/bin/tirmo");
    tick.choose = "Sega Saturn";
    tick.tick = true;
    const TProgramRun ticked = RunProgram(tick);
    ASSERT_TRUE(ticked.finished) << Describe(ticked);
    EXPECT_EQ(ticked.exitCode, 0) << Describe(ticked);
    ASSERT_NE(ticked.status.find("You Have 1 of"), std::string::npos) << ticked.status;
    const std::string ticks = ReadFileBytes(user + "/cdl/data/Sega Saturn.dat");
    EXPECT_FALSE(ticks.empty());
    EXPECT_FALSE(fs::exists(shipped + "/cdl/data"));

    // What an update brought, and a database the user removed.
    const std::string updated = ReadFileBytes(user + "/cdl/psx.cdl")
        + "A Game an Update Brought\tUSA\t2026\tSomeone\t\tnewgame\r\n";
    WriteFileBytes(user + "/cdl/psx.cdl", updated);
    const std::string manifest = "Main;0.2\r\npsx.cdl;an update\r\n";
    WriteFileBytes(user + "/version.ini", manifest);
    fs::remove(user + "/cdl/nuon.cdl");
    // A newer package ships a newer database.
    RunInstall(prefix);
    WriteFileBytes(shipped + "/cdl/psx.cdl", ReadFileBytes(kSample / "cdl/psx.cdl") + "newer\r\n");

    TProgramStart look = Start(prefix + "/bin/tirmo");
    look.choose = "Sega Saturn";
    const TProgramRun again = RunProgram(look);
    ASSERT_TRUE(again.finished) << Describe(again);
    EXPECT_EQ(again.status, ticked.status) << "the tick was lost";
    ExpectBytes(user + "/cdl/data/Sega Saturn.dat", ticks, "the ticks changed");
    ExpectBytes(user + "/cdl/psx.cdl", updated, "the updated database was overwritten");
    ExpectBytes(user + "/version.ini", manifest, "the updated manifest was overwritten");
    ExpectBytes(user + "/cdl/nuon.cdl", ReadFileBytes((kSample / "cdl/nuon.cdl").string()),
                "a missing database comes back");
}

TEST_F(Install, AUsersFolderThatCantBeMadeIsNamedAndTheShippedDatabasesShown)
{
    RunInstall(prefix);
    // A file where the folder should be: no one can make it, root neither.
    WriteFileBytes(m_dir.filePath("blocked").toStdString(), "a file");
    // The installed tree, as a package leaves it, isn't the user's to write.
    const auto readOnly = fs::perms(0555), writable = fs::perms(0755);
    for (const std::string &folder : { shipped, shipped + "/cdl" })
        fs::permissions(folder, readOnly);
    TProgramStart start = Start(prefix + "/bin/tirmo");
    start.unprivileged = true;
    start.dataHome = m_dir.filePath("blocked").toStdString();
    start.choose = "Sega Saturn";
    start.tick = true;
    start.answer = "Close Anyway";
    const TProgramRun run = RunProgram(start);
    ASSERT_TRUE(run.finished) << Describe(run);
    EXPECT_EQ(run.entries, SampleSystems());
    EXPECT_NE(run.status.find("You Have 1 of"), std::string::npos) << run.status;

    const std::string folder = start.dataHome + "/tirmo";
    const size_t atStart = run.messages.find("--\n");
    ASSERT_NE(atStart, std::string::npos) << run.messages;
    const std::string first = run.messages.substr(0, atStart);
    EXPECT_NE(first.find(folder + ", but that folder can't be set up"), std::string::npos) << first;
    EXPECT_NE(first.find("Cannot create folder " + folder + ": Not a directory"), std::string::npos)
        << first;
    EXPECT_NE(first.find("shown from " + shipped + ", read-only"), std::string::npos) << first;
    // Closing asks, naming the file that could not be written.
    const std::string closing = run.messages.substr(atStart + 3);
    EXPECT_NE(closing.find("The ticks of Sega Saturn could not be saved."), std::string::npos)
        << closing;
    EXPECT_NE(closing.find("Cannot create file " + shipped + "/cdl/data/Sega Saturn.dat"),
              std::string::npos)
        << closing;
    EXPECT_FALSE(fs::exists(shipped + "/cdl/data"));
    for (const std::string &folder : { shipped, shipped + "/cdl" })
        fs::permissions(folder, writable);
}

TEST_F(Install, AnEarlierInstallsFolderKeepsRunningInPlaceAndIsTakenOverAtTheFirstStart)
{
    // The layout of earlier versions: the program beside its data in lib/tirmo.
    const std::string earlier = prefix + "/lib/tirmo";
    fs::create_directories(earlier + "/cdl/data");
    fs::copy_file(kBuilt, earlier + "/tirmo");
    for (const fs::directory_entry &entry : fs::directory_iterator(kSample / "cdl"))
        if (entry.path().extension() == ".cdl")
            fs::copy_file(entry.path(), earlier + "/cdl/" + entry.path().filename().string());
    const std::string updated = ReadFileBytes(kSample / "cdl/psx.cdl") + "brought\r\n";
    WriteFileBytes(earlier + "/cdl/psx.cdl", updated);
    WriteFileBytes(earlier + "/version.ini", "Main;0.2\r\npsx.cdl;an update\r\n");
    WriteFileBytes(earlier + "/cdl/data/Sega Saturn.dat", "sfiii\r\nnights\r\n");

    const TProgramRun inPlace = RunProgram(Start(earlier + "/tirmo"));
    ASSERT_TRUE(inPlace.finished) << Describe(inPlace);
    EXPECT_EQ(inPlace.entries, SampleSystems());
    EXPECT_FALSE(fs::exists(dataHome)) << "run in place, no user's folder";

    RunInstall(prefix);
    const TProgramRun installed = RunProgram(Start(prefix + "/bin/tirmo"));
    ASSERT_TRUE(installed.finished) << Describe(installed);
    ExpectBytes(user + "/cdl/data/Sega Saturn.dat", "sfiii\r\nnights\r\n", "ticks not taken over");
    ExpectBytes(user + "/cdl/psx.cdl", updated, "update not taken over");
    ExpectBytes(user + "/version.ini", "Main;0.2\r\npsx.cdl;an update\r\n",
                "manifest not taken over");
    ExpectBytes(user + "/cdl/nuon.cdl", ReadFileBytes((kSample / "cdl/nuon.cdl").string()),
                "not seeded");
    ExpectBytes(earlier + "/cdl/data/Sega Saturn.dat", "sfiii\r\nnights\r\n",
                "the earlier folder changed");
}

TEST_F(Install, AnEntryUnderAPrefixWithAPercentSignLaunches)
{
    const std::string odd = m_dir.filePath("100% games").toStdString();
    RunInstall(odd);
    QProcess gio;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("QT_PLUGIN_PATH", TIRMO_PROBE_PLUGINS);
    env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
    const QString report = m_dir.filePath("probe.txt");
    env.insert("TIRMO_PROBE_REPORT", report);
    env.insert("XDG_DATA_HOME", QString::fromStdString(dataHome));
    gio.setProcessEnvironment(env);
    // The program outlives gio: its output must not go to a pipe that closes.
    const QString log = m_dir.filePath("launched.log");
    gio.setStandardOutputFile(log);
    gio.setStandardErrorFile(log);
    gio.start(
        "gio",
        { "launch", QString::fromStdString(odd + "/share/applications/" + kId + ".desktop") });
    ASSERT_TRUE(gio.waitForFinished(60000));
    ASSERT_EQ(gio.exitCode(), 0) << ReadFileBytes(log.toStdString());
    // gio leaves the program running on its own: its probe reports when shown.
    for (int i = 0; i < 600 && ReadFileBytes(report.toStdString()).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(ReadFileBytes(report.toStdString()).substr(0, 22), "TIRMO - Velmarin v0.2\n")
        << ReadFileBytes(log.toStdString());
}

TEST_F(Install, OnX11TheWindowCarriesTheProgramsIconAndClass)
{
    RunInstall(prefix);
    // Xvfb picks a free display and writes its number to standard output.
    QProcess xvfb;
    xvfb.start("Xvfb", { "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp" });
    ASSERT_TRUE(xvfb.waitForStarted()) << "Xvfb: install the package xvfb";
    const auto stop = qScopeGuard([&] {
        xvfb.terminate();
        xvfb.waitForFinished();
    });
    ASSERT_TRUE(xvfb.waitForReadyRead(20000)) << xvfb.readAllStandardError().toStdString();
    const std::string display = ":" + xvfb.readLine().trimmed().toStdString();

    TProgramStart start = Start(prefix + "/bin/tirmo");
    start.platform = "xcb";
    start.display = display;
    start.command = "xprop _NET_WM_ICON WM_CLASS -id";
    const TProgramRun run = RunProgram(start);
    ASSERT_TRUE(run.finished) << Describe(run);
    EXPECT_EQ(run.title, "TIRMO - Velmarin v0.2");
    EXPECT_NE(run.status.find("desktop file name: " + kId + "\n"), std::string::npos);
    // Each size is its width, height and pixels: 16 x 16 comes first.
    EXPECT_NE(run.status.find("_NET_WM_ICON(CARDINAL) = \tIcon (16 x 16):"), std::string::npos)
        << run.status.substr(0, 400);
    EXPECT_NE(run.status.find("Icon (128 x 128):"), std::string::npos);
    EXPECT_NE(run.status.find("WM_CLASS(STRING) = \"tirmo\""), std::string::npos)
        << run.status.substr(run.status.find("WM_CLASS"));
}

TEST_F(Install, AStagedInstallListsTheFinalPathsOfWhatItStaged)
{
    const std::string stage = m_dir.filePath("stage").toStdString();
    RunInstall("/usr", stage);
    // As CMake lists its own files: where they will be, each staged there.
    const std::string manifest
        = ReadFileBytes(TIRMO_BINARY_DIR "/install_manifest_Unspecified.txt");
    std::set<std::string> listed;
    for (size_t start = 0, end = 0; start < manifest.size(); start = end + 1) {
        end = std::min(manifest.find('\n', start), manifest.size());
        listed.insert(manifest.substr(start, end - start));
    }
    std::set<std::string> staged;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(stage))
        if (!entry.is_directory())
            staged.insert(entry.path().string().substr(stage.size()));
    EXPECT_EQ(listed, staged);
    EXPECT_TRUE(listed.count("/usr/share/applications/" + kId + ".desktop"));
    EXPECT_NE(ReadFileBytes(stage + "/usr/share/applications/" + kId + ".desktop")
                  .find("\nExec=\"/usr/bin/tirmo\"\n"),
              std::string::npos);
}

} // namespace
