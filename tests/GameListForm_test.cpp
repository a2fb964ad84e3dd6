#include "app/Unit1.h"
#include "grid/Advcgrid.h"
#include "tests/support/TestSupport.h"
#include "ui_Unit1.h"

#include <QMainWindow>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

// The game list's design settings come from the form description.
TEST(GameListForm, DesignSettingsOfTheGameList)
{
    QMainWindow window;
    Ui::TForm1 form;
    form.setupUi(&window);
    TAdvColumnGrid *grid = form.acg_GameList;
    ASSERT_NE(grid, nullptr);
    EXPECT_TRUE(grid->isHidden());
    EXPECT_EQ(grid->ColCount(), 1);
    EXPECT_EQ(grid->Columns().Count(), 1);
    EXPECT_EQ(grid->FixedRows(), 1);
    EXPECT_EQ(grid->FixedCols(), 0);
    EXPECT_EQ(grid->DefaultRowHeight(), 21);
    EXPECT_EQ(grid->Options(),
              TStringGrid::goFixedVertLine | TStringGrid::goFixedHorzLine | TStringGrid::goVertLine
                  | TStringGrid::goHorzLine | TStringGrid::goColSizing);
    EXPECT_TRUE(grid->SortShow());
    EXPECT_EQ(grid->SortColumn(), 1);
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdAscending);
    EXPECT_TRUE(grid->SortAutoFormat());
    EXPECT_TRUE(grid->AutoGotoWhenSorted());
    EXPECT_TRUE(grid->AutoGotoIncremental());
    EXPECT_TRUE(grid->ColumnSizeStretch());
    EXPECT_TRUE(grid->FixedAsButtons());
    EXPECT_TRUE(grid->EnableHTML());
    EXPECT_TRUE(grid->EnableGraphics());
    EXPECT_EQ(grid->VAlignment(), TAdvStringGrid::vtaTop);
    EXPECT_FALSE(grid->Bands());
    EXPECT_EQ(grid->SelectionColor(), QColor(255, 255, 255));
    EXPECT_EQ(grid->SelectionTextColor(), QColor(0, 0, 0));
    EXPECT_EQ(grid->FixedFont().family(), "MS Sans Serif");
    // Column 0's settings item lets its check boxes toggle.
    bool canEdit = false;
    grid->SetRowCount(3);
    grid->GetCellReadOnly(0, 1, canEdit);
    EXPECT_TRUE(canEdit);
}

// ---------------------------------------------------------------------------
// The game list as a user works it in the main window.

namespace {

// A database of `games` games: "Game NNN" names, the first one far wider
// than the window, so that the list scrolls sideways.
std::string Games(const std::string &system, int games)
{
    std::string bytes = system + "\r\nGame Name\tCountry\tYear\tGID\r\n";
    for (int i = 1; i <= games; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "Game %03d", i);
        const std::string shown = i == 1
            ? name + std::string(" of a name too long to be read") + std::string(400, '.')
            : std::string(name);
        bytes += shown + "\tUSA\t1995\tG" + std::to_string(i) + "\r\n";
    }
    return bytes;
}

