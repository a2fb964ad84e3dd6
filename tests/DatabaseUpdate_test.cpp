#include "updater/DatabaseUpdate.h"

#include "net/Nmhttp.h"
#include "tests/support/UpdateSite.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <tuple>

namespace fs = std::filesystem;

namespace {

const char *const kNoServer = "Web Version info file couldn't be found/downloaded. Update aborted";

// The update procedure against a real site, with no window.
class UpdateProcedure : public UpdateSiteTest {
protected:
    // Starts the site server with the given faults.
    void Serve(const QStringList &faults = {}) { url = StartSite(faults); }

    TUpdateResult Run()
    {
        progress.clear();
        return update.Run({ url, key }, app,
                          [this](const TUpdateProgress &p) { progress.push_back(p); });
    }

    TNMHTTP http;
    TDatabaseUpdate update { http };
    std::string url, key;
    std::vector<TUpdateProgress> progress;
};

// The reason a run stopped, if it did, as the one item of a list.
std::vector<std::string> Stops(const TUpdateResult &result)
{
    if (!result.Stop)
        return {};
    return { result.Stop->Cancelled ? "(cancelled)" : result.Stop->Reason };
}

// Bytes as a failure shows them: the size, the digest and how they begin.
std::string Summary(const std::string &bytes)
{
    return std::to_string(bytes.size()) + " bytes, SHA-256 " + Sha256(bytes) + ", beginning \""
        + bytes.substr(0, 24) + "\"";
}

} // namespace

// Every case of a download against a real server: afterwards the databases
// and version.ini are all the old ones or all the new ones, byte for byte,
// and nothing else is left in cdl.
TEST_F(UpdateProcedure, ADatabaseIsReplacedOnlyWhenItArrivedWhole)
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
        const TUpdateResult result = Run();
        const bool replaced = c.why.empty();
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), replaced ? "new a" : "old a");
        EXPECT_EQ(Summary(LocalBytes("cdl/b.cdl")), Summary(replaced ? newB : "old b"));
        EXPECT_EQ(LocalBytes("version.ini"), replaced ? c.manifest : oldManifest);
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));
        if (replaced) {
            EXPECT_EQ(Stops(result), std::vector<std::string> {});
        } else {
            ASSERT_EQ(Stops(result).size(), 1u);
            const std::string faulty = url + fault.toStdString();
            EXPECT_NE(Stops(result)[0].find(c.arrived ? "b.cdl arrived from " + faulty
                                                    + ", but it isn't the file the server's "
                                                      "version.ini describes: "
                                                      : "b.cdl couldn't be downloaded from "
                                                    + faulty + ": "),
                      std::string::npos)
                << Stops(result)[0];
            EXPECT_NE(Stops(result)[0].find(c.why), std::string::npos) << Stops(result)[0];
        }
        if (c.received >= 0) {
            EXPECT_EQ(http.ReceivedBytes, c.received);
        }
    }
}

