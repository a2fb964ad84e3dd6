// Every file the program writes survives the program dying in the middle of
// writing it, and a disk that refuses the write: the old file stays byte for
// byte, nothing partial stands at its name, and a refusal is shown to the
// user. The writes run in a child process (this executable again, running
// only CrashSafetyChild) that is killed with SIGKILL or limited in file size.
#include "app/Collection.h"
#include "app/Unit1.h"
#include "platform/AtomicFile.h"
#include "tests/support/TestSupport.h"
#include "updater/Unit2.h"

#include <QCoreApplication>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

const std::string kDatabase = "Test System\tCD-ROMs\r\nGame Name\tCountry\tGID\r\n"
                              "Alpha\tUSA\tG1\r\nBeta\tJapan\tG2\r\nGamma\tEurope\tG3\r\n";
const std::string kOwnership = "G1\r\n";

std::string Env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool IsTemporary(const fs::path &path)
{
    return IsTemporaryFileName(path.filename().string());
}

// Every file under `folder` but the temporaries of an interrupted write,
// which no scan takes for one of the program's files.
std::map<std::string, std::string> Snapshot(const std::string &folder)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && !IsTemporary(entry.path()))
            files[fs::relative(entry.path(), folder).string()]
                = ReadFileBytes(entry.path().string());
    return files;
}

std::vector<std::string> Temporaries(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::recursive_directory_iterator(folder))
        if (IsTemporary(entry.path()))
            names.push_back(entry.path().string());
    return names;
}

// A temporary file in `folder` whose content so far begins with `start`.
bool PartialWriteUnderWay(const std::string &folder, const std::string &start)
{
    for (const auto &entry : fs::directory_iterator(folder))
        if (IsTemporary(entry.path()) && ReadFileBytes(entry.path().string()).rfind(start, 0) == 0)
            return true;
    return false;
}

struct ChildEnd {
    bool killed = false; // by SIGKILL
    int exitCode = -1;
    std::vector<std::string> boxes; // message box texts the child showed
};

class CrashSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        app = m_dir.filePath("app").toStdString();
        exportPath = m_dir.filePath("exports/Test System Have.txt").toStdString();
        fs::create_directories(app + "/cdl/data");
        WriteFileBytes(app + "/cdl/test.cdl", kDatabase);
        WriteFileBytes(app + "/cdl/data/Test System.dat", kOwnership);
        WriteFileBytes(app + "/version.ini", "Main;0.2\r\ntest.cdl;1\r\n");
    }

    void TearDown() override
    {
        if (m_site.state() != QProcess::NotRunning) {
            m_site.kill();
            m_site.waitForFinished(5000);
        }
    }

    // Runs the child doing `kind` ("close", "export" or "update") in `mode`
    // ("kill-before-rename", "refuse" or "plain"). `killWhen` is polled while
    // it runs; when it turns true the child is killed with SIGKILL.
    ChildEnd RunChild(const std::string &kind, const std::string &mode,
                      std::function<bool()> killWhen = {})
    {
        const std::string report = m_dir.filePath("boxes.txt").toStdString();
        fs::remove(report);
        std::vector<std::string> variables
            = { "TIRMO_CRASH_KIND=" + kind, "TIRMO_CRASH_MODE=" + mode,
                "TIRMO_CRASH_APP=" + app,   "TIRMO_CRASH_REPORT=" + report,
                "TIRMO_CRASH_SITE=" + site, "TIRMO_CRASH_TARGET=" + exportPath };
        std::vector<char *> envp;
        for (char **e = environ; *e; ++e)
            envp.push_back(*e);
        for (std::string &v : variables)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        std::string program = QCoreApplication::applicationFilePath().toStdString();
        std::string all = "--gtest_also_run_disabled_tests";
        std::string filter = "--gtest_filter=CrashSafetyChild.DISABLED_Write";
        char *argv[] = { program.data(), all.data(), filter.data(), nullptr };

        ChildEnd end;
        pid_t pid = 0;
        if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()) != 0) {
            ADD_FAILURE() << "cannot start " << program;
            return end;
        }
        int status = 0;
        const bool ended = QTest::qWaitFor(
            [&] {
                if (waitpid(pid, &status, WNOHANG) != 0)
                    return true;
                if (killWhen && killWhen())
                    ::kill(pid, SIGKILL);
                return false;
            },
            90000);
        if (!ended) {
            ::kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the child did not end in time";
            return end;
        }
        end.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
        end.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);)
            end.boxes.push_back(line);
        return end;
    }

    // An update site serving `files` (paths under /tirmo), with its faults.
    void Serve(const std::map<std::string, std::string> &files, const QStringList &faults)
    {
        const std::string folder = m_dir.filePath("site").toStdString();
        for (const auto &[name, bytes] : files) {
            fs::create_directories(fs::path(folder + "/tirmo/" + name).parent_path());
            WriteFileBytes(folder + "/tirmo/" + name, bytes);
        }
        m_site.start(
            TIRMO_PYTHON,
            QStringList { TIRMO_TEST_DIR "/servers/update_site.py", QString::fromStdString(folder) }
                + faults);
        ASSERT_TRUE(m_site.waitForReadyRead(10000)) << "update site did not start";
        site = "http://127.0.0.1:" + m_site.readLine().trimmed().toStdString();
    }

    std::map<std::string, std::string> SiteWithNewDatabases()
    {
        return { { "version.ini", "Main;0.2\r\nnew.cdl;1\r\ntest.cdl;2\r\n" },
                 { "cdl/new.cdl",
                   "New System\tCD-ROMs\r\nGame Name\tCountry\tGID\r\nNu\tUSA\tN1\r\n" },
                 { "cdl/test.cdl", kDatabase + std::string(4000, 'x') + "\r\n" } };
    }

    // The server's manifest, once it arrived, stays as version.bak; it must
    // then be whole.
    std::map<std::string, std::string>
    WithoutServerManifest(std::map<std::string, std::string> files)
    {
        if (const auto it = files.find("version.bak"); it != files.end()) {
            EXPECT_EQ(it->second, SiteWithNewDatabases()["version.ini"]);
            files.erase(it);
        }
        return files;
    }

    std::string app, site, exportPath;

