#include "grid/Advcgrid.h"
#include "ui_Unit1.h"

#include <QMainWindow>

#include <gtest/gtest.h>

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
    EXPECT_EQ(grid->Options(), TStringGrid::goFixedVertLine | TStringGrid::goFixedHorzLine | TStringGrid::goVertLine |
                                   TStringGrid::goHorzLine | TStringGrid::goColSizing);
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
