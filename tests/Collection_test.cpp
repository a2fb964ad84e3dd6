// The collection on the game list: loading databases, ownership files,
// status texts and exports.

#include "app/Collection.h"
#include "grid/Advcgrid.h"
#include "platform/AtomicFile.h"
#include "platform/Exceptions.h"
#include "tests/support/GameGrid.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// The program's game list, with the settings of the form it is designed in,
// and a cdl folder to load it from.
class Collection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        fs::create_directories(cdl);
    }
    void TearDown() override { SetBeforeReplaceHook(nullptr); }

    std::string Database(const std::string &bytes, const std::string &file = "segacd.cdl")
    {
        WriteFileBytes(cdl + "/" + file, bytes);
        return cdl + "/" + file;
    }

    void Load(const std::string &bytes) { LoadGameList(*grid, Database(bytes)); }

    std::vector<std::string> Column(int col) const
    {
        std::vector<std::string> cells;
        for (int r = 0; r < grid->RowCount(); ++r)
            cells.push_back(grid->Cells(col, r));
        return cells;
    }

    // The GIDs of the ticked rows, top to bottom.
    std::vector<std::string> Ticked() const
    {
        std::vector<std::string> gids;
        for (int r = 1; r < grid->RowCount(); ++r) {
            bool state = false;
            if (grid->GetCheckBoxState(0, r, state) && state)
                gids.push_back(grid->Cells(GidColumn(*grid), r));
        }
        return gids;
    }

    void Tick(const std::string &gid)
    {
        for (int r = 1; r < grid->RowCount(); ++r)
            if (grid->Cells(GidColumn(*grid), r) == gid)
                grid->SetCheckBoxState(0, r, true);
    }

    void TickAll()
    {
        for (int r = 1; r < grid->RowCount(); ++r)
            grid->SetCheckBoxState(0, r, true);
    }

    QTemporaryDir m_dir;
    const std::string cdl = m_dir.path().toStdString() + "/cdl";
    const std::string ownership = cdl + "/data/Sega CD.dat";
    TDesignedForm m_form;
    TAdvColumnGrid *grid = &m_form.GameList();
};

const char kSegaCd[] = "Sega CD\tSega Mega-CD CD-ROMs\r\n"
                       "Game Name\tCountry\tYear\tGID\r\n"
                       "Sonic CD\tUSA\t1993\tsonic-us\r\n"
                       "Lunar\tJapan\t1992\tlunar-jp\r\n"
                       "Snatcher\t\t1994\tsnatcher\r\n"
                       "after\tEurope\t1993\tafter-eu\r\n";

} // namespace

// ---------------------------------------------------------------------------
// The game list

TEST_F(Collection, LoadsAnyLineEndAndGidSpellingAlike)
{
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        { "CR LF", kSegaCd },
        { "LF",
          "Sega CD\nGame Name\tCountry\tYear\tGID\nSonic "
          "CD\tUSA\t1993\tsonic-us\nLunar\tJapan\t1992\tlunar-jp\n"
          "Snatcher\t\t1994\tsnatcher\nafter\tEurope\t1993\tafter-eu\n" },
        { "no line end at the end, gid in small letters",
          "Sega CD\r\nGame Name\tCountry\tYear\tgid\r\nSonic "
          "CD\tUSA\t1993\tsonic-us\r\nLunar\tJapan\t1992\tlunar-jp\r\n"
          "Snatcher\t\t1994\tsnatcher\r\nafter\tEurope\t1993\tafter-eu" },
        { "Ctrl-Z ends it, mixed case Gid",
          std::string(
              "Sega CD\r\nGame Name\tCountry\tYear\tGid\r\nSonic "
              "CD\tUSA\t1993\tsonic-us\r\nLunar\tJapan\t1992\t"
              "lunar-jp\r\nSnatcher\t\t1994\tsnatcher\r\nafter\tEurope\t1993\tafter-eu\r\n\x1a")
              + "Hidden\tUSA\t1995\thidden\r\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Load(c.bytes);
        EXPECT_TRUE(grid->isVisible());
        EXPECT_EQ(grid->RowCount(), 5);
        EXPECT_EQ(grid->ColCount(), 4);
        EXPECT_TRUE(grid->IsHiddenColumn(4));
        EXPECT_EQ(GidColumn(*grid), 4);
        EXPECT_EQ(Column(0), (std::vector<std::string> { "Have", "", "", "", "" }));
        EXPECT_EQ(
            Column(1),
            (std::vector<std::string> { "Game Name", "Sonic CD", "Lunar", "Snatcher", "after" }));
        EXPECT_EQ(Column(4)[4], "after-eu");
        for (int r = 1; r < grid->RowCount(); ++r) {
            bool state = true;
            EXPECT_TRUE(grid->GetCheckBoxState(0, r, state));
            EXPECT_FALSE(state);
        }
        EXPECT_FALSE(fs::exists(cdl + "/segacd.cdltmp"));
    }
}

