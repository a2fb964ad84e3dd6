#include "platform/Shell.h"
#include "tests/support/Minisign.h"
#include "tests/support/TestSupport.h"
#include "updater/Unit2.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char *const kNoLocal = "Your Version.ini couldn't be found. Update aborted";
const char *const kNoServer = "Web Version info file couldn't be found/downloaded. Update aborted";
const char *const kNewProgram = "New Version of TIRMO Program Available. Launching Browser";

// A temporary application folder and update site, served by a real HTTP
// server on a free loopback port.
class UpdateRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = std::make_unique<QTemporaryDir>();
        ASSERT_TRUE(m_dir->isValid());
        app = m_dir->filePath("app").toStdString();
        site = m_dir->filePath("site").toStdString();
        fs::create_directories(app + "/cdl/data");
        fs::create_directories(site + "/tirmo/cdl");
        ShownMessageBoxes().clear();
        m_previousHook = SetOpenUrlHook([this](const std::string &url) { opened.push_back(url); });
    }

    void TearDown() override
    {
        form.reset();
        labels.clear();
        opened.clear();
        SetOpenUrlHook(m_previousHook);
        if (m_server.state() != QProcess::NotRunning) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    void Local(const std::string &name, const std::string &bytes)
    {
        WriteFileBytes(app + "/" + name, bytes);
    }
    void Site(const std::string &name, const std::string &bytes)
    {
        WriteFileBytes(site + "/tirmo/" + name, bytes);
    }
    std::string LocalBytes(const std::string &name) { return ReadFileBytes(app + "/" + name); }
    bool LocalExists(const std::string &name) { return fs::exists(app + "/" + name); }

    // Starts the site server with the given faults and makes the dialog.
    void Serve(const QStringList &faults = {})
    {
        m_server.setProgram(TIRMO_PYTHON);
        m_server.setArguments(QStringList { QString(TIRMO_TEST_DIR "/servers/update_site.py"),
                                            QString::fromStdString(site) }
                              + faults);
        m_server.start();
        ASSERT_TRUE(m_server.waitForReadyRead(10000)) << "site server did not start";
        const int port = m_server.readLine().trimmed().toInt();
        ASSERT_GT(port, 0);
        MakeForm(port);
    }

    // Serves the site with python3's own web server, as a publisher does.
    void ServeWithPythonsWebServer()
    {
        m_server.start(TIRMO_PYTHON,
                       { "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                         QString::fromStdString(site) });
        ASSERT_TRUE(m_server.waitForReadyRead(10000)) << "web server did not start";
        // "Serving HTTP on 127.0.0.1 port 12345 (http://...) ..."
        const QString line = QString::fromUtf8(m_server.readLine());
        const int port = line.section(" port ", 1).section(' ', 0, 0).toInt();
        ASSERT_GT(port, 0) << line.toStdString();
        MakeForm(port);
    }

    void MakeForm(int port)
    {
        form = std::make_unique<TUpdateForm>(app);
        form->SiteURL = "http://127.0.0.1:" + std::to_string(port);
        // Whatever key this build has, a test says which it uses.
        form->UpdateKey.clear();
        form->UpdateProt->OnAboutToSend
            = [this](QObject *) { labels.push_back(form->lb_Update1->text().toStdString()); };
        form->show();
    }

    std::vector<std::string> Requests()
    {
        std::vector<std::string> lines;
        std::string log = ReadFileBytes(m_dir->filePath("requests.log").toStdString());
        for (size_t at; (at = log.find('\n')) != std::string::npos; log.erase(0, at + 1))
            lines.push_back(log.substr(0, at));
        return lines;
    }

    std::vector<std::string> Boxes()
    {
        std::vector<std::string> texts;
        for (const auto &[text, caption] : ShownMessageBoxes())
            texts.push_back(text);
        return texts;
    }

    std::string Label() { return form->lb_Update1->text().toStdString(); }

    std::vector<std::string> FilesIn(const std::string &folder)
    {
        std::vector<std::string> files;
        for (const auto &entry : fs::directory_iterator(folder))
            files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        return files;
    }
    std::vector<std::string> CdlFiles() { return FilesIn(app + "/cdl"); }
    std::vector<std::string> AppFiles() { return FilesIn(app); }

    std::string app, site;
    std::unique_ptr<TUpdateForm> form;
    std::vector<std::string> labels, opened;

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_server;
    OpenUrlHook m_previousHook;
};

} // namespace

TEST_F(UpdateRun, LocalManifestMissing)
{
    Local("version.bak", "old bak");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { std::string(kNoLocal) + "\n" + app
                                         + "/version.ini: no such file" });
    EXPECT_EQ(Label(), "Update aborted");
    EXPECT_FALSE(LocalExists("version.ini"));
    EXPECT_EQ(LocalBytes("version.bak"), "old bak");
    EXPECT_TRUE(Requests().empty());
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
}

