#include "grid/Advcgrid.h"
#include "grid/Advutil.h"
#include "tests/support/GameGrid.h"
#include "tests/support/TestSupport.h"

#include <QFontMetrics>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

// The program's game list, in its form as designed.
class GameGrid : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_form.Window()));
    }

    std::string Path(const std::string &name) const
    {
        return m_dir.filePath(QString::fromStdString(name)).toStdString();
    }

    std::string Write(const std::string &name, const std::string &bytes)
    {
        WriteFileBytes(Path(name), bytes);
        return Path(name);
    }

    int FindColumn(const std::string &name) const
    {
        for (int c = 0; c <= grid->ColCount(); ++c)
            if (grid->Cells(c, 0) == name)
                return c;
        return -1;
    }

    // The calls the main window makes to fill the list.
    void LoadGameList(const std::string &bytes)
    {
        const std::string path = Write("list.cdl", bytes);
        grid->UnhideColumnsAll();
        grid->Clear();
        grid->RemoveCols(0, grid->ColCount() - 1);
        grid->CSVDelimiter = '\t';
        grid->LoadFromCSV(path);
        grid->InsertCols(0, 1);
        grid->HideColumn(FindColumn("GID"));
        for (int r = 1; r < grid->RowCount(); ++r)
            grid->AddCheckBox(0, r, false, false);
        grid->SetCells(0, 0, "Have");
        grid->SetAutoSize(true);
    }

    QPoint Inside(int col, int row, int dx = -1) const
    {
        const QRect rect = grid->CellRect(col, row);
        return dx < 0 ? rect.center() : QPoint(rect.left() + dx, rect.center().y());
    }

    QTemporaryDir m_dir;
    TDesignedForm m_form;
    TAdvColumnGrid *grid = &m_form.GameList();
};

const char kGames[] = "Game Name\tCountry\tGID\r\n"
                      "Zelda\tUS\tG1\r\n"
                      "Alpha\tJP\tG2\r\n"
                      "1942\tEU\tG3\r\n"
                      "zeta\tUS\tG4\r\n"
                      "Beta\tJP\tG5\r\n";

} // namespace

// ---------------------------------------------------------------------------
// Loading

TEST_F(GameGrid, LoadsTheListWithCheckBoxesAndHiddenKey)
{
    LoadGameList(kGames);
    EXPECT_EQ(grid->RowCount(), 6);
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->NumHiddenColumns(), 1);
    EXPECT_TRUE(grid->IsHiddenColumn(3));
    EXPECT_EQ(grid->Cells(0, 0), "Have");
    EXPECT_EQ(grid->Cells(1, 0), "Game Name");
    EXPECT_EQ(grid->Cells(1, 1), "Zelda");
    EXPECT_EQ(grid->Cells(grid->ColCount(), 3), "G3"); // the hidden key, read at its real index
    EXPECT_FALSE(grid->HasCheckBox(0, 0));
    for (int r = 1; r < grid->RowCount(); ++r) {
        bool state = true;
        ASSERT_TRUE(grid->GetCheckBoxState(0, r, state));
        EXPECT_FALSE(state);
        EXPECT_EQ(grid->Cells(0, r), "");
    }
}

TEST_F(GameGrid, DelimiterIsDetectedForTheLoadAndRestored)
{
    grid->CSVDelimiter = '\0';
    grid->LoadFromCSV(Write("semi.csv", "a;b;c\r\n1;2;3\r\n"));
    EXPECT_EQ(grid->Cells(2, 1), "3");
    EXPECT_EQ(grid->CSVDelimiter, '\0');
    grid->CSVDelimiter = '\t';
    grid->LoadFromCSV(Write("tab.csv", "a,b\tc\r\n"));
    EXPECT_EQ(grid->Cells(0, 0), "a,b");
    EXPECT_EQ(grid->CSVDelimiter, '\t');
}

TEST_F(GameGrid, LfOnlyFileIsOneLineAndFixedRowStaysLowered)
{
    grid->CSVDelimiter = '\t';
    grid->LoadFromCSV(Write("lf.csv", "Name\tGID\nZelda\tG1\n"));
    EXPECT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(grid->FixedRows(), 0);
    EXPECT_EQ(grid->Cells(0, 0), "Name");
    EXPECT_EQ(grid->Cells(1, 0), "GID\r\nZelda");
    EXPECT_EQ(grid->Cells(2, 0), "G1\r\n");
    // Nothing raises the fixed row again.
    grid->LoadFromCSV(Write("crlf.csv", "Name\tGID\r\nZelda\tG1\r\n"));
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->FixedRows(), 0);
}

TEST_F(GameGrid, EmptyFileAndCtrlZ)
{
    grid->CSVDelimiter = '\t';
    grid->LoadFromCSV(Write("empty.csv", ""));
    EXPECT_EQ(grid->RowCount(), 1);
    EXPECT_EQ(grid->FixedRows(), 0);
    grid->LoadFromCSV(Write("z.csv",
                            "a\r\nb\x1a"
                            "c\r\nd\r\n"));
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->Cells(0, 1), "b");
}

