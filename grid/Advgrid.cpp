#include "grid/Advgrid.h"

#include "grid/Advutil.h"
#include "grid/CheckBoxPool.h"
#include "grid/GridAccessible.h"
#include "grid/GridSort.h"
#include "grid/WidestText.h"
#include "platform/AnsiText.h"
#include "platform/Application.h"
#include "platform/Collate.h"

#include <QDate>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QScopeGuard>
#include <QStyleOption>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <unordered_map>

namespace {

constexpr int kCheckBoxSize = 15;
// Loading lets painting and input in at this interval, not after every line.
constexpr int kPumpIntervalMs = 16;

void CheckNotNegative(int value, const char *what)
{
    if (value < 0)
        throw ERangeError(std::string("Grid ") + what + " out of range: " + std::to_string(value));
}

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Whether UTF-8 text stops inside a character: its last lead byte asks for
// more bytes than follow it.
bool EndsInsideCharacter(const std::string &s)
{
    size_t lead = s.size();
    while (lead > 0 && IsContinuation(s[lead - 1]))
        --lead;
    if (lead == 0)
        return false;
    const unsigned char c = static_cast<unsigned char>(s[lead - 1]);
    const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return s.size() - (lead - 1) < length;
}

void DropLastCharacter(std::string &s)
{
    while (!s.empty() && IsContinuation(s.back()))
        s.pop_back();
    if (!s.empty())
        s.pop_back();
}

} // namespace