// A hostile manifest of one 64 MiB line: refused at the bound, whether it
// says its length or not, without holding it in memory or freezing the window.
TEST_F(UpdateProcedure, AHugeManifestIsRefusedAtItsBound)
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
        const TUpdateResult result = Run();
        const qint64 elapsed = clock.elapsed();
        longestGap = std::max(longestGap, sinceTick.elapsed());
        rusage after {};
        getrusage(RUSAGE_SELF, &after);
        std::printf(
            "huge manifest: message after %lld ms, longest wait between timer ticks %lld ms, "
            "peak memory grew %ld KiB\n",
            static_cast<long long>(elapsed), static_cast<long long>(longestGap),
            after.ru_maxrss - before.ru_maxrss);
        ASSERT_EQ(Stops(result).size(), 1u);
        EXPECT_EQ(Stops(result)[0],
                  std::string(kNoServer) + "\n" + url
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

TEST_F(UpdateProcedure, AManifestOfTooManyLinesIsRefused)
{
    std::string manifest;
    for (int i = 0; i <= 10000; ++i)
        manifest += "a;" + std::to_string(i) + "\n";
    Local("version.ini", "a;1\r\n");
    Site("version.ini", manifest);
    Serve();
    const TUpdateResult result = Run();
    EXPECT_EQ(
        Stops(result),
        std::vector<std::string> { "Update aborted: the server's version.ini has 10001 lines, more "
                                   "than the 10000 accepted. Nothing was changed." });
    EXPECT_EQ(Requests().size(), 1u);
    EXPECT_EQ(LocalBytes("version.ini"), "a;1\r\n");
}

// Manifests as publishers write them: a trailing empty line is no entry, and
// two dots that are no separator are a name like any other.
TEST_F(UpdateProcedure, EmptyLinesAndHarmlessDotsRun)
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
        const TUpdateResult result = Run();
        const bool volume = manifest.find("Vol") != std::string::npos;
        EXPECT_EQ(Stops(result), std::vector<std::string> {});
        EXPECT_EQ(result.Updated,
                  (volume ? std::vector<std::string> { "Vol..2.cdl", "a.cdl" }
                          : std::vector<std::string> { "a.cdl" }));
        EXPECT_EQ(result.Added,
                  volume ? std::vector<std::string> { "Vol..2.cdl" } : std::vector<std::string> {});
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
TEST_F(UpdateProcedure, EveryNameTheTableTakesFetchesItsOwnFile)
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
    url = StartPythonsWebServer();
    const TUpdateResult result = Run();
    EXPECT_EQ(Stops(result), std::vector<std::string> {});
    EXPECT_EQ(result.Updated.size(), names.size() - 2);
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
TEST_F(UpdateProcedure, AManifestCutInADigestChangesNothing)
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
        const TUpdateResult result = Run();
        EXPECT_EQ(Stops(result),
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

TEST_F(UpdateProcedure, UnsafeEntryRefusedBeforeAnyDownload)
{
    for (const char *line : { "../evil.cdl;1", ";1", "a/b.cdl;1" }) {
        SCOPED_TRACE(line);
        TearDown();
        SetUp();
        Local("version.ini", "");
        Site("version.ini", std::string("good.cdl;1\r\n") + line + "\r\n");
        Site("cdl/good.cdl", "good");
        Serve();
        const TUpdateResult result = Run();
        ASSERT_EQ(Stops(result).size(), 1u);
        EXPECT_NE(Stops(result)[0].find(std::string("\"") + line + "\""), std::string::npos)
            << Stops(result)[0];
        EXPECT_EQ(Requests().back(), "/tirmo/version.ini");
        EXPECT_FALSE(LocalExists("cdl/good.cdl"));
        EXPECT_EQ(LocalBytes("version.ini"), "");
        EXPECT_FALSE(fs::exists(app + "/evil.cdl"));
    }
}

TEST_F(UpdateProcedure, SignedUpdateKeepsItsTimestampAndTakesTheSameListAgain)
{
    Local("version.ini", "Main;0.2\r\na.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    const std::string manifest = "Main;0.2\r\n" + DigestLine("a.cdl", "new a") + "\r\n";
    SignedSite(site, manifest, 1800000000);
    Site("cdl/a.cdl", "new a");
    Serve();
    key = Publisher().PublicKey();
    fs::file_time_type written;
    for (int run = 0; run < 2; ++run) {
        const TUpdateResult result = Run();
        EXPECT_EQ(Stops(result), std::vector<std::string> {});
        // The second run finds nothing new.
        EXPECT_EQ(result.Updated,
                  run == 0 ? std::vector<std::string> { "a.cdl" } : std::vector<std::string> {});
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
        EXPECT_EQ(LocalBytes("version.ini"), manifest);
        EXPECT_EQ(LocalBytes("version.timestamp"), "1800000000\r\n");
        // The same list again writes nothing.
        if (run == 0)
            written = fs::last_write_time(app + "/version.timestamp");
        EXPECT_EQ(fs::last_write_time(app + "/version.timestamp"), written);
    }
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
TEST_F(UpdateProcedure, UnsignedOrOlderListsAreRefused)
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
        key = Publisher().PublicKey();
        const TUpdateResult result = Run();
        ASSERT_EQ(Stops(result).size(), 1u);
        EXPECT_NE(Stops(result)[0].find(c.why), std::string::npos) << Stops(result)[0];
        EXPECT_NE(Stops(result)[0].find(url + "/tirmo/"), std::string::npos) << Stops(result)[0];
        EXPECT_NE(Stops(result)[0].find("Nothing was changed."), std::string::npos)
            << Stops(result)[0];
        EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
        EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
        EXPECT_EQ(LocalBytes("version.timestamp"), "1800000000\r\n");
        EXPECT_EQ(AppFiles(),
                  (std::vector<std::string> { "cdl", "version.ini", "version.timestamp" }));
        EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "data" }));
        for (const std::string &request : Requests())
            EXPECT_EQ(request.find("/tirmo/cdl/"), std::string::npos) << request;
    }
}