TEST_F(GameGrid, MissingFileRaisesBeforeAnyChange)
{
    LoadGameList(kGames);
    const std::string missing = Path("nope.cdl");
    try {
        grid->LoadFromCSV(missing);
        FAIL() << "no exception";
    } catch (const EAdvGridError &e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file " + missing);
    }
    EXPECT_EQ(grid->RowCount(), 6);
    EXPECT_EQ(grid->Cells(1, 1), "Zelda");
}

TEST_F(GameGrid, ShorterListAfterLongerOverwritesFieldByField)
{
    grid->CSVDelimiter = ',';
    grid->LoadFromCSV(Write("long.csv", "h1,h2,h3\r\na,b,c\r\nd,e,f\r\ng,h,i\r\n"));
    EXPECT_EQ(grid->ColCount(), 3);
    grid->LoadFromCSV(Write("short.csv", "x\r\ny,z\r\n"));
    EXPECT_EQ(grid->RowCount(), 2);
    EXPECT_EQ(grid->ColCount(), 3); // loading never lowers it
    EXPECT_EQ(grid->Cells(0, 0), "x");
    EXPECT_EQ(grid->Cells(1, 0), "h2");
    EXPECT_EQ(grid->Cells(1, 1), "z");
    EXPECT_EQ(grid->Cells(2, 1), "c");
    // Rows cut from view keep their entries.
    EXPECT_EQ(grid->Cells(0, 3), "g");
}

TEST_F(GameGrid, FixedCellsOutsideFilesInsertAndProgress)
{
    grid->SetColCount(2);
    grid->SetRowCount(3);
    grid->SetFixedRows(1);
    grid->SetCells(0, 0, "head");
    grid->FixedCellsInFiles = false;
    grid->CSVDelimiter = ',';
    std::vector<short> progress;
    grid->OnFileProgress = [&](QObject *sender, short percent) {
        EXPECT_EQ(sender, grid);
        progress.push_back(percent);
    };
    grid->LoadFromCSV(Write("three.csv", "a\r\nb\r\nc\r\n"));
    EXPECT_EQ(grid->Cells(0, 0), "head");
    EXPECT_EQ(grid->Cells(0, 1), "a");
    EXPECT_EQ(grid->RowCount(), 4);
    EXPECT_EQ(progress, (std::vector<short> { 33, 67, 100 }));
    grid->InsertFromCSV(Write("more.csv", "d\r\ne\r\n"));
    EXPECT_EQ(grid->RowCount(), 6);
    EXPECT_EQ(grid->Cells(0, 4), "d");
    EXPECT_EQ(grid->Cells(0, 5), "e");
}

// ---------------------------------------------------------------------------
// Cell store and columns

TEST_F(GameGrid, EntriesOutliveCountsAndNegativeIndicesAreRefused)
{
    grid->SetColCount(4);
    grid->SetRowCount(4);
    grid->SetCells(3, 3, "kept");
    grid->SetColCount(2);
    grid->SetRowCount(2);
    EXPECT_EQ(grid->Cells(3, 3), "kept");
    grid->SetColCount(4);
    grid->SetRowCount(4);
    EXPECT_EQ(grid->Cells(3, 3), "kept");
    EXPECT_THROW(grid->Cells(-1, 0), ERangeError);
    EXPECT_THROW(grid->SetCells(0, -1, "x"), ERangeError);
    EXPECT_THROW(grid->AddCheckBox(-1, 1, false, false), ERangeError);
    EXPECT_THROW(grid->ClearRect(-1, 0, 1, 1), ERangeError);
    EXPECT_THROW(grid->RemoveCols(-1, 1), ERangeError);
    EXPECT_THROW(grid->InsertCols(0, -1), ERangeError);
}

TEST_F(GameGrid, RemapBetweenDisplayAndRealColumns)
{
    grid->SetColCount(4);
    grid->HideColumn(1);
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->RemapCol(0), 0);
    EXPECT_EQ(grid->RemapCol(1), 2);
    EXPECT_EQ(grid->RemapCol(2), 3);
    EXPECT_EQ(grid->RemapColInv(2), 1);
    EXPECT_EQ(grid->RemapColInv(3), 2);
    EXPECT_EQ(grid->RemapCol(300), 300);
    EXPECT_FALSE(grid->IsHiddenColumn(300));
}

TEST_F(GameGrid, HidingOutsideTheColumnsDoesNothing)
{
    grid->SetColCount(3);
    for (int c : { -1, 3, 256, 1000 })
        grid->HideColumn(c);
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->NumHiddenColumns(), 0);
    grid->HideColumn(0);
    grid->HideColumn(0); // already hidden
    grid->HideColumn(1);
    grid->HideColumn(2); // the last visible column stays
    EXPECT_EQ(grid->ColCount(), 1);
    EXPECT_EQ(grid->NumHiddenColumns(), 2);
    grid->UnhideColumn(2); // visible: nothing
    grid->UnhideColumn(-5);
    EXPECT_EQ(grid->NumHiddenColumns(), 2);
}

