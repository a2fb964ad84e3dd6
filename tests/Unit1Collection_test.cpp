#include "app/Collection.h"
#include "app/Unit1.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/resource.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

const char *const kCountries[] = { "USA", "Japan", "Europe" };

// A game database of `games` games: "<prefix> NNN" names, countries in turn,
// GIDs "<prefix>-NNN".
std::string Games(const std::string &name, const std::string &prefix, int games)
{
    std::string bytes = name + "\tCD-ROMs\r\nGame Name\tCountry\tYear\tGID\r\n";
    for (int i = 1; i <= games; ++i) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d", i);
        bytes += prefix + " " + number + "\t" + kCountries[i % 3] + "\t199" + std::to_string(i % 10)
            + "\t" + prefix + "-" + number + "\r\n";
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

    std::string File(const std::string &name) const
    {
        return ReadFileBytes(appDir + "/cdl/data/" + name);
    }
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
    EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-003", "scd-004", "scd-005" }));
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");
    EXPECT_EQ(File("Sega Saturn.dat"), "");

    form->close();
    form = Start();
    EXPECT_EQ(form->CurSys, nullptr);
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-003", "scd-004", "scd-005" }));
    EXPECT_EQ(Status(*form), "You Have 3 of 212 known Sega CD Games");

    // A click on the Country header sorts; the file follows the rows.
    TAdvColumnGrid *grid = form->acg_GameList;
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 0).center());
    EXPECT_EQ(grid->Cells(2, 1), "Europe");
    form->close();
    EXPECT_EQ(File("Sega CD.dat"), "scd-005\r\nscd-004\r\nscd-003\r\n");
    form = Start();
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-003", "scd-004", "scd-005" }));
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
    rlimit m_previousLimit {};
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
        { "read-only", "Cannot create file %s: Permission denied" },
        { "full disk", "Cannot write file %s: File too large" },
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
        EXPECT_EQ(ShownMessageBoxes(),
                  (std::vector<std::pair<std::string, std::string>> { { message, "TIRMO" } }));
        EXPECT_EQ(form->CurSys->Name, "Sega CD");
        EXPECT_EQ(form->cbo_SysList->currentText(), "Sega CD");
        EXPECT_TRUE(form->cbo_SysList->isEnabled());
        EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-002", "scd-003" }));

        std::vector<std::string> asked;
        bool closeAnyway = false;
        form->AskCloseAnyway = [&](const std::string &failure) {
            asked.push_back(failure);
            return closeAnyway;
        };
        EXPECT_FALSE(form->close());
        EXPECT_TRUE(form->isVisible());
        EXPECT_EQ(asked, std::vector<std::string> { message });
        EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-002", "scd-003" }));
        EXPECT_EQ(Status(*form), "You Have 2 of 212 known Sega CD Games");

        closeAnyway = true;
        EXPECT_TRUE(form->close());
        EXPECT_FALSE(form->isVisible());
        EXPECT_EQ(asked.size(), 2u);
        EXPECT_EQ(ShownMessageBoxes().size(), 1u) << "the question is the only word at close";
        EXPECT_EQ(File("Sega CD.dat"), "scd-002\r\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(data), fs::directory_iterator()), 2)
            << "scratch left";
    }
}