// A named pipe in version.ini's place is refused, naming it, and never
// waited on; no database is fetched.
TEST_F(UpdateRun, ALocalManifestThatIsNoFileIsRefused)
{
    ASSERT_EQ(::mkfifo((app + "/version.ini").c_str(), 0644), 0);
    Site("version.ini", "a.cdl;1\r\n");
    Site("cdl/a.cdl", "A\r\nGame Name\tGID\r\n");
    Serve();
    QTest::mouseClick(form->bt_StartUpdate, Qt::LeftButton);
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "Cannot open file " + app
                                         + "/version.ini: Is a named pipe, not a file" });
    EXPECT_EQ(Requests(), std::vector<std::string> { "/tirmo/version.ini" });
    EXPECT_TRUE(fs::is_fifo(app + "/version.ini"));
    EXPECT_FALSE(LocalExists("cdl/a.cdl"));
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
}

TEST_F(UpdateRun, ServerManifest404IsRefused)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("version.bak", "stale");
    Serve();
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind(kNoServer, 0), 0u) << Boxes()[0];
    EXPECT_NE(Boxes()[0].find("/tirmo/version.ini: the server answered 404"), std::string::npos);
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_FALSE(LocalExists("version.bak"));
    EXPECT_EQ(fs::directory_iterator(app + "/cdl")->path().filename(), "data");
}

TEST_F(UpdateRun, NoChangedEntry)
{
    Local("version.ini", "b.cdl;2\r\nA.cdl;1\r\n");
    Site("version.ini", "a.cdl;1\nb.cdl;2\n");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Label(), "No Database Update Available");
    EXPECT_EQ(LocalBytes("version.bak"), "a.cdl;1\nb.cdl;2\n");
    EXPECT_EQ(LocalBytes("version.ini"), "b.cdl;2\r\nA.cdl;1\r\n");
    EXPECT_TRUE(Boxes().empty());
    EXPECT_EQ(form->pb_Update->value(), form->pb_Update->maximum());
}

TEST_F(UpdateRun, ChangedDatabasesReplacedInSortedOrder)
{
    Local("version.ini", "c.cdl;1\r\nb.cdl;1\r\nonly-local.cdl;1\r\n");
    Local("cdl/c.cdl", "old c");
    Local("cdl/only-local.cdl", "kept");
    const std::string manifest = "c.cdl;2\r\nB.cdl;2\r\na.cdl;1\r\n";
    Site("version.ini", manifest);
    Site("cdl/a.cdl", "new a");
    Site("cdl/B.cdl", "new B");
    Site("cdl/c.cdl", "new c");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "3 databases updated. New systems appear in the list "
                                         "when TIRMO is started again: B.cdl, a.cdl" });
    EXPECT_EQ(labels,
              (std::vector<std::string> { "Waiting to Update", "Updating Database 1/3",
                                          "Updating Database 2/3", "Updating Database 3/3" }));
    EXPECT_EQ(Requests(),
              (std::vector<std::string> { "/tirmo/version.ini", "/tirmo/cdl/a.cdl",
                                          "/tirmo/cdl/B.cdl", "/tirmo/cdl/c.cdl" }));
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
    EXPECT_EQ(LocalBytes("cdl/B.cdl"), "new B");
    EXPECT_EQ(LocalBytes("cdl/c.cdl"), "new c");
    EXPECT_EQ(LocalBytes("cdl/only-local.cdl"), "kept");
    EXPECT_EQ(LocalBytes("version.ini"), manifest);
    EXPECT_FALSE(LocalExists("version.bak"));
    EXPECT_EQ(Label(), "3 databases updated");
    EXPECT_EQ(form->pb_Update->maximum(), 5);
    EXPECT_EQ(form->pb_Update->value(), 5);
}

TEST_F(UpdateRun, NamesWithSpacesLowercaseMainAndDuplicates)
{
    Local("version.ini", "");
    Site("version.ini", "Some System.cdl;1\nmain;1\nmain;1\n");
    Site("cdl/Some System.cdl", "spaced");
    Site("cdl/main", "a database called main");
    Serve();
    form->bt_StartUpdateClick();
    // "main" is a database, but no system: only *.cdl files are listed.
    EXPECT_EQ(Boxes(),
              std::vector<std::string> { "2 databases updated. A new system appears in the list "
                                         "when TIRMO is started again: Some System.cdl" });
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(Requests(),
              (std::vector<std::string> { "/tirmo/version.ini", "/tirmo/cdl/main",
                                          "/tirmo/cdl/main", "/tirmo/cdl/Some%20System.cdl" }));
    EXPECT_EQ(labels.back(), "Updating Database 3/3");
    EXPECT_EQ(Label(), "2 databases updated");
    EXPECT_EQ(LocalBytes("cdl/Some System.cdl"), "spaced");
    EXPECT_EQ(LocalBytes("cdl/main"), "a database called main");
}