TEST_F(GameGrid, ClearEmptiesHiddenColumnsAndFreesCheckBoxes)
{
    LoadGameList(kGames);
    grid->AddCheckBox(3, 1, true, false); // in the hidden column
    grid->Clear();
    EXPECT_EQ(grid->Cells(3, 2), "");
    EXPECT_EQ(grid->Cells(1, 1), "");
    EXPECT_EQ(grid->Objects(3, 1), nullptr);
    EXPECT_EQ(grid->Objects(0, 1), nullptr);
    EXPECT_TRUE(grid->IsHiddenColumn(3));
    EXPECT_EQ(grid->RowCount(), 6);
}

TEST_F(GameGrid, InsertAndRemoveColumnsMoveCellsObjectsAndWidths)
{
    grid->SetColCount(3);
    grid->SetRowCount(3);
    grid->SetColumnSizeStretch(false);
    for (int c = 0; c < 3; ++c) {
        grid->SetCells(c, 1, "c" + std::to_string(c));
        grid->SetColWidths(c, 30 + c);
    }
    grid->AddCheckBox(1, 2, true, false);
    grid->InsertCols(1, 1);
    EXPECT_EQ(grid->ColCount(), 4);
    EXPECT_EQ(grid->Cells(1, 1), "");
    EXPECT_EQ(grid->Cells(2, 1), "c1");
    EXPECT_EQ(grid->Cells(3, 1), "c2");
    EXPECT_EQ(grid->Objects(1, 2), nullptr);
    EXPECT_TRUE(grid->HasCheckBox(2, 2));
    EXPECT_EQ(grid->ColWidths(1), grid->DefaultColWidth());
    EXPECT_EQ(grid->ColWidths(2), 31);
    grid->RemoveCols(1, 1);
    EXPECT_EQ(grid->ColCount(), 3);
    EXPECT_EQ(grid->Cells(1, 1), "c1");
    EXPECT_TRUE(grid->HasCheckBox(1, 2));
    EXPECT_EQ(grid->ColWidths(1), 31);
    grid->RemoveCols(0, 2);
    EXPECT_EQ(grid->ColCount(), 1);
    EXPECT_EQ(grid->Cells(0, 1), "c2");
    // The box went with its column: no cell holds it twice.
    int boxes = 0;
    for (int c = 0; c < 4; ++c)
        boxes += grid->Objects(c, 2) != nullptr;
    EXPECT_EQ(boxes, 0);
}

// ---------------------------------------------------------------------------
// Check boxes

TEST_F(GameGrid, CheckBoxApi)
{
    grid->SetColCount(3);
    grid->SetRowCount(3);
    bool state = true;
    EXPECT_FALSE(grid->GetCheckBoxState(1, 1, state));
    EXPECT_TRUE(state); // untouched
    EXPECT_FALSE(grid->SetCheckBoxState(1, 1, true));
    EXPECT_FALSE(grid->ToggleCheckBox(1, 1));

    grid->AddCheckBox(1, 1, false, false);
    EXPECT_TRUE(grid->SetCheckBoxState(1, 1, true));
    EXPECT_TRUE(grid->SetCheckBoxState(1, 1, true)); // sets, does not toggle
    ASSERT_TRUE(grid->GetCheckBoxState(1, 1, state));
    EXPECT_TRUE(state);
    EXPECT_TRUE(grid->ToggleCheckBox(1, 1));
    grid->GetCheckBoxState(1, 1, state);
    EXPECT_FALSE(state);

    grid->SetCells(2, 1, "maybe");
    grid->AddCheckBox(2, 1, false, true);
    EXPECT_EQ(grid->Cells(2, 1), "maybe");
    grid->GetCheckBoxState(2, 1, state);
    EXPECT_FALSE(state);
    grid->ToggleCheckBox(2, 1);
    EXPECT_EQ(grid->Cells(2, 1), "Y");
    grid->SetCheckBoxState(2, 1, false);
    EXPECT_EQ(grid->Cells(2, 1), "N");

    grid->SetEnableGraphics(false);
    EXPECT_FALSE(grid->HasCheckBox(1, 1));
    EXPECT_FALSE(grid->GetCheckBoxState(1, 1, state));
    grid->SetEnableGraphics(true);
    grid->RemoveCheckBox(1, 1);
    EXPECT_FALSE(grid->HasCheckBox(1, 1));
}

TEST_F(GameGrid, MouseClicksToggleAnywhereInTheCellAndReportInOrder)
{
    LoadGameList(kGames);
    std::vector<std::string> events;
    grid->OnCheckBoxClick = [&](QObject *, int c, int r, bool s) {
        events.push_back("click " + std::to_string(c) + "," + std::to_string(r) + ","
                         + std::to_string(s));
    };
    grid->OnCheckBoxMouseUp = [&](QObject *, int c, int r, bool s) {
        events.push_back("up " + std::to_string(c) + "," + std::to_string(r) + ","
                         + std::to_string(s));
    };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 2, grid->ColWidths(0) - 3));
    EXPECT_EQ(events, (std::vector<std::string> { "click 0,2,1", "up 0,2,1" }));
    bool state = false;
    grid->GetCheckBoxState(0, 2, state);
    EXPECT_TRUE(state);
    // The header never toggles and reports nothing.
    events.clear();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 0));
    EXPECT_TRUE(events.empty());
    // A cell of a column without a settings item is not editable.
    grid->AddCheckBox(1, 3, false, false);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 3));
    EXPECT_EQ(events, (std::vector<std::string> { "up 1,3,0" }));
}