TEST_F(Collection, ReloadingReplacesTheListAndAnOldCopyIsOverwritten)
{
    Load(kSegaCd);
    Tick("lunar-jp");
    WriteFileBytes(cdl + "/segacd.cdltmp", "left over from a crash\r\n");
    Load("Sega CD\r\nTitle\tGID\r\nEcco\tecco\r\n");
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->ColCount(), 2);
    EXPECT_EQ(grid->NumHiddenColumns(), 1);
    EXPECT_EQ(Column(1), (std::vector<std::string> { "Title", "Ecco" }));
    EXPECT_EQ(GidColumn(*grid), 2);
    EXPECT_TRUE(Ticked().empty());
    EXPECT_FALSE(fs::exists(cdl + "/segacd.cdltmp"));
}

TEST_F(Collection, AFirstLineLongerThanItsBufferIsDroppedWhole)
{
    Load(std::string(3000, 'N') + "\tname\r\nGame Name\tGID\r\nEcco\tecco\r\n");
    EXPECT_EQ(Column(1), (std::vector<std::string> { "Game Name", "Ecco" }));
}

TEST_F(Collection, AFolderThatCantTakeTheCopyStillLoads)
{
    // The copy's name is taken by a folder, as a read-only cdl folder would refuse it.
    fs::create_directory(cdl + "/segacd.cdltmp");
    Load(kSegaCd);
    EXPECT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(GidColumn(*grid), 4);
    EXPECT_TRUE(fs::is_directory(cdl + "/segacd.cdltmp"));
}

// The copy goes to the system's temporary folder (TMPDIR) when the cdl
// folder refuses it (a full disk, which refuses the writing, is in
// CrashSafety_test); only when both refuse is the load an error, naming both.
class CollectionCopy : public Collection {
protected:
    void SetUp() override
    {
        Collection::SetUp();
        fs::create_directories(temporary);
        m_previousTemporary = qgetenv("TMPDIR");
        qputenv("TMPDIR", QByteArray::fromStdString(temporary));
    }
    void TearDown() override
    {
        qputenv("TMPDIR", m_previousTemporary);
        Collection::TearDown();
    }

    // Folder entries, the scratch of a load included.
    static std::vector<std::string> Entries(const std::string &folder)
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(folder))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    const std::string temporary = m_dir.path().toStdString() + "/tmp";

private:
    QByteArray m_previousTemporary;
};

TEST_F(CollectionCopy, AReadOnlyFolderCopiesIntoTheTemporaryFolder)
{
    const std::string database = Database(kSegaCd);
    std::vector<std::string> copiedIn;
    grid->OnFileProgress = [&](QObject *, int) {
        for (const std::string &folder : { cdl, temporary })
            for (const std::string &name : Entries(folder))
                if (IsTemporaryFileName(name))
                    copiedIn.push_back(folder);
    };
    WriteFileBytes(temporary + "/segacd.cdltmp", "an earlier version's copy");
    ::chmod(cdl.c_str(), 0555);
    {
        const TPermissionsObeyed obeyed;
        ASSERT_TRUE(obeyed.Active());
        LoadGameList(*grid, database);
    }
    ::chmod(cdl.c_str(), 0755);
    EXPECT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(GidColumn(*grid), 4);
    ASSERT_FALSE(copiedIn.empty());
    EXPECT_EQ(copiedIn.front(), temporary);
    EXPECT_EQ(Entries(cdl), (std::vector<std::string> { "segacd.cdl" }));
    EXPECT_EQ(Entries(temporary), std::vector<std::string>());
}

