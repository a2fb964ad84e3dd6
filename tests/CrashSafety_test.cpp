// Every file the program writes survives the program dying in the middle of
// writing it, and a disk that refuses the write: the old file stays byte for
// byte, nothing partial stands at its name, and a refusal is shown to the
// user. The writes run in a child process (this executable again, running
// only CrashSafetyChild) that is killed with SIGKILL or limited in file size.
#include "app/Collection.h"
#include "app/Unit1.h"
#include "platform/AtomicFile.h"
#include "tests/support/GameDatabase.h"
#include "tests/support/TestSupport.h"
#include "updater/Unit2.h"

#include <QCoreApplication>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
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

struct ProgramEnd {
    bool killed = false; // by the test
    bool crashed = false; // ended by a signal
    int exitCode = -1;
    std::vector<std::string> report; // what the probe saw
    std::string output, errors;
};

class CrashSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        app = m_dir.filePath("app").toStdString();
        temporaryFolder = m_dir.filePath("tmp").toStdString();
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
        // Whatever this process does with SIGXFSZ, the child starts with the
        // system's default: the program has to ignore it itself.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGXFSZ);
        posix_spawnattr_setsigdefault(&attributes, &defaults);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
        const int spawned
            = posix_spawn(&pid, program.c_str(), nullptr, &attributes, argv, envp.data());
        posix_spawnattr_destroy(&attributes);
        if (spawned != 0) {
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

    // Runs the program itself, copied into `app`, offscreen, acting as
    // `steps` say (see tests/support/WindowProbe.cpp). Files may grow to
    // `limit` bytes; SIGXFSZ is at its default, as a shell leaves it. With
    // `prelude`, a shell runs it first in a mount namespace of its own and
    // then the program, and lists the cdl folder after it.
    ProgramEnd RunProgram(const std::string &steps, rlim_t limit = RLIM_INFINITY,
                          const std::string &prelude = {}, std::function<bool()> killWhen = {})
    {
        const std::string program = app + "/tirmo";
        if (!fs::exists(program))
            fs::copy_file(TIRMO_BINARY_DIR "/app/tirmo", program);
        const std::string report = m_dir.filePath("probe.txt").toStdString();
        fs::remove(report);
        fs::create_directories(temporaryFolder);
        QProcess tirmo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("QT_PLUGIN_PATH", TIRMO_PROBE_PLUGINS);
        env.insert("QT_QPA_GENERIC_PLUGINS", "tirmoprobe");
        env.insert("TIRMO_PROBE_REPORT", QString::fromStdString(report));
        env.insert("TIRMO_PROBE_STEPS", QString::fromStdString(steps));
        env.insert("TMPDIR", QString::fromStdString(temporaryFolder));
        // Qt's own runtime folder goes elsewhere than into TMPDIR.
        const std::string runtime = m_dir.filePath("runtime").toStdString();
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        env.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime));
        env.insert("APP", QString::fromStdString(app));
        UseChildLeakSuppressions(env);
        tirmo.setProcessEnvironment(env);
        tirmo.setChildProcessModifier([limit] {
            std::signal(SIGXFSZ, SIG_DFL);
            const rlimit fileSize { limit, limit };
            ::setrlimit(RLIMIT_FSIZE, &fileSize);
        });
        if (prelude.empty())
            tirmo.start(QString::fromStdString(program), {});
        else
            tirmo.start(
                "unshare",
                { "-Urm", "sh", "-ec",
                  QString::fromStdString(prelude + "\n\"$APP/tirmo\"\n" + "ls -A \"$APP/cdl\"") });
        ProgramEnd end;
        EXPECT_TRUE(tirmo.waitForStarted(10000));
        const bool ended = QTest::qWaitFor(
            [&] {
                if (tirmo.state() == QProcess::NotRunning)
                    return true;
                if (killWhen && killWhen()) {
                    tirmo.kill();
                    end.killed = true;
                }
                return false;
            },
            60000);
        if (!ended) {
            tirmo.kill();
            tirmo.waitForFinished(5000);
            ADD_FAILURE() << "the program did not end: " << ReadFileBytes(report);
        }
        end.crashed = tirmo.exitStatus() == QProcess::CrashExit;
        end.exitCode = tirmo.exitCode();
        end.output = tirmo.readAllStandardOutput().toStdString();
        end.errors = tirmo.readAllStandardError().toStdString();
        std::ifstream in(report);
        for (std::string line; std::getline(in, line);)
            end.report.push_back(line);
        return end;
    }

    std::string app, site, exportPath;
    std::string temporaryFolder; // the program's TMPDIR

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
        // rest.
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