private:
    QTemporaryDir m_dir;
    QProcess m_site;
};

} // namespace

// What the child runs, told by the parent through the environment.
TEST(CrashSafetyChild, DISABLED_Write)
{
    const std::string kind = Env("TIRMO_CRASH_KIND"), mode = Env("TIRMO_CRASH_MODE");
    const std::string app = Env("TIRMO_CRASH_APP");
    ASSERT_FALSE(kind.empty()) << "run by CrashSafety only";
    if (mode == "refuse") {
        // Files may grow to 1000 bytes: enough for the manifest, not for the
        // rest. The signal is ignored so that the write fails instead.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit { 1000, 1000 };
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    if (mode == "kill-before-rename")
        SetBeforeReplaceHook([](const std::string &) { ::raise(SIGKILL); });

    if (kind == "close" || kind == "export") {
        TForm1 form(app);
        form.show();
        const int index = form.cbo_SysList->findText("Test System");
        ASSERT_GE(index, 0);
        form.cbo_SysList->setCurrentIndex(index);
        emit form.cbo_SysList->activated(index);
        QCoreApplication::processEvents();
        ASSERT_TRUE(form.acg_GameList->SetCheckBoxState(0, 2, true));
        if (kind == "close") {
            // Written big enough that the size limit refuses it.
            for (int r = 1; r < form.acg_GameList->RowCount(); ++r)
                form.acg_GameList->SetCells(GidColumn(*form.acg_GameList), r,
                                            std::string(600, char('a' + r)));
            ASSERT_TRUE(form.acg_GameList->SetCheckBoxState(0, 3, true));
            // The question at a failed close is reported as a box; the user closes anyway.
            form.AskCloseAnyway = [](const std::string &failure) {
                ShownMessageBoxes().emplace_back(failure, "question");
                return true;
            };
            form.close();
        } else {
            form.ExecuteSaveDialog = [](QFileDialog &) {
                return std::optional<std::string>(Env("TIRMO_CRASH_TARGET"));
            };
            for (int r = 1; r < form.acg_GameList->RowCount(); ++r)
                form.acg_GameList->SetCheckBoxState(0, r, true);
            form.acg_GameList->SetCells(1, 1, std::string(2000, 'A'));
            QTest::mouseClick(form.sb_SaveHave, Qt::LeftButton);
        }
    } else if (kind == "update") {
        TUpdateForm form(app);
        form.SiteURL = Env("TIRMO_CRASH_SITE");
        form.UpdateKey.clear(); // an unsigned site, whatever key this build has
        form.show();
        QTest::mouseClick(form.bt_StartUpdate, Qt::LeftButton);
    }
    std::ofstream report(Env("TIRMO_CRASH_REPORT"));
    for (const auto &[text, caption] : ShownMessageBoxes())
        report << text << "\n";
}

// Killed between writing the new ownership file and putting it in place.
TEST_F(CrashSafety, OwnershipFileSurvivesKill)
{
    const auto before = Snapshot(app);
    const ChildEnd end = RunChild("close", "kill-before-rename");
    EXPECT_TRUE(end.killed);
    EXPECT_EQ(Snapshot(app), before);

    // The next start removes the scratch and nothing else.
    ASSERT_EQ(Temporaries(app).size(), 1u);
    const std::string foreign = app + "/cdl/data/Test System.dat.0123456789ab.part.keep";
    WriteFileBytes(foreign, "not ours");
    TForm1 form(app);
    EXPECT_EQ(Temporaries(app), std::vector<std::string>());
    EXPECT_EQ(ReadFileBytes(foreign), "not ours");
    EXPECT_EQ(ReadFileBytes(app + "/cdl/data/Test System.dat"), kOwnership);
}

TEST_F(CrashSafety, ExportSurvivesKill)
{
    fs::create_directories(fs::path(exportPath).parent_path());
    WriteFileBytes(exportPath, "an older list\r\n");
    const auto before = Snapshot(fs::path(exportPath).parent_path());
    const ChildEnd end = RunChild("export", "kill-before-rename");
    EXPECT_TRUE(end.killed);
    EXPECT_EQ(Snapshot(fs::path(exportPath).parent_path()), before);
}

// Killed while a database arrives, after another one arrived whole: no
// database and no manifest is replaced, nor a new one added.
TEST_F(CrashSafety, DownloadedDatabasesSurviveKill)
{
    Serve(SiteWithNewDatabases(), { "slow:/tirmo/cdl/test.cdl" });
    const auto before = Snapshot(app);
    const ChildEnd end
        = RunChild("update", "plain", [&] { return PartialWriteUnderWay(app + "/cdl", "T"); });
    EXPECT_TRUE(end.killed);
    EXPECT_EQ(WithoutServerManifest(Snapshot(app)), before);
}

// The scratch of an update killed while a database arrived goes at the next
// update, and nothing else: that update then replaces every database whole.
TEST_F(CrashSafety, NextUpdateRemovesAKilledUpdatesScratch)
{
    Serve(SiteWithNewDatabases(), { "slow:/tirmo/cdl/test.cdl" });
    const ChildEnd end
        = RunChild("update", "plain", [&] { return PartialWriteUnderWay(app + "/cdl", "T"); });
    EXPECT_TRUE(end.killed);
    EXPECT_FALSE(Temporaries(app + "/cdl").empty());
    const std::string foreign = app + "/cdl/.tirmo-0123456789ab.tmp.keep";
    WriteFileBytes(foreign, "not ours");

    TearDown();
    Serve(SiteWithNewDatabases(), {});
    ShownMessageBoxes().clear();
    TUpdateForm form(app);
    form.SiteURL = site;
    form.UpdateKey.clear(); // an unsigned site, whatever key this build has
    form.bt_StartUpdateClick();
    // Only the word that the new database is listed after a restart.
    ASSERT_EQ(ShownMessageBoxes().size(), 1u);
    EXPECT_EQ(ShownMessageBoxes()[0].first,
              "2 databases updated. A new system appears in the list "
              "when TIRMO is started again: new.cdl");
    EXPECT_EQ(Temporaries(app), std::vector<std::string>());
    EXPECT_EQ(ReadFileBytes(foreign), "not ours");
    auto files = SiteWithNewDatabases();
    EXPECT_EQ(ReadFileBytes(app + "/cdl/test.cdl"), files["cdl/test.cdl"]);
    EXPECT_EQ(ReadFileBytes(app + "/cdl/new.cdl"), files["cdl/new.cdl"]);
    EXPECT_EQ(ReadFileBytes(app + "/version.ini"), files["version.ini"]);
}

// Killed while the server's manifest arrives: version.ini stays.
TEST_F(CrashSafety, ManifestSurvivesKill)
{
    Serve(SiteWithNewDatabases(), { "slow:/tirmo/version.ini" });
    const auto before = Snapshot(app);
    const ChildEnd end
        = RunChild("update", "plain", [&] { return PartialWriteUnderWay(app, "M"); });
    EXPECT_TRUE(end.killed);
    EXPECT_EQ(Snapshot(app), before);
}

// The disk refuses each kind of write: the user is told which file, the old
// files stay, and no temporary is left behind.
TEST_F(CrashSafety, RefusedWritesAreShownAndChangeNothing)
{
    const std::string ownership = app + "/cdl/data/Test System.dat";
    {
        const auto before = Snapshot(app);
        const ChildEnd end = RunChild("close", "refuse");
        EXPECT_EQ(end.exitCode, 0);
        ASSERT_EQ(end.boxes.size(), 1u);
        EXPECT_NE(end.boxes[0].find(ownership), std::string::npos) << end.boxes[0];
        EXPECT_EQ(Snapshot(app), before);
        EXPECT_EQ(Temporaries(app), std::vector<std::string>());
    }
    {
        fs::create_directories(fs::path(exportPath).parent_path());
        WriteFileBytes(exportPath, "an older list\r\n");
        const ChildEnd end = RunChild("export", "refuse");
        EXPECT_EQ(end.exitCode, 0);
        ASSERT_EQ(end.boxes.size(), 1u);
        EXPECT_NE(end.boxes[0].find(exportPath), std::string::npos) << end.boxes[0];
        EXPECT_EQ(ReadFileBytes(exportPath), "an older list\r\n");
        EXPECT_EQ(Temporaries(fs::path(exportPath).parent_path()), std::vector<std::string>());
    }
    {
        Serve(SiteWithNewDatabases(), {});
        const auto before = Snapshot(app);
        const ChildEnd end = RunChild("update", "refuse");
        EXPECT_EQ(end.exitCode, 0);
        ASSERT_EQ(end.boxes.size(), 1u);
        EXPECT_NE(end.boxes[0].find("test.cdl"), std::string::npos) << end.boxes[0];
        EXPECT_EQ(WithoutServerManifest(Snapshot(app)), before);
        EXPECT_EQ(Temporaries(app), std::vector<std::string>());
    }
}