TEST_F(UpdateRun, NewProgramAloneThenAgain)
{
    Local("version.ini", "Main;1\r\na.cdl;1\r\n");
    Site("version.ini", "Main;2\r\na.cdl;1\r\n");
    Serve();
    for (int run = 0; run < 2; ++run) {
        form->bt_StartUpdateClick();
        EXPECT_EQ(Label(), "No Database Update Available");
        EXPECT_EQ(LocalBytes("version.ini"), "Main;1\r\na.cdl;1\r\n");
        EXPECT_EQ(LocalBytes("version.bak"), "Main;2\r\na.cdl;1\r\n");
    }
    EXPECT_EQ(Boxes(), (std::vector<std::string> { kNewProgram, kNewProgram }));
    EXPECT_EQ(opened, (std::vector<std::string> { form->SiteURL, form->SiteURL }));
}

TEST_F(UpdateRun, NewProgramWithDatabases)
{
    Local("version.ini", "Main;1\r\n");
    Local("cdl/a.cdl", "old");
    Site("version.ini", "Main;2\r\na.cdl;2\r\n");
    Site("cdl/a.cdl", "new");
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new");
    EXPECT_EQ(LocalBytes("version.ini"), "Main;1\r\n");
    EXPECT_EQ(LocalBytes("version.bak"), "Main;2\r\na.cdl;2\r\n");
    EXPECT_EQ(Boxes(), std::vector<std::string> { kNewProgram });
}

std::string Sha256(const std::string &bytes)
{
    return QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
        .toHex()
        .toStdString();
}

std::string DigestLine(const std::string &name, const std::string &bytes)
{
    return name + ";" + std::to_string(bytes.size()) + "-" + Sha256(bytes);
}

// Every case of a download against a real server: afterwards the databases
// and version.ini are all the old ones or all the new ones, byte for byte,
// and nothing else is left in cdl.
TEST_F(UpdateRun, ADatabaseIsReplacedOnlyWhenItArrivedWhole)
{
    std::string newB;
    for (int i = 0; newB.size() < 200000; ++i)
        newB += "Game " + std::to_string(i) + "\tG" + std::to_string(i) + "\r\n";
    newB.resize(200000);
    std::string otherB = newB;
    otherB[123456] ^= 1;
    const std::string digests
        = DigestLine("a.cdl", "new a") + "\r\n" + DigestLine("b.cdl", newB) + "\r\n";
    const std::string plain = "a.cdl;2\r\nb.cdl;2\r\n";
    const QString fault = "/tirmo/cdl/b.cdl";
    struct Case {
        const char *what;
        std::string manifest;
        std::string servedB;
        QStringList faults;
        std::string why; // empty: the update succeeds
        int64_t received = -1; // of the last transfer, when it matters
        bool arrived = false; // a reply that ended in order, but not with the promised bytes
    } cases[] = {
        { "digest: match", digests, newB, {}, "" },
        { "digest: match, no Content-Length", digests, newB, { "nolength:" + fault }, "" },
        { "digest: one byte short",
          digests,
          newB.substr(1),
          {},
          "expected 200000 bytes (SHA-256 " + Sha256(newB) + "), received 199999 bytes",
          -1,
          true },
        { "digest: one byte long",
          digests,
          newB + "x",
          {},
          "expected 200000 bytes, the server announced 200001 bytes (its Content-Length)" },
        { "digest: other bytes",
          digests,
          otherB,
          {},
          "expected 200000 bytes (SHA-256 " + Sha256(newB) + "), received 200000 bytes (SHA-256 "
              + Sha256(otherB) + ")",
          -1,
          true },
        { "digest: no Content-Length, closed half way",
          digests,
          newB,
          { "cut:" + fault },
          "received 100000 bytes",
          -1,
          true },
        { "digest: endless body",
          digests,
          newB,
          { "endless:" + fault },
          "expected 200000 bytes, received more",
          200001 },
        { "plain: 404", plain, newB, { "404:" + fault }, "the server answered 404" },
        { "plain: reset half way",
          plain,
          newB,
          { "reset:" + fault },
          "10054:Connection reset by peer" },
        { "plain: reset half way, no Content-Length",
          plain,
          newB,
          { "reset-nolength:" + fault },
          "10054:Connection reset by peer" },
        { "plain: closed half way",
          plain,
          newB,
          { "short:" + fault },
          "after 100000 of 200000 bytes of the reply" },
        { "plain: refused", plain, newB, { "stop-after:2" }, "Connection Failed" },
        { "plain: endless body",
          plain,
          newB,
          { "endless:" + fault },
          "it is longer than 64 MiB, the most accepted",
          (64 << 20) + 1 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        const std::string oldManifest = "a.cdl;1\r\nb.cdl;1\r\n";
        Local("version.ini", oldManifest);
        Local("cdl/a.cdl", "old a");
        Local("cdl/b.cdl", "old b");
        Site("version.ini", c.manifest);
        Site("cdl/a.cdl", "new a");
        Site("cdl/b.cdl", c.servedB);
        Serve(c.faults);
        form->bt_StartUpdateClick();
        const bool replaced = c.why.empty();
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), replaced ? "new a" : "old a");
        EXPECT_EQ(LocalBytes("cdl/b.cdl") == (replaced ? newB : "old b"), true);
        EXPECT_EQ(LocalBytes("version.ini"), replaced ? c.manifest : oldManifest);
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
        if (replaced) {
            EXPECT_EQ(Boxes(), std::vector<std::string> {});
        } else {
            ASSERT_EQ(Boxes().size(), 1u);
            const std::string url = form->SiteURL + fault.toStdString();
            EXPECT_NE(Boxes()[0].find(c.arrived
                                          ? "b.cdl arrived from " + url
                                              + ", but it isn't the file the server's "
                                                "version.ini describes: "
                                          : "b.cdl couldn't be downloaded from " + url + ": "),
                      std::string::npos)
                << Boxes()[0];
            EXPECT_NE(Boxes()[0].find(c.why), std::string::npos) << Boxes()[0];
        }
        if (c.received >= 0) {
            EXPECT_EQ(form->UpdateProt->ReceivedBytes, c.received);
        }
        EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
    }
}

