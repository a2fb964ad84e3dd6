// The game list's grid: counts, emptying and moving cells, check boxes,
// column layout, the mouse and the keys, and its settings; what it hands to
// units of its own is named in Advgrid.h.

#include "grid/Advgrid.h"

#include "grid/Advutil.h"
#include "grid/CSVLoad.h"
#include "grid/CheckBoxPool.h"
#include "grid/GridAccessible.h"
#include "grid/GridPaint.h"
#include "grid/GridSort.h"
#include "grid/WidestText.h"
#include "platform/AnsiText.h"

#include <algorithm>
#include <memory>

namespace {

void CheckNotNegative(int value, const char *what)
{
    if (value < 0)
        throw ERangeError(std::string("Grid ") + what + " out of range: " + std::to_string(value));
}

} // namespace

TAdvStringGrid::TAdvStringGrid(QWidget *parent)
    : TStringGrid(parent), m_sorter(std::make_unique<TGridSorter>(*this))
{
    InstallGridAccessible();
    m_fixedFont = font();
    m_selectionColor = palette().color(QPalette::Highlight);
    m_selectionTextColor = palette().color(QPalette::HighlightedText);
}

TAdvStringGrid::~TAdvStringGrid()
{
    // The grid owns its cell graphics wherever they are.
    TCellStore &store = Store();
    for (int r = 0; r < store.StoredRows(); ++r)
        for (int c : store.ObjectCols(r))
            if (auto *graphic = dynamic_cast<TCellGraphic *>(store.Object(c, r))) {
                store.SetObject(c, r, nullptr);
                delete graphic;
            }
}

// ---------------------------------------------------------------------------
// Counts

void TAdvStringGrid::SetRowCountEx(int value)
{
    SetRowCount(value);
    if (RowCount() > 1 && m_fixedRowAlways)
        SetFixedRows(1);
}

void TAdvStringGrid::SetColCountEx(int value)
{
    SetColCount(value);
    if (ColCount() > 1 && m_fixedColAlways)
        SetFixedCols(1);
}

int TAdvStringGrid::GetFixedRowsEx() const
{
    return FixedRows() == 0 && m_fixedRowAlways ? 1 : FixedRows();
}

int TAdvStringGrid::GetFixedColsEx() const
{
    return FixedCols() == 0 && m_fixedColAlways ? 1 : FixedCols();
}

// ---------------------------------------------------------------------------
// Hidden columns (HiddenColumns.h)

int TAdvStringGrid::RemapCol(int displayCol) const
{
    return m_hidden.Real(displayCol, ColCount());
}

int TAdvStringGrid::RemapColInv(int realCol) const
{
    return m_hidden.Display(realCol);
}

bool TAdvStringGrid::IsHiddenColumn(int realCol) const
{
    return m_hidden.IsHidden(realCol);
}

void TAdvStringGrid::HideColumns(int from, int to)
{
    for (int c = from; c <= to; ++c) {
        // Indices outside the flags or past the columns in use name nothing to hide.
        if (c < 0 || c >= kMaxHidden || m_hidden.IsHidden(c) || c >= ColCount() + m_hidden.Count()
            || ColCount() < 2)
            continue;
        const int d = RemapColInv(c);
        const int width = ColWidths(d);
        for (int k = d; k <= ColCount() - 2; ++k)
            SetColWidths(k, ColWidths(k + 1));
        m_hidden.Hide(c, width);
        SetColCountEx(ColCount() - 1);
    }
    InvalidateGrid();
}

void TAdvStringGrid::UnhideColumns(int from, int to)
{
    for (int c = from; c <= to; ++c) {
        if (!m_hidden.IsHidden(c))
            continue;
        const int width = m_hidden.Unhide(c);
        SetColCountEx(ColCount() + 1);
        for (int k = ColCount() - 1; k >= RemapColInv(c + 1) && k >= 1; --k)
            SetColWidths(k, ColWidths(k - 1));
        SetColWidths(RemapColInv(c), width);
    }
    InvalidateGrid();
}

