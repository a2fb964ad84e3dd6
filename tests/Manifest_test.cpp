#include "updater/Manifest.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Manifest, LineRules)
{
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        { "a;1\r\nb;2\r\n", { "a;1", "b;2" } },
        { "a;1\nb;2", { "a;1", "b;2" } },
        { "a;1\rb;2\r", { "a;1", "b;2" } },
        { "a;1\n\nb;2\n", { "a;1", "b;2" } },
        { "a;1\r\n\r\nb;2\r\n\r\n", { "a;1", "b;2" } },
        { "\r\ra;1\n\n\n", { "a;1" } },
        { std::string("a;1\nb;2\0c;3\n", 12), { "a;1", "b;2" } },
        { "", {} },
        { "\n", {} },
        { "\xEF\xBB\xBFMain;1\n", { "\xEF\xBB\xBFMain;1" } },
    };
    for (const Case &c : cases) {
        const TStringList got = ManifestLines(c.bytes);
        EXPECT_EQ(got.Lines(), c.lines) << "bytes: " << c.bytes;
    }
}

TEST(Manifest, ChangedEntriesComparison)
{
    struct Case {
        TStringList local, server;
        std::vector<std::string> changed;
    } cases[] = {
        { Lines({ "Main;1" }), Lines({ "Main;2" }), { "Main;2" } },
        { Lines({ "a.cdl;2" }), Lines({ "A.cdl;2" }), {} },
        { Lines({ "a.cdl;2" }), Lines({ "a.cdl;2 " }), { "a.cdl;2 " } },
        { Lines({ "x;1" }), Lines({ "x;1", "x;1" }), { "x;1" } },
        { Lines({ "b;1", "a;1", "c;1" }), Lines({ "c;1", "a;1", "b;1" }), {} },
        { Lines({ "only-local;1" }), Lines({}), {} },
        { Lines({}), Lines({ "c;1", "A;1", "b;1" }), { "A;1", "b;1", "c;1" } },
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChangedEntries(c.local, c.server), c.changed);
}

TEST(Manifest, CrOnlyFileReadsLikeCrLf)
{
    EXPECT_TRUE(
        ChangedEntries(ManifestLines("a;1\rb;2\r"), ManifestLines("b;2\r\na;1\r\n")).empty());
}

TEST(Manifest, EntryNames)
{
    EXPECT_EQ(EntryName("Sega CD.cdl;123;abc"), "Sega CD.cdl");
    EXPECT_EQ(EntryName("no semicolon"), "no semicolon");
    EXPECT_EQ(EntryName(";1"), "");
    EXPECT_TRUE(IsProgramEntry("Main"));
    EXPECT_FALSE(IsProgramEntry("main"));
    EXPECT_FALSE(IsProgramEntry("Main "));
}

TEST(Manifest, UnsafeNames)
{
    for (const std::string &name :
         { std::string("Sega CD.cdl"), std::string("psx.cdl"), std::string("main"),
           std::string("a.b.cdl"), std::string("Vol..2.cdl"), std::string("..cdl"),
           std::string("..."), std::string(259, 'x'), std::string("Caf\xC3\xA9.cdl") })
        EXPECT_EQ(UnsafeEntryNameReason(name), std::nullopt) << name;
    for (const std::string &name :
         { std::string(), std::string("."), std::string(".."), std::string("../evil.cdl"),
           std::string("a/b.cdl"), std::string("a\\b.cdl"), std::string("a\tb.cdl"),
           std::string("a\x7F"), std::string(260, 'x') })
        EXPECT_NE(UnsafeEntryNameReason(name), std::nullopt) << name;
}

TEST(Manifest, FileDigests)
{
    const std::string hex(64, 'a');
    const auto digest = FileDigest("psx.cdl;1234-" + std::string(63, 'A') + "f");
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->Size, 1234);
    EXPECT_EQ(digest->Sha256, std::string(63, 'a') + "f");
    EXPECT_EQ(FileDigest("a;0-" + hex)->Size, 0);
    EXPECT_EQ(FileDigest("a;999999999999999999-" + hex)->Size, 999999999999999999);
    // Any other rest is a plain line, compared and not checked.
    for (const std::string &line :
         { std::string("psx.cdl;3"), std::string("psx.cdl;e388666fa1cc"), "a;12-" + hex.substr(1),
           "a;12-" + hex + "0", "a;-" + hex, "a;+12-" + hex, "a;1234567890123456789-" + hex,
           "a;12-" + hex.substr(1) + "g", "a;12-" + hex + ";x", "a;12 -" + hex, "a12-" + hex })
        EXPECT_FALSE(FileDigest(line)) << line;
}

