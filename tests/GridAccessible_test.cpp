#include "app/Unit1.h"
#include "grid/GridAccessible.h"
#include "tests/support/TestSupport.h"

#include <QAccessible>
#include <QLabel>
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
    EXPECT_EQ(box->actionInterface()->actionNames(),
              QStringList { QAccessibleActionInterface::toggleAction() });
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
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].type, QAccessible::Focus);
    EXPECT_EQ(heard[0].iface, current);
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
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0].type, QAccessible::StateChanged);
    EXPECT_EQ(heard[0].iface, box);
    EXPECT_TRUE(heard[0].changed.checked);
    EXPECT_EQ(form->StatusText(), "You Have 1 of 3 known Arcade Games");

    // The toggle action does what a click does, the count included.
    box->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_FALSE(box->state().checked);
    EXPECT_EQ(heard.size(), 2u);
    EXPECT_EQ(form->StatusText(), "You Have 0 of 3 known Arcade Games");
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