TEST_F(CollectionCopy, ACopyNoFolderTakesIsAnErrorNamingBoth)
{
    const std::string database = Database(kSegaCd);
    rlimit previous {};
    ::getrlimit(RLIMIT_FSIZE, &previous);
    rlimit limit = previous;
    limit.rlim_cur = 50; // the copy is longer
    ::setrlimit(RLIMIT_FSIZE, &limit);
    try {
        LoadGameList(*grid, database);
        ADD_FAILURE() << "no error";
    } catch (const EFCreateError &e) {
        EXPECT_EQ(e.Message(),
                  "Cannot create a temporary copy of " + database + ": Cannot write file " + cdl
                      + "/segacd.cdltmp: File too large; Cannot write file " + temporary
                      + "/segacd.cdltmp: File too large");
    }
    ::setrlimit(RLIMIT_FSIZE, &previous);
    EXPECT_FALSE(grid->isVisible());
    EXPECT_EQ(Entries(cdl), (std::vector<std::string> { "segacd.cdl" }));
    EXPECT_EQ(Entries(temporary), std::vector<std::string>());
}

TEST_F(Collection, DatabasesThatCantBeLoadedNameTheFileAndLeaveNoGames)
{
    const struct {
        const char *file;
        const char *bytes; // nullptr: no such file
        const char *message;
    } cases[] = {
        { "gone.cdl", nullptr, "Cannot open file %s: No such file or directory" },
        { "nogid.cdl", "X\r\nGame Name\tCountry\r\nEcco\tUSA\r\n",
          "The game database %s has no GID column" },
        { "empty.cdl", "", "The game database %s has no GID column" },
        { "fifo.cdl", nullptr, "Cannot open file %s: Is a named pipe, not a file" },
    };
    // A named pipe where the database was: refused at once, never waited on.
    ASSERT_EQ(::mkfifo((cdl + "/fifo.cdl").c_str(), 0644), 0);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        Load(kSegaCd);
        Tick("sonic-us");
        const std::string path = c.bytes ? Database(c.bytes, c.file) : cdl + "/" + c.file;
        std::string message = c.message;
        message.replace(message.find("%s"), 2, path);
        try {
            LoadGameList(*grid, path);
            ADD_FAILURE() << "no error";
        } catch (const Exception &e) {
            EXPECT_EQ(e.Message(), message);
        }
        EXPECT_FALSE(grid->isVisible());
        EXPECT_EQ(grid->NumHiddenColumns(), 0);
        EXPECT_EQ(GidColumn(*grid), -1);
        EXPECT_FALSE(grid->HasCheckBox(0, 1));
        EXPECT_FALSE(fs::exists(path + "tmp"));
    }
}

// Whatever the list held before (no games, nothing at all, a failed load),
// the next list has its header row fixed: it stays on top and sorts.
TEST_F(Collection, EveryLoadLeavesTheHeaderRowFixed)
{
    const struct {
        const char *what;
        std::string before;
        bool loads;
    } cases[] = {
        { "no games yet", "Sega CD\r\nGame Name\tCountry\tYear\tGID\r\n", true },
        { "first line only", "Sega CD\r\n", false },
        { "no GID column", "Sega CD\r\nGame Name\r\n", false },
        { "empty", "", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.loads) {
            Load(c.before);
            EXPECT_EQ(grid->RowCount(), 1);
            EXPECT_EQ(Column(1), std::vector<std::string> { "Game Name" });
            EXPECT_EQ(GetStatusText(*grid, "Sega CD"), "You Have 0 of 0 known Sega CD Games");
        } else {
            EXPECT_THROW(Load(c.before), Exception);
        }
        Load(kSegaCd);
        EXPECT_EQ(grid->FixedRows(), 1);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(1, 0).center());
        const std::vector<std::string> up
            = { "Game Name", "Lunar", "Snatcher", "Sonic CD", "after" };
        const std::vector<std::string> down
            = { "Game Name", "after", "Sonic CD", "Snatcher", "Lunar" };
        EXPECT_TRUE(Column(1) == up || Column(1) == down) << ::testing::PrintToString(Column(1));
    }
}