// A signed list authenticates its databases through their digests: a line
// without one would let any bytes in.
TEST_F(UpdateProcedure, SignedListLineWithoutDigestIsRefused)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    SignedSite(site, "a.cdl;2\r\n", 1800000000);
    Site("cdl/a.cdl", "new a");
    Serve();
    key = Publisher().PublicKey();
    const TUpdateResult result = Run();
    ASSERT_EQ(Stops(result).size(), 1u);
    EXPECT_NE(
        Stops(result)[0].find("the line \"a.cdl;2\" of the server's version.ini gives no size and "
                              "SHA-256 digest"),
        std::string::npos)
        << Stops(result)[0];
    EXPECT_EQ(Requests().back(), "/tirmo/version.ini.minisig");
    EXPECT_EQ(LocalBytes("version.ini"), "a.cdl;1\r\n");
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_FALSE(LocalExists("version.timestamp"));
}

// What the publishing script signs, a TIRMO with the matching key takes.
TEST_F(UpdateProcedure, ASiteSignedByThePublishingScriptUpdates)
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
    key = Publisher().PublicKey();
    const TUpdateResult result = Run();
    EXPECT_EQ(Stops(result), std::vector<std::string> {});
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "new a");
    EXPECT_EQ(LocalBytes("version.ini"), ReadFileBytes(site + "/tirmo/version.ini"));
    EXPECT_NEAR(std::stod(LocalBytes("version.timestamp")), double(now), 300);
}

// What a run reports as it goes: the manifest, then each database k of n.
TEST_F(UpdateProcedure, ProgressFollowsTheRun)
{
    Local("version.ini", "a.cdl;1\r\n");
    Local("cdl/a.cdl", "old a");
    Site("version.ini", "b.cdl;1\r\na.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Site("cdl/b.cdl", "new b");
    Serve();
    const TUpdateResult result = Run();
    std::vector<std::tuple<int, int, int>> seen;
    for (const TUpdateProgress &p : progress)
        seen.emplace_back(int(p.Stage), p.Index, p.Count);
    using S = TUpdateProgress::TStage;
    EXPECT_EQ(seen,
              (std::vector<std::tuple<int, int, int>> { { int(S::Manifest), 0, 0 },
                                                        { int(S::ManifestDone), 0, 0 },
                                                        { int(S::Database), 1, 2 },
                                                        { int(S::Database), 2, 2 } }));
    EXPECT_EQ(Stops(result), std::vector<std::string> {});
    EXPECT_EQ(result.Updated, (std::vector<std::string> { "a.cdl", "b.cdl" }));
    EXPECT_EQ(result.Added, std::vector<std::string> { "b.cdl" });
    EXPECT_FALSE(result.NewProgram);
}

// A cancel during a download ends the run as a cancel, not as a failure
// with a reason: nothing is changed, the site's manifest is gone, and a
// newer program it names is not reported. Outside a run, Cancel does nothing.
TEST_F(UpdateProcedure, ACancelIsNoFailure)
{
    const std::string oldManifest = "Main;1\r\na.cdl;1\r\nb.cdl;1\r\n";
    Local("version.ini", oldManifest);
    Local("cdl/a.cdl", "old a");
    Local("cdl/b.cdl", "old b");
    Site("version.ini", "Main;2\r\na.cdl;2\r\nb.cdl;2\r\n");
    Site("cdl/a.cdl", "new a");
    Site("cdl/b.cdl", std::string(200, 'x'));
    Serve({ "slow:/tirmo/cdl/b.cdl" });
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        const std::vector<std::string> requests = Requests();
        if (!requests.empty() && requests.back() == "/tirmo/cdl/b.cdl") {
            cancel.stop();
            update.Cancel();
        }
    });
    cancel.start(10);
    const TUpdateResult result = Run();
    EXPECT_EQ(Stops(result), std::vector<std::string> { "(cancelled)" });
    EXPECT_EQ(result.Stop->Reason, "");
    EXPECT_FALSE(result.NewProgram);
    EXPECT_TRUE(result.Updated.empty());
    EXPECT_FALSE(update.Running());
    EXPECT_EQ(LocalBytes("version.ini"), oldManifest);
    EXPECT_EQ(LocalBytes("cdl/a.cdl"), "old a");
    EXPECT_EQ(LocalBytes("cdl/b.cdl"), "old b");
    EXPECT_EQ(AppFiles(), (std::vector<std::string> { "cdl", "version.ini" }));
    EXPECT_EQ(CdlFiles(), (std::vector<std::string> { "a.cdl", "b.cdl", "data" }));

    update.Cancel();
    TearDown();
    Serve();
    const TUpdateResult again = Run();
    EXPECT_EQ(Stops(again), std::vector<std::string> {});
    EXPECT_TRUE(again.NewProgram);
    EXPECT_EQ(again.Updated, (std::vector<std::string> { "a.cdl", "b.cdl" }));
    EXPECT_EQ(LocalBytes("cdl/b.cdl"), std::string(200, 'x'));
    EXPECT_EQ(LocalBytes("version.ini"), oldManifest);
}