TEST_F(GameGrid, SpaceBarTogglesTheCurrentCell)
{
    LoadGameList(kGames);
    std::vector<std::pair<int, bool>> clicks;
    grid->OnCheckBoxClick = [&](QObject *, int, int r, bool s) { clicks.emplace_back(r, s); };
    grid->setFocus();
    grid->FocusCell(0, 4);
    QTest::keyClick(grid, Qt::Key_Space);
    bool state = false;
    grid->GetCheckBoxState(0, 4, state);
    EXPECT_TRUE(state);
    grid->FocusCell(1, 4); // no box here
    QTest::keyClick(grid, Qt::Key_Space);
    EXPECT_EQ(clicks, (std::vector<std::pair<int, bool>> { { 4, true } }));
}

TEST_F(GameGrid, ReadOnlyColumnBlocksTheUserButNotTheProgram)
{
    LoadGameList(kGames);
    grid->Columns()[0]->ReadOnly = true;
    std::vector<bool> ups;
    int clicks = 0;
    grid->OnCheckBoxClick = [&](QObject *, int, int, bool) { ++clicks; };
    grid->OnCheckBoxMouseUp = [&](QObject *, int, int, bool s) { ups.push_back(s); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 1));
    grid->FocusCell(0, 1);
    QTest::keyClick(grid, Qt::Key_Space);
    bool state = true;
    grid->GetCheckBoxState(0, 1, state);
    EXPECT_FALSE(state);
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(ups, std::vector<bool> { false });
    EXPECT_TRUE(grid->SetCheckBoxState(0, 1, true));
    grid->GetCheckBoxState(0, 1, state);
    EXPECT_TRUE(state);
    // The event can forbid what the column allows.
    grid->Columns()[0]->ReadOnly = false;
    grid->OnCanEditCell = [](QObject *, int row, int, bool &canEdit) { canEdit = row != 2; };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 2));
    grid->GetCheckBoxState(0, 2, state);
    EXPECT_FALSE(state);
}

// ---------------------------------------------------------------------------
// Column layout

namespace {

int Widest(const TAdvColumnGrid &grid, int col, const QFont &font, const QFont &fixedFont)
{
    int widest = 0;
    for (int r = 0; r < grid.RowCount(); ++r) {
        const QFontMetrics metrics(r == 0 ? fixedFont : font);
        widest = std::max(widest,
                          metrics.horizontalAdvance(QString::fromStdString(grid.Cells(col, r))));
    }
    return widest;
}

} // namespace

TEST_F(GameGrid, WidthsAfterLoadFollowContentAndStretchTheLastColumn)
{
    LoadGameList(kGames);
    const QFont font = grid->font();
    const int have = std::max(QFontMetrics(grid->FixedFont()).horizontalAdvance("Have"), 15) + 14;
    EXPECT_EQ(grid->ColWidths(0), have);
    EXPECT_EQ(grid->ColWidths(1), Widest(*grid, 1, font, grid->FixedFont()) + 14);
    EXPECT_EQ(grid->ColWidths(0) + 1 + grid->ColWidths(1) + 1 + grid->ColWidths(2) + 1,
              grid->ClientWidth());

    // Wider than the window: the last column keeps content + 14.
    LoadGameList("Game Name\tCountry\tGID\r\n" + std::string(120, 'W')
                 + "\tUnited States\tG1\r\nA\tB\tG2\r\nC\tD\tG3\r\n");
    EXPECT_GT(grid->ColWidths(1), grid->ClientWidth());
    EXPECT_EQ(grid->ColWidths(2), Widest(*grid, 2, font, grid->FixedFont()) + 14);

    // A single column fills the client width exactly.
    grid->SetColCount(1);
    EXPECT_EQ(grid->ColWidths(0), grid->ClientWidth());
}

TEST_F(GameGrid, WidestTextMatchesMeasuringEveryCell)
{
    grid->SetColumnSizeStretch(false);
    grid->SetColCount(2);
    grid->SetRowCount(3000);
    unsigned seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    const std::string letters = "AVWTfiflrtjyLOQ.,-'i1 ";
    for (int r = 0; r < grid->RowCount(); ++r) {
        std::string s;
        const int length = 5 + int(next() % 40);
        for (int i = 0; i < length; ++i)
            s += letters[(next() >> 8) % letters.size()];
        grid->SetCells(1, r, s);
    }
    grid->SetCells(1, 5, "caf\xc3\xa9 \xe2\x80\x94 long line\r\nshort");
    grid->AutoSizeCol(1);
    EXPECT_EQ(grid->ColWidths(1), Widest(*grid, 1, grid->font(), grid->FixedFont()) + 4);
}