TAdvStringGrid::TAdvStringGrid(QWidget *parent)
    : TStringGrid(parent), m_sorter(std::make_unique<TGridSorter>(*this))
{
    InstallGridAccessible();
    m_visibleCol.fill(true);
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
// Hidden columns

int TAdvStringGrid::RemapCol(int displayCol) const
{
    // A column that isn't shown maps to none in particular.
    if (displayCol < 0 || displayCol >= ColCount())
        return displayCol >= kMaxHidden ? displayCol : 0;
    int visible = 0;
    for (int r = 0; r < kMaxHidden; ++r) {
        if (!m_visibleCol[size_t(r)])
            continue;
        if (visible == displayCol)
            return r;
        ++visible;
    }
    // Only columns below kMaxHidden can be hidden: one shown past them lies
    // the number of hidden ones further on.
    return displayCol + m_numHidden;
}

int TAdvStringGrid::RemapColInv(int realCol) const
{
    if (realCol <= 0)
        return realCol;
    int hidden = 0;
    for (int r = 0; r < std::min(realCol, kMaxHidden); ++r)
        hidden += m_visibleCol[size_t(r)] ? 0 : 1;
    return realCol - hidden;
}

bool TAdvStringGrid::IsHiddenColumn(int realCol) const
{
    return realCol >= 0 && realCol < kMaxHidden && !m_visibleCol[size_t(realCol)];
}

void TAdvStringGrid::HideColumns(int from, int to)
{
    for (int c = from; c <= to; ++c) {
        // Indices outside the flags or past the columns in use name nothing to hide.
        if (c < 0 || c >= kMaxHidden || !m_visibleCol[size_t(c)] || c >= ColCount() + m_numHidden
            || ColCount() < 2)
            continue;
        const int d = RemapColInv(c);
        m_hiddenColWidths[size_t(c)] = uint16_t(std::clamp(ColWidths(d), 0, 0xFFFF));
        for (int k = d; k <= ColCount() - 2; ++k)
            SetColWidths(k, ColWidths(k + 1));
        ++m_numHidden;
        m_visibleCol[size_t(c)] = false;
        SetColCountEx(ColCount() - 1);
    }
    InvalidateGrid();
}

void TAdvStringGrid::UnhideColumns(int from, int to)
{
    for (int c = from; c <= to; ++c) {
        if (c < 0 || c >= kMaxHidden || m_visibleCol[size_t(c)])
            continue;
        --m_numHidden;
        m_visibleCol[size_t(c)] = true;
        SetColCountEx(ColCount() + 1);
        for (int k = ColCount() - 1; k >= RemapColInv(c + 1) && k >= 1; --k)
            SetColWidths(k, ColWidths(k - 1));
        SetColWidths(RemapColInv(c), m_hiddenColWidths[size_t(c)]);
    }
    InvalidateGrid();
}

void TAdvStringGrid::UnhideColumnsAll()
{
    UnhideColumns(0, ColCount() + m_numHidden);
}

// ---------------------------------------------------------------------------
// Emptying and moving cells

void TAdvStringGrid::Clear()
{
    if (RowCount() >= 1 && ColCount() >= 1)
        ClearRect(0, 0, ColCount() + m_numHidden - 1, RowCount() - 1);
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
// CSV loading

void TAdvStringGrid::ProcessDuringLoad(QElapsedTimer &pump)
{
    if (pump.elapsed() < kPumpIntervalMs)
        return;
    ProcessMessages();
    pump.restart();
}

void TAdvStringGrid::InputFromCSV(const std::string &fileName, bool insert)
{
    const int colOffset = FixedCellsInFiles ? 0 : GetFixedColsEx();
    int rowOffset = FixedCellsInFiles ? 0 : GetFixedRowsEx();
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(fileName.c_str(), "rb"),
                                                          &std::fclose);
    if (!file)
        throw EAdvGridError("Cannot open file " + fileName);
    int firstRow = 0;
    if (insert) {
        rowOffset = 0;
        firstRow = RowCount();
    }

    const char savedDelimiter = CSVDelimiter;
    struct Restore {
        TAdvStringGrid *grid;
        char delimiter;
        ~Restore() { grid->CSVDelimiter = delimiter; }
    } restore { this, savedDelimiter };

    TCSVLineReader reader(file.get(), fileName);
    std::string line;
    if (CSVDelimiter == '\0') {
        std::string first, second;
        reader.ReadLine(first);
        reader.ReadLine(second);
        reader.Rewind();
        CSVDelimiter = DetectDelimiter(first, second);
    }
    int lines = 0;
    while (reader.SkipLine())
        ++lines;
    reader.Rewind();

    SetRowCountEx(insert ? RowCount() + lines : rowOffset + lines);
    if (!insert)
        ResetView(); // a new list is read from its top

    QElapsedTimer pump;
    pump.start();
    std::vector<std::string_view> fields;
    std::deque<std::string> scratch;
    int done = 0;
    int lastPercent = -1;
    for (int k = firstRow; reader.ReadLine(line); ++k) {
        if (m_oemConvert)
            line = OemToAnsi(line);
        scratch.clear();
        SplitCSVLine(line, CSVDelimiter, TildeLineBreaks, fields, scratch);
        Store().SetTexts(rowOffset + k, colOffset, fields);
        if (ColCount() < colOffset + int(fields.size()))
            SetColCountEx(colOffset + int(fields.size()));
        if (OnFileProgress) {
            ++done;
            const int percent = int(std::lround(done * 100.0 / lines));
            if (percent != lastPercent) {
                lastPercent = percent;
                OnFileProgress(this, short(percent));
            }
        }
        ProcessDuringLoad(pump);
        if (RowCount() < rowOffset + k + 1)
            SetRowCountEx(rowOffset + k + 1);
    }
    InvalidateGrid();
    AnnounceGridReset(*this);
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

int TAdvStringGrid::TextWidth(const QFont &font, std::string_view text) const
{
    if (m_enableHTML && IsHTML(text)) {
        const std::string plain = StripHTML(text);
        return TextWidth(font, plain);
    }
    const QFontMetrics metrics(font);
    int widest = 0;
    ForEachLine(text, [&](std::string_view line) {
        widest = std::max(widest, metrics.horizontalAdvance(ToDisplay(std::string(line))));
    });
    return widest;
}

int TAdvStringGrid::WidestText(int displayCol, int realCol)
{
    int widest = 0;
    auto graphicWidth = [&](int r) { return HasCheckBox(displayCol, r) ? kCheckBoxSize : 0; };
    auto measureExactly = [&](int r, bool fixed) {
        QColor brush;
        QFont font = fixed ? m_fixedFont : this->font();
        GetCellColor(displayCol, r, fixed ? gdFixed : 0, brush, font);
        widest = std::max(widest, TextWidth(font, Store().Text(realCol, r)) + graphicWidth(r));
    };
    const bool fixedCol = displayCol < FixedCols();
    const int firstNormal = fixedCol ? RowCount() : std::min(FixedRows(), RowCount());
    for (int r = 0; r < firstNormal && r < FixedRows(); ++r)
        measureExactly(r, true);
    if (OnGetCellColor) {
        // The event may choose another font for any cell.
        for (int r = FixedRows(); r < RowCount(); ++r)
            measureExactly(r, fixedCol);
        return widest;
    }
    if (firstNormal >= RowCount() && !fixedCol)
        return widest;
    QColor brush;
    QFont font = fixedCol ? m_fixedFont : this->font();
    GetCellColor(displayCol, std::min(std::max(FixedRows(), 0), RowCount() - 1),
                 fixedCol ? gdFixed : 0, brush, font);
    TWidestFinder finder(font);
    finder.Reserve(size_t(RowCount()));
    for (int r = fixedCol ? FixedRows() : firstNormal; r < RowCount(); ++r) {
        std::string_view text = Store().Text(realCol, r);
        const int extra = graphicWidth(r);
        if (m_enableHTML && IsHTML(text)) {
            widest = std::max(widest, TextWidth(font, text) + extra);
            continue;
        }
        if (text.find('\n') == std::string_view::npos)
            finder.Add(text, extra);
        else
            ForEachLine(text, [&](std::string_view line) { finder.Add(line, extra); });
    }
    return std::max(widest, finder.Widest());
}

void TAdvStringGrid::SizeToWidth(int col, bool onlyGrow)
{
    if (col < 0 || col >= ColCount())
        return;
    const int width = WidestText(col, RemapCol(col)) + 4;
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
// Drawing

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

bool TAdvStringGrid::ShowsSortIndicator(int col, int row) const
{
    return m_sortShow && row == 0 && RowCount() > 2 && GetFixedRowsEx() > 0
        && RemapCol(col) == m_sortColumn && (col >= FixedCols() || m_sortFixedCols);
}

void TAdvStringGrid::DrawCheckBox(QPainter &painter, const QRect &rect, const TCellGraphic &graphic,
                                  bool checked, Qt::Alignment alignment)
{
    int top = rect.top() + 1;
    if (graphic.CellVAlign == vaBottom)
        top = rect.bottom() + 1 - 1 - kCheckBoxSize;
    else if (graphic.CellVAlign == vaCenter && rect.height() > kCheckBoxSize)
        top = rect.top() + (rect.height() - kCheckBoxSize) / 2;
    int left = rect.left() + 1;
    if (alignment & Qt::AlignHCenter)
        left = rect.left() + (rect.width() - kCheckBoxSize) / 2;
    else if (alignment & Qt::AlignRight)
        left = rect.left() + rect.width() - 1 - kCheckBoxSize;
    left = std::max(left, rect.left() + 1);
    QStyleOptionButton option;
    option.initFrom(this);
    option.rect = QRect(left, top, kCheckBoxSize, kCheckBoxSize);
    option.state = QStyle::State_Enabled | (checked ? QStyle::State_On : QStyle::State_Off);
    style()->drawPrimitive(QStyle::PE_IndicatorCheckBox, &option, &painter, this);
}

void TAdvStringGrid::DrawSortIndicator(QPainter &painter, const QRect &rect, int textWidth,
                                       Qt::Alignment alignment)
{
    int x = rect.left() + textWidth + 10;
    if (alignment & Qt::AlignRight)
        x = rect.left() + rect.width() - textWidth - 14;
    else if (alignment & Qt::AlignHCenter)
        x = rect.left() + 8;
    int y = rect.top() + 8;
    if (m_vAlignment == vtaBottom)
        y = rect.top() + rect.height() - 8;
    else if (m_vAlignment == vtaCenter)
        y = rect.top() + rect.height() / 2;
    if (!SortUpGlyph.isNull() && !SortDownGlyph.isNull()) {
        painter.drawPixmap(x - 4, y - 4,
                           m_sortDirection == sdAscending ? SortUpGlyph : SortDownGlyph);
        return;
    }
    // The style's header arrow, as a header view draws it: a triangle that
    // reads on the header's face at every scale. On this desktop an arrow
    // up is the style's SortUp.
    QStyleOptionHeader option;
    option.initFrom(this);
    // Centred on the indicator's place across, on the text's line down: the
    // style's arrow is taller than the old outline and would be cut off.
    option.rect = QRect(x - 7, rect.top(), 14, std::max(2 * (y - rect.top()) + 4, 16));
    option.sortIndicator = m_sortDirection == sdAscending ? QStyleOptionHeader::SortUp
                                                          : QStyleOptionHeader::SortDown;
    style()->drawPrimitive(QStyle::PE_IndicatorHeaderArrow, &option, &painter, this);
}

void TAdvStringGrid::DrawFixedCell(QPainter &painter, int col, int row, const QRect &rect)
{
    QColor brush = FixedColor();
    QFont font = m_fixedFont;
    GetCellColor(col, row, gdFixed, brush, font);
    if (Ctl3D()) {
        QStyleOptionHeader option;
        option.initFrom(this);
        option.rect = rect;
        option.palette.setColor(QPalette::Button, brush);
        option.state = QStyle::State_Enabled | QStyle::State_Horizontal;
        option.state
            |= m_pressedCell == QPoint(col, row) ? QStyle::State_Sunken : QStyle::State_Raised;
        style()->drawControl(QStyle::CE_HeaderSection, &option, &painter, this);
    } else {
        painter.fillRect(rect, brush);
    }
    const int real = RemapCol(col);
    std::string_view text = Store().Text(real, row);
    std::string plain;
    if (m_enableHTML && IsHTML(text)) {
        plain = StripHTML(text);
        text = plain;
    }
    const Qt::Alignment alignment = GetCellAlignment(col, row);
    const bool indicator = ShowsSortIndicator(col, row);
    QRect textRect = rect.adjusted(2, 2, -2, 0);
    if (indicator)
        textRect.setWidth(std::max(0, rect.width() - 14));
    painter.setFont(font);
    painter.setPen(palette().color(QPalette::ButtonText));
    QRect drawn;
    painter.drawText(textRect, int(alignment | Qt::AlignTop), ToDisplay(std::string(text)), &drawn);
    if (indicator)
        DrawSortIndicator(painter, rect, text.empty() ? 0 : drawn.width(), alignment);
}

void TAdvStringGrid::DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                              TGridDrawState state)
{
    if (state & gdFixed) {
        DrawFixedCell(painter, col, row, rect);
        return;
    }
    const int real = RemapCol(col);
    QColor brush = palette().color(QPalette::Base);
    QColor pen = palette().color(QPalette::Text);
    if (m_bands && row % 2 == 1)
        brush = palette().color(QPalette::AlternateBase);
    if (state & gdSelected) {
        brush = m_selectionColor;
        pen = m_selectionTextColor;
    }
    QFont font = this->font();
    GetCellColor(col, row, state, brush, font);
    painter.fillRect(rect, brush);
    const Qt::Alignment alignment = GetCellAlignment(col, row);
    QRect textRect = rect.adjusted(2, 2, -2, 0);
    if (HasCheckBox(real, row)) {
        const TCellGraphic &graphic = *CellGraphic(real, row);
        const bool checked = graphic.CellType == ctCheckBox
            ? graphic.CellBoolean
            : Store().Text(real, row) == CheckTrueText;
        DrawCheckBox(painter, rect, graphic, checked, alignment);
        if (graphic.CellType == ctDataCheckBox)
            return; // its text is its state
        textRect.setLeft(rect.left() + 1 + kCheckBoxSize + 2);
    }
    if (!Store().Text(real, row).empty()) {
        painter.setFont(font);
        painter.setPen(pen);
        painter.drawText(textRect, int(alignment | Qt::AlignTop), ShownText(col, row));
    }
    // The keyboard's place shows while the grid has the focus; the
    // selection rectangle shows the selection always.
    if ((state & gdFocused) || ((state & gdSelected) && m_selectionRectangle)) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = rect;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
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
