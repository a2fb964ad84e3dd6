// The sample data a new user starts with: every database loads in the
// program, and the manifest names each of them as the update site does.

#include "app/Collection.h"
#include "app/Unit1.h"
#include "tests/support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

namespace fs = std::filesystem;

namespace {

const fs::path kSample = TIRMO_SOURCE_DIR "/sample";

struct TSampleSystem {
    const char *file;
    const char *name;
    int games;
};

// What README's sample data section promises.
const TSampleSystem kSystems[] = {
    { "3do_m2.cdl", "3DO M2", 3 },
    { "cd32.cdl", "Commodore Amiga CD32", 132 },
    { "cdi.cdl", "Philips CD-i", 641 },
    { "cdtv.cdl", "Commodore CDTV", 132 },
    { "dc.cdl", "Sega Dreamcast", 692 },
    { "fmtowns_cd.cdl", "Fujitsu FM Towns Marty", 904 },
    { "hyperscan.cdl", "Mattel HyperScan", 7 },
    { "megacd.cdl", "Sega Mega-CD (Europe)", 142 },
    { "megacdj.cdl", "Sega Mega-CD (Japan)", 132 },
    { "neocd.cdl", "SNK Neo Geo CD", 104 },
    { "nuon.cdl", "NUON", 7 },
    { "pcecd.cdl", "NEC PC Engine CD-ROM2", 489 },
    { "pcfx.cdl", "NEC PC-FX", 12 },
    { "pippin.cdl", "Bandai Pippin", 86 },
    { "psx.cdl", "Sony PlayStation", 2780 },
    { "saturn.cdl", "Sega Saturn", 2223 },
    { "segacd.cdl", "Sega CD", 206 },
    { "vis.cdl", "Tandy VIS", 70 },
    { "vsmile_cd.cdl", "VTech V.Flash", 34 },
};

void PrintTo(const TSampleSystem &system, std::ostream *out)
{
    *out << system.file;
}

// The longest GID an ownership file line holds.
constexpr size_t kMaxGid = 23;

std::set<std::string> SampleFiles()
{
    std::set<std::string> files;
    for (const fs::directory_entry &entry : fs::directory_iterator(kSample / "cdl"))
        if (entry.path().extension() == ".cdl")
            files.insert(entry.path().filename().string());
    return files;
}

// The sample as a user's folder has it, and the main window on it.
class SampleInProgram : public ::testing::TestWithParam<TSampleSystem> {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        const std::string appDir = s_dir->path().toStdString();
        fs::copy(kSample / "cdl", appDir + "/cdl", fs::copy_options::recursive);
        s_form = new TForm1(appDir);
        s_form->show();
    }
    static void TearDownTestSuite()
    {
        delete s_form;
        delete s_dir;
    }

    static QTemporaryDir *s_dir;
    static TForm1 *s_form;
};

QTemporaryDir *SampleInProgram::s_dir = nullptr;
TForm1 *SampleInProgram::s_form = nullptr;

TEST_P(SampleInProgram, LoadsWithItsGamesAndUniqueGids)
{
    const TSampleSystem &system = GetParam();
    TForm1 &form = *s_form;
    const int index = form.cbo_SysList->findText(QString::fromUtf8(system.name), Qt::MatchExactly);
    ASSERT_GE(index, 0) << system.name << " is not in the selector";
    form.cbo_SysList->setCurrentIndex(index);
    emit form.cbo_SysList->activated(index);
    QCoreApplication::processEvents();
    EXPECT_TRUE(ShownMessageBoxes().empty()) << ShownMessageBoxes().front().first;

    ASSERT_EQ(form.CurSys->Path, s_dir->path().toStdString() + "/cdl/" + system.file);
    const TAdvColumnGrid &grid = *form.acg_GameList;
    EXPECT_TRUE(grid.isVisible());
    EXPECT_EQ(grid.RowCount() - 1, system.games);
    const int gid = GidColumn(grid);
    ASSERT_GE(gid, 0) << system.file << " has no GID column";
    EXPECT_TRUE(grid.IsHiddenColumn(gid));
    EXPECT_GE(FindColumn(grid, "Game Name"), 0);
    EXPECT_GE(FindColumn(grid, "Country"), 0);

    std::set<std::string> gids;
    for (int r = 1; r < grid.RowCount(); ++r) {
        const std::string id = grid.Cells(gid, r);
        EXPECT_TRUE(!id.empty() && id.size() <= kMaxGid)
            << system.file << " row " << r << ": \"" << id << "\"";
        EXPECT_TRUE(gids.insert(id).second) << system.file << ": GID " << id << " twice";
        EXPECT_FALSE(grid.Cells(FindColumn(grid, "Game Name"), r).empty())
            << system.file << " row " << r;
    }
    EXPECT_EQ(form.StatusText().toStdString(),
              "You Have 0 of " + std::to_string(system.games) + " known " + system.name + " Games");
}

INSTANTIATE_TEST_SUITE_P(EveryDatabase, SampleInProgram, ::testing::ValuesIn(kSystems),
                         [](const auto &info) {
                             return fs::path(info.param.file).stem().string();
                         });

TEST(Sample, TheSelectorListsEverySystemOfTheTableOnce)
{
    std::set<std::string> files;
    std::multiset<std::string> expected;
    for (const TSampleSystem &system : kSystems) {
        files.insert(system.file);
        expected.insert(system.name);
    }
    EXPECT_EQ(files, SampleFiles());

    QTemporaryDir dir;
    fs::copy(kSample / "cdl", dir.path().toStdString() + "/cdl", fs::copy_options::recursive);
    TForm1 form(dir.path().toStdString());
    std::multiset<std::string> names;
    for (int i = 0; i < form.cbo_SysList->count(); ++i)
        names.insert(form.cbo_SysList->itemText(i).toStdString());
    EXPECT_EQ(names, expected);
}

// The manifest as the update site writes it: "Main;<version>", then one
// "<name>;<size>-<sha256>" line per database.
TEST(Sample, ManifestNamesEveryDatabaseWithItsSizeAndDigest)
{
    std::string expected = "Main;0.2\r\n";
    for (const std::string &file : SampleFiles()) {
        const std::string bytes = ReadFileBytes((kSample / "cdl" / file).string());
        const QByteArray digest
            = QCryptographicHash::hash(QByteArray::fromStdString(bytes), QCryptographicHash::Sha256)
                  .toHex();
        expected += file + ";" + std::to_string(bytes.size()) + "-" + digest.toStdString() + "\r\n";
    }
    EXPECT_EQ(ReadFileBytes((kSample / "version.ini").string()), expected)
        << "run scripts/make-sample.sh (or scripts/write_manifest.py) again";
}

} // namespace