TEST_F(Form1Collection, AListThatFailedToLoadIsNeverSaved)
{
    WriteFileBytes(appDir + "/cdl/broken.cdl", "Broken\r\nGame Name\tCountry\r\nNo Key\tUSA\r\n");
    fs::create_directories(appDir + "/cdl/data/Sega Saturn.dat"); // can't be read
    WriteFileBytes(appDir + "/cdl/pcfx.cdl", Games("NEC PC-FX", "fx", 3));
    // A named pipe is refused at once, not waited on for a writer.
    ASSERT_EQ(::mkfifo((appDir + "/cdl/data/NEC PC-FX.dat").c_str(), 0644), 0);
    auto form = Start();
    Choose(*form, "Sega CD");
    ClickBox(*form, 1);

    const struct {
        const char *system;
        std::string message;
    } cases[] = {
        { "Broken", "The game database " + appDir + "/cdl/broken.cdl has no GID column" },
        { "Sega Saturn",
          "Cannot open file " + appDir + "/cdl/data/Sega Saturn.dat: Is a directory" },
        { "NEC PC-FX",
          "Cannot open file " + appDir + "/cdl/data/NEC PC-FX.dat: Is a named pipe, not a file" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.system);
        ShownMessageBoxes().clear();
        Choose(*form, c.system);
        EXPECT_EQ(ShownMessageBoxes(),
                  (std::vector<std::pair<std::string, std::string>> { { c.message, "TIRMO" } }));
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
    EXPECT_EQ(Ticked(*form), std::vector<std::string> { "scd-001" });
}

// An editor that saves a database, or an ownership file, with a UTF-8
// byte-order mark changes nothing: the same name, the same ticks in the same
// file, and exports without the mark.
TEST_F(Form1Collection, AByteOrderMarkChangesNothing)
{
    const std::string mark = "\xEF\xBB\xBF";
    WriteFileBytes(appDir + "/cdl/saturn.cdl", mark + Games("Sega Saturn", "sat", 30));
    fs::create_directories(appDir + "/cdl/data");
    WriteFileBytes(appDir + "/cdl/data/Sega Saturn.dat", mark + "sat-002\r\nsat-005\r\n");
    auto form = Start();
    Choose(*form, "Sega Saturn");
    EXPECT_EQ(form->CurSys->Name, "Sega Saturn");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "sat-002", "sat-005" }));
    EXPECT_EQ(Status(*form), "You Have 2 of 30 known Sega Saturn Games");
    EXPECT_EQ(form->acg_GameList->Cells(1, 0), "Game Name");

    form->ExecuteSaveDialog = [&](QFileDialog &dialog) {
        EXPECT_EQ(QFileInfo(dialog.selectedFiles().value(0)).fileName(), "Sega Saturn Have.txt");
        return std::optional<std::string>(appDir + "/have.txt");
    };
    QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
    EXPECT_EQ(ReadFileBytes(appDir + "/have.txt"),
              " You Have 2 of 30 known Sega Saturn Games\r\n\r\nsat 002 (Europe)\r\n"
              "sat 005 (Europe)\r\n");
    ClickBox(*form, 1);
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(ShownMessageBoxes().empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(appDir + "/cdl/data"), fs::directory_iterator()),
              1)
        << "a second ownership file";
    EXPECT_EQ(File("Sega Saturn.dat"), "sat-001\r\nsat-002\r\nsat-005\r\n");
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
        EXPECT_EQ(dialog.nameFilters(), QStringList { "Text File (*.txt)" });
        EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
        EXPECT_TRUE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
        EXPECT_EQ(dialog.defaultSuffix(), "");
        proposed.push_back(QFileInfo(dialog.selectedFiles().value(0)).fileName().toStdString());
        return answer;
    };
    QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
    EXPECT_EQ(
        ReadFileBytes(appDir + "/have.txt"),
        " You Have 2 of 30 known Sega Saturn Games\r\n\r\nsat 001 (Japan)\r\nsat 002 (Europe)\r\n");
    answer = appDir + "/miss";
    QTest::mouseClick(form->sb_SaveMiss, Qt::LeftButton);
    const std::string missStart
        = " You are missing 28 of 30 known Sega Saturn Games\r\n\r\nsat 003 (USA)\r\n";
    EXPECT_EQ(ReadFileBytes(appDir + "/miss").substr(0, missStart.size()), missStart);
    EXPECT_EQ(proposed,
              (std::vector<std::string> { "Sega Saturn Have.txt", "Sega Saturn Miss.txt" }));

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
              (std::vector<std::pair<std::string, std::string>> {
                  { "Cannot create file " + *answer + ": No such file or directory", "TIRMO" } }));
    EXPECT_EQ(Status(*form), "You Have 2 of 30 known Sega Saturn Games");
    EXPECT_FALSE(Exists("Sega Saturn.dat")) << "an export writes no ownership file";
}