void TAdvStringGrid::UnhideColumnsAll()
{
    UnhideColumns(0, ColCount() + m_hidden.Count());
}

// ---------------------------------------------------------------------------
// Emptying and moving cells

void TAdvStringGrid::Clear()
{
    if (RowCount() >= 1 && ColCount() >= 1)
        ClearRect(0, 0, ColCount() + m_hidden.Count() - 1, RowCount() - 1);
}

bool TAdvStringGrid::FreeGraphic(TObject *object)
{
    auto *graphic = dynamic_cast<TCellGraphic *>(object);
    delete graphic;
    return graphic != nullptr;
}

void TAdvStringGrid::ClearRect(int col1, int row1, int col2, int row2)
{
    CheckNotNegative(col1, "column");
    CheckNotNegative(row1, "row");
    TCellStore &store = Store();
    const int lastRow = std::min(row2, store.StoredRows() - 1);
    // Clearing a sorted list visits rows scattered through memory.
    for (int r = row1; r <= lastRow; ++r) {
        store.Prefetch(r + kRowsAhead);
        store.ClearTexts(r, col1, col2);
        if (m_enableGraphics)
            store.ReleaseObjects(r, col1, col2, FreeGraphic);
    }
    InvalidateGrid();
}

void TAdvStringGrid::ClearCols(int col, int count)
{
    if (RowCount() < 1 || ColCount() < 1 || count < 1)
        return;
    ClearRect(col, 0, col + count - 1, RowCount() - 1);
}

void TAdvStringGrid::RemoveCols(int col, int count)
{
    CheckNotNegative(col, "column");
    CheckNotNegative(count, "column count");
    ClearCols(col, count);
    const int cols = ColCount();
    Store().MoveCols(RowCount(), col, col + count, cols - col, FreeGraphic);
    for (int k = col; k <= cols - 1; ++k)
        SetColWidths(k, ColWidths(k + count));
    SetColCountEx(cols - count);
    InvalidateGrid();
}

void TAdvStringGrid::InsertCols(int col, int count)
{
    CheckNotNegative(col, "column");
    CheckNotNegative(count, "column count");
    SetColCountEx(ColCount() + count);
    const int cols = ColCount();
    // Objects move with their cells, so the inserted columns start without any.
    Store().InsertEmptyCols(RowCount(), col, count, cols, FreeGraphic);
    for (int k = cols - 1; k >= col + count; --k)
        SetColWidths(k, ColWidths(k - count));
    for (int k = col; k < std::min(col + count, cols); ++k)
        SetColWidths(k, DefaultColWidth());
    ClearCols(col, count);
}

// ---------------------------------------------------------------------------
// CSV loading (CSVLoad.h)

void TAdvStringGrid::InputFromCSV(const std::string &fileName, bool insert)
{
    LoadCSVInto(*this, fileName, insert);
}

// ---------------------------------------------------------------------------
// Check boxes

void *TCellGraphic::operator new(size_t size)
{
    (void)size; // final: always sizeof(TCellGraphic)
    return TCheckBoxPool::Shared().Take();
}

void TCellGraphic::operator delete(void *p, size_t)
{
    if (p)
        TCheckBoxPool::Shared().Give(p);
}

TCellGraphic *TAdvStringGrid::CellGraphic(int col, int row) const
{
    return dynamic_cast<TCellGraphic *>(Objects(col, row));
}

void TAdvStringGrid::AddCheckBox(int col, int row, bool state, bool data)
{
    auto graphic = std::make_unique<TCellGraphic>();
    graphic->CellType = data ? ctDataCheckBox : ctCheckBox;
    graphic->CellBoolean = state;
    graphic->CellHAlign = haBeforeText;
    graphic->CellVAlign = m_vAlignment == vtaCenter ? vaCenter
        : m_vAlignment == vtaBottom                 ? vaBottom
                                                    : vaTop;
    TCellGraphic *old = CellGraphic(col, row);
    SetObjects(col, row, graphic.release());
    delete old;
    InvalidateCell(RemapColInv(col), row);
}