// A hostile manifest of one 64 MiB line: refused at the bound, whether it
// says its length or not, without holding it in memory or freezing the window.
TEST_F(UpdateRun, AHugeManifestIsRefusedAtItsBound)
{
    for (const QStringList &faults :
         { QStringList {}, QStringList { "nolength:/tirmo/version.ini" } }) {
        SCOPED_TRACE(faults.join(" ").toStdString());
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        {
            // Written in pieces: the test itself must not hold 64 MiB.
            std::ofstream out(site + "/tirmo/version.ini", std::ios::binary);
            const std::string piece(1 << 20, 'x');
            for (int i = 0; i < 64; ++i)
                out << piece;
        }
        Serve(faults);
        QElapsedTimer clock, sinceTick;
        qint64 longestGap = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout,
                         [&] { longestGap = std::max(longestGap, sinceTick.restart()); });
        tick.start(10);
        rusage before {};
        getrusage(RUSAGE_SELF, &before);
        clock.start();
        sinceTick.start();
        form->bt_StartUpdateClick();
        const qint64 elapsed = clock.elapsed();
        longestGap = std::max(longestGap, sinceTick.elapsed());
        rusage after {};
        getrusage(RUSAGE_SELF, &after);
        std::printf(
            "huge manifest: message after %lld ms, longest wait between timer ticks %lld ms, "
            "peak memory grew %ld KiB\n",
            static_cast<long long>(elapsed), static_cast<long long>(longestGap),
            after.ru_maxrss - before.ru_maxrss);
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_EQ(Boxes()[0],
                  std::string(kNoServer) + "\n" + form->SiteURL
                      + "/tirmo/version.ini: it is longer than 4 MiB, the most accepted");
        EXPECT_LT(elapsed, 10000);
        EXPECT_LT(longestGap, 1000);
        EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 32 << 10);
        EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
        EXPECT_FALSE(LocalExists("version.bak"));
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "data" }));
        EXPECT_EQ(AppFiles(), (std::vector<std::string> { "cdl", "version.ini" }));
    }
}

TEST_F(UpdateRun, AManifestOfTooManyLinesIsRefused)
{
    std::string manifest;
    for (int i = 0; i <= 10000; ++i)
        manifest += "a;" + std::to_string(i) + "\n";
    Local("version.ini", "a;1\r\n");
    Site("version.ini", manifest);
    Serve();
    form->bt_StartUpdateClick();
    EXPECT_EQ(
        Boxes(),
        std::vector<std::string> { "Update aborted: the server's version.ini has 10001 lines, more "
                                   "than the 10000 accepted. Nothing was changed." });
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_EQ(LocalBytes("version.ini"), "a;1\r\n");
}

