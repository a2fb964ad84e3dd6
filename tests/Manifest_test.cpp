#include "updater/Manifest.h"

#include <gtest/gtest.h>

namespace {

TStringList Lines(std::initializer_list<const char *> lines)
{
    TStringList list;
    for (const char *line : lines)
        list.Add(line);
    return list;
}

} // namespace

TEST(Manifest, LineRules)
{
    struct Case {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        {"a;1\r\nb;2\r\n", {"a;1", "b;2"}},
        {"a;1\nb;2", {"a;1", "b;2"}},
        {"a;1\rb;2\r", {"a;1", "b;2"}},
        {"a;1\n\nb;2\n", {"a;1", "", "b;2"}},
        {"a;1\r\n\r\nb;2", {"a;1", "", "b;2"}},
        {std::string("a;1\nb;2\0c;3\n", 12), {"a;1", "b;2"}},
        {"", {}},
        {"\n", {""}},
        {"\xEF\xBB\xBFMain;1\n", {"\xEF\xBB\xBFMain;1"}},
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
        {Lines({"Main;1"}), Lines({"Main;2"}), {"Main;2"}},
        {Lines({"a.cdl;2"}), Lines({"A.cdl;2"}), {}},
        {Lines({"a.cdl;2"}), Lines({"a.cdl;2 "}), {"a.cdl;2 "}},
        {Lines({"x;1"}), Lines({"x;1", "x;1"}), {"x;1"}},
        {Lines({"b;1", "a;1", "c;1"}), Lines({"c;1", "a;1", "b;1"}), {}},
        {Lines({"only-local;1"}), Lines({}), {}},
        {Lines({}), Lines({"c;1", "A;1", "b;1"}), {"A;1", "b;1", "c;1"}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ChangedEntries(c.local, c.server), c.changed);
}

TEST(Manifest, CrOnlyFileReadsLikeCrLf)
{
    EXPECT_TRUE(ChangedEntries(ManifestLines("a;1\rb;2\r"), ManifestLines("b;2\r\na;1\r\n")).empty());
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
    for (const char *name : {"Sega CD.cdl", "psx.cdl", "main", "a.b.cdl"})
        EXPECT_EQ(UnsafeEntryNameReason(name), "") << name;
    for (const std::string &name :
         {std::string(), std::string(".."), std::string("../evil.cdl"), std::string("a/b.cdl"),
          std::string("a\\b.cdl"), std::string("a\tb.cdl"), std::string(260, 'x')})
        EXPECT_NE(UnsafeEntryNameReason(name), "") << name;
}
