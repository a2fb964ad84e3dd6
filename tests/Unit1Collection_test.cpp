#include "app/Collection.h"
#include "app/Unit1.h"
#include "tests/support/TestSupport.h"

#include <QFileDialog>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char *const kCountries[] = {"USA", "Japan", "Europe"};

// A game database of `games` games: "<prefix> NNN" names, countries in turn,
// GIDs "<prefix>-NNN".
std::string Games(const std::string &name, const std::string &prefix, int games)
{
    std::string bytes = name + "\tCD-ROMs\r\nGame Name\tCountry\tYear\tGID\r\n";
    for (int i = 1; i <= games; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d", i);
        bytes += prefix + " " + number + "\t" + kCountries[i % 3] + "\t199" + std::to_string(i % 10) + "\t" + prefix +
                 "-" + number + "\r\n";
    }
    return bytes;
}

// A temporary application folder with two systems, and the main window on it.
class Form1Collection : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        fs::create_directories(appDir + "/cdl");
        WriteFileBytes(appDir + "/cdl/segacd.cdl", Games("Sega CD", "scd", 212));
        WriteFileBytes(appDir + "/cdl/saturn.cdl", Games("Sega Saturn", "sat", 30));
        ShownMessageBoxes().clear();
    }

    std::unique_ptr<TForm1> Start()
    {
        auto form = std::make_unique<TForm1>(appDir);
        form->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        return form;
    }

    // The user picks the entry.
    static void Choose(TForm1 &form, const QString &name)
    {
        const int index = form.cbo_SysList->findText(name);
        ASSERT_GE(index, 0) << name.toStdString();
        form.cbo_SysList->setCurrentIndex(index);
        emit form.cbo_SysList->activated(index);
        QCoreApplication::processEvents();
    }

    static void ClickBox(TForm1 &form, int row)
    {
        TAdvColumnGrid *grid = form.acg_GameList;
        ASSERT_FALSE(grid->CellRect(0, row).isEmpty()) << "row " << row << " not in view";
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, row).center());
    }

    static std::vector<std::string> Ticked(const TForm1 &form)
    {
        std::vector<std::string> gids;
        const TAdvColumnGrid &grid = *form.acg_GameList;
        for (int r = 1; r < grid.RowCount(); ++r) {
            bool state = false;
            if (grid.GetCheckBoxState(0, r, state) && state)
                gids.push_back(grid.Cells(GidColumn(grid), r));
        }
        return gids;
    }

    static std::string Status(const TForm1 &form) { return form.StatusText().toStdString(); }

    std::string File(const std::string &name) const { return ReadFileBytes(appDir + "/cdl/data/" + name); }
    bool Exists(const std::string &name) const { return fs::exists(appDir + "/cdl/data/" + name); }

    QTemporaryDir m_dir;
    const std::string appDir = m_dir.path().toStdString();
};

} // namespace