// The notice of a newer program and the browser come whatever became of the
// databases; the failure box after them.
TEST_F(UpdateRun, NewProgramIsAnnouncedBeforeAFailedDownload)
{
    Local("version.ini", "Main;0.2\r\na.cdl;1\r\nb.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Local("cdl/b.cdl", "old b");
    Site("version.ini", "Main;0.3\r\na.cdl;2\r\nb.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Serve();
    std::vector<size_t> boxesWhenOpened;
    SetOpenUrlHook([&](const std::string &) { boxesWhenOpened.push_back(Boxes().size()); });
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 2u);
    EXPECT_EQ(Boxes()[0], kNewProgram);
    EXPECT_NE(Boxes()[1].find("b.cdl couldn't be downloaded"), std::string::npos) << Boxes()[1];
    EXPECT_NE(Boxes()[1].find("the server answered 404"), std::string::npos) << Boxes()[1];
    EXPECT_EQ(boxesWhenOpened, std::vector<size_t> { 1 });
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_EQ(LocalBytes("cdl/b.cdl"), "old b");
    EXPECT_EQ(LocalBytes("version.ini"), "Main;0.2\r\na.cdl;1\r\nb.cdl;1\r\n");
    EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
}

// Manifests as publishers write them: a trailing empty line is no entry, and
// two dots that are no separator are a name like any other.
TEST_F(UpdateRun, EmptyLinesAndHarmlessDotsRun)
{
    for (const std::string &manifest :
         { std::string("a.cdl;2\r\n\r\n"), std::string("\na.cdl;2\n\n\n"),
           std::string("a.cdl;2\r\nVol..2.cdl;1\r\n") }) {
        SCOPED_TRACE(manifest);
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        Site("version.ini", manifest);
        Site("cdl/a.cdl", "new a");
        Site("cdl/Vol..2.cdl", "volume 2");
        Serve();
        form->bt_StartUpdateClick();
        const bool volume = manifest.find("Vol") != std::string::npos;
        EXPECT_EQ(Boxes(),
                  volume ? std::vector<std::string> { "2 databases updated. A new system appears "
                                                      "in the list when TIRMO is started again: "
                                                      "Vol..2.cdl" }
                         : std::vector<std::string> {});
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
        EXPECT_EQ(LocalBytes("version.ini"), manifest);
        EXPECT_EQ(LocalBytes("cdl/Vol..2.cdl"), volume ? "volume 2" : "");
        EXPECT_EQ(Requests().size(), volume ? 3u : 2u);
    }
}

// Every database name of the table of names, published by the publishing
// script and served by python3's web server, arrives as its own file: a name
// whose bytes a server could read as an escape, a query or a fragment never
// fetches another file (here: "aA.cdl", "b", "why").
TEST_F(UpdateRun, EveryNameTheTableTakesFetchesItsOwnFile)
{
    std::vector<std::string> names = { "aA.cdl", "b", "why" };
    for (const TEntryNameCase &c : ReadEntryNameCases(TIRMO_TEST_DIR "/data/entry-names.tsv"))
        if (c.Taken && c.Name.ends_with(".cdl"))
            names.push_back(c.Name);
    for (const std::string &name : names)
        Site("cdl/" + name, "db of " + name);
    QProcess script;
    script.start(TIRMO_PYTHON,
                 { TIRMO_SOURCE_DIR "/scripts/write_manifest.py",
                   QString::fromStdString(site + "/tirmo/cdl"),
                   QString::fromStdString(site + "/tirmo/version.ini") });
    ASSERT_TRUE(script.waitForFinished(30000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    Local("version.ini", "");
    ServeWithPythonsWebServer();
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_EQ(Boxes()[0].rfind(std::to_string(names.size() - 2) + " databases updated.", 0), 0u)
        << Boxes()[0];
    for (const std::string &name : names) {
        if (name.ends_with(".cdl")) {
            EXPECT_EQ(LocalBytes("cdl/" + name), "db of " + name) << name;
        }
    }
    EXPECT_EQ(LocalBytes("version.ini"), ReadFileBytes(site + "/tirmo/version.ini"));
}

// A manifest cut short inside a digest, as a real server sends it (half its
// length announced, or closed half way without one), changes nothing: the
// cut line would fetch its file unchecked.
TEST_F(UpdateRun, AManifestCutInADigestChangesNothing)
{
    const std::string neocd(7233, 'n');
    const std::string manifest = "Main;1\r\n" + DigestLine("neocd.cdl", neocd) + "\r\n";
    const std::string cutLine = manifest.substr(8, manifest.size() / 2 - 8);
    ASSERT_EQ(cutLine.rfind("neocd.cdl;7233-", 0), 0u);
    const std::string oldManifest = "Main;1\r\nneocd.cdl;1\r\n";
    for (const char *fault : { "half-length:/tirmo/version.ini", "cut:/tirmo/version.ini" }) {
        SCOPED_TRACE(fault);
        TearDown();
        SetUp();
        Local("version.ini", oldManifest);
        Local("cdl/neocd.cdl", "old neocd");
        Site("version.ini", manifest);
        Site("cdl/neocd.cdl", neocd);
        Serve({ fault });
        form->bt_StartUpdateClick();
        EXPECT_EQ(Boxes(),
                  std::vector<std::string> {
                      "Update aborted: the line \"" + cutLine
                      + "\" of the server's version.ini is broken: it begins like "
                        "<size>-<SHA-256> but isn't a size, a dash and 64 hex digits (the file "
                        "may have been cut short). Nothing was changed." });
        EXPECT_EQ(Requests(), std::vector<std::string> { "/tirmo/version.ini" });
        EXPECT_EQ(LocalBytes("version.ini"), oldManifest);
        EXPECT_EQ(LocalBytes("cdl/neocd.cdl"), "old neocd");
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "data", "neocd.cdl" }));
    }
}

