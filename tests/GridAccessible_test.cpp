#include "app/Unit1.h"
#include "grid/GridAccessible.h"
#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

// What a screen reader would be told: the kind of each event and the
// interface it names.
struct Heard {
    QAccessible::Event type;
    QAccessibleInterface *iface;
    QAccessible::State changed;
};

// The main window with a system shown, the events its list announces heard.
class ListForScreenReaders : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        std::filesystem::create_directories(appDir + "/cdl");
        WriteFileBytes(appDir + "/cdl/a.cdl",
                       "Arcade\r\nGame Name\tCountry\tGID\r\n"
                       "Zelda\tUSA\tG1\r\nAlpha\tJapan\tG2\r\nBeta\tEurope\tG3\r\n");
        form = std::make_unique<TForm1>(appDir);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        form->cbo_SysList->setFocus();
        QTest::keyClick(form->cbo_SysList, Qt::Key_Down);
        ASSERT_NE(form->CurSys, nullptr);
        grid = form->acg_GameList;
        previous = SetAccessibleEventHook([this](QAccessibleEvent &event) {
            QAccessible::State changed;
            if (event.type() == QAccessible::StateChanged)
                changed = static_cast<QAccessibleStateChangeEvent &>(event).changedStates();
            heard.push_back({ event.type(), event.accessibleInterface(), changed });
        });
    }
    void TearDown() override { SetAccessibleEventHook(previous); }

    static QString Name(QWidget *widget)
    {
        return QAccessible::queryAccessibleInterface(widget)->text(QAccessible::Name);
    }

    QTemporaryDir m_dir;
    std::string appDir = m_dir.path().toStdString();
    std::unique_ptr<TForm1> form;
    TAdvColumnGrid *grid = nullptr;
    AccessibleEventHook previous;
    std::vector<Heard> heard;
};

} // namespace

TEST_F(ListForScreenReaders, TheListReadsAsATable)
{
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(grid);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->role(), QAccessible::Table);
    EXPECT_EQ(list->text(QAccessible::Name), "Games");
    QAccessibleTableInterface *table = list->tableInterface();
    ASSERT_NE(table, nullptr);
    // The hidden GID column is not shown, so it is not read either.
    EXPECT_EQ(table->rowCount(), 3);
    EXPECT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->columnDescription(0), "Have");
    EXPECT_EQ(table->columnDescription(2), "Country");
    EXPECT_EQ(table->cellAt(1, 1)->text(QAccessible::Name), "Alpha");
    EXPECT_EQ(table->cellAt(2, 2)->text(QAccessible::Name), "Europe");
    EXPECT_EQ(table->cellAt(3, 0), nullptr);

    QAccessibleInterface *cell = table->cellAt(1, 2);
    QAccessibleTableCellInterface *place = cell->tableCellInterface();
    ASSERT_NE(place, nullptr);
    EXPECT_EQ(place->rowIndex(), 1);
    EXPECT_EQ(place->columnIndex(), 2);
    ASSERT_EQ(place->columnHeaderCells().size(), 1);
    EXPECT_EQ(place->columnHeaderCells()[0]->text(QAccessible::Name), "Country");
    EXPECT_EQ(cell->parent(), list);
    EXPECT_EQ(list->child(list->indexOfChild(cell)), cell);
    EXPECT_EQ(list->childCount(), 3 + 3 * 3); // the headers, then the cells
    const QRect rect = cell->rect();
    EXPECT_EQ(list->childAt(rect.center().x(), rect.center().y()), cell);

    EXPECT_FALSE(cell->state().checkable);
    EXPECT_TRUE(cell->actionInterface()->actionNames().isEmpty());
    QAccessibleInterface *box = table->cellAt(0, 0);
    EXPECT_TRUE(box->state().checkable);
    EXPECT_FALSE(box->state().checked);
    // The name a screen reader looks for before it reads a cell's check state.
    EXPECT_EQ(box->actionInterface()->actionNames(), QStringList { "toggle" });
}