TEST_F(Form1Collection, TicksAreSavedWhenTheProgramIsEndedWithoutClosing)
{
    const struct {
        const char *what;
        std::function<void()> end;
    } cases[] = {
        { "SIGTERM", [] { ::raise(SIGTERM); } },
        { "SIGINT", [] { ::raise(SIGINT); } },
        { "SIGHUP", [] { ::raise(SIGHUP); } },
        { "end of the session", [] { QMetaObject::invokeMethod(qApp, "aboutToQuit"); } },
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
    // The signals asked the application to quit, which every later modal
    // dialog in this process would obey at once: the loop takes the quit.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

namespace {

// A display name of exactly `bytes` bytes, of ASCII or of two- and
// three-byte UTF-8 characters, so that a cut can fall inside one.
std::string DisplayName(size_t bytes, bool utf8)
{
    const std::string units[] = { "\xc3\xa9", "\xe3\x82\xb2" };
    std::string name = "N";
    for (size_t i = 0; utf8 && name.size() + units[i % 2].size() <= bytes; ++i)
        name += units[i % 2];
    name.append(bytes - std::min(bytes, name.size()), 'x');
    return name.substr(0, bytes);
}

} // namespace

// Whatever the display name, up to the 259 bytes a first line holds: the
// ticks survive a switch, a close and a new start, and the proposed export
// names can be saved as they are.
TEST_F(Form1Collection, AnyDisplayNameKeepsItsTicksAndItsExports)
{
    const std::string exports = appDir + "/exports";
    fs::create_directories(exports);
    for (const bool utf8 : { false, true }) {
        for (const size_t bytes : { 1, 200, 233, 234, 251, 259 }) {
            const std::string name = DisplayName(bytes, utf8);
            SCOPED_TRACE(std::to_string(bytes) + (utf8 ? " bytes of UTF-8" : " bytes of ASCII"));
            ASSERT_EQ(name.size(), bytes);
            const std::string file = (utf8 ? "u" : "a") + std::to_string(bytes) + ".cdl";
            WriteFileBytes(appDir + "/cdl/" + file, Games(name, "g", 5));
            ShownMessageBoxes().clear();

            auto form = Start();
            Choose(*form, QString::fromUtf8(name.c_str()));
            ASSERT_EQ(form->CurSys->Name, name);
            ClickBox(*form, 2);
            Choose(*form, "Sega Saturn");
            Choose(*form, QString::fromUtf8(name.c_str()));
            EXPECT_EQ(Ticked(*form), std::vector<std::string> { "g-002" });
            ClickBox(*form, 4);

            std::vector<std::string> proposed;
            form->ExecuteSaveDialog = [&](QFileDialog &dialog) {
                const QString chosen = QFileInfo(dialog.selectedFiles().value(0)).fileName();
                proposed.push_back(QFile::encodeName(chosen).toStdString());
                return std::optional<std::string>(exports + "/" + proposed.back());
            };
            QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
            QTest::mouseClick(form->sb_SaveMiss, Qt::LeftButton);
            ASSERT_EQ(proposed.size(), 2u);
            for (const std::string &export_ : proposed) {
                EXPECT_LE(export_.size(), 255u);
                EXPECT_EQ(ReadFileBytes(exports + "/" + export_).rfind(" You ", 0), 0u) << export_;
            }
            EXPECT_EQ(proposed[0].substr(proposed[0].size() - 9), " Have.txt");
            EXPECT_EQ(name.rfind(proposed[0].substr(0, proposed[0].size() - 9), 0), 0u)
                << "a cut of the name";
            EXPECT_TRUE(QString::fromUtf8(proposed[1].c_str()).toUtf8().toStdString() == proposed[1]
                        || !utf8)
                << "cut inside a character";

            EXPECT_TRUE(form->close());
            EXPECT_TRUE(ShownMessageBoxes().empty()) << ShownMessageBoxes()[0].first;
            form = Start();
            Choose(*form, QString::fromUtf8(name.c_str()));
            EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "g-002", "g-004" }));
            form->close();
            // Names of 251 bytes and more share their first 251 in a file name.
            fs::remove(appDir + "/cdl/" + file);
            fs::remove_all(appDir + "/cdl/data");
        }
    }
}