TEST_F(UpdateRun, UnsafeEntryRefusedBeforeAnyDownload)
{
    for (const char *line : { "../evil.cdl;1", ";1", "a/b.cdl;1" }) {
        SCOPED_TRACE(line);
        TearDown();
        SetUp();
        Local("version.ini", "");
        Site("version.ini", std::string("good.cdl;1\r\n") + line + "\r\n");
        Site("cdl/good.cdl", "good");
        Serve();
        form->bt_StartUpdateClick();
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_NE(Boxes()[0].find(std::string("\"") + line + "\""), std::string::npos)
            << Boxes()[0];
        EXPECT_EQ(Requests().back(), "/tirmo/version.ini");
        EXPECT_FALSE(LocalExists("cdl/good.cdl"));
        EXPECT_EQ(LocalBytes("version.ini"), "");
        EXPECT_FALSE(fs::exists(app + "/evil.cdl"));
    }
}

// Each run starts from "Waiting to Update" and an empty bar, whatever the
// last one left, and ends saying what it did.
TEST_F(UpdateRun, EachRunStartsAfreshAndEndsSayingWhatItDid)
{
    Local("version.ini", "a.cdl;1\r\nb.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Local("cdl/b.cdl", "old b");
    Site("version.ini", "a.cdl;2\r\nb.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Site("cdl/b.cdl", "new b");
    Serve();
    std::vector<std::pair<std::string, int>> shown; // label and bar at each request
    form->UpdateProt->OnAboutToSend
        = [&](QObject *) { shown.emplace_back(Label(), form->pb_Update->value()); };
    form->bt_StartUpdateClick();
    EXPECT_EQ(Label(), "2 databases updated");
    EXPECT_EQ(form->pb_Update->value(), form->pb_Update->maximum());
    EXPECT_EQ(Boxes(), std::vector<std::string> {});
    shown.clear();
    form->bt_StartUpdateClick();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0], std::make_pair(std::string("Waiting to Update"), 0));
    EXPECT_EQ(Label(), "No Database Update Available");
}

// Cancel, Escape and the close button stop a download alike: nothing
// changes, no scratch stays, and the user is told.
TEST_F(UpdateRun, ACancelChangesNothingAndSaysSo)
{
    for (const std::string how : { "Cancel", "Escape", "close" }) {
        SCOPED_TRACE(how);
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\nb.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        Local("cdl/b.cdl", "old b");
        Site("version.ini", "a.cdl;2\r\nb.cdl;2\r\n");
        Site("cdl/a.cdl", "new a");
        Site("cdl/b.cdl", std::string(200, 'x'));
        Serve({ "slow:/tirmo/cdl/b.cdl" });
        EXPECT_FALSE(form->bt_Cancel->isVisible());
        bool cancelShown = false;
        QTimer cancel;
        QObject::connect(&cancel, &QTimer::timeout, form.get(), [&] {
            const std::vector<std::string> requests = Requests();
            if (requests.empty() || requests.back() != "/tirmo/cdl/b.cdl"
                || !form->bt_Cancel->isEnabled())
                return;
            cancel.stop();
            cancelShown = form->bt_Cancel->isVisible() && !form->bt_StartUpdate->isVisible()
                && form->bt_Cancel->geometry() == form->bt_StartUpdate->geometry()
                && form->bt_Cancel->toolTip().contains("Escape");
            if (how == "Cancel")
                QTest::mouseClick(form->bt_Cancel, Qt::LeftButton);
            else if (how == "Escape")
                QTest::keyClick(form.get(), Qt::Key_Escape);
            else
                form->close();
        });
        cancel.start(10);
        form->bt_StartUpdateClick();
        EXPECT_TRUE(cancelShown);
        EXPECT_EQ(Boxes(), std::vector<std::string> { "Update cancelled. Nothing was changed." });
        EXPECT_FALSE(form->isVisible());
        EXPECT_FALSE(form->bt_Cancel->isVisibleTo(form.get()));
        EXPECT_TRUE(form->bt_StartUpdate->isVisibleTo(form.get()));
        EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
        EXPECT_EQ(LocalBytes("cdl/b.cdl"), "old b");
        EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\nb.cdl;1\r\n");
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
        EXPECT_EQ(AppFiles(), (std::vector<std::string> { "cdl", "version.ini" }));
    }
}