class GameList : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        fs::create_directories(appDir + "/cdl");
        WriteFileBytes(appDir + "/cdl/a.cdl", Games("Alpha", 200));
        WriteFileBytes(appDir + "/cdl/b.cdl", Games("Beta", 50));
        form = std::make_unique<TForm1>(appDir);
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        grid = form->acg_GameList;
    }

    // Picks a system with the keyboard, as a user can.
    void Choose(const QString &name)
    {
        form->cbo_SysList->setFocus();
        const int index = form->cbo_SysList->findText(name);
        ASSERT_GE(index, 0);
        while (form->cbo_SysList->currentIndex() != index)
            QTest::keyClick(form->cbo_SysList,
                            form->cbo_SysList->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
        ASSERT_EQ(form->CurSys ? form->CurSys->Name : "", name.toStdString());
    }

    void Wheel(int notches)
    {
        const QPoint at = grid->viewport()->rect().center();
        QWheelEvent event(at, grid->viewport()->mapToGlobal(at), {}, { 0, -120 * notches },
                          Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QApplication::sendEvent(grid->viewport(), &event);
    }

    void Click(int col, int row)
    {
        ASSERT_FALSE(grid->CellRect(col, row).isEmpty()) << col << ", " << row << " not in view";
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->CellRect(col, row).center());
    }

    bool InView(int col, int row) const { return !grid->CellRect(col, row).isEmpty(); }

    std::vector<std::string> Column(int col) const
    {
        std::vector<std::string> texts;
        for (int r = 1; r < grid->RowCount(); ++r)
            texts.push_back(grid->Cells(col, r));
        return texts;
    }

    QTemporaryDir m_dir;
    std::string appDir = m_dir.path().toStdString();
    std::unique_ptr<TForm1> form;
    TAdvColumnGrid *grid = nullptr;
};

} // namespace

TEST_F(GameList, MovingTheCurrentCellScrollsOnlyAsFarAsItNeeds)
{
    Choose("Alpha");
    struct Case {
        Qt::Key key;
        int col, row; // the current cell after the key
    } cases[] = { { Qt::Key_Home, 0, 20 },
                  { Qt::Key_Left, 0, 20 },
                  { Qt::Key_Up, 1, 19 },
                  { Qt::Key_Down, 1, 21 } };
    for (const Case &c : cases) {
        Wheel(6); // rows 1 .. 18 scrolled out
        Click(1, 20);
        const int top = grid->TopRow();
        ASSERT_GT(top, 1);
        grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
        ASSERT_FALSE(InView(1, 20)) << "the current column is scrolled out sideways";
        QTest::keyClick(grid, c.key);
        EXPECT_EQ(QPoint(grid->Col(), grid->Row()), QPoint(c.col, c.row)) << c.key;
        EXPECT_EQ(grid->TopRow(), top) << c.key;
        EXPECT_TRUE(InView(c.col, c.row)) << c.key;
        EXPECT_LE(grid->LeftCol(), c.col) << c.key;
        grid->SetTopRow(1);
    }
    // Down past the last row in view scrolls by one row only.
    grid->SetLeftCol(0);
    Click(1, 1);
    const int last = grid->VisibleRowCount();
    for (int i = 1; i < last; ++i)
        QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->TopRow(), 1);
    QTest::keyClick(grid, Qt::Key_Down);
    EXPECT_EQ(grid->TopRow(), 2);
}

TEST_F(GameList, AHeaderClickKeepsTheViewWhereItWas)
{
    Choose("Alpha");
    Wheel(10);
    const int top = grid->TopRow();
    ASSERT_GT(top, 1);
    ASSERT_EQ(grid->Row(), 1);
    Click(1, 0); // Game Name, descending: it is the initial sort column
    EXPECT_EQ(grid->Cells(1, 1), "Game 200");
    EXPECT_EQ(grid->TopRow(), top);
    EXPECT_EQ(grid->Row(), 1);
}

TEST_F(GameList, ANewlyChosenSystemStartsAtItsFirstRowAndColumn)
{
    Choose("Alpha");
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClick(grid, Qt::Key_End);
    grid->horizontalScrollBar()->setValue(grid->horizontalScrollBar()->maximum());
    ASSERT_GT(grid->TopRow(), 1);
    ASSERT_GT(grid->LeftCol(), 0);
    Choose("Beta");
    EXPECT_EQ(grid->TopRow(), 1);
    EXPECT_EQ(grid->LeftCol(), 0);
    EXPECT_EQ(QPoint(grid->Col(), grid->Row()), QPoint(0, 1));
}