TEST_F(GameGrid, HideAndUnhideKeepWidthsAndCells)
{
    LoadGameList(kGames);
    grid->SetColumnSizeStretch(false);
    const int nameWidth = grid->ColWidths(1);
    const int countryWidth = grid->ColWidths(2);
    grid->HideColumn(1);
    EXPECT_EQ(grid->ColCount(), 2);
    EXPECT_EQ(grid->ColWidths(1), countryWidth);
    EXPECT_EQ(grid->Cells(1, 1), "Zelda");
    grid->UnhideColumnsAll();
    EXPECT_EQ(grid->ColCount(), 4);
    EXPECT_EQ(grid->ColWidths(1), nameWidth);
    EXPECT_EQ(grid->ColWidths(2), countryWidth);
    EXPECT_EQ(grid->Cells(3, 1), "G1");
}

TEST_F(GameGrid, DoubleClickOnAHeaderBorderSizesWithoutSorting)
{
    LoadGameList(kGames);
    grid->SetColWidths(1, 200);
    int sorts = 0;
    grid->OnClickSort = [&](QObject *, int) { ++sorts; };
    const QRect name = grid->CellRect(1, 0);
    const QPoint border(name.left() + name.width() - 1, name.center().y());
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, border);
    EXPECT_EQ(grid->ColWidths(1), Widest(*grid, 1, grid->font(), grid->FixedFont()) + 4);
    // Just right of the border: the column before is sized.
    grid->SetColWidths(1, 200);
    const QPoint after(grid->CellRect(2, 0).left() + 1, name.center().y());
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, after);
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, after);
    EXPECT_EQ(grid->ColWidths(1), Widest(*grid, 1, grid->font(), grid->FixedFont()) + 4);
    EXPECT_EQ(sorts, 0);
    EXPECT_EQ(grid->Cells(1, 1), "Zelda");
}

TEST_F(GameGrid, DraggingABorderResizesAndDoesNotSort)
{
    LoadGameList(kGames);
    int sorts = 0;
    grid->OnClickSort = [&](QObject *, int) { ++sorts; };
    const QRect name = grid->CellRect(1, 0);
    const QPoint border(name.left() + name.width(), name.center().y());
    const int before = grid->ColWidths(1);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, border);
    QTest::mouseMove(grid->viewport(), border + QPoint(30, 0));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, border + QPoint(30, 0));
    EXPECT_EQ(grid->ColWidths(1), before + 30);
    EXPECT_EQ(grid->Columns().Count(), 1);
    EXPECT_EQ(grid->Columns()[0]->Width(), grid->ColWidths(0));
    EXPECT_EQ(sorts, 0);
}

// ---------------------------------------------------------------------------
// Sorting and the typed goto

namespace {

std::vector<std::string> Column(const TAdvColumnGrid &grid, int col)
{
    std::vector<std::string> texts;
    for (int r = 1; r < grid.RowCount(); ++r)
        texts.push_back(grid.Cells(col, r));
    return texts;
}

} // namespace

TEST_F(GameGrid, HeaderClicksSortAscendingThenDescending)
{
    LoadGameList(kGames);
    std::vector<int> sorted;
    grid->OnClickSort = [&](QObject *, int col) { sorted.push_back(col); };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    EXPECT_EQ(grid->SortColumn(), 2);
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdAscending);
    EXPECT_EQ(Column(*grid, 2), (std::vector<std::string> { "EU", "JP", "JP", "US", "US" }));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdDescending);
    EXPECT_EQ(Column(*grid, 2), (std::vector<std::string> { "US", "US", "JP", "JP", "EU" }));
    EXPECT_EQ(sorted, (std::vector<int> { 2, 2 }));
    EXPECT_GT(LastSortCounts(*grid).compares, 0);
    EXPECT_EQ(grid->RowCount(), 6); // the scratch rows are gone
}

// The sort indicator is a triangle on the header's face, at scale 1 and 2:
// its dark rows widen downward when it points up (ascending) and narrow when
// it points down.
TEST_F(GameGrid, SortIndicatorIsATrianglePointingTheSortsWay)
{
    LoadGameList(kGames);
    const QRect header = grid->CellRect(1, 0);
    const int x
        = header.left() + QFontMetrics(grid->FixedFont()).horizontalAdvance("Game Name") + 10;
    for (const qreal scale : { 1.0, 2.0 }) {
        for (const auto direction : { TAdvStringGrid::sdAscending, TAdvStringGrid::sdDescending }) {
            grid->SetSortDirection(direction);
            QPixmap shot(grid->viewport()->size() * scale);
            shot.setDevicePixelRatio(scale);
            grid->viewport()->render(&shot);
            const QImage image = shot.toImage();
            const int face = qGray(
                image.pixel(int((header.right() - 3) * scale), int((header.top() + 4) * scale)));
            std::vector<int> widths;
            for (int py = int(header.top() * scale); py < int(header.bottom() * scale); ++py) {
                int dark = 0;
                for (int px = int((x - 6) * scale); px < int((header.right() - 1) * scale); ++px)
                    dark += qGray(image.pixel(px, py)) < face - 60;
                if (dark > 0)
                    widths.push_back(dark);
            }
            const std::string what = (direction == TAdvStringGrid::sdAscending ? "up" : "down")
                + std::string(" at scale ") + std::to_string(int(scale));
            // Whole: it starts and ends in a point, its widest row in its
            // lower half pointing up, in its upper half pointing down.
            ASSERT_GE(widths.size(), size_t(3 * scale)) << what;
            const size_t widest
                = size_t(std::max_element(widths.begin(), widths.end()) - widths.begin());
            const bool up = widest * 2 >= widths.size();
            EXPECT_EQ(up, direction == TAdvStringGrid::sdAscending) << what;
            EXPECT_LE(std::min(widths.front(), widths.back()) * 3, widths[widest]) << what;
        }
    }
}

