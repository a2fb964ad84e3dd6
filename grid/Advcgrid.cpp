#include "grid/Advcgrid.h"

#include "platform/AnsiText.h"

TGridColumnItem::TGridColumnItem(TAdvColumnGrid *grid, int index)
    : m_grid(grid), m_index(index), m_color(grid->palette().color(QPalette::Base)),
      m_font(grid->font()), m_width(grid->ColWidths(index))
{
    PrintFont = m_font;
}

void TGridColumnItem::SetAlignment(TAlignment value)
{
    m_alignment = value;
    m_grid->InvalidateGrid();
}

void TGridColumnItem::SetColor(const QColor &value)
{
    m_color = value;
    m_grid->InvalidateGrid();
}

void TGridColumnItem::SetFixed(bool value)
{
    m_fixed = value;
    m_grid->InvalidateGrid();
}

void TGridColumnItem::SetFont(const QFont &value)
{
    m_font = value;
    m_grid->InvalidateGrid();
}

void TGridColumnItem::SetHeader(const QString &value)
{
    m_header = value;
    if (m_grid->FixedRows() > 0)
        m_grid->SetCells(m_grid->RemapCol(m_index), 0, FromDisplay(value));
}

void TGridColumnItem::SetWidth(int value)
{
    m_width = value;
    if (m_index < m_grid->ColCount())
        m_grid->SetColWidths(m_index, value);
}

QString TGridColumnItem::SortPrefixText() const
{
    return ToDisplay(SortPrefix);
}

void TGridColumnItem::SetSortPrefixText(const QString &value)
{
    SortPrefix = FromDisplay(value);
}

QString TGridColumnItem::SortSuffixText() const
{
    return ToDisplay(SortSuffix);
}

void TGridColumnItem::SetSortSuffixText(const QString &value)
{
    SortSuffix = FromDisplay(value);
}

TGridColumnItem *TGridColumnCollection::Items(int index) const
{
    if (index < 0 || index >= Count())
        throw ERangeError("Column item index out of range: " + std::to_string(index));
    return m_items[size_t(index)].get();
}

TGridColumnItem *TGridColumnCollection::Add()
{
    m_items.push_back(std::make_unique<TGridColumnItem>(m_grid, Count()));
    return m_items.back().get();
}

void TGridColumnCollection::Delete(int index)
{
    Items(index);
    m_items.erase(m_items.begin() + index);
    for (int i = index; i < Count(); ++i)
        m_items[size_t(i)]->m_index = i;
}

void TGridColumnCollection::Resize(int count)
{
    while (Count() < count)
        Add();
    while (Count() > count && Count() > 0)
        m_items.pop_back();
}

TAdvColumnGrid::TAdvColumnGrid(QWidget *parent) : TAdvStringGrid(parent), m_columns(this)
{
    m_columns.Resize(ColCount());
}

TAdvColumnGrid::~TAdvColumnGrid() = default;

void TAdvColumnGrid::SetColCount(int value)
{
    TStringGrid::SetColCount(value);
    m_columns.Resize(ColCount());
}

TGridColumnItem *TAdvColumnGrid::ItemFor(int col) const
{
    return col >= 0 && col < m_columns.Count() ? m_columns.Items(col) : nullptr;
}

bool TAdvColumnGrid::IsFixedCell(int col, int row) const
{
    const TGridColumnItem *item = ItemFor(col);
    return TAdvStringGrid::IsFixedCell(col, row) || (item && item->Fixed());
}

void TAdvColumnGrid::GetCellReadOnly(int col, int row, bool &canEdit)
{
    if (const TGridColumnItem *item = ItemFor(col);
        item && col >= FixedCols() && row >= FixedRows())
        canEdit = !item->ReadOnly && !item->Fixed();
    TAdvStringGrid::GetCellReadOnly(col, row, canEdit);
}

Qt::Alignment TAdvColumnGrid::GetCellAlignment(int col, int row)
{
    Qt::Alignment alignment = Qt::AlignLeft;
    if (const TGridColumnItem *item = ItemFor(col)) {
        switch (item->Alignment()) {
        case TGridColumnItem::taLeftJustify:
            alignment = Qt::AlignLeft;
            break;
        case TGridColumnItem::taRightJustify:
            alignment = Qt::AlignRight;
            break;
        case TGridColumnItem::taCenter:
            alignment = Qt::AlignHCenter;
            break;
        }
    }
    if (OnGetAlignment)
        OnGetAlignment(this, row, col, alignment);
    return alignment;
}

void TAdvColumnGrid::GetCellColor(int col, int row, TGridDrawState state, QColor &brush,
                                  QFont &font)
{
    if (const TGridColumnItem *item = ItemFor(col);
        item && !(state & gdFixed) && row >= FixedRows()) {
        brush = item->Fixed() ? FixedColor() : item->Color();
        font = item->Font();
    }
    TAdvStringGrid::GetCellColor(col, row, state, brush, font);
}

void TAdvColumnGrid::GetColumnFormat(int col, TSortStyle &style, std::string &prefix,
                                     std::string &suffix)
{
    if (const TGridColumnItem *item = ItemFor(col); item && col >= GetFixedColsEx()) {
        style = item->SortStyle;
        suffix = item->SortSuffix;
        prefix = item->SortPrefix;
    }
}

void TAdvColumnGrid::ColumnWidthsCopied()
{
    for (int i = 0; i < std::min(m_columns.Count(), ColCount()); ++i)
        m_columns.Items(i)->m_width = ColWidths(i);
}
