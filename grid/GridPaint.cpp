// Drawing the grid's cells (see GridPaint.h).

#include "grid/GridPaint.h"

#include "grid/Advutil.h"
#include "platform/AnsiText.h"

#include <QStyleOption>

#include <algorithm>
#include <string>

bool TGridPainter::ShowsSortIndicator(int col, int row) const
{
    const TAdvStringGrid &g = m_grid;
    return g.m_sortShow && row == 0 && g.RowCount() > 2 && g.GetFixedRowsEx() > 0
        && g.RemapCol(col) == g.m_sortColumn && (col >= g.FixedCols() || g.m_sortFixedCols);
}

void TGridPainter::DrawCheckBox(const QRect &rect, const TCellGraphic &graphic, bool checked,
                                Qt::Alignment alignment)
{
    TAdvStringGrid &g = m_grid;
    int top = rect.top() + 1;
    if (graphic.CellVAlign == vaBottom)
        top = rect.bottom() + 1 - 1 - TAdvStringGrid::kCheckBoxSize;
    else if (graphic.CellVAlign == vaCenter && rect.height() > TAdvStringGrid::kCheckBoxSize)
        top = rect.top() + (rect.height() - TAdvStringGrid::kCheckBoxSize) / 2;
    int left = rect.left() + 1;
    if (alignment & Qt::AlignHCenter)
        left = rect.left() + (rect.width() - TAdvStringGrid::kCheckBoxSize) / 2;
    else if (alignment & Qt::AlignRight)
        left = rect.left() + rect.width() - 1 - TAdvStringGrid::kCheckBoxSize;
    left = std::max(left, rect.left() + 1);
    QStyleOptionButton option;
    option.initFrom(&g);
    option.rect = QRect(left, top, TAdvStringGrid::kCheckBoxSize, TAdvStringGrid::kCheckBoxSize);
    option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    g.style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &m_painter, &g);
}

void TGridPainter::DrawSortIndicator(const QRect &rect, int textWidth, Qt::Alignment alignment)
{
    TAdvStringGrid &g = m_grid;
    int x = rect.left() + textWidth + 10;
    if (alignment & Qt::AlignRight)
        x = rect.left() + rect.width() - textWidth - 14;
    else if (alignment & Qt::AlignHCenter)
        x = rect.left() + 8;
    int y = rect.top() + 8;
    if (g.m_vAlignment == TAdvStringGrid::vtaBottom)
        y = rect.top() + rect.height() - 8;
    else if (g.m_vAlignment == TAdvStringGrid::vtaCenter)
        y = rect.top() + rect.height() / 2;
    if (!g.SortUpGlyph.isNull() && !g.SortDownGlyph.isNull()) {
        m_painter.drawPixmap(x - 4, y - 4,
                             g.m_sortDirection == TAdvStringGrid::sdAscending ? g.SortUpGlyph
                                                                              : g.SortDownGlyph);
        return;
    }
    // The style's header arrow, as a header view draws it: a triangle that
    // reads on the header's face at every scale. On this desktop an arrow
    // up is the style's SortUp.
    QStyleOptionHeader option;
    option.initFrom(&g);
    // Centred on the indicator's place across, on the text's line down: the
    // style's arrow is taller than the old outline and would be cut off.
    option.rect = QRect(x - 7, rect.top(), 14, std::max(2 * (y - rect.top()) + 4, 16));
    option.sortIndicator = g.m_sortDirection == TAdvStringGrid::sdAscending
        ? QStyleOptionHeader::SortUp
        : QStyleOptionHeader::SortDown;
    g.style()->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &m_painter, &g);
}

void TGridPainter::DrawFixedCell(int col, int row, const QRect &rect)
{
    TAdvStringGrid &g = m_grid;
    QColor brush = g.FixedColor();
    QFont font = g.m_fixedFont;
    g.GetCellColor(col, row, TAdvStringGrid::gdFixed, brush, font);
    if (g.Ctl3D()) {
        QStyleOptionHeader option;
        option.initFrom(&g);
        option.rect = rect;
        option.palette.setColor(QPalette::Button, brush);
        option.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        option.state
            |= g.m_pressedCell == QPoint(col, row) ? QStyle::State_Sunken : QStyle::State_Raised;
        g.style()->drawControl(QStyle::CE_HeaderSection, &option, &m_painter, &g);
    } else {
        m_painter.fillRect(rect, brush);
    }
    const int real = g.RemapCol(col);
    std::string_view text = g.Store().Text(real, row);
    std::string plain;
    if (g.m_enableHTML && IsHTML(text)) {
        plain = StripHTML(text);
        text = plain;
    }
    const Qt::Alignment alignment = g.GetCellAlignment(col, row);
    const bool indicator = ShowsSortIndicator(col, row);
    QRect textRect = rect.adjusted(2, 2, -2, 0);
    if (indicator)
        textRect.setWidth(std::max(0, rect.width() - 14));
    m_painter.setFont(font);
    m_painter.setPen(g.palette().color(QPalette::ButtonText));
    QRect drawn;
    m_painter.drawText(textRect, int(alignment | Qt::AlignTop), ToDisplay(std::string(text)),
                       &drawn);
    if (indicator)
        DrawSortIndicator(rect, text.empty() ? 0 : drawn.width(), alignment);
}

void TGridPainter::DrawCell(int col, int row, const QRect &rect,
                            TAdvStringGrid::TGridDrawState state)
{
    TAdvStringGrid &g = m_grid;
    if (state & TAdvStringGrid::gdFixed) {
        DrawFixedCell(col, row, rect);
        return;
    }
    const int real = g.RemapCol(col);
    QColor brush = g.palette().color(QPalette::Base);
    QColor pen = g.palette().color(QPalette::Text);
    if (g.m_bands && row % 2 == 1)
        brush = g.palette().color(QPalette::AlternateBase);
    if (state & TAdvStringGrid::gdSelected) {
        brush = g.m_selectionColor;
        pen = g.m_selectionTextColor;
    }
    QFont font = g.font();
    g.GetCellColor(col, row, state, brush, font);
    m_painter.fillRect(rect, brush);
    const Qt::Alignment alignment = g.GetCellAlignment(col, row);
    QRect textRect = rect.adjusted(2, 2, -2, 0);
    if (g.HasCheckBox(real, row)) {
        const TCellGraphic &graphic = *g.CellGraphic(real, row);
        const bool checked = graphic.CellType == ctCheckBox
            ? graphic.CellBoolean
            : g.Store().Text(real, row) == g.CheckTrueText;
        DrawCheckBox(rect, graphic, checked, alignment);
        if (graphic.CellType == ctDataCheckBox)
            return; // its text is its state
        textRect.setLeft(rect.left() + 1 + TAdvStringGrid::kCheckBoxSize + 2);
    }
    if (!g.Store().Text(real, row).empty()) {
        m_painter.setFont(font);
        m_painter.setPen(pen);
        m_painter.drawText(textRect, int(alignment | Qt::AlignTop), g.ShownText(col, row));
    }
    // The keyboard's place shows while the grid has the focus; the
    // selection rectangle shows the selection always.
    if ((state & TAdvStringGrid::gdFocused)
        || ((state & TAdvStringGrid::gdSelected) && g.m_selectionRectangle)) {
        QStyleOptionFocusRect option;
        option.initFrom(&g);
        option.rect = rect;
        g.style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &m_painter, &g);
    }
}