TEST_F(ListForScreenReaders, TheCurrentCellIsTheFocusAndItsMovesAreAnnounced)
{
    QAccessibleTableInterface *table
        = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(1, 1).center());
    ASSERT_TRUE(grid->hasFocus());
    heard.clear();
    QTest::keyClick(grid, Qt::Key_Down);
    QAccessibleInterface *current = table->cellAt(1, 1);
    // As a table view tells it: the new cell selected, the old one not, the
    // focus on the new one.
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].type, QAccessible::SelectionAdd);
    EXPECT_EQ(heard[0].iface, current);
    EXPECT_EQ(heard[1].type, QAccessible::SelectionRemove);
    EXPECT_EQ(heard[1].iface, table->cellAt(0, 1));
    EXPECT_FALSE(heard[1].iface->state().selected);
    EXPECT_EQ(heard[2].type, QAccessible::Focus);
    EXPECT_EQ(heard[2].iface, current);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(grid)->focusChild(), current);
    EXPECT_TRUE(current->state().focused);
    EXPECT_TRUE(current->state().selected);
    EXPECT_EQ(table->selectedCells(), QList<QAccessibleInterface *> { current });
    EXPECT_FALSE(table->cellAt(0, 1)->state().focused);
}

TEST_F(ListForScreenReaders, ACheckBoxToggledBySpaceOrByItsActionIsAnnounced)
{
    QAccessibleTableInterface *table
        = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    QAccessibleInterface *box = table->cellAt(1, 0);
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Down); // the current cell is Alpha's box
    heard.clear();
    ASSERT_FALSE(box->state().checked);
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_TRUE(box->state().checked);
    // The new state, then the new count as a notification of the status bar.
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[0].type, QAccessible::StateChanged);
    EXPECT_EQ(heard[0].iface, box);
    EXPECT_TRUE(heard[0].changed.checked);
    EXPECT_EQ(heard[1].type, QAccessible::ObjectShow);
    QAccessibleInterface *notice = heard[1].iface;
    EXPECT_EQ(notice->role(), QAccessible::Notification);
    EXPECT_EQ(notice->parent(), QAccessible::queryAccessibleInterface(form->StatusBar1));
    EXPECT_EQ(form->StatusText(), "You Have 1 of 3 known Arcade Games");
    EXPECT_EQ(notice->text(QAccessible::Name), form->StatusText());
    auto *shown = qobject_cast<QWidget *>(notice->object());
    ASSERT_NE(shown, nullptr);
    EXPECT_FALSE(shown->isVisible()) << "the notification is never on screen";

    // The toggle action does what a click does, the count included.
    box->actionInterface()->doAction("toggle");
    EXPECT_FALSE(box->state().checked);
    ASSERT_EQ(heard.size(), 4u);
    EXPECT_EQ(heard[3].iface, notice) << "one notification, its text renewed";
    EXPECT_EQ(form->StatusText(), "You Have 0 of 3 known Arcade Games");
    EXPECT_EQ(notice->text(QAccessible::Name), form->StatusText());
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_TRUE(box->state().checked);

    // A click announces the count once, though two events report it.
    heard.clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(0, 3).center());
    EXPECT_EQ(std::count_if(heard.begin(), heard.end(),
                            [](const Heard &h) { return h.type == QAccessible::ObjectShow; }),
              1);
    EXPECT_EQ(notice->text(QAccessible::Name), "You Have 2 of 3 known Arcade Games");
}

TEST_F(ListForScreenReaders, ASortIsAnnouncedAndTheCellsReadTheirNewRows)
{
    QAccessibleTableInterface *table
        = QAccessible::queryAccessibleInterface(grid)->tableInterface();
    ASSERT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), "Zelda");
    heard.clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->CellRect(2, 0).center()); // Country
    ASSERT_FALSE(heard.empty());
    EXPECT_EQ(heard.back().type, QAccessible::TableModelChanged);
    EXPECT_EQ(table->cellAt(0, 1)->text(QAccessible::Name), "Beta");
}