TEST_F(Collection, AHeaderWiderThanTheHiddenColumnFlagsShowsEveryColumnOnce)
{
    // Only the first TAdvStringGrid::kMaxHidden columns can be hidden; the
    // ones shown past them still sit one further on for the hidden GID.
    std::string header = "Game Name\tGID";
    std::vector<std::string> shown { "Have", "Game Name" };
    for (int i = 0; i < TAdvStringGrid::kMaxHidden + 44; ++i) {
        header += "\tc" + std::to_string(i);
        shown.push_back("c" + std::to_string(i));
    }
    Load("Sega CD\r\n" + header + "\r\nSonic CD\tsonic-us\r\n");
    ASSERT_EQ(grid->ColCount(), int(shown.size()));
    std::vector<std::string> texts;
    for (int d = 0; d < grid->ColCount(); ++d)
        texts.push_back(grid->Cells(grid->RealColIndex(d), 0));
    EXPECT_EQ(texts, shown);
}

TEST_F(Collection, FindColumnIgnoresCaseAndSeesTheHiddenColumn)
{
    Load(kSegaCd);
    EXPECT_EQ(FindColumn(*grid, "have"), 0);
    EXPECT_EQ(FindColumn(*grid, "GAME NAME"), 1);
    EXPECT_EQ(FindColumn(*grid, "country"), 2);
    EXPECT_EQ(FindColumn(*grid, "Gid"), 4);
    EXPECT_EQ(FindColumn(*grid, "Publisher"), -1);
}

// ---------------------------------------------------------------------------
// Ownership files

