// The grid's sort: header clicks in both directions, rows moving whole,
// a column of check boxes, byte order past the kept key heads, and comparing
// cells in each sort style.

#include "tests/support/GameGridFixture.h"

#include <algorithm>
#include <set>

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
