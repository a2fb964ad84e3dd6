#include "platform/DirSearch.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <filesystem>

TEST(DirSearch, WildcardsMatchIgnoringCase)
{
    struct Case {
        const char *name, *pattern;
        bool matches;
    } cases[] = {
        { "psx.cdl", "*.cdl", true },
        { "PSX.CDL", "*.cdl", true },
        { "Saturn.Cdl", "*.cdl", true },
        { ".hidden.cdl", "*.cdl", true },
        { "psx.cdlx", "*.cdl", false },
        { "psx.cd", "*.cdl", false },
        { "psx.cdl.bak", "*.cdl", false },
        { "cdl", "*.cdl", false },
        { ".cdl", "*.cdl", true },
        { "a.cdl", "?.cdl", true },
        { "ab.cdl", "?.cdl", false },
        { "a.b.cdl", "*.*.cdl", true },
        { "aXbYc", "a*b*c", true },
        { "aXbY", "a*b*c", false },
        { "anything", "*", true },
        { "", "*", true },
        { "\xc3\xa9t\xc3\xa9.cdl", "\xc3\x89T\xc3\x89.CDL", true },
    };
    for (const auto &c : cases)
        EXPECT_EQ(MatchesMask(c.name, c.pattern), c.matches) << c.name << " ~ " << c.pattern;
}

TEST(DirSearch, FindsEntriesWithTheirAttributes)
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    WriteFileBytes(dir + "/b.cdl", "x");
    WriteFileBytes(dir + "/A.CDL", "x");
    WriteFileBytes(dir + "/.hidden.cdl", "x");
    WriteFileBytes(dir + "/other.txt", "x");
    WriteFileBytes(dir + "/locked.cdl", "x");
    std::filesystem::permissions(dir + "/locked.cdl", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    QDir(tmp.path()).mkdir("sub.cdl");

    std::vector<std::pair<std::string, int>> all;
    for (const TSearchRec &r : FindFiles(dir + "/*.cdl", faAnyFile))
        all.emplace_back(r.Name, r.Attr);
    EXPECT_EQ(all,
              (std::vector<std::pair<std::string, int>> {
                  { ".hidden.cdl", faHidden },
                  { "A.CDL", 0 },
                  { "b.cdl", 0 },
                  { "locked.cdl", faReadOnly },
                  { "sub.cdl", faDirectory },
              }));

    std::vector<std::string> plain;
    for (const TSearchRec &r : FindFiles(dir + "/*.cdl", faReadOnly | faArchive))
        plain.push_back(r.Name);
    EXPECT_EQ(plain, (std::vector<std::string> { "A.CDL", "b.cdl", "locked.cdl" }))
        << "hidden files and directories only when asked for";
}

TEST(DirSearch, MissingDirectoryFindsNothing)
{
    QTemporaryDir tmp;
    EXPECT_TRUE(FindFiles(tmp.filePath("none").toStdString() + "/*.cdl", faAnyFile).empty());
}
