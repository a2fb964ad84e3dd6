#pragma once

// Which of the grid's real columns are hidden, and the mapping between
// display and real column indices that follows from it. The first 256 real
// columns can be hidden; a hidden column keeps the width it had, for when it
// is shown again.

#include <array>
#include <cstddef>
#include <cstdint>

class THiddenColumns {
public:
    static constexpr int kMax = 256;

    THiddenColumns() { m_visible.fill(true); }

    int Count() const { return m_count; }
    bool IsHidden(int realCol) const
    {
        return realCol >= 0 && realCol < kMax && !m_visible[size_t(realCol)];
    }
    // The real index of a display column of the `shownCols` shown.
    int Real(int displayCol, int shownCols) const;
    // The display index of a real column.
    int Display(int realCol) const;
    // Marks a shown column (below kMax) hidden, keeping its width.
    void Hide(int realCol, int width);
    // Marks a hidden column shown; its width when it was hidden.
    int Unhide(int realCol);

private:
    std::array<bool, kMax> m_visible;
    std::array<uint16_t, kMax> m_widths {};
    int m_count = 0;
};
