#include "platform/Exceptions.h"
#include "platform/StringGrid.h"

#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

class PlainGrid : public ::testing::Test {
protected:
    void SetUp() override
    {
        grid.resize(300, 200);
        grid.SetDefaultRowHeight(20);
        grid.SetDefaultColWidth(50);
        grid.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    }
    TStringGrid grid;
};

} // namespace

TEST_F(PlainGrid, CountsNeverBelowOneAndLowerTheFixedCounts)
{
    EXPECT_EQ(grid.FixedRows(), 1);
    grid.SetRowCount(1);
    EXPECT_EQ(grid.RowCount(), 1);
    EXPECT_EQ(grid.FixedRows(), 0);
    grid.SetRowCount(0);
    EXPECT_EQ(grid.RowCount(), 1);
    grid.SetColCount(1);
    EXPECT_EQ(grid.FixedCols(), 0);
    EXPECT_THROW(grid.SetFixedRows(1), ERangeError);
    EXPECT_THROW(grid.SetColWidths(1, 10), ERangeError);
    EXPECT_EQ(grid.ColWidths(5), grid.DefaultColWidth());
}

TEST_F(PlainGrid, CellRectAndMouseCoordAgree)
{
    grid.SetColCount(4);
    grid.SetRowCount(4);
    grid.SetColWidths(1, 80);
    EXPECT_EQ(grid.CellRect(0, 0), QRect(0, 0, 50, 20));
    EXPECT_EQ(grid.CellRect(1, 1), QRect(51, 21, 80, 20));
    EXPECT_EQ(grid.CellRect(2, 3), QRect(132, 63, 50, 20));
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r) {
            const QRect rect = grid.CellRect(c, r);
            EXPECT_EQ(grid.MouseCoord(rect.left(), rect.top()), QPoint(c, r));
            // The grid line right of and below a cell belongs to it.
            EXPECT_EQ(grid.MouseCoord(rect.right() + 1, rect.bottom() + 1), QPoint(c, r));
        }
    EXPECT_EQ(grid.MouseCoord(299, 199), QPoint(-1, -1));
}

TEST_F(PlainGrid, ScrollsByRowsAndKeepsTheCurrentRowInView)
{
    grid.SetColCount(2);
    grid.SetRowCount(100000);
    EXPECT_GT(grid.verticalScrollBar()->maximum(), 99000);
    grid.FocusCell(1, 50000);
    const QRect rect = grid.CellRect(1, 50000);
    ASSERT_FALSE(rect.isEmpty());
    EXPECT_LE(rect.bottom(), grid.ClientHeight());
    EXPECT_TRUE(grid.CellRect(1, 1).isEmpty()); // scrolled out
    EXPECT_EQ(grid.CellRect(1, 0).top(), 0); // the fixed row stays
    grid.setFocus();
    QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
    EXPECT_EQ(grid.Row(), 99999);
    EXPECT_FALSE(grid.CellRect(1, 99999).isEmpty());
    grid.verticalScrollBar()->setValue(0);
    EXPECT_EQ(grid.TopRow(), 1);
}

TEST_F(PlainGrid, ColsAndRowsAreAssignableLists)
{
    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetCells(0, 0, "a");
    grid.SetCells(0, 2, "c");
    grid.SetCols(2, grid.Cols(0));
    EXPECT_EQ(grid.Cells(2, 0), "a");
    EXPECT_EQ(grid.Cells(2, 2), "c");
    grid.SetRows(1, grid.Rows(0));
    EXPECT_EQ(grid.Cells(0, 1), "a");
    EXPECT_EQ(grid.Cells(2, 1), "a");
}

TEST(CellStore, RowsExchangeAndTextsPackPerRow)
{
    TCellStore store;
    store.SetText(2, 0, "two");
    store.SetText(0, 0, "zero");
    store.SetTexts(1, 1, { "b", "", "d" });
    EXPECT_EQ(store.Text(0, 0), "zero");
    EXPECT_EQ(store.Text(1, 0), "");
    EXPECT_EQ(store.Text(2, 0), "two");
    EXPECT_EQ(store.Text(3, 1), "d");
    TObject object;
    store.SetObject(5, 1, &object);
    store.SwapRows(0, 1);
    EXPECT_EQ(store.Text(3, 0), "d");
    EXPECT_EQ(store.Object(5, 0), &object);
    EXPECT_EQ(store.Text(2, 1), "two");
    EXPECT_EQ(store.Text(7, 9), "");
    store.SetText(0, 1, store.Text(2, 1)); // from the row itself
    EXPECT_EQ(store.Text(0, 1), "two");
    store.SetObject(5, 0, nullptr);
    EXPECT_EQ(store.Object(5, 0), nullptr);
}

// Enough rows for the texts to fill several chunks, freed in an order that
// empties some chunks while others still hold rows, edited, and filled again.
TEST(CellStore, TextsSurviveTheirBlocksBeingFreedAndTheSpaceReused)
{
    constexpr int kRows = 20000;
    const auto text = [](int row, int col, int round) {
        return std::to_string(round) + ":" + std::to_string(row) + "/" + std::to_string(col)
            + std::string(size_t(row % 97), char('a' + col));
    };
    TCellStore store;
    const auto fill = [&](int first, int last, int round) {
        for (int r = first; r < last; ++r) {
            const std::string a = text(r, 0, round), b = text(r, 1, round), c = text(r, 2, round);
            store.SetTexts(r, 0, { a, b, c });
        }
    };
    const auto expectRows = [&](int first, int last, int round) {
        for (int r = first; r < last; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(store.Text(c, r), text(r, c, round)) << "row " << r << " column " << c;
    };

    fill(0, kRows, 0);
    // Blocks too large to share a chunk, among the shared ones.
    const std::string large(40 * 1024, 'L'), huge(300 * 1024, 'H');
    store.SetText(100, 5, large);
    store.SetText(100, 6, huge);
    EXPECT_EQ(store.Text(100, 5), large);
    EXPECT_EQ(store.Text(100, 6), huge);
    store.ClearTexts(5, 100, 100);
    store.ClearTexts(6, 100, 100);
    expectRows(0, kRows, 0);

    // The first half goes, last row first: its chunks empty while the
    // second half keeps its own.
    for (int r = kRows / 2 - 1; r >= 0; --r)
        store.ClearTexts(r, 0, 2);
    EXPECT_EQ(store.Text(1, 0), "");
    expectRows(kRows / 2, kRows, 0);
    // Every other row of the second half is rewritten.
    for (int r = kRows / 2; r < kRows; r += 2)
        store.SetText(1, r, "edited");
    for (int r = kRows / 2; r < kRows; r += 2)
        ASSERT_EQ(store.Text(1, r), "edited");
    EXPECT_EQ(store.Text(1, kRows / 2 + 1), text(kRows / 2 + 1, 1, 0));

    // All rows go, the sorted way (scattered), and come back with new texts.
    for (int r = 0; r < kRows; ++r)
        store.ClearTexts((r * 7919) % kRows, 0, 2);
    fill(0, kRows, 1);
    expectRows(0, kRows, 1);
    store.CopyRowRefs(kRows, 3);
    EXPECT_EQ(store.Text(2, kRows), text(3, 2, 1));
    store.ForgetRow(kRows);
}
