// The game list's grid: loading, cells and columns, check boxes, column
// layout, header clicks, drawing and the typed goto. Its sort is tested in
// GridSort_test.cpp.

#include "tests/support/GameGridFixture.h"

#include <QFontMetrics>
#include <QPixmap>

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
// Header clicks, the sort indicator and the typed goto

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