void TAdvStringGrid::RemoveCheckBox(int col, int row)
{
    if (TCellGraphic *graphic = CellGraphic(col, row)) {
        SetObjects(col, row, nullptr);
        delete graphic;
        InvalidateCell(RemapColInv(col), row);
    }
}

// The check box of a cell, or null.
const TCellGraphic *TAdvStringGrid::CheckBoxOf(int col, int row) const
{
    if (!m_enableGraphics)
        return nullptr;
    const TCellGraphic *graphic = CellGraphic(col, row);
    return graphic && (graphic->CellType == ctCheckBox || graphic->CellType == ctDataCheckBox)
        ? graphic
        : nullptr;
}

bool TAdvStringGrid::HasCheckBox(int col, int row) const
{
    return CheckBoxOf(col, row) != nullptr;
}

bool TAdvStringGrid::GetCheckBoxState(int col, int row, bool &state) const
{
    const TCellGraphic *graphic = CheckBoxOf(col, row);
    if (!graphic)
        return false;
    state = graphic->CellType == ctCheckBox ? graphic->CellBoolean
                                            : Store().Text(col, row) == CheckTrueText;
    return true;
}

bool TAdvStringGrid::SetCheckBoxState(int col, int row, bool state)
{
    if (!HasCheckBox(col, row))
        return false;
    TCellGraphic *graphic = CellGraphic(col, row);
    if (graphic->CellType == ctCheckBox) {
        graphic->CellBoolean = state;
        InvalidateCell(RemapColInv(col), row);
    } else {
        SetCells(col, row, state ? CheckTrueText : CheckFalseText);
    }
    return true;
}

bool TAdvStringGrid::ToggleCheck(int col, int row, bool checkEditable)
{
    if (!HasCheckBox(col, row))
        return false;
    if (checkEditable) {
        bool canEdit = true;
        GetCellReadOnly(col, row, canEdit);
        if (!canEdit)
            return false;
    }
    TCellGraphic *graphic = CellGraphic(col, row);
    if (graphic->CellType == ctCheckBox)
        graphic->CellBoolean = !graphic->CellBoolean;
    else
        Store().SetText(col, row,
                        Store().Text(col, row) == CheckTrueText ? CheckFalseText : CheckTrueText);
    InvalidateCell(RemapColInv(col), row);
    AnnounceCheckBoxState(*this, RemapColInv(col), row);
    return true;
}

bool TAdvStringGrid::UserToggle(int displayCol, int row)
{
    bool canEdit = bool(Options() & goEditing);
    GetCellReadOnly(displayCol, row, canEdit);
    const int real = RemapCol(displayCol);
    if (!canEdit || !HasCheckBox(real, row))
        return false;
    ToggleCheck(real, row, true);
    bool state = false;
    GetCheckBoxState(real, row, state);
    if (OnCheckBoxClick)
        OnCheckBoxClick(this, displayCol, row, state);
    return true;
}

void TAdvStringGrid::GetCellReadOnly(int col, int row, bool &canEdit)
{
    if (OnCanEditCell)
        OnCanEditCell(this, row, col, canEdit);
}

// ---------------------------------------------------------------------------
// Column layout

void TAdvStringGrid::SetAutoSize(bool value)
{
    m_autoSize = value;
    if (value)
        AutoSizeColumns(false, 10);
}

void TAdvStringGrid::AutoSizeColumns(bool doFixedCols, int extra)
{
    auto size = [&](int c) {
        AutoSizeCol(c);
        if (extra != 0)
            SetColWidths(c, ColWidths(c) + extra);
    };
    if (doFixedCols)
        for (int c = 0; c < FixedCols(); ++c)
            size(c);
    for (int c = GetFixedColsEx(); c < ColCount(); ++c)
        size(c);
}

void TAdvStringGrid::SizeToWidth(int col, bool onlyGrow)
{
    if (col < 0 || col >= ColCount())
        return;
    const int width = WidestColumnText(*this, col, RemapCol(col)) + 4;
    if (!onlyGrow || ColWidths(col) < width)
        SetColWidths(col, width);
}