// The selector keeps the keyboard while another system loads: no cell of
// the list that the load replaces ever has the focus.
TEST_F(ListForScreenReaders, ChoosingAnotherSystemFocusesNoCell)
{
    WriteFileBytes(appDir + "/cdl/b.cdl", "Board\r\nGame Name\tGID\r\nGo\tB1\r\n");
    form = std::make_unique<TForm1>(appDir);
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->cbo_SysList->setFocus();
    QTest::keyClick(form->cbo_SysList, Qt::Key_Down);
    grid = form->acg_GameList;
    ASSERT_TRUE(grid->isVisible());
    std::vector<QWidget *> focused;
    QObject watching;
    QObject::connect(qApp, &QApplication::focusChanged, &watching,
                     [&](QWidget *, QWidget *now) { focused.push_back(now); });
    heard.clear();
    QTest::keyClick(form->cbo_SysList, Qt::Key_Down);
    EXPECT_EQ(form->CurSys->Name, "Board");
    EXPECT_TRUE(std::find(focused.begin(), focused.end(), grid) == focused.end());
    for (const Heard &h : heard)
        EXPECT_NE(h.type, QAccessible::Focus);
    EXPECT_TRUE(form->cbo_SysList->hasFocus());
    EXPECT_EQ(grid->focusPolicy(), Qt::StrongFocus) << "Tab reaches the list again";
}

TEST_F(ListForScreenReaders, TheControlsAroundTheListHaveNames)
{
    EXPECT_EQ(Name(form->sb_SaveHave), "Save the list of games you have");
    EXPECT_EQ(Name(form->sb_SaveMiss), "Save the list of games you miss");
    EXPECT_EQ(Name(form->sb_Update), "Update the game databases");
    EXPECT_EQ(Name(form->sb_About), "Open the web site");
    EXPECT_EQ(form->cbo_SysList->accessibleName(), "System");
    EXPECT_EQ(
        QAccessible::queryAccessibleInterface(form->cbo_SysList)->text(QAccessible::Description),
        "The system whose games are listed");
    EXPECT_EQ(Name(form->StatusBar1), "Status");
}

namespace {

// The real program on an X server and a session bus of its own, read over
// AT-SPI by tests/support/screen_reader.py; its output when a check fails.
void RunScreenReaderScript(const QStringList &options, const QStringList &tools)
{
    for (const QString &tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << "needs " << tool.toStdString() << " (scripts/deps.sh test installs it)";
    QProcess probe;
    probe.start("/usr/bin/python3", { "-c", "import gi; gi.require_version('Atspi', '2.0')" });
    if (!probe.waitForFinished(20000) || probe.exitCode() != 0)
        GTEST_SKIP()
            << "needs python3-gi and gir1.2-atspi-2.0 (scripts/deps.sh test installs them)";

    QTemporaryDir work;
    ASSERT_TRUE(work.isValid());
    QProcess run;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.remove("AT_SPI_BUS_ADDRESS");
    env.remove("QT_QPA_PLATFORM");
    // The accessibility bus puts its socket in the runtime folder: a private
    // one keeps two of these runs (ctest -j2) off each other's bus.
    const QString runtime = work.filePath("runtime");
    ASSERT_TRUE(QDir().mkdir(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    env.insert("XDG_RUNTIME_DIR", runtime);
    run.setProcessEnvironment(env);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start("dbus-run-session",
              QStringList { "--", "/usr/bin/python3", TIRMO_TEST_DIR "/support/screen_reader.py",
                            TIRMO_BINARY_DIR "/app/tirmo", work.path() }
                  + options);
    ASSERT_TRUE(run.waitForFinished(100000)) << run.readAll().toStdString();
    const std::string output = run.readAll().toStdString();
    EXPECT_EQ(run.exitCode(), 0) << output;
    EXPECT_EQ(output.find("FAIL:"), std::string::npos) << output;
}

} // namespace

// The Have cell's check state before and after Space, the selection moving
// on Down, nothing gone after a switch of system, the shortcuts' dialogs.
TEST(ScreenReader, ReadsTheListOverAtSpi)
{
    RunScreenReaderScript({}, { "dbus-run-session", "Xvfb", "xdotool" });
}

// What Orca itself says, from its debug log with speech off.
TEST(ScreenReader, OrcaSaysWhetherAGameIsTicked)
{
    RunScreenReaderScript({ "--orca" }, { "dbus-run-session", "Xvfb", "xdotool", "orca" });
}