TEST_F(UpdateRun, EscapeDuringSlowDownloadAbortsAndCloses)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Site("version.ini", "a.cdl;2\r\n");
    Site("cdl/a.cdl", std::string(200, 'x'));
    Serve({ "slow:/tirmo/cdl/a.cdl" });
    // Escape once the server has been asked for the slow database.
    QTimer escape;
    QObject::connect(&escape, &QTimer::timeout, form.get(), [&] {
        const std::vector<std::string> requests = Requests();
        if (!requests.empty() && requests.back() == "/tirmo/cdl/a.cdl") {
            escape.stop();
            QTest::keyClick(form.get(), Qt::Key_Escape);
        }
    });
    escape.start(10);
    QElapsedTimer clock;
    clock.start();
    form->bt_StartUpdateClick();
    EXPECT_LT(clock.elapsed(), 8000);
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
    EXPECT_FALSE(form->Running());
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(app + "/cdl"), fs::directory_iterator()), 2);
}

namespace {

const TMinisign &Publisher()
{
    static const TMinisign publisher;
    return publisher;
}

// version.ini on the site, signed by the publisher with this timestamp.
void SignedSite(const std::string &site, const std::string &manifest, std::int64_t timestamp,
                const TMinisign &signer = Publisher())
{
    WriteFileBytes(site + "/tirmo/version.ini", manifest);
    signer.SignFile(site + "/tirmo/version.ini",
                    { "-t", QString("timestamp:%1\tfile:version.ini").arg(timestamp) });
}

} // namespace