TEST_F(GameGrid, ClickOnTheInitialSortColumnSortsDescending)
{
    LoadGameList(kGames);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdDescending);
    // A numeric first cell compares as a number and finds every text equal,
    // so with "1942" among the names the order holds no promise.
    std::vector<std::string> names = Column(*grid, 1);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> { "1942", "Alpha", "Beta", "Zelda", "zeta" }));
    // Text alone sorts by character codes.
    LoadGameList(
        "Game "
        "Name\tCountry\tGID\r\nZelda\tUS\tG1\r\nAlpha\tJP\tG2\r\nzeta\tUS\tG4\r\nBeta\tJP\tG5\r\n");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdAscending);
    EXPECT_EQ(Column(*grid, 1), (std::vector<std::string> { "Alpha", "Beta", "Zelda", "zeta" }));
}

TEST_F(GameGrid, ClicksThatDoNotSort)
{
    LoadGameList(kGames);
    int sorts = 0;
    grid->OnClickSort = [&](QObject *, int) { ++sorts; };
    const QRect country = grid->CellRect(2, 0);
    // Released in the sizing zone, just inside the left border.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      QPoint(country.left() + 2, country.center().y()));
    // Pressed on a data row, released on the header.
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, Inside(2, 3));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    // Vetoed by the event.
    grid->OnCanSort = [](QObject *, int col, bool &doSort) { doSort = col != 2; };
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    EXPECT_EQ(sorts, 0);
    EXPECT_EQ(grid->Cells(2, 1), "US");
    // One game only: nothing to sort.
    grid->OnCanSort = nullptr;
    LoadGameList("Game Name\tCountry\tGID\r\nZelda\tUS\tG1\r\n");
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    EXPECT_EQ(sorts, 0);
    // A press on one header released on another sorts by the second.
    LoadGameList(kGames);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    EXPECT_EQ(sorts, 1);
    EXPECT_EQ(grid->SortColumn(), 2);
}

TEST_F(GameGrid, RowsKeepTheirCheckBoxStatesAndHiddenKeys)
{
    std::string bytes = "Game Name\tCountry\tGID\r\n";
    unsigned seed = 7;
    auto next = [&] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; i < 400; ++i) {
        const char *countries[] = { "US", "JP", "EU" };
        bytes += std::string(1, char('A' + (next() >> 8) % 26)) + std::to_string((next() >> 8) % 50)
            + "\t" + countries[(next() >> 8) % 3] + "\tG" + std::to_string(i) + "\r\n";
    }
    LoadGameList(bytes);
    for (int r = 1; r < grid->RowCount(); r += 3)
        grid->SetCheckBoxState(0, r, true);
    auto pairs = [&] {
        std::set<std::pair<std::string, bool>> set;
        for (int r = 1; r < grid->RowCount(); ++r) {
            bool state = false;
            EXPECT_TRUE(grid->GetCheckBoxState(0, r, state));
            set.emplace(grid->Cells(grid->ColCount(), r), state);
        }
        return set;
    };
    const auto before = pairs();
    for (int col : { 1, 1, 2, 0 }) {
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(col, 0));
        EXPECT_EQ(pairs(), before) << "after sorting column " << col;
    }
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(2, 0));
    const std::vector<std::string> countries = Column(*grid, 2);
    EXPECT_TRUE(std::is_sorted(countries.begin(), countries.end()));
}

TEST_F(GameGrid, ACheckBoxColumnSortsTickedFirstThenByNameKeepingTiesInOrder)
{
    LoadGameList("Game Name\tCountry\tGID\r\n"
                 "Myst\tUS\tG1\r\nAlpha\tJP\tG2\r\nMyst\tJP\tG3\r\nBeta\tEU\tG4\r\n"
                 "Alpha\tEU\tG5\r\nmyst\tUS\tG6\r\nBeta\tUS\tG7\r\n");
    for (int r : { 1, 3, 4, 6 })
        grid->SetCheckBoxState(0, r, true);
    const int gid = grid->ColCount();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 0));
    EXPECT_EQ(grid->SortColumn(), 0);
    EXPECT_EQ(Column(*grid, gid),
              (std::vector<std::string> { "G4", "G1", "G3", "G6", "G2", "G5", "G7" }));
    // Missing first; within each group still by name, ties in their order.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(0, 0));
    EXPECT_EQ(grid->SortDirection(), TAdvStringGrid::sdDescending);
    EXPECT_EQ(Column(*grid, gid),
              (std::vector<std::string> { "G2", "G5", "G7", "G4", "G1", "G3", "G6" }));
    for (int r = 1; r <= 3; ++r) {
        bool state = true;
        EXPECT_TRUE(grid->GetCheckBoxState(0, r, state) && !state) << r;
    }
    EXPECT_EQ(grid->RowCount(), 8);
}

