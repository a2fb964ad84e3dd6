#pragma once

// Drawing the grid's cells: the header cells with the sort indicator, and the
// data cells with their check boxes, bands, selection and focus, through the
// grid's style.

#include "grid/Advgrid.h"

#include <QPainter>

class TGridPainter {
public:
    TGridPainter(TAdvStringGrid &grid, QPainter &painter) : m_grid(grid), m_painter(painter) { }

    // Draws a cell (display column) in its rectangle.
    void DrawCell(int col, int row, const QRect &rect, TAdvStringGrid::TGridDrawState state);

private:
    void DrawFixedCell(int col, int row, const QRect &rect);
    void DrawCheckBox(const QRect &rect, const TCellGraphic &graphic, bool checked,
                      Qt::Alignment alignment);
    void DrawSortIndicator(const QRect &rect, int textWidth, Qt::Alignment alignment);
    bool ShowsSortIndicator(int col, int row) const;

    TAdvStringGrid &m_grid;
    QPainter &m_painter;
};