TEST_F(Collection, OwnershipFileTicksTheRowsItNames)
{
    const std::string longGid(30, 'L');
    const std::string database = "Sega CD\r\nGame Name\tCountry\tGID\r\n"
                                 "First\tUSA\tdup\r\n"
                                 "Second\tUSA\tdup\r\n"
                                 "Blank\tUSA\t\r\n"
                                 "Long\tUSA\t"
        + longGid
        + "\r\n"
          // What a reader cutting lines after 24 characters would tick instead.
          "Head\tUSA\t"
        + longGid.substr(0, 24)
        + "\r\n"
          "Tail\tUSA\t"
        + longGid.substr(24)
        + "\r\n"
          "Other\tUSA\tother\r\n"
          "Eight\tUSA\t12345678\r\n"
          "Nine\tUSA\t123456789\r\n";
    const struct {
        const char *what;
        std::string file;
        std::vector<std::string> ticked;
    } cases[] = {
        { "CR LF", "other\r\ndup\r\n", { "dup", "other" } },
        { "LF, no end", "other\ndup", { "dup", "other" } },
        { "other letter case", "OTHER\r\nDup\r\n", {} },
        { "empty line", "\r\n", { "" } },
        { "long GID", longGid + "\r\n", { longGid } },
        { "unknown GIDs and Ctrl-Z",
          "gone\r\nother\r\n\x1a"
          "dup\r\n",
          { "other" } },
        { "named twice", "dup\r\ndup\r\n", { "dup" } },
        { "eight and nine bytes", "123456789\r\n12345678\r\n", { "12345678", "123456789" } },
        { "a GID's first bytes or more", "1234567\r\n12345678 \r\n1234567890\r\n", {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Load(database);
        fs::create_directories(cdl + "/data");
        WriteFileBytes(ownership, c.file);
        LoadOwnership(*grid, ownership);
        EXPECT_EQ(Ticked(), c.ticked);
    }
}

TEST_F(Collection, MissingOwnershipFileTicksNothingAndAnUnreadableOneIsAnError)
{
    Load(kSegaCd);
    LoadOwnership(*grid, ownership);
    EXPECT_TRUE(Ticked().empty());

    fs::create_directories(ownership);
    try {
        LoadOwnership(*grid, ownership);
        FAIL() << "no error";
    } catch (const EFOpenError &e) {
        EXPECT_EQ(e.Message(), "Cannot open file " + ownership + ": Is a directory");
    }
}

TEST_F(Collection, SaveWritesTheTickedGidsInRowOrderAndCreatesTheFolder)
{
    Load(kSegaCd);
    SaveOwnership(*grid, ownership);
    EXPECT_EQ(ReadFileBytes(ownership), "");

    Tick("after-eu");
    Tick("sonic-us");
    Tick("snatcher");
    SaveOwnership(*grid, ownership);
    EXPECT_EQ(ReadFileBytes(ownership), "sonic-us\r\nsnatcher\r\nafter-eu\r\n");

    // Sorted by country: "", Europe, Japan, USA.
    grid->SetSortColumn(2);
    grid->QSort();
    SaveOwnership(*grid, ownership);
    EXPECT_EQ(ReadFileBytes(ownership), "snatcher\r\nafter-eu\r\nsonic-us\r\n");

    Load(kSegaCd);
    LoadOwnership(*grid, ownership);
    EXPECT_EQ(Ticked(), (std::vector<std::string> { "sonic-us", "snatcher", "after-eu" }));
    EXPECT_EQ(fs::directory_entry(cdl + "/data").is_directory(), true);
    EXPECT_EQ(std::distance(fs::directory_iterator(cdl + "/data"), fs::directory_iterator()), 1);
}

// A GID the list lacks (renamed by the publisher, or not yet listed) is the
// user's as much as a tick: it stays in the file, after the ticked ones, and
// ticks its game again once a database has it.
TEST_F(Collection, GidsTheListLacksStayInTheFile)
{
    Load(kSegaCd);
    fs::create_directories(cdl + "/data");
    WriteFileBytes(ownership, "gone-1\r\nsnatcher\r\nnew-2\r\n\r\ngone-1\r\nsonic-us\r\n");
    const std::vector<std::string> unlisted = LoadOwnership(*grid, ownership);
    EXPECT_EQ(unlisted, (std::vector<std::string> { "gone-1", "new-2" }));
    EXPECT_EQ(Ticked(), (std::vector<std::string> { "sonic-us", "snatcher" }));
    EXPECT_EQ(GetStatusText(*grid, "Sega CD"), "You Have 2 of 4 known Sega CD Games");

    Tick("after-eu");
    SaveOwnership(*grid, ownership, unlisted);
    EXPECT_EQ(ReadFileBytes(ownership), "sonic-us\r\nsnatcher\r\nafter-eu\r\ngone-1\r\nnew-2\r\n");

    Load(std::string(kSegaCd) + "Newcomer\tUSA\t1995\tnew-2\r\n");
    EXPECT_EQ(LoadOwnership(*grid, ownership), std::vector<std::string> { "gone-1" });
    EXPECT_EQ(Ticked(), (std::vector<std::string> { "sonic-us", "snatcher", "after-eu", "new-2" }));

    // Every GID known: nothing kept aside.
    WriteFileBytes(ownership, "lunar-jp\r\nlunar-jp\r\n");
    Load(kSegaCd);
    EXPECT_EQ(LoadOwnership(*grid, ownership), std::vector<std::string> {});
}

TEST_F(Collection, LongGidsGoOutAndComeBackWhole)
{
    const std::string gid = "a-game-id-of-forty-characters-0123456789";
    Load("Sega CD\r\nGame Name\tGID\r\nLong\t" + gid + "\r\nShort\tshort\r\n");
    Tick(gid);
    SaveOwnership(*grid, ownership);
    EXPECT_EQ(ReadFileBytes(ownership), gid + "\r\n");
    Load("Sega CD\r\nGame Name\tGID\r\nLong\t" + gid + "\r\nShort\tshort\r\n");
    LoadOwnership(*grid, ownership);
    EXPECT_EQ(Ticked(), std::vector<std::string> { gid });
}

TEST_F(Collection, ASaveThatFailsMidwayKeepsTheOldFileWhole)
{
    Load(kSegaCd);
    Tick("lunar-jp");
    SaveOwnership(*grid, ownership);
    TickAll();
    SetBeforeReplaceHook([](const std::string &) { throw EInOutError("killed"); });
    EXPECT_THROW(SaveOwnership(*grid, ownership), EInOutError);
    EXPECT_EQ(ReadFileBytes(ownership), "lunar-jp\r\n");
}

TEST_F(Collection, SaveFailuresNameTheFile)
{
    Load(kSegaCd);
    WriteFileBytes(cdl + "/data", "a file where the folder should be");
    try {
        SaveOwnership(*grid, ownership);
        FAIL() << "no error";
    } catch (const EInOutError &e) {
        EXPECT_EQ(e.Message().rfind("Cannot create file " + ownership + ": ", 0), 0u)
            << e.Message();
    }
}

TEST(SafeFileName, NeutralisesWhatCouldLeaveTheFolderAndKeepsValidNames)
{
    const struct {
        std::string name, file;
    } cases[] = {
        { "Sega CD", "Sega CD" },
        { "NEC PC Engine CD-ROM2", "NEC PC Engine CD-ROM2" },
        { "Vol.. 2: \"Best\" <of> *?|", "Vol.. 2: \"Best\" <of> *?|" },
        { "Caf\xc3\xa9 \xe9", "Caf\xc3\xa9 \xe9" },
        { ".hidden", ".hidden" },
        { "../../etc/passwd", ".._.._etc_passwd" },
        { "..\\..\\boot", ".._.._boot" },
        { "..", "__" },
        { ".", "_" },
        { "/", "_" },
        { "tab\there\nand\r\x01\x7f", "tab_here_and___" },
        { std::string("nul\0x", 5), "nul_x" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(SafeFileName(c.name, 251), c.file) << c.name;
}

// A name is cut before the character that doesn't fit whole: in UTF-8 a
// sequence, in a single-byte encoding any byte.
TEST(SafeFileName, CutsLongNamesAtACharacter)
{
    const std::string x249(249, 'x'), x250(250, 'x'), x251(251, 'x');
    const struct {
        std::string name;
        size_t room;
        std::string file;
    } cases[] = {
        { std::string(300, 'x'), 251, x251 },
        { x251, 251, x251 },
        { x250 + "\xc3\xa9", 251, x250 },
        { x249 + "\xc3\xa9", 251, x249 + "\xc3\xa9" },
        { x249 + "\xc3\xa9" + "z", 251, x249 + "\xc3\xa9" },
        { x249 + "\xe3\x82\xb2", 251, x249 },
        { x250 + "\xe9", 251, x250 + "\xe9" }, // Windows-1252
        { x251 + "\xe9", 251, x251 },
        { x250 + "\xf0\x9f\x8e\xae", 246, std::string(246, 'x') },
    };
    for (const auto &c : cases) {
        const std::string file = SafeFileName(c.name, c.room);
        EXPECT_EQ(file, c.file) << c.name.size() << " bytes into " << c.room;
        EXPECT_LE(file.size(), c.room);
    }
}

TEST(OwnershipPath, LiesInTheDataFolderBesideTheDatabase)
{
    EXPECT_EQ(OwnershipPath("/opt/tirmo/cdl/segacd.cdl", "Sega CD"),
              "/opt/tirmo/cdl/data/Sega CD.dat");
    EXPECT_EQ(OwnershipPath("/opt/tirmo/cdl/x.cdl", "../../x"), "/opt/tirmo/cdl/data/.._.._x.dat");
}

// ---------------------------------------------------------------------------
// Status text and exports

TEST_F(Collection, StatusTextCountsTicksAndGames)
{
    std::string database = "Sega CD\r\nGame Name\tGID\r\n";
    for (int i = 1; i <= 120; ++i)
        database += "Game " + std::to_string(i) + "\tg" + std::to_string(i) + "\r\n";
    Load(database);
    EXPECT_EQ(GetStatusText(*grid, "Sega CD"), "You Have 0 of 120 known Sega CD Games");
    for (int i = 10; i <= 70; i += 10)
        Tick("g" + std::to_string(i));
    EXPECT_EQ(GetStatusText(*grid, "Sega CD"), "You Have 7 of 120 known Sega CD Games");
}

TEST_F(Collection, ANameWithANulByteGoesInWhole)
{
    // A database's first line may hold one; the name is its bytes.
    const std::string name("Sega\0CD", 7);
    Load(kSegaCd);
    Tick("lunar-jp");
    EXPECT_EQ(GetStatusText(*grid, name), "You Have 1 of 4 known " + name + " Games");
    const std::string have = ExportText(*grid, name, TExportKind::Have);
    EXPECT_EQ(have.substr(0, have.find("\r\n")), " You Have 1 of 4 known " + name + " Games");
    const std::string miss = ExportText(*grid, name, TExportKind::Miss);
    EXPECT_EQ(miss.substr(0, miss.find("\r\n")),
              " You are missing 3 of 4 known " + name + " Games");
}

TEST_F(Collection, ExportsListTheSortedGamesUnderTheirHeader)
{
    Load(kSegaCd);
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Have),
              " You Have 0 of 4 known Sega CD Games\r\n\r\n");
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Miss),
              " You are missing 4 of 4 known Sega CD Games\r\n\r\n"
              "after (Europe)\r\nLunar (Japan)\r\nSnatcher ()\r\nSonic CD (USA)\r\n");
    Tick("sonic-us");
    Tick("snatcher");
    const std::string have
        = " You Have 2 of 4 known Sega CD Games\r\n\r\nSnatcher ()\r\nSonic CD (USA)\r\n";
    const std::string miss
        = " You are missing 2 of 4 known Sega CD Games\r\n\r\nafter (Europe)\r\nLunar (Japan)\r\n";
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Have), have);
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Miss), miss);
    // The grid's order doesn't matter.
    for (int col : { 1, 2, 3 }) {
        grid->SetSortColumn(col);
        grid->QSort();
        EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Have), have);
        EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Miss), miss);
    }
    TickAll();
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Miss),
              " You are missing 0 of 4 known Sega CD Games\r\n\r\n");
}