TEST(Manifest, QuotedForAMessage)
{
    EXPECT_EQ(Quoted("psx.cdl;3"), "\"psx.cdl;3\"");
    EXPECT_EQ(Quoted(std::string("a\tb\x01\x7F\r\n", 7)), "\"a\\x09b\\x01\\x7F\\x0D\\x0A\"");
    const std::string hostile(64 << 20, 'x');
    EXPECT_EQ(Quoted(hostile), "\"" + std::string(80, 'x') + "...\" (67108864 bytes in all)");
    // A cut keeps UTF-8 characters whole.
    std::string accents;
    for (int i = 0; i < 50; ++i)
        accents += "\xC3\xA9";
    EXPECT_EQ(Quoted(accents), "\"" + accents.substr(0, 80) + "...\" (100 bytes in all)");
    EXPECT_EQ(Quoted("x" + accents), "\"x" + accents.substr(0, 78) + "...\" (101 bytes in all)");
}

// The publisher's script refuses every name the program would refuse, and
// every one a web server can't serve by its name, before anything is written.
TEST(Manifest, WriteManifestRefusesNamesNoUserCouldFetch)
{
    struct Case {
        std::string name;
        bool published;
    } cases[] = {
        { "psx.cdl", true },
        { "Some System.cdl", true },
        { "Vol..2.cdl", true },
        { "it's (Japan) [v1.1] + more~.cdl", true },
        { std::string(251, 'x') + ".cdl", true },
        { "back\\slash.cdl", false },
        { "Caf\xC3\xA9.cdl", false },
        { "\xE9t\xE9.cdl", false },
        { "100%.cdl", false },
        { "a#b.cdl", false },
        { "why?.cdl", false },
        { ";lead.cdl", false },
        { "mid;dle.cdl", false },
        { "tab\t.cdl", false },
        { "line\nbreak.cdl", false },
    };
    const auto run = [](const QString &folder, QString &errors) {
        QProcess script;
        script.start(
            TIRMO_PYTHON,
            { TIRMO_SOURCE_DIR "/scripts/write_manifest.py", folder, folder + "/version.ini" });
        script.waitForFinished(30000);
        errors = QString::fromUtf8(script.readAllStandardError());
        return script.exitCode();
    };
    QTemporaryDir all;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = "db of " + c.name;
        WriteFileBytes(all.path().toStdString() + "/" + c.name, bytes);
        QTemporaryDir alone;
        WriteFileBytes(alone.path().toStdString() + "/" + c.name, bytes);
        QString errors;
        EXPECT_EQ(run(alone.path(), errors), c.published ? 0 : 1) << errors.toStdString();
        EXPECT_EQ(QFile::exists(alone.filePath("version.ini")), c.published);
        if (c.published) {
            const TStringList lines = ReadManifest(alone.filePath("version.ini").toStdString());
            ASSERT_EQ(lines.Count(), 1);
            EXPECT_EQ(EntryName(lines[0]), c.name);
            EXPECT_TRUE(FileDigest(lines[0]));
            EXPECT_EQ(UnsafeEntryNameReason(c.name), std::nullopt);
        } else {
            EXPECT_NE(errors.indexOf("not written"), -1) << errors.toStdString();
        }
        // What the program refuses is never published.
        if (UnsafeEntryNameReason(EntryName(c.name)) || EntryName(c.name) != c.name) {
            EXPECT_FALSE(c.published);
        }
    }
    // A folder of good and bad names: each bad one named, nothing written.
    QString errors;
    EXPECT_EQ(run(all.path(), errors), 1);
    EXPECT_FALSE(QFile::exists(all.filePath("version.ini")));
    for (const char *named :
         { "'back\\\\slash.cdl' has a path separator", "'100%.cdl' has \"%\"", "'a#b.cdl'",
           "'why?.cdl'", "';lead.cdl'", "'mid;dle.cdl'", "'tab\\t.cdl'", "'line\\nbreak.cdl'",
           "'Caf\\xe9.cdl'", "'\\udce9t\\udce9.cdl'" })
        EXPECT_NE(errors.indexOf(named), -1) << named << "\n" << errors.toStdString();
    EXPECT_EQ(errors.indexOf("Vol..2"), -1);
}