TEST_F(Form1Collection, TicksSurviveSwitchesRestartsAndSorting)
{
    auto form = Start();
    Choose(*form, "Sega CD");
    ASSERT_NE(form->CurSys, nullptr);
    EXPECT_EQ(form->CurSys->Name, "Sega CD");
    EXPECT_TRUE(form->acg_GameList->isVisible());
    EXPECT_TRUE(form->cbo_SysList->isEnabled());
    EXPECT_TRUE(form->cbo_SysList->hasFocus());
    EXPECT_TRUE(form->sb_SaveHave->isEnabled());
    EXPECT_TRUE(form->sb_SaveMiss->isEnabled());
    EXPECT_EQ(Status(*form), "You Have 0 of 212 known Sega CD Games");

    ClickBox(*form, 3);
    EXPECT_EQ(Status(*form), "You Have 1 of 212 known Sega CD Games");
    ClickBox(*form, 5);
    ClickBox(*form, 4);
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");
    EXPECT_FALSE(fs::exists(appDir + "/cdl/data")) << "a click writes no file";
    form->resize(form->width() + 40, form->height());
    QCoreApplication::processEvents();
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");

    Choose(*form, "Sega Saturn");
    EXPECT_EQ(File("Sega CD.dat"), "scd-003\r\nscd-004\r\nscd-005\r\n");
    EXPECT_EQ(Status(*form), "You Have 0 of 30 known Sega Saturn Games");
    EXPECT_FALSE(Exists("Sega Saturn.dat"));

    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string>{"scd-003", "scd-004", "scd-005"}));
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");
    EXPECT_EQ(File("Sega Saturn.dat"), "");

    form->close();
    form = Start();
    EXPECT_EQ(form->CurSys, nullptr);
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string>{"scd-003", "scd-004", "scd-005"}));
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");

    // A click on the Country header sorts; the file follows the rows.
    TAdvColumnGrid *grid = form->acg_GameList;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 0).center());
    EXPECT_EQ(grid->Cells(2, 1), "Europe");
    form->close();
    EXPECT_EQ(File("Sega CD.dat"), "scd-005\r\nscd-004\r\nscd-003\r\n");
    form = Start();
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string>{"scd-003", "scd-004", "scd-005"}));
    EXPECT_TRUE(ShownMessageBoxes().empty());
}

TEST_F(Form1Collection, SpaceBarToggleUpdatesTheCount)
{
    auto form = Start();
    Choose(*form, "Sega CD");
    ClickBox(*form, 3);
    ASSERT_EQ(Status(*form), "You Have 1 of 212 known Sega CD Games");
    form->acg_GameList->setFocus();
    QTest::keyClick(form->acg_GameList->viewport(), Qt::Key_Space);
    EXPECT_TRUE(Ticked(*form).empty());
    EXPECT_EQ(Status(*form), "You Have 0 of 212 known Sega CD Games");
}

TEST_F(Form1Collection, OnlyTheUsersChoiceLoadsASystem)
{
    auto form = Start();
    form->cbo_SysList->setCurrentIndex(form->cbo_SysList->findText("Sega CD"));
    QCoreApplication::processEvents();
    EXPECT_EQ(form->CurSys, nullptr);
    EXPECT_FALSE(form->acg_GameList->isVisible());

    Choose(*form, "Sega CD");
    ClickBox(*form, 1);
    form->cbo_SysList->setCurrentIndex(form->cbo_SysList->findText("Sega Saturn"));
    QCoreApplication::processEvents();
    EXPECT_EQ(form->CurSys->Name, "Sega CD");
    EXPECT_FALSE(fs::exists(appDir + "/cdl/data"));

    // Choosing the system shown saves it and loads it again.
    WriteFileBytes(appDir + "/cdl/segacd.cdl", Games("Sega CD", "scd", 5));
    Choose(*form, "Sega CD");
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\n");
    EXPECT_EQ(Status(*form), "You Have 1 of 5 known Sega CD Games");
}

TEST_F(Form1Collection, ClosingWithoutAChoiceWritesNothing)
{
    auto form = Start();
    form->close();
    EXPECT_FALSE(fs::exists(appDir + "/cdl/data"));
}