namespace {

// Records where the focus rectangles are drawn.
class FocusRecorder : public QProxyStyle {
public:
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget) const override
    {
        if (element == PE_FrameFocusRect)
            rects.push_back(option->rect);
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
    mutable std::vector<QRect> rects;
};

} // namespace

TEST_F(GameList, AFocusRectangleMarksTheCurrentCellWhileTheListHasTheKeyboard)
{
    Choose("Alpha");
    FocusRecorder style;
    grid->setStyle(&style);
    const auto restore = qScopeGuard([this] { grid->setStyle(nullptr); });
    Click(1, 3);
    QTest::keyClick(grid, Qt::Key_Down);
    ASSERT_TRUE(grid->hasFocus());
    grid->grab();
    EXPECT_EQ(style.rects, std::vector<QRect> { grid->CellRect(1, 4) });

    // Elsewhere the current cell is drawn like the others, in the window colour.
    QTest::keyClick(grid, Qt::Key_Tab);
    ASSERT_FALSE(grid->hasFocus());
    style.rects.clear();
    const QImage image = grid->viewport()->grab().toImage();
    EXPECT_TRUE(style.rects.empty());
    const QRect cell = grid->CellRect(1, 4);
    EXPECT_EQ(image.pixelColor(cell.left() + 1, cell.bottom() - 1), QColor(Qt::white));
}

TEST_F(GameList, TypedGotoFindsEightBitNamesInEitherEncoding)
{
    const std::string header = "\r\nGame Name\tGID\r\n";
    WriteFileBytes(appDir + "/cdl/c.cdl",
                   "Latin" + header + "Eagle\tG1\r\nEel\tG2\r\n\xe9lan\tG3\r\nEnd\tG4\r\n");
    WriteFileBytes(appDir + "/cdl/d.cdl",
                   "Unicode" + header + "Eagle\tG1\r\nEel\tG2\r\n\xc3\xa9lan\tG3\r\nEnd\tG4\r\n");
    form = std::make_unique<TForm1>(appDir);
    form->show();
    grid = form->acg_GameList;
    for (const char *system : { "Latin", "Unicode" }) {
        Choose(system);
        Click(1, 1);
        QTest::sendKeyEvent(QTest::Click, grid, Qt::Key_Eacute, QString::fromUtf8("\xc3\xa9"), {});
        QTest::keyClick(grid, 'l');
        EXPECT_EQ(grid->Row(), 3) << system;
        QTest::keyClick(grid, Qt::Key_Backspace); // the whole character goes
        QTest::keyClick(grid, Qt::Key_Backspace);
        QTest::keyClick(grid, 'e');
        EXPECT_EQ(grid->Row(), 1) << system;
    }
}

TEST_F(GameList, HaveClicksSortByOwnership)
{
    Choose("Beta");
    for (int row : { 40, 3, 12 })
        if (grid->CellRect(0, row).isEmpty())
            grid->FocusCell(0, row), Click(0, row);
        else
            Click(0, row);
    grid->SetTopRow(1);
    Click(0, 0);
    std::vector<std::string> ticked = { "Game 003", "Game 012", "Game 040" };
    std::vector<std::string> names = Column(1);
    EXPECT_EQ(std::vector<std::string>(names.begin(), names.begin() + 3), ticked);
    EXPECT_TRUE(std::is_sorted(names.begin() + 3, names.end()));
    EXPECT_EQ(names[3], "Game 001 of a name too long to be read" + std::string(400, '.'));
    EXPECT_EQ(grid->SortColumn(), 0);
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdAscending);

    Click(0, 0);
    names = Column(1);
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdDescending);
    EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()), ticked);
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end() - 3));
    EXPECT_EQ(names.size(), 50u);

    // The ownership file lists the ticked games in the list's order.
    Choose("Alpha");
    EXPECT_EQ(ReadFileBytes(appDir + "/cdl/data/Beta.dat"), "G3\r\nG12\r\nG40\r\n");
}