void TAdvStringGrid::StretchRightColumn()
{
    if (ColCount() == 0 || !m_stretch)
        return;
    m_stretchAllowed = false;
    if (ColCount() == 1) {
        SetColWidths(0, ClientWidth());
    } else {
        int used = 0;
        for (int k = 0; k <= ColCount() - 2; ++k)
            used += ColWidths(k) + GridLineWidth();
        if (ClientWidth() > used)
            SetColWidths(ColCount() - 1, ClientWidth() - used - 1);
    }
    m_stretchAllowed = true;
}

void TAdvStringGrid::SetColumnSizeStretch(bool value)
{
    m_stretch = value;
    if (value)
        StretchRightColumn();
}

void TAdvStringGrid::ColWidthsChanged()
{
    if (m_stretchAllowed)
        StretchRightColumn();
    TStringGrid::ColWidthsChanged();
    // Only a border drag makes the release that ends it no click.
    if (ColSizingActive())
        m_colSized = true;
    ColumnWidthsCopied();
}

void TAdvStringGrid::SizeChanged(int oldColCount, int oldRowCount)
{
    TStringGrid::SizeChanged(oldColCount, oldRowCount);
    if (parentWidget())
        StretchRightColumn();
}

void TAdvStringGrid::Resized()
{
    TStringGrid::Resized();
    StretchRightColumn();
}

void TAdvStringGrid::DblClick(int x, int y)
{
    TStringGrid::DblClick(x, y);
    const QPoint cell = MouseCoord(x, y);
    if (cell.y() == 0 && (Options() & goColSizing) && cell.x() >= 0) {
        const QRect rect = CellRect(cell.x(), 0);
        if (x - rect.left() < 4) {
            m_suppressNextSort = true;
            if (cell.x() - 1 >= GetFixedColsEx()) {
                AutoSizeCol(cell.x() - 1);
                return;
            }
        }
        if (rect.left() + rect.width() - x < 4 && cell.x() >= GetFixedColsEx()) {
            m_suppressNextSort = true;
            AutoSizeCol(cell.x());
            return;
        }
    }
    if (OnDblClickCell && cell.x() >= 0)
        OnDblClickCell(this, cell.y(), cell.x());
}

// ---------------------------------------------------------------------------
// Mouse and keyboard

void TAdvStringGrid::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (button == Qt::LeftButton)
        IncrementalSearchText.clear();
    m_pressPoint = { x, y };
    const QPoint cell = MouseCoord(x, y);
    const int c = cell.x(), r = cell.y();
    if (button == Qt::LeftButton && c >= 0 && (c < FixedCols() || r < FixedRows())) {
        if (m_fixedAsButtons && (Options() & goFixedVertLine) && (Options() & goFixedHorzLine)
            && Ctl3D()) {
            m_pressedCell = cell;
            InvalidateCell(c, r);
        }
        TStringGrid::MouseDown(button, shift, x, y);
        if (OnClickCell)
            OnClickCell(this, r, c);
        return;
    }
    TStringGrid::MouseDown(button, shift, x, y);
    if (button != Qt::LeftButton || ColSizingActive())
        return;
    if (c >= 0 && c < ColCount() && r < RowCount() && c >= GetFixedColsEx()
        && r >= GetFixedRowsEx())
        UserToggle(c, r);
    if (c >= 0 && OnClickCell)
        OnClickCell(this, r, c);
}