// Saves into cdl/data fail the way a user meets it, while the object lives.
class TSavesFail {
public:
    TSavesFail(const std::string &kind, const std::string &data) : m_data(data)
    {
        if (kind == "read-only") {
            ::chmod(data.c_str(), 0555);
            m_obeyed = std::make_unique<TPermissionsObeyed>();
            EXPECT_TRUE(m_obeyed->Active());
        } else {
            // Files may not grow past 10 bytes; the signal is ignored so that
            // the write fails instead.
            m_previousSignal = std::signal(SIGXFSZ, SIG_IGN);
            ::getrlimit(RLIMIT_FSIZE, &m_previousLimit);
            rlimit limit = m_previousLimit;
            limit.rlim_cur = 10;
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    }
    ~TSavesFail()
    {
        if (m_obeyed) {
            m_obeyed.reset();
            ::chmod(m_data.c_str(), 0755);
        } else {
            ::setrlimit(RLIMIT_FSIZE, &m_previousLimit);
            std::signal(SIGXFSZ, m_previousSignal);
        }
    }

private:
    std::string m_data;
    std::unique_ptr<TPermissionsObeyed> m_obeyed;
    rlimit m_previousLimit{};
    void (*m_previousSignal)(int) = SIG_DFL;
};

// A failed save keeps the list at a switch, and at close lets the user
// choose: stay with the ticks, or close anyway with the old file whole.
TEST_F(Form1Collection, AFailedSaveKeepsTheTicksAndTheCloseAsks)
{
    const struct {
        const char *kind;
        const char *message; // %s: the ownership file
    } cases[] = {
        {"read-only", "Cannot create file %s: Permission denied"},
        {"full disk", "Cannot write file %s: File too large"},
    };
    const std::string data = appDir + "/cdl/data", ownership = data + "/Sega CD.dat";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.kind);
        std::string message = c.message;
        message.replace(message.find("%s"), 2, ownership);
        fs::remove_all(data);
        ShownMessageBoxes().clear();
        auto form = Start();
        Choose(*form, "Sega CD");
        ClickBox(*form, 2);
        Choose(*form, "Sega Saturn");
        Choose(*form, "Sega CD");
        ClickBox(*form, 3);
        ASSERT_EQ(File("Sega CD.dat"), "scd-002\r\n");

        const TSavesFail fail(c.kind, data);
        Choose(*form, "Sega Saturn");
        EXPECT_EQ(ShownMessageBoxes(), (std::vector<std::pair<std::string, std::string>>{{message, "TIRMO"}}));
        EXPECT_EQ(form->CurSys->Name, "Sega CD");
        EXPECT_EQ(form->cbo_SysList->currentText(), "Sega CD");
        EXPECT_TRUE(form->cbo_SysList->isEnabled());
        EXPECT_EQ(Ticked(*form), (std::vector<std::string>{"scd-002", "scd-003"}));

        std::vector<std::string> asked;
        bool closeAnyway = false;
        form->AskCloseAnyway = [&](const std::string &failure) {
            asked.push_back(failure);
            return closeAnyway;
        };
        EXPECT_FALSE(form->close());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(asked, std::vector<std::string>{message});
        EXPECT_EQ(Ticked(*form), (std::vector<std::string>{"scd-002", "scd-003"}));
        EXPECT_EQ(Status(*form), "You Have 2 of 212 known Sega CD Games");

        closeAnyway = true;
        EXPECT_TRUE(form->close());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(asked.size(), 2u);
        EXPECT_EQ(ShownMessageBoxes().size(), 1u) << "the question is the only word at close";
        EXPECT_EQ(File("Sega CD.dat"), "scd-002\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(data), fs::directory_iterator()), 2) << "scratch left";
    }
}

TEST_F(Form1Collection, AListThatFailedToLoadIsNeverSaved)
{
    WriteFileBytes(appDir + "/cdl/broken.cdl", "Broken\r\nGame Name\tCountry\r\nNo Key\tUSA\r\n");
    fs::create_directories(appDir + "/cdl/data/Sega Saturn.dat"); // can't be read
    auto form = Start();
    Choose(*form, "Sega CD");
    ClickBox(*form, 1);

    const struct {
        const char *system;
        std::string message;
    } cases[] = {
        {"Broken", "The game database " + appDir + "/cdl/broken.cdl has no GID column"},
        {"Sega Saturn", "Cannot open file " + appDir + "/cdl/data/Sega Saturn.dat: Is a directory"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.system);
        ShownMessageBoxes().clear();
        Choose(*form, c.system);
        EXPECT_EQ(ShownMessageBoxes(), (std::vector<std::pair<std::string, std::string>>{{c.message, "TIRMO"}}));
        EXPECT_EQ(form->CurSys, nullptr);
        EXPECT_FALSE(form->acg_GameList->isVisible());
        EXPECT_FALSE(form->sb_SaveHave->isEnabled());
        EXPECT_FALSE(form->sb_SaveMiss->isEnabled());
        EXPECT_EQ(form->cbo_SysList->currentIndex(), -1);
        EXPECT_TRUE(form->cbo_SysList->isEnabled());
        EXPECT_EQ(Status(*form), "Choose a system to see its games");
    }
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\n");
    form->close();
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\n");
    EXPECT_FALSE(Exists("Broken.dat"));
    EXPECT_TRUE(fs::is_directory(appDir + "/cdl/data/Sega Saturn.dat"));

    // The list loads again once the system can be read.
    form = Start();
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), std::vector<std::string>{"scd-001"});
}