// Check boxes of all grids share one pool: a list cleared after a sort frees
// its boxes in scattered order while another grid keeps its own, and the
// next list takes the freed places.
TEST_F(GameGrid, CheckBoxesSurviveScatteredClearsBesideAnotherGrid)
{
    TAdvStringGrid other;
    other.SetRowCount(301);
    for (int r = 1; r < 301; ++r)
        other.AddCheckBox(0, r, r % 2 == 0, false);
    std::string bytes = "Game Name\tCountry\tGID\r\n";
    for (int i = 0; i < 20000; ++i)
        bytes += "Game " + std::to_string((i * 7919) % 20000) + "\tUS\tG" + std::to_string(i)
            + "\r\n";
    for (int round = 0; round < 2; ++round) {
        LoadGameList(bytes);
        for (int r = 1; r < grid->RowCount(); ++r) {
            bool state = true;
            ASSERT_TRUE(grid->GetCheckBoxState(0, r, state));
            ASSERT_FALSE(state) << "row " << r;
        }
        for (int r = 1; r < grid->RowCount(); r += 3)
            grid->SetCheckBoxState(0, r, true);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
        int ticked = 0;
        for (int r = 1; r < grid->RowCount(); ++r) {
            bool state = false;
            grid->GetCheckBoxState(0, r, state);
            ticked += state;
        }
        EXPECT_EQ(ticked, 6667);
    }
    grid->RemoveCheckBox(0, 1);
    grid->Clear();
    for (int r = 1; r < 301; ++r) {
        bool state = false;
        ASSERT_TRUE(other.GetCheckBoxState(0, r, state));
        EXPECT_EQ(state, r % 2 == 0) << "row " << r;
    }
}

// Sorting keeps the first bytes of each text at hand; the order must still be
// the bytes' own where texts agree that far, end there, or carry 8-bit bytes.
TEST_F(GameGrid, TextsSortAsTheirBytesWhereverTheyDiffer)
{
    const std::string head(32, 'K');
    const std::vector<std::string> names = {
        head + "q",
        head + "b",
        head + "z",
        head,
        head + "a",
        head + "m",
        head + "a",
        head.substr(0, 31),
        head.substr(0, 8) + "\xe9t\xe9",
        head.substr(0, 8) + "et",
        head.substr(0, 16) + "Z" + head,
        head.substr(0, 16) + "Z",
        "Q",
        "Q",
        "\xc3\x89t\xc3\xa9",
        "Ete",
        "K",
    };
    std::string bytes = "Game Name\tCountry\tGID\r\n";
    for (size_t i = 0; i < names.size(); ++i)
        bytes += names[i] + "\t" + "C" + std::to_string(names.size() - i) + "\tG"
            + std::to_string(i) + "\r\n";
    std::vector<std::string> ascending = names;
    std::sort(ascending.begin(), ascending.end()); // unsigned bytes, a prefix first
    for (bool full : { false, true }) {
        SCOPED_TRACE(full ? "ties go on to the country" : "by the name alone");
        LoadGameList(bytes);
        grid->SetSortFull(full);
        grid->SetSortColumn(0);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
        EXPECT_EQ(Column(*grid, 1), ascending);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 0));
        EXPECT_EQ(Column(*grid, 1), std::vector<std::string>(ascending.rbegin(), ascending.rend()));
        if (!full)
            continue;
        // The two "Q" rows, and the two equal long ones, by country descending.
        const std::vector<std::string> sorted = Column(*grid, 1), countries = Column(*grid, 2);
        for (size_t r = 1; r < sorted.size(); ++r) {
            if (sorted[r] == sorted[r - 1]) {
                EXPECT_GT(countries[r - 1], countries[r]) << "row " << r;
            }
        }
    }
}

TEST(SortDetection, KindOfACellText)
{
    const struct {
        const char *text;
        TTextKind kind;
    } cases[] = {
        { "1942", TTextKind::Number },   { "", TTextKind::Number },
        { "-5", TTextKind::Number },     { "12-34", TTextKind::Number },
        { "--5", TTextKind::Text },      { "1-2-3", TTextKind::Text },
        { "12,345", TTextKind::Number }, { "123,456.75", TTextKind::Number },
        { "1,234", TTextKind::Text },    { ",123", TTextKind::Text },
        { "12,34", TTextKind::Number },  { "1.2.3", TTextKind::Text },
        { "3.5", TTextKind::Number },    { "12/05/1999", TTextKind::Date },
        { "1/2", TTextKind::Date },      { "123/4", TTextKind::Text },
        { "5/", TTextKind::Text },       { "a/1", TTextKind::Text },
        { "Zelda", TTextKind::Text },    { "1942 Deluxe", TTextKind::Text },
    };
    for (const auto &c : cases)
        EXPECT_EQ(DetectTextKind(c.text, ',', '.'), c.kind) << c.text;
    EXPECT_EQ(DetectTextKind("12.345,5", '.', ','), TTextKind::Number);
    EXPECT_EQ(DetectTextKind("1.234,5", '.', ','), TTextKind::Text);
}