void TAdvStringGrid::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    if (m_pressedCell.x() >= 0) {
        const QPoint pressed = m_pressedCell;
        m_pressedCell = { -1, -1 };
        InvalidateCell(pressed.x(), pressed.y());
    }
    TStringGrid::MouseUp(button, shift, x, y);
    if (m_colSized) {
        m_colSized = false;
        return;
    }
    if (button != Qt::LeftButton)
        return;
    const QPoint cell = MouseCoord(x, y);
    int c = cell.x();
    const int r = cell.y();
    if (c < 0 || r < 0 || (c < GetFixedColsEx() && !m_sortFixedCols))
        return;
    c = RemapCol(c);
    if (HasCheckBox(c, r)) {
        bool state = false;
        GetCheckBoxState(c, r, state);
        if (OnCheckBoxMouseUp)
            OnCheckBoxMouseUp(this, c, r, state);
    }
    if (m_suppressNextSort) {
        m_suppressNextSort = false;
        return;
    }
    if (r == 0 && (Options() & goColSizing)) {
        const QRect rect = CellRect(cell.x(), 0);
        if (x - rect.left() < 4 || rect.left() + rect.width() - x < 4)
            return;
    }
    const QPoint pressed = MouseCoord(m_pressPoint.x(), m_pressPoint.y());
    if (r != 0 || pressed.y() != 0)
        return;
    bool doSort = true;
    if (GetFixedRowsEx() > 0 && m_sortShow && RowCount() > 2 && OnCanSort)
        OnCanSort(this, c, doSort);
    if (GetFixedRowsEx() < 1 || !m_sortShow || RowCount() <= 2 || !doSort)
        return;
    if (c != m_sortColumn) {
        m_sortDirection = sdAscending;
        SetSortColumn(c);
    } else {
        m_sortDirection = m_sortDirection == sdAscending ? sdDescending : sdAscending;
    }
    QSort();
    if (OnClickSort)
        OnClickSort(this, m_sortColumn);
}

void TAdvStringGrid::KeyDown(int &key, Qt::KeyboardModifiers shift)
{
    if (key == Qt::Key_Space) {
        const int c = Col(), r = Row();
        bool canEdit = bool(Options() & goEditing);
        if (HasCheckBox(c, r))
            GetCellReadOnly(c, r, canEdit);
        if (canEdit && HasCheckBox(c, r)) {
            ToggleCheck(c, r, true);
            bool state = false;
            GetCheckBoxState(c, r, state);
            if (OnCheckBoxClick)
                OnCheckBoxClick(this, c, r, state);
        }
        return;
    }
    TStringGrid::KeyDown(key, shift);
}

void TAdvStringGrid::KeyPress(char &key)
{
    if (key == 27)
        return;
    if (key == '\r' && HasCheckBox(Col(), Row()))
        return; // no advance on Enter in this grid
    if (!(Options() & goEditing) && m_autoGotoWhenSorted) {
        const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
        // Typed text comes a byte at a time; a character is searched for once whole.
        const bool continues = EndsInsideCharacter(IncrementalSearchText);
        if (!m_autoGotoIncremental && !continues)
            IncrementalSearchText.clear();
        if (key == '\b' && m_autoGotoIncremental)
            DropLastCharacter(IncrementalSearchText);
        else
            IncrementalSearchText += upper(key);
        if (!EndsInsideCharacter(IncrementalSearchText)) {
            const int row = Search(IncrementalSearchText);
            if (row >= 0)
                FocusCell(Col(), row);
        }
    }
    TStringGrid::KeyPress(key);
    if (OnKeyPress)
        OnKeyPress(this, key);
}

void TAdvStringGrid::KeyUp(int &key, Qt::KeyboardModifiers shift)
{
    switch (key) {
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_End:
    case Qt::Key_Home:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Insert:
    case Qt::Key_Delete:
        IncrementalSearchText.clear();
        break;
    default:
        break;
    }
    TStringGrid::KeyUp(key, shift);
}

int TAdvStringGrid::Search(const std::string &text) const
{
    if (RowCount() < 2)
        return -1;
    const int col = m_sortShow ? m_sortColumn : 1;
    if (col < 0)
        return -1;
    // Typed beyond ASCII, the text is looked for as each cell is shown:
    // in UTF-8 where the cell is UTF-8, else in Windows-1252.
    const bool ascii = IsAscii(text);
    std::string ansi;
    const bool hasAnsi
        = !ascii && ToWindows1252(QString::fromUtf8(text.data(), qsizetype(text.size())), ansi);
    for (int r = GetFixedRowsEx(); r < RowCount(); ++r) {
        const std::string_view cell = Store().Text(col, r);
        const bool utf8 = ascii || IsUtf8(cell);
        if (!utf8 && !hasAnsi)
            continue;
        const std::string_view typed = utf8 ? std::string_view(text) : std::string_view(ansi);
        const std::string_view head = cell.substr(0, typed.size());
        if (head.size() != typed.size())
            continue;
        bool equal = true;
        for (size_t i = 0; i < head.size() && equal; ++i) {
            const char c = head[i] >= 'a' && head[i] <= 'z' ? char(head[i] - 'a' + 'A') : head[i];
            equal = c == typed[i];
        }
        if (equal)
            return r;
    }
    return -1;
}

