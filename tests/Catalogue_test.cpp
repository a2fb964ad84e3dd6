#include "app/Catalogue.h"
#include "platform/Collate.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace {

// An application folder with a cdl directory in a temporary place.
struct AppFolder {
    QTemporaryDir tmp;
    std::string dir = tmp.path().toStdString();
    AppFolder() { QDir(tmp.path()).mkpath("cdl/data"); }
    std::string Cdl(const std::string &name) const { return dir + "/cdl/" + name; }
    void Add(const std::string &name, const std::string &bytes) const
    {
        WriteFileBytes(Cdl(name), bytes);
    }
};

std::vector<std::pair<std::string, std::string>> Records(const SysRecord &head)
{
    std::vector<std::pair<std::string, std::string>> out;
    for (const SysRecord *r = head.Next.get(); r; r = r->Next.get())
        out.emplace_back(r->Name, r->Path);
    return out;
}

} // namespace

TEST(Catalogue, DisplayNameFromTheFirstLine)
{
    const std::string long300(300, 'n');
    struct Case {
        const char *what;
        std::string bytes;
        std::string name;
    } cases[] = {
        { "name, TAB, description", "Sony PlayStation\tCD games\r\nGame Name\tGID\r\n",
          "Sony PlayStation" },
        { "no TAB: the name ends at the line end", "Sega Saturn\r\nGame Name\tGID\r\n",
          "Sega Saturn" },
        { "LF line ends", "Neo Geo CD\n", "Neo Geo CD" },
        { "no line end at all", "CD-i", "CD-i" },
        { "300 characters: only 259 are read", long300 + "\tdesc\n", std::string(259, 'n') },
        { "TAB within the 259", std::string(100, 'n') + "\t" + long300 + "\n",
          std::string(100, 'n') },
        { "TAB right after the 259", std::string(259, 'n') + "\tdesc\n", std::string(259, 'n') },
        { "empty first line", "\nGame Name\tGID\n", "" },
        { "TAB first", "\tdescription\n", "" },
        { "Ctrl-Z ends the name", "Mega CD\x1a\tjunk\n", "Mega CD" },
        { "8-bit name kept as bytes", "Pok\xe9mon CD\tx\n", "Pok\xe9mon CD" },
        { "an editor's UTF-8 byte-order mark is no part of it",
          "\xEF\xBB\xBFSony PlayStation\tCD games\r\n", "Sony PlayStation" },
        { "nor of the 259 characters", "\xEF\xBB\xBF" + long300 + "\n", std::string(259, 'n') },
        { "a mark after the start is kept", "Sony\xEF\xBB\xBF\tx\n", "Sony\xEF\xBB\xBF" },
    };
    for (const Case &c : cases) {
        AppFolder app;
        app.Add("sys.cdl", c.bytes);
        SysRecord head;
        ScanDatabases(head, app.dir);
        EXPECT_EQ(
            Records(head),
            (std::vector<std::pair<std::string, std::string>> { { c.name, app.Cdl("sys.cdl") } }))
            << c.what;
    }
}

TEST(Catalogue, WhichFilesAreDatabases)
{
    AppFolder app;
    app.Add("psx.cdl", "PlayStation\t\n");
    app.Add("SATURN.CDL", "Saturn\t\n");
    app.Add(".hidden.cdl", "Hidden\t\n");
    app.Add("notes.txt", "Notes\t\n");
    app.Add("psx.cdltmp", "Leftover copy\t\n");
    app.Add("empty.cdl", "");
    app.Add("ctrlz.cdl",
            "\x1a"
            "After Ctrl-Z\t\n");
    QDir(QString::fromStdString(app.dir)).mkpath("cdl/dir.cdl");
    QDir(QString::fromStdString(app.dir)).mkpath("cdl/.hiddendir.cdl");
    std::filesystem::create_symlink(app.Cdl("gone"), app.Cdl("broken.cdl"));
    // A named pipe would never answer: it is passed over, not waited for.
    ASSERT_EQ(::mkfifo(app.Cdl("zz.cdl").c_str(), 0644), 0);

    SysRecord head;
    ScanDatabases(head, app.dir);
    EXPECT_EQ(Records(head),
              (std::vector<std::pair<std::string, std::string>> {
                  { "Hidden", app.Cdl(".hidden.cdl") },
                  { "PlayStation", app.Cdl("psx.cdl") },
                  { "Saturn", app.Cdl("SATURN.CDL") },
              }));
}

TEST(Catalogue, MissingOrEmptyCdlDirectoryGivesNoSystems)
{
    QTemporaryDir tmp;
    SysRecord head;
    ScanDatabases(head, tmp.path().toStdString());
    EXPECT_EQ(head.Next, nullptr);
    EXPECT_EQ(GetSysNames(head).Count(), 0);
    QDir(tmp.path()).mkdir("cdl");
    ScanDatabases(head, tmp.path().toStdString());
    EXPECT_EQ(head.Next, nullptr);
}

TEST(Catalogue, NamesSortedIgnoringCaseAndEqualNamesKept)
{
    AppFolder app;
    app.Add("a.cdl", "sega CD\t\n");
    app.Add("b.cdl", "Amiga CD32\t\n");
    app.Add("c.cdl", "PC Engine CD\t\n");
    app.Add("d.cdl", "amiga cd32\t\n");
    app.Add("e.cdl", "3DO\t\n");
    app.Add("f.cdl", "PC Engine CD\tsecond copy\n");
    SysRecord head;
    ScanDatabases(head, app.dir);

    const TStringList names = GetSysNames(head);
    ASSERT_EQ(names.Count(), 6);
    EXPECT_EQ(names[0], "3DO");
    EXPECT_EQ(AnsiCompareText(names[1], "AMIGA CD32"), 0);
    EXPECT_EQ(AnsiCompareText(names[2], "AMIGA CD32"), 0);
    EXPECT_EQ(names[3], "PC Engine CD");
    EXPECT_EQ(names[4], "PC Engine CD");
    EXPECT_EQ(names[5], "sega CD");

    // The catalogue keeps the directory order; finding takes the first match.
    EXPECT_EQ(FindSysRecord(head, "PC Engine CD")->Path, app.Cdl("c.cdl"));
    EXPECT_EQ(FindSysRecord(head, "amiga cd32")->Path, app.Cdl("d.cdl"));
    EXPECT_EQ(FindSysRecord(head, "AMIGA CD32"), nullptr) << "found byte for byte only";
    EXPECT_EQ(FindSysRecord(head, "PC Engine"), nullptr);
}

TEST(Catalogue, FirstField)
{
    EXPECT_EQ(FirstField("a\tb\tc"), "a");
    EXPECT_EQ(FirstField("whole line\n"), "whole line\n");
    EXPECT_EQ(FirstField("\tb"), "");
    EXPECT_EQ(FirstField(""), "");
}