// The program itself under a file-size limit (ulimit -f): a write past it
// fails like any other, with a message and the old file kept, and never
// ends the program. Neither copy of a database too big for the limit can be
// made; an ownership file past it can't be saved, at a switch nor at close.
TEST_F(CrashSafety, AFileSizeLimitFailsTheWriteAndEndsNothing)
{
    std::string big = "Big System\tmany games\r\nGame Name\tCountry\tGID\r\n";
    for (int i = 0; big.size() < 100 * 1024; ++i)
        big += "Game number " + std::to_string(i) + "\tUSA\tB" + std::to_string(i) + "\r\n";
    WriteFileBytes(app + "/cdl/big.cdl", big);
    std::string ownership = kOwnership; // and 64 KB of games the list doesn't have
    for (int i = 0; ownership.size() < 64 * 1024; ++i)
        ownership += "gone-" + std::to_string(i) + "\r\n";
    const std::string ownershipPath = app + "/cdl/data/Test System.dat";
    WriteFileBytes(ownershipPath, ownership);

    const ProgramEnd end = RunProgram("choose Big System\nbox OK\n"
                                      "choose Test System\ntick 2\nchoose Test System\nbox OK\n"
                                      "status\nclose\nbox Close Anyway\n",
                                      40 * 1024);
    EXPECT_FALSE(end.crashed) << end.errors;
    EXPECT_EQ(end.exitCode, 0) << end.errors;
    const std::string tooLarge = ": File too large";
    EXPECT_EQ(end.report,
              (std::vector<std::string> {
                  "box: Cannot create a temporary copy of " + app
                      + "/cdl/big.cdl: Cannot write file " + app + "/cdl/big.cdltmp" + tooLarge
                      + "; Cannot write file " + temporaryFolder + "/big.cdltmp" + tooLarge,
                  "box: Cannot write file " + ownershipPath + tooLarge,
                  "status: You Have 2 of 3 known Test System Games",
                  "box: The ticks of Test System could not be saved.\\n\\nCannot write file "
                      + ownershipPath + tooLarge
                      + "\\n\\nClose anyway and lose the ticks set since the last save, or stay?",
              }));
    EXPECT_TRUE(ReadFileBytes(ownershipPath) == ownership) << "the old file is not whole";
    EXPECT_EQ(Temporaries(app), std::vector<std::string>());
    EXPECT_TRUE(fs::is_empty(temporaryFolder));
}

// With cdl on a full disk, loading copies the database into the temporary
// folder instead, without a word; only the save says the disk is full.
TEST_F(CrashSafety, OnAFullDiskTheListStillLoads)
{
    fs::rename(app + "/cdl", app + "/cdl-files");
    fs::create_directories(app + "/cdl");
    // cdl on a small file system of its own, filled up.
    const ProgramEnd end
        = RunProgram("choose Test System\nstatus\nclose\nbox Close Anyway\n", RLIM_INFINITY,
                     "mount -t tmpfs -o size=64k tmpfs \"$APP/cdl\"\n"
                     "cp -a \"$APP/cdl-files/.\" \"$APP/cdl\"\n"
                     "dd if=/dev/zero of=\"$APP/cdl/filler\" bs=4k 2>/dev/null "
                     "|| true");
    if (end.exitCode != 0 && end.report.empty())
        GTEST_SKIP() << "no file system of our own can be mounted here: " << end.errors;
    EXPECT_FALSE(end.crashed) << end.errors;
    EXPECT_EQ(end.exitCode, 0) << end.errors;
    const std::string ownership = app + "/cdl/data/Test System.dat";
    EXPECT_EQ(
        end.report,
        (std::vector<std::string> {
            "status: You Have 1 of 3 known Test System Games",
            "box: The ticks of Test System could not be saved.\\n\\nCannot write file " + ownership
                + ": No space left on device\\n\\nClose anyway and lose the ticks set since "
                  "the last save, or stay?",
        }));
    EXPECT_EQ(end.output, "data\nfiller\ntest.cdl\n") << "scratch left on the full disk";
    EXPECT_TRUE(fs::is_empty(temporaryFolder));
}

// Killed while a system loads: the copy of its database is a scratch file
// that the next start removes, with what earlier versions left as
// "<database>tmp".
TEST_F(CrashSafety, ACopyKilledWhileLoadingIsGoneAtTheNextStart)
{
    TGameDatabaseShape shape { { TGameField::Name, TGameField::Country, TGameField::Year,
                                 TGameField::Serial, TGameField::Gid },
                               "Big System\tmany games" };
    WriteGameDatabase(app + "/cdl/big.cdl", 200000, shape);
    const ProgramEnd killed = RunProgram("choose Big System\n", RLIM_INFINITY, {},
                                         [&] { return !Temporaries(app + "/cdl").empty(); });
    EXPECT_TRUE(killed.killed);
    ASSERT_EQ(Temporaries(app + "/cdl").size(), 1u) << "not killed while loading";

    WriteFileBytes(app + "/cdl/test.cdltmp", "an earlier version's copy");
    const ProgramEnd next = RunProgram("close\n");
    EXPECT_EQ(next.exitCode, 0) << next.errors;
    std::vector<std::string> cdl;
    for (const auto &entry : fs::directory_iterator(app + "/cdl"))
        cdl.push_back(entry.path().filename().string());
    std::sort(cdl.begin(), cdl.end());
    EXPECT_EQ(cdl, (std::vector<std::string> { "big.cdl", "data", "test.cdl" }));
}