// ---------------------------------------------------------------------------
// Sorting (GridSort.h)

void TAdvStringGrid::QSort()
{
    m_sorter->Sort();
}

int TAdvStringGrid::Compare(int col, int row1, int row2)
{
    return m_sorter->Compare(col, row1, row2);
}

int TAdvStringGrid::CompareLine(int col, int row1, int row2)
{
    return m_sorter->CompareLine(col, row1, row2);
}

void TAdvStringGrid::SortSwapRows(int row1, int row2)
{
    m_sorter->SwapRows(row1, row2);
}

void TAdvStringGrid::GetColumnFormat(int, TSortStyle &, std::string &, std::string &)
{
}

// ---------------------------------------------------------------------------
// Settings

void TAdvStringGrid::SetEnableGraphics(bool value)
{
    m_enableGraphics = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetEnableHTML(bool value)
{
    m_enableHTML = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetFixedFont(const QFont &value)
{
    m_fixedFont = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetVAlignment(TVAlignment value)
{
    m_vAlignment = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetSelectionColor(const QColor &value)
{
    m_selectionColor = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetSelectionTextColor(const QColor &value)
{
    m_selectionTextColor = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetSelectionRectangle(bool value)
{
    m_selectionRectangle = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetBands(bool value)
{
    m_bands = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetFixedAsButtons(bool value)
{
    m_fixedAsButtons = value;
    InvalidateGrid();
}

void TAdvStringGrid::SetSortShow(bool value)
{
    m_sortShow = value;
    InvalidateRow(0);
}

void TAdvStringGrid::SetSortColumn(int value)
{
    if (value == m_sortColumn)
        return;
    m_sortColumn = value;
    InvalidateRow(0);
}

void TAdvStringGrid::SetSortDirection(TSortDirection value)
{
    m_sortDirection = value;
    InvalidateRow(0);
}

// ---------------------------------------------------------------------------
// Drawing (GridPaint.h)

Qt::Alignment TAdvStringGrid::GetCellAlignment(int col, int row)
{
    Qt::Alignment alignment = Qt::AlignLeft;
    if (OnGetAlignment)
        OnGetAlignment(this, row, col, alignment);
    return alignment;
}

void TAdvStringGrid::GetCellColor(int col, int row, TGridDrawState, QColor &brush, QFont &font)
{
    if (OnGetCellColor)
        OnGetCellColor(this, row, col, brush, font);
}

void TAdvStringGrid::DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                              TGridDrawState state)
{
    TGridPainter(*this, painter).DrawCell(col, row, rect, state);
}

QString TAdvStringGrid::ShownText(int displayCol, int row) const
{
    const std::string_view text = Store().Text(RemapCol(displayCol), row);
    QString shown = ToDisplay(m_enableHTML && IsHTML(text) ? StripHTML(text) : std::string(text));
    shown.remove(QLatin1Char('\r'));
    return shown;
}

void TAdvStringGrid::CurrentCellChanged()
{
    TStringGrid::CurrentCellChanged();
    AnnounceCurrentCell(*this);
}

// The list's own focus is announced after this handler: the cell's comes
// after it, so a screen reader lands on the cell.
void TAdvStringGrid::focusInEvent(QFocusEvent *event)
{
    TStringGrid::focusInEvent(event);
    QMetaObject::invokeMethod(
        this, [this] { AnnounceFocusedCell(*this); }, Qt::QueuedConnection);
}