// Saving keeps what the user set up: the mode of the file, and a symbolic
// link (into a synced folder, say) stays a link while its target is
// replaced. For ownership files and exports alike.
TEST_F(Form1Collection, SavesKeepModesAndLinks)
{
    const std::string data = appDir + "/cdl/data", synced = appDir + "/synced";
    fs::create_directories(data);
    fs::create_directories(synced);
    WriteFileBytes(data + "/Sega CD.dat", "scd-001\r\n");
    ::chmod((data + "/Sega CD.dat").c_str(), 0600);
    WriteFileBytes(synced + "/saturn.dat", "sat-001\r\n");
    ::chmod((synced + "/saturn.dat").c_str(), 0640);
    fs::create_symlink("../../synced/saturn.dat", data + "/Sega Saturn.dat");
    WriteFileBytes(appDir + "/have.txt", "old");
    ::chmod((appDir + "/have.txt").c_str(), 0600);
    WriteFileBytes(synced + "/miss.txt", "old");
    fs::create_symlink(synced + "/miss.txt", appDir + "/miss.txt");

    auto form = Start();
    Choose(*form, "Sega CD");
    ClickBox(*form, 2);
    Choose(*form, "Sega Saturn");
    ClickBox(*form, 2);
    std::string answer;
    form->ExecuteSaveDialog = [&](QFileDialog &) { return std::optional<std::string>(answer); };
    answer = appDir + "/have.txt";
    QTest::mouseClick(form->sb_SaveHave, Qt::LeftButton);
    answer = appDir + "/miss.txt";
    QTest::mouseClick(form->sb_SaveMiss, Qt::LeftButton);
    EXPECT_TRUE(form->close());
    EXPECT_TRUE(ShownMessageBoxes().empty());

    const auto mode = [](const std::string &path) {
        struct stat st { };
        ::stat(path.c_str(), &st);
        return st.st_mode & 07777;
    };
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\nscd-002\r\n");
    EXPECT_EQ(mode(data + "/Sega CD.dat"), 0600u);
    EXPECT_TRUE(fs::is_symlink(data + "/Sega Saturn.dat"));
    EXPECT_EQ(ReadFileBytes(synced + "/saturn.dat"), "sat-001\r\nsat-002\r\n");
    EXPECT_EQ(mode(synced + "/saturn.dat"), 0640u);
    EXPECT_EQ(ReadFileBytes(appDir + "/have.txt").rfind(" You Have 2 of 30", 0), 0u);
    EXPECT_EQ(mode(appDir + "/have.txt"), 0600u);
    EXPECT_TRUE(fs::is_symlink(appDir + "/miss.txt"));
    EXPECT_EQ(ReadFileBytes(synced + "/miss.txt").rfind(" You are missing 28 of 30", 0), 0u);
}

// A database without games yet shows its header; the next list's header row
// is a header again: fixed, and a click on it sorts.
TEST_F(Form1Collection, AfterAListWithoutGamesTheHeaderIsAHeader)
{
    WriteFileBytes(appDir + "/cdl/new.cdl",
                   "New System\tCD-ROMs\r\nGame Name\tCountry\tYear\tGID\r\n");
    auto form = Start();
    Choose(*form, "New System");
    TAdvColumnGrid *grid = form->acg_GameList;
    EXPECT_TRUE(ShownMessageBoxes().empty());
    EXPECT_TRUE(grid->isVisible());
    EXPECT_EQ(grid->Cells(1, 0), "Game Name");
    EXPECT_EQ(Status(*form), "You Have 0 of 0 known New System Games");

    Choose(*form, "Sega CD");
    EXPECT_EQ(grid->FixedRows(), 1);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(2, 0).center());
    EXPECT_EQ(grid->Cells(2, 0), "Country");
    EXPECT_EQ(grid->Cells(2, 1), "Europe");
    grid->SetTopRow(100);
    EXPECT_FALSE(grid->CellRect(2, 0).isEmpty()) << "the header scrolled away";
}

// GIDs of the ownership file that the list lacks stay in it, after the
// ticked ones; they count nothing, and tick their game again once a database
// lists it.
TEST_F(Form1Collection, GidsTheListLacksAreNeverLost)
{
    fs::create_directories(appDir + "/cdl/data");
    WriteFileBytes(appDir + "/cdl/data/Sega CD.dat", "renamed-1\r\nscd-003\r\nrenamed-2\r\n");
    auto form = Start();
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), std::vector<std::string> { "scd-003" });
    EXPECT_EQ(Status(*form), "You Have 1 of 212 known Sega CD Games");
    ClickBox(*form, 1);
    Choose(*form, "Sega Saturn");
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\nscd-003\r\nrenamed-1\r\nrenamed-2\r\n");
    Choose(*form, "Sega CD");
    ClickBox(*form, 3);
    EXPECT_TRUE(form->close());
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\nrenamed-1\r\nrenamed-2\r\n");

    WriteFileBytes(appDir + "/cdl/segacd.cdl",
                   Games("Sega CD", "scd", 3) + "Renamed\tUSA\t1999\trenamed-2\r\n");
    form = Start();
    Choose(*form, "Sega CD");
    EXPECT_EQ(Ticked(*form), (std::vector<std::string> { "scd-001", "renamed-2" }));
    EXPECT_EQ(Status(*form), "You Have 2 of 4 known Sega CD Games");
    EXPECT_TRUE(form->close());
    EXPECT_EQ(File("Sega CD.dat"), "scd-001\r\nrenamed-2\r\nrenamed-1\r\n");
}

