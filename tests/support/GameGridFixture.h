#pragma once

// The fixture of the grid's tests: the program's game list in its form as
// designed, filled as the main window fills it, and a few games to fill it with.

#include "grid/Advcgrid.h"
#include "tests/support/GameGrid.h"
#include "tests/support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

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

inline const char kGames[] = "Game Name\tCountry\tGID\r\n"
                             "Zelda\tUS\tG1\r\n"
                             "Alpha\tJP\tG2\r\n"
                             "1942\tEU\tG3\r\n"
                             "zeta\tUS\tG4\r\n"
                             "Beta\tJP\tG5\r\n";

// The texts of a column below the header row.
inline std::vector<std::string> Column(const TAdvColumnGrid &grid, int col)
{
    std::vector<std::string> texts;
    for (int r = 1; r < grid.RowCount(); ++r)
        texts.push_back(grid.Cells(col, r));
    return texts;
}
