// The plain string grid widget: counts, cell rectangles, scrolling, and
// rows and columns as lists.

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