TEST_F(GameGrid, CompareByStyle)
{
    grid->SetColCount(3);
    grid->SetRowCount(3);
    auto cells = [&](int col, const char *a, const char *b) {
        grid->SetCells(col, 1, a);
        grid->SetCells(col, 2, b);
        return grid->Compare(col, 1, 2);
    };
    EXPECT_EQ(cells(1, "10", "9"), 1);
    EXPECT_EQ(cells(1, "", "5"), -1); // an empty cell counts as 0
    EXPECT_EQ(cells(1, "5", "Zelda"), 0); // a text partner makes it equal
    EXPECT_EQ(cells(1, "Zelda", "5"), 1); // text first: by character codes
    EXPECT_EQ(cells(1, "abc", "ABC"), 1);
    EXPECT_EQ(cells(1, "ab", "abc"), -1);
    EXPECT_EQ(cells(1, "1/2/2000", "12/1/1999"), 1);
    TAdvStringGrid::TSortStyle style = TAdvStringGrid::ssAlphaNoCase;
    grid->OnGetFormat = [&](QObject *, int, TAdvStringGrid::TSortStyle &s, std::string &,
                            std::string &) { s = style; };
    EXPECT_EQ(cells(1, "abc", "ABC"), 0);
    style = TAdvStringGrid::ssAnsiAlphaNoCase;
    EXPECT_EQ(cells(1, "apple", "Banana"), -1);
    style = TAdvStringGrid::ssShortDateEU;
    EXPECT_EQ(cells(1, "2/1/2000", "1/2/2000"), -1);
    style = TAdvStringGrid::ssShortDateUS;
    EXPECT_EQ(cells(1, "2/1/2000", "1/2/2000"), 1);
    style = TAdvStringGrid::ssHTML;
    EXPECT_EQ(cells(1, "<b>b</b>", "a"), 1);
    style = TAdvStringGrid::ssCustom;
    EXPECT_EQ(cells(1, "a", "b"), 0);
    grid->OnCustomCompare = [](QObject *, int, int, int, int &result) { result = -1; };
    EXPECT_EQ(cells(1, "a", "b"), -1);
    grid->OnGetFormat = nullptr;
    // The column's settings item: financial numbers with a prefix and suffix.
    grid->Columns()[0]->SortStyle = TAdvStringGrid::ssFinancial;
    grid->Columns()[0]->SortPrefix = "$";
    grid->Columns()[0]->SortSuffix = " net";
    EXPECT_EQ(cells(0, "$1,200 net", "$950 net"), 1);
    // A tie on the sort column goes on to the next column.
    grid->SetSortFull(true);
    grid->SetCells(2, 1, "b");
    grid->SetCells(2, 2, "a");
    EXPECT_EQ((cells(1, "x", "x"), grid->CompareLine(1, 1, 2)), 1);
}

TEST_F(GameGrid, TypingGoesToTheMatchingRow)
{
    LoadGameList(kGames);
    grid->setFocus();
    grid->FocusCell(1, 2);
    QTest::keyClicks(grid, "ze");
    EXPECT_EQ(grid->IncrementalSearchText, "ZE");
    EXPECT_EQ(grid->Row(), 1); // Zelda
    QTest::keyClick(grid, 't');
    EXPECT_EQ(grid->Row(), 4); // zeta
    QTest::keyClick(grid, 'q');
    EXPECT_EQ(grid->IncrementalSearchText, "ZETQ");
    EXPECT_EQ(grid->Row(), 4); // no match: the row stays
    QTest::keyClick(grid, Qt::Key_Backspace);
    EXPECT_EQ(grid->IncrementalSearchText, "ZET");
    EXPECT_EQ(grid->Row(), 4);
    QTest::keyClick(grid, Qt::Key_Up);
    EXPECT_EQ(grid->IncrementalSearchText, "");
    QTest::keyClick(grid, 'b');
    EXPECT_EQ(grid->Row(), 5); // Beta
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, Inside(1, 2));
    EXPECT_EQ(grid->IncrementalSearchText, "");
    // Escape reaches neither the search nor the key-press event.
    int keyPresses = 0;
    grid->OnKeyPress = [&](QObject *, char &) { ++keyPresses; };
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_EQ(keyPresses, 0);
    QTest::keyClick(grid, 'a');
    EXPECT_EQ(keyPresses, 1);
    EXPECT_EQ(grid->Row(), 2); // Alpha
}
