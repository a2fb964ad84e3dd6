#pragma once

// Sorting the grid's rows, as a header click asks: the quicksort over the
// rows, the order of a column of check boxes, and comparing two rows' cells
// in a sort style, with the number and date readings the styles need.

#include "grid/Advgrid.h"

#include <QtGlobal>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The work of a sort, for benchmarks and tests (LastSortCounts in
// tests/support/GameGrid.h). The program's own sorts count nothing: the
// counting sort is a separate instance of the same code.
struct TSortCounts {
    qint64 compares = 0;
    qint64 swaps = 0;
    void Compared() { ++compares; }
    void Swapped() { ++swaps; }
};

class TGridSorter {
public:
    explicit TGridSorter(TAdvStringGrid &grid) : m_grid(grid) { }

    // Sorts the rows below the fixed ones by the grid's sort column in its
    // sort direction; the current row keeps its index.
    void Sort();
    // -1, 0 or 1 as the cell of row1 in a real column sorts before, with or
    // after that of row2, in the column's sort style.
    int Compare(int col, int row1, int row2);
    // Compare, going on to the next columns on a tie when sorting full.
    int CompareLine(int col, int row1, int row2);
    // Exchanges two whole rows: cells, objects, heights and sort keys.
    void SwapRows(int row1, int row2);

    // For benchmarks and tests: whether sorts count their work, and the work
    // of the last one that did.
    void SetCounting(bool on) { m_counting = on; }
    const TSortCounts &LastCounts() const { return m_counts; }

private:
    using TSortStyle = TAdvStringGrid::TSortStyle;
    struct TNoCounts {
        void Compared() { }
        void Swapped() { }
    };

    template<typename Counts> void SortRows(Counts &counts);
    template<typename Counts> void SortByCheckBoxes(Counts &counts);
    template<typename Counts> void QuickSortRows(Counts &counts, int col, int left, int right);
    template<typename Counts> void SwapRows(Counts &counts, int row1, int row2);
    template<typename Counts> int CompareLine(Counts &counts, int col, int row1, int row2);
    template<typename Counts> int Compare(Counts &counts, int col, int row1, int row2);
    bool SortsByCheckBoxes() const;
    bool HasCompareHandlers() const;
    bool SortsByKeysOnly() const;
    void MakeSortKeys();
    void RefreshNumberFormat();

    TAdvStringGrid &m_grid;
    bool m_counting = false;
    TSortCounts m_counts;

    // The system's number separators, read once per sort.
    char m_thousandSeparator = ',';
    char m_decimalSeparator = '.';
    bool m_sorting = false;
    struct SortFormat {
        int col = -1;
        TSortStyle style = TAdvStringGrid::ssAutomatic;
        std::string prefix;
        std::string suffix;
    } m_sortFormat;
    // The sort column's text of a row, moved along with the row. Its first
    // 32 bytes are kept as four big-endian words: most comparisons end there
    // without reading the row's cells, which lie scattered through memory.
    // This holds up `sort_100000_rows_ascending_cpu` and
    // `sort_100000_rows_descending_cpu` of `scripts/bench.sh grid_sort`.
    struct SortKey {
        SortKey() = default;
        SortKey(std::string_view text, TSortStyle detected);
        int CompareBytes(const SortKey &other) const;
        uint64_t head[4] = {};
        std::string_view text;
        TSortStyle detected = TAdvStringGrid::ssAlphabetic; // the automatic style of this text
    };
    std::vector<SortKey> m_sortKeys;
};