TEST_F(UpdateRun, SignedUpdateKeepsItsTimestampAndTakesTheSameListAgain)
{
    Local("version.ini", "Main;0.2\r\na.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    const std::string manifest = "Main;0.2\r\n" + DigestLine("a.cdl", "new a") + "\r\n";
    SignedSite(site, manifest, 1800000000);
    Site("cdl/a.cdl", "new a");
    Serve();
    form->UpdateKey = Publisher().PublicKey();
    fs::file_time_type written;
    for (int run = 0; run < 2; ++run) {
        form->bt_StartUpdateClick();
        EXPECT_EQ(Boxes(), std::vector<std::string> {});
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
        EXPECT_EQ(LocalBytes("version.ini"), manifest);
        EXPECT_EQ(LocalBytes("version.timestamp"), "1800000000\r\n");
        // The same list again writes nothing.
        if (run == 0)
            written = fs::last_write_time(app + "/version.timestamp");
        EXPECT_EQ(fs::last_write_time(app + "/version.timestamp"), written);
    }
    EXPECT_EQ(Label(), "No Database Update Available");
    EXPECT_EQ(Requests(),
              (std::vector<std::string> { "/tirmo/version.ini", "/tirmo/version.ini.minisig",
                                          "/tirmo/cdl/a.cdl", "/tirmo/version.ini",
                                          "/tirmo/version.ini.minisig" }));
    EXPECT_EQ(
        AppFiles(),
        (std::vector<std::string> { "cdl", "version.bak", "version.ini", "version.timestamp" }));
}

// Each refusal stops the update before any database is fetched and leaves
// every file as it was, with a box that names the site and the reason.
TEST_F(UpdateRun, UnsignedOrOlderListsAreRefused)
{
    const TMinisign other;
    const std::string manifest = DigestLine("a.cdl", "new a") + "\r\n";
    const auto signedBy = [&](const TMinisign &signer, std::int64_t timestamp) {
        return [&signer, timestamp, &manifest](const std::string &site) {
            SignedSite(site, manifest, timestamp, signer);
        };
    };
    const auto changed = [&](const std::function<void(std::string &, std::string &)> &change) {
        return [&manifest, change](const std::string &site) {
            SignedSite(site, manifest, 1800000001);
            std::string list = ReadFileBytes(site + "/tirmo/version.ini");
            std::string signature = ReadFileBytes(site + "/tirmo/version.ini.minisig");
            change(list, signature);
            WriteFileBytes(site + "/tirmo/version.ini", list);
            WriteFileBytes(site + "/tirmo/version.ini.minisig", signature);
        };
    };
    struct Case {
        const char *what;
        std::function<void(const std::string &)> publish;
        std::string why;
    } cases[] = {
        { "no signature",
          [&](const std::string &site) {
              Site("version.ini", manifest);
              (void)site;
          },
          "is not signed by the publisher of this TIRMO: its signature " },
        { "another key", signedBy(other, 1800000001),
          "is not signed by the publisher of this TIRMO (it is signed with key" },
        { "one byte changed",
          changed([](std::string &list, std::string &) { list[list.size() - 3] ^= 1; }),
          "does not match its signature: it was changed after the publisher signed it" },
        { "trusted comment changed", changed([](std::string &, std::string &signature) {
              signature.replace(signature.find("timestamp:1800000001"), 20, "timestamp:1900000000");
          }),
          "has a signature whose trusted comment was changed after the publisher signed it" },
        { "signature cut short",
          changed([](std::string &, std::string &signature) { signature.resize(120); }),
          "has a damaged signature file" },
        { "garbage signature",
          changed([](std::string &, std::string &signature) { signature = "\x89PNG\r\n"; }),
          "has a damaged signature file" },
        { "older", signedBy(Publisher(), 1799999999),
          "is older than the one this TIRMO took last (it was signed 2027-01-15 07:59:59 UTC, "
          "the one in use 2027-01-15 08:00:00 UTC)" },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Local("version.ini", "a.cdl;1\r\n");
        Local("cdl/a.cdl", "old a");
        Local("version.timestamp", "1800000000\r\n");
        c.publish(site);
        Site("cdl/a.cdl", "new a");
        Serve();
        form->UpdateKey = Publisher().PublicKey();
        form->bt_StartUpdateClick();
        ASSERT_EQ(Boxes().size(), 1u);
        EXPECT_NE(Boxes()[0].find(c.why), std::string::npos) << Boxes()[0];
        EXPECT_NE(Boxes()[0].find(form->SiteURL + "/tirmo/"), std::string::npos) << Boxes()[0];
        EXPECT_NE(Boxes()[0].find("Nothing was changed."), std::string::npos) << Boxes()[0];
        EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
        EXPECT_EQ(LocalBytes("version.timestamp"), "1800000000\r\n");
        EXPECT_EQ(AppFiles(),
                  (std::vector<std::string> { "cdl", "version.ini", "version.timestamp" }));
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "data" }));
        for (const std::string &request : Requests())
            EXPECT_EQ(request.find("/tirmo/cdl/"), std::string::npos) << request;
        EXPECT_TRUE(form->bt_StartUpdate->isEnabled());
    }
}

// A signed list authenticates its databases through their digests: a line
// without one would let any bytes in.
TEST_F(UpdateRun, SignedListLineWithoutDigestIsRefused)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    SignedSite(site, "a.cdl;2\r\n", 1800000000);
    Site("cdl/a.cdl", "new a");
    Serve();
    form->UpdateKey = Publisher().PublicKey();
    form->bt_StartUpdateClick();
    ASSERT_EQ(Boxes().size(), 1u);
    EXPECT_NE(Boxes()[0].find("the line \"a.cdl;2\" of the server's version.ini gives no size and "
                              "SHA-256 digest"),
              std::string::npos)
        << Boxes()[0];
    EXPECT_EQ(Requests().back(), "/tirmo/version.ini.minisig");
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_FALSE(LocalExists("version.timestamp"));
}

// What the publishing script signs, a TIRMO with the matching key takes.
TEST_F(UpdateRun, ASiteSignedByThePublishingScriptUpdates)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Site("cdl/a.cdl", "new a");
    QProcess script;
    script.start(TIRMO_PYTHON,
                 { TIRMO_SOURCE_DIR "/scripts/write_manifest.py",
                   QString::fromStdString(site + "/tirmo/cdl"),
                   QString::fromStdString(site + "/tirmo/version.ini"), "--sign",
                   QString::fromStdString(Publisher().SecretKeyPath()) });
    ASSERT_TRUE(script.waitForFinished(30000));
    ASSERT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    const std::int64_t now = QDateTime::currentSecsSinceEpoch();
    Serve();
    form->UpdateKey = Publisher().PublicKey();
    form->bt_StartUpdateClick();
    EXPECT_EQ(Boxes(), std::vector<std::string> {});
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
    EXPECT_EQ(LocalBytes("version.ini"), ReadFileBytes(site + "/tirmo/version.ini"));
    EXPECT_NEAR(std::stod(LocalBytes("version.timestamp")), double(now), 300);
}