TEST_F(Form1Collection, ExportsGoThroughTheSaveDialog)
{
    auto form = Start();
    Choose(*form, "Sega Saturn");
    ClickBox(*form, 2);
    ClickBox(*form, 1);

    std::vector<std::string> proposed;
    std::optional<std::string> answer = appDir + "/have.txt";
    form->ExecuteSaveDialog = [&](QFileDialog &dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Save List");
        EXPECT_EQ(dialog.nameFilters(), QStringList{"Text File (*.txt)"});
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.defaultSuffix(), "");
        proposed.push_back(QFileInfo(dialog.selectedFiles().value(0)).fileName().toStdString());
        return answer;
    };
    QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(appDir + "/have.txt"),
              " You Have 2 of 30 known Sega Saturn Games\r\n\r\nsat 001 (Japan)\r\nsat 002 (Europe)\r\n");
    answer = appDir + "/miss";
    QTest::mouseClick(form->sb_SaveMiss, Qt::LeftButton);
    const std::string missStart = " You are missing 28 of 30 known Sega Saturn Games\r\n\r\nsat 003 (USA)\r\n";
    EXPECT_EQ(ReadFileBytes(appDir + "/miss").substr(0, missStart.size()), missStart);
    EXPECT_EQ(proposed, (std::vector<std::string>{"Sega Saturn Have.txt", "Sega Saturn Miss.txt"}));

    // Cancelled: nothing is written.
    answer.reset();
    fs::remove(appDir + "/have.txt");
    QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
    EXPECT_FALSE(fs::exists(appDir + "/have.txt"));
    EXPECT_TRUE(ShownMessageBoxes().empty());

    // A file that can't be created is shown, and the window goes on.
    answer = appDir + "/no/such/folder/list.txt";
    QTest::mouseClick(form->sb_SaveMiss, Qt::LeftButton);
    EXPECT_EQ(ShownMessageBoxes(),
              (std::vector<std::pair<std::string, std::string>>{{"Cannot create file " + *answer + ": No such file or directory", "TIRMO"}}));
    EXPECT_EQ(Status(*form), "You Have 2 of 30 known Sega Saturn Games");
    EXPECT_FALSE(Exists("Sega Saturn.dat")) << "an export writes no ownership file";
}

TEST_F(Form1Collection, TicksAreSavedWhenTheProgramIsEndedWithoutClosing)
{
    const struct {
        const char *what;
        std::function<void()> end;
    } cases[] = {
        {"SIGTERM", [] { ::raise(SIGTERM); }},
        {"SIGINT", [] { ::raise(SIGINT); }},
        {"SIGHUP", [] { ::raise(SIGHUP); }},
        {"end of the session", [] { QMetaObject::invokeMethod(qApp, "aboutToQuit"); }},
    };
    int row = 1;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        auto form = Start();
        Choose(*form, "Sega CD");
        ClickBox(*form, row++);
        const std::string before = Exists("Sega CD.dat") ? File("Sega CD.dat") : "";
        c.end();
        QTRY_VERIFY_WITH_TIMEOUT(Exists("Sega CD.dat") && File("Sega CD.dat") != before, 5000);
        EXPECT_EQ(Ticked(*form).size(), size_t(row - 1));
        EXPECT_EQ(File("Sega CD.dat").size(), Ticked(*form).size() * 9);
    }
}
