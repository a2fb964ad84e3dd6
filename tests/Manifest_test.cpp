#include "updater/Manifest.h"

#include "net/Nmurl.h"
#include "platform/Exceptions.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace fs = std::filesystem;

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

// A file read byte for byte, zero bytes included; one that is missing is an
// empty manifest; anything else that can't be read is an error naming it,
// and a named pipe is never waited on.
TEST(Manifest, ReadFromAFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("version.ini").toStdString();
    EXPECT_EQ(ReadManifest(path).Count(), 0);
    WriteFileBytes(path, std::string("Main;1\r\na.cdl;2\r\n\0b.cdl;3\r\n", 27));
    EXPECT_EQ(ReadManifest(path).Lines(), (std::vector<std::string> { "Main;1", "a.cdl;2" }));
    fs::remove(path);
    for (const auto &[make, reason] :
         { std::pair { +[](const char *p) { return ::mkfifo(p, 0644); },
                       "Is a named pipe, not a file" },
           std::pair { +[](const char *p) { return ::mkdir(p, 0755); }, "Is a directory" } }) {
        ASSERT_EQ(make(path.c_str()), 0);
        try {
            ReadManifest(path);
            ADD_FAILURE() << "no error";
        } catch (const EFOpenError &e) {
            EXPECT_EQ(e.Message(), "Cannot open file " + path + ": " + reason);
        }
        fs::remove(path);
    }
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

// What begins like a size and a digest and isn't one is a line cut short: no
// line to fetch unchecked.
TEST(Manifest, BrokenDigests)
{
    const std::string hex(64, 'a');
    for (const std::string &line :
         { std::string("neocd.cdl;7233-5796d21dbd908bb362d"), std::string("a;12-"),
           "a;12-" + hex.substr(1), "a;12-" + hex + "0", "a;12-" + hex.substr(1) + "g",
           "a;12-" + hex + ";x", "a;1234567890123456789-" + hex, std::string("a;2024-01-05") })
        EXPECT_TRUE(HasBrokenDigest(line)) << line;
    for (const std::string &line :
         { "a;12-" + hex, "a;0-" + hex, std::string("psx.cdl;3"), std::string("a;v2-1"),
           "a;-" + hex, "a;+12-" + hex, "a;12 -" + hex, "a12-" + hex, std::string("a;12"),
           std::string("a"), std::string("a;") })
        EXPECT_FALSE(HasBrokenDigest(line)) << line;
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

// The names of the table that the publishing script's test reads too: the
// program takes the same ones, and asks for each by its name percent-encoded.
TEST(Manifest, EntryNameTable)
{
    const std::vector<TEntryNameCase> cases
        = ReadEntryNameCases(TIRMO_TEST_DIR "/data/entry-names.tsv");
    ASSERT_GT(cases.size(), 20u);
    for (const TEntryNameCase &c : cases) {
        SCOPED_TRACE(c.Name + " (" + c.Why + ")");
        EXPECT_EQ(!UnsafeEntryNameReason(c.Name), c.Taken);
        if (c.Taken) {
            EXPECT_EQ(PathSegmentEncode(c.Name), c.PathSegment);
        }
    }
}