// What the child below runs: a window whose save fails or not, ended by a
// signal.
TEST(Form1Child, DISABLED_EndedBySignal)
{
    const std::string app = qEnvironmentVariable("TIRMO_CHILD_APP").toStdString();
    ASSERT_FALSE(app.empty()) << "run by Form1Collection only";
    TForm1 form(app);
    form.show();
    const int index = form.cbo_SysList->findText("Sega CD");
    form.cbo_SysList->setCurrentIndex(index);
    emit form.cbo_SysList->activated(index);
    form.acg_GameList->SetCheckBoxState(0, 2, true);
    std::unique_ptr<TPermissionsObeyed> obeyed;
    if (qEnvironmentVariableIsSet("TIRMO_CHILD_FAIL")) {
        ::chmod((app + "/cdl/data").c_str(), 0555);
        obeyed = std::make_unique<TPermissionsObeyed>();
    }
    ::raise(qEnvironmentVariableIntValue("TIRMO_CHILD_SIGNAL"));
    ::_exit(QCoreApplication::exec());
}

// A signal ends the program however the save goes; a failed one is told on
// standard error and in the exit code.
TEST_F(Form1Collection, ASignalWithAFailingSaveEndsWithTheReason)
{
    const std::string ownership = appDir + "/cdl/data/Sega CD.dat";
    for (const bool fail : { true, false }) {
        for (const int signal : { SIGTERM, SIGINT, SIGHUP }) {
            SCOPED_TRACE(std::string(sigabbrev_np(signal)) + (fail ? ", failing" : ""));
            fs::create_directories(appDir + "/cdl/data");
            ::chmod((appDir + "/cdl/data").c_str(), 0755);
            WriteFileBytes(ownership, "scd-001\r\n");
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("TIRMO_CHILD_APP", QString::fromStdString(appDir));
            env.insert("TIRMO_CHILD_SIGNAL", QString::number(signal));
            if (fail)
                env.insert("TIRMO_CHILD_FAIL", "1");
            child.setProcessEnvironment(env);
            child.start(QCoreApplication::applicationFilePath(),
                        { "--gtest_also_run_disabled_tests",
                          "--gtest_filter=Form1Child.DISABLED_EndedBySignal" });
            ASSERT_TRUE(child.waitForFinished(60000));
            const std::string errors = child.readAllStandardError().toStdString();
            EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
            if (fail) {
                EXPECT_EQ(child.exitCode(), 1);
                EXPECT_NE(errors.find("TIRMO: ended by SIG" + std::string(sigabbrev_np(signal))
                                      + " without saving the ticks: Cannot create file " + ownership
                                      + ": Permission denied\n"),
                          std::string::npos)
                    << errors;
                EXPECT_EQ(ReadFileBytes(ownership), "scd-001\r\n");
            } else {
                EXPECT_EQ(child.exitCode(), 0) << errors;
                EXPECT_EQ(errors.find("TIRMO:"), std::string::npos) << errors;
                EXPECT_EQ(ReadFileBytes(ownership), "scd-001\r\nscd-002\r\n");
            }
        }
    }
    ::chmod((appDir + "/cdl/data").c_str(), 0755);
}

// The question itself: it names the system, the file and the reason, and
// its buttons do what they say; Stay is the default.
TEST_F(Form1Collection, TheCloseQuestionOffersStayAndCloseAnyway)
{
    auto form = Start();
    Choose(*form, "Sega CD");
    ClickBox(*form, 2);
    WriteFileBytes(appDir + "/cdl/data", "a file where the folder belongs");
    for (const char *answer : { "Stay", "Close Anyway" }) {
        SCOPED_TRACE(answer);
        QString text, defaultButton;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            text = box->text().remove(QChar(0x2060)); // as read, without the joiners
            defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
            for (QAbstractButton *button : box->buttons())
                if (button->text() == answer)
                    button->click();
        });
        EXPECT_EQ(form->close(), std::string(answer) != "Stay");
        EXPECT_TRUE(text.startsWith("The ticks of Sega CD could not be saved."))
            << text.toStdString();
        EXPECT_TRUE(text.contains(
            QString::fromStdString("Cannot create file " + appDir + "/cdl/data/Sega CD.dat: ")))
            << text.toStdString();
        EXPECT_EQ(defaultButton, "Stay");
    }
    EXPECT_FALSE(form->isVisible());
    EXPECT_TRUE(ShownMessageBoxes().empty());
}