TEST_F(Collection, EqualGamesGiveEqualLines)
{
    Load("Sega CD\r\nGame Name\tCountry\tGID\r\nEcco\tUSA\ta\r\nEcco\tUSA\tb\r\necco\tusa\tc\r\n");
    EXPECT_EQ(ExportText(*grid, "Sega CD", TExportKind::Miss),
              " You are missing 3 of 3 known Sega CD Games\r\n\r\nEcco (USA)\r\nEcco (USA)\r\necco "
              "(usa)\r\n");
}

TEST(Export, ProposedNames)
{
    EXPECT_EQ(ProposedExportName("Sega CD", TExportKind::Have), "Sega CD Have.txt");
    EXPECT_EQ(ProposedExportName("Sega CD", TExportKind::Miss), "Sega CD Miss.txt");
    EXPECT_EQ(ProposedExportName("CD/DVD", TExportKind::Have), "CD_DVD Have.txt");
    // Cut so that the whole name fits in one file name.
    const std::string utf8 = "\xe3\x82\xb2"; // three bytes
    EXPECT_EQ(ProposedExportName(std::string(259, 'x'), TExportKind::Miss),
              std::string(246, 'x') + " Miss.txt");
    std::string name;
    while (name.size() < 259)
        name += utf8;
    EXPECT_EQ(ProposedExportName(name, TExportKind::Have), name.substr(0, 246) + " Have.txt");
    EXPECT_EQ(ProposedExportName("x" + name, TExportKind::Have),
              "x" + name.substr(0, 243) + " Have.txt");
}

TEST(Export, WritesOrReplacesAndRefusesAPathItCantCreate)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Sega CD Have").toStdString(); // no ".txt": used as typed
    WriteFileBytes(path, "an older, longer list\r\n");
    WriteExport(path, "new\r\n");
    EXPECT_EQ(ReadFileBytes(path), "new\r\n");

    const std::pair<std::string, std::string> cases[] = {
        { dir.filePath("no/such/folder.txt").toStdString(), "No such file or directory" },
        { dir.path().toStdString(), "Is a directory" },
    };
    for (const auto &[bad, reason] : cases) {
        try {
            WriteExport(bad, "x");
            ADD_FAILURE() << "no error for " << bad;
        } catch (const EFCreateError &e) {
            EXPECT_EQ(e.Message(), "Cannot create file " + bad + ": " + reason);
        }
    }
}

// Replacing by rename would go over a file the user made read-only; it is
// refused and the file kept.
TEST(Export, RefusesAReadOnlyFile)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Sega CD Have.txt").toStdString();
    WriteFileBytes(path, "the user's own list\r\n");
    ::chmod(path.c_str(), 0444);
    {
        const TPermissionsObeyed obeyed;
        ASSERT_TRUE(obeyed.Active());
        try {
            WriteExport(path, "new\r\n");
            ADD_FAILURE() << "no error";
        } catch (const EFCreateError &e) {
            EXPECT_EQ(e.Message(), "Cannot create file " + path + ": Permission denied");
        }
    }
    EXPECT_EQ(ReadFileBytes(path), "the user's own list\r\n");
}
