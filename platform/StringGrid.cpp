// The plain string grid widget: counts, sizes, scrolling, the current cell,
// input and painting; its cells live in a TCellStore.

#include "platform/StringGrid.h"

#include "platform/AnsiText.h"
#include "platform/Exceptions.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <string>

TStringGrid::TStringGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    m_colWidths.assign(size_t(m_colCount), m_defaultColWidth);
    m_rowHeights.assign(size_t(m_rowCount), m_defaultRowHeight);
    m_fixedColor = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    UpdateScrollBars();
}

TStringGrid::~TStringGrid() = default;

void TStringGrid::Repaint()
{
    if (m_updateCount == 0)
        viewport()->update();
}

void TStringGrid::SetColCount(int value)
{
    value = std::max(value, 1);
    if (value <= m_fixedCols)
        m_fixedCols = value - 1;
    if (value == m_colCount)
        return;
    const int oldCols = m_colCount;
    m_colCount = value;
    m_colWidths.resize(size_t(value), m_defaultColWidth);
    m_col = std::clamp(m_col, m_fixedCols, m_colCount - 1);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    SizeChanged(oldCols, m_rowCount);
}

void TStringGrid::SetRowCount(int value)
{
    value = std::max(value, 1);
    if (value <= m_fixedRows)
        m_fixedRows = value - 1;
    if (value == m_rowCount)
        return;
    const int oldRows = m_rowCount;
    m_rowCount = value;
    m_rowHeights.resize(size_t(value), m_defaultRowHeight);
    // Room for the rows about to be filled, and for a sort's scratch rows.
    if (value > m_store.StoredRows())
        m_store.Reserve(value + 3);
    m_row = std::clamp(m_row, m_fixedRows, m_rowCount - 1);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    SizeChanged(m_colCount, oldRows);
}

void TStringGrid::SetFixedCols(int value)
{
    if (value < 0 || value >= m_colCount)
        throw ERangeError("Fixed column count must be less than column count");
    m_fixedCols = value;
    m_col = std::max(m_col, m_fixedCols);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetFixedRows(int value)
{
    if (value < 0 || value >= m_rowCount)
        throw ERangeError("Fixed row count must be less than row count");
    m_fixedRows = value;
    m_row = std::max(m_row, m_fixedRows);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetDefaultColWidth(int value)
{
    m_defaultColWidth = std::max(value, 0);
    m_colWidths.assign(size_t(m_colCount), m_defaultColWidth);
    UpdateScrollBars();
    Repaint();
    ColWidthsChanged();
}

void TStringGrid::SetDefaultRowHeight(int value)
{
    m_defaultRowHeight = std::max(value, 0);
    m_rowHeights.assign(size_t(m_rowCount), m_defaultRowHeight);
    UpdateScrollBars();
    Repaint();
    RowHeightsChanged();
}

void TStringGrid::SetGridLineWidth(int value)
{
    m_gridLineWidth = std::max(value, 0);
    UpdateScrollBars();
    Repaint();
}

int TStringGrid::ColWidths(int col) const
{
    if (col < 0 || col >= m_colCount)
        return m_defaultColWidth;
    return m_colWidths[size_t(col)];
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= m_colCount)
        throw ERangeError("Grid column " + std::to_string(col) + " out of range");
    width = std::max(width, 0);
    if (m_colWidths[size_t(col)] == width)
        return;
    m_colWidths[size_t(col)] = width;
    UpdateScrollBars();
    Repaint();
    ColWidthsChanged();
}

int TStringGrid::RowHeights(int row) const
{
    if (row < 0 || row >= m_rowCount)
        return m_defaultRowHeight;
    return m_rowHeights[size_t(row)];
}

void TStringGrid::SetRowHeights(int row, int height)
{
    if (row < 0 || row >= m_rowCount)
        throw ERangeError("Grid row " + std::to_string(row) + " out of range");
    height = std::max(height, 0);
    if (m_rowHeights[size_t(row)] == height)
        return;
    m_rowHeights[size_t(row)] = height;
    UpdateScrollBars();
    Repaint();
    RowHeightsChanged();
}

void TStringGrid::SetOptions(TGridOptions value)
{
    m_options = value;
    Repaint();
}

void TStringGrid::SetFixedColor(const QColor &value)
{
    m_fixedColor = value;
    Repaint();
}

void TStringGrid::SetCtl3D(bool value)
{
    m_ctl3D = value;
    Repaint();
}

std::string TStringGrid::Cells(int col, int row) const
{
    return std::string(m_store.Text(col, row));
}

void TStringGrid::SetCells(int col, int row, const std::string &text)
{
    m_store.SetText(col, row, text);
    InvalidateCell(col, row);
}

TObject *TStringGrid::Objects(int col, int row) const
{
    return m_store.Object(col, row);
}

void TStringGrid::SetObjects(int col, int row, TObject *object)
{
    m_store.SetObject(col, row, object);
}

TCellList TStringGrid::Cols(int col) const
{
    TCellList list;
    for (int r = 0; r < m_rowCount; ++r) {
        list.Texts.emplace_back(m_store.Text(col, r));
        list.Objects.push_back(m_store.Object(col, r));
    }
    return list;
}

void TStringGrid::SetCols(int col, const TCellList &list)
{
    for (int r = 0; r < m_rowCount; ++r) {
        const bool has = size_t(r) < list.Texts.size();
        m_store.SetText(col, r, has ? list.Texts[size_t(r)] : std::string());
        m_store.SetObject(col, r,
                          size_t(r) < list.Objects.size() ? list.Objects[size_t(r)] : nullptr);
    }
    Repaint();
}

TCellList TStringGrid::Rows(int row) const
{
    TCellList list;
    for (int c = 0; c < m_colCount; ++c) {
        list.Texts.emplace_back(m_store.Text(c, row));
        list.Objects.push_back(m_store.Object(c, row));
    }
    return list;
}

void TStringGrid::SetRows(int row, const TCellList &list)
{
    for (int c = 0; c < m_colCount; ++c) {
        m_store.SetText(c, row,
                        size_t(c) < list.Texts.size() ? list.Texts[size_t(c)] : std::string());
        m_store.SetObject(c, row,
                          size_t(c) < list.Objects.size() ? list.Objects[size_t(c)] : nullptr);
    }
    InvalidateRow(row);
}

void TStringGrid::SetCol(int col)
{
    MoveCurrent(col, m_row);
}

void TStringGrid::SetRow(int row)
{
    MoveCurrent(m_col, row);
}

void TStringGrid::FocusCell(int col, int row)
{
    MoveCurrent(col, row);
}

void TStringGrid::MoveCurrent(int col, int row, bool scroll)
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        throw ERangeError("Grid index out of range (column " + std::to_string(col) + ", row "
                          + std::to_string(row) + ")");
    const bool moved = col != m_col || row != m_row;
    m_col = col;
    m_row = row;
    if (scroll)
        ScrollIntoView(col, row);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    if (moved)
        CurrentCellChanged();
}

namespace {

// The first scrollable index that shows `index` whole when the scrollable
// part is `room` long, `first` moved as little as possible. An index wider
// than the room goes first.
template<typename Size> int ScrolledTo(int first, int index, int room, int line, Size size)
{
    if (index <= first)
        return index;
    int used = size(index);
    int top = index;
    while (top > first && used + size(top - 1) + line <= room) {
        used += size(top - 1) + line;
        --top;
    }
    return top;
}

// The fixed indices, then the scrolled ones from `first` as far as `room`
// reaches: the rest of a long list costs nothing.
template<typename Size>
std::vector<int> InView(int fixed, int first, int count, int room, int line, Size size)
{
    std::vector<int> shown;
    int pos = 0;
    for (int i = 0; i < fixed && pos < room; ++i) {
        shown.push_back(i);
        pos += size(i) + line;
    }
    for (int i = first; i < count && pos < room; ++i) {
        shown.push_back(i);
        pos += size(i) + line;
    }
    return shown;
}

} // namespace

// Rows and columns are measured each on their own, so a cell comes into
// view however far the other direction is scrolled.
void TStringGrid::ScrollIntoView(int col, int row)
{
    if (row >= m_fixedRows) {
        int room = ClientHeight();
        for (int r = 0; r < m_fixedRows; ++r)
            room -= RowHeights(r) + m_gridLineWidth;
        m_topRow = ScrolledTo(m_topRow, row, room, m_gridLineWidth,
                              [this](int r) { return RowHeights(r); });
    }
    if (col >= m_fixedCols) {
        int room = ClientWidth();
        for (int c = 0; c < m_fixedCols; ++c)
            room -= ColWidths(c) + m_gridLineWidth;
        m_leftCol = ScrolledTo(m_leftCol, col, room, m_gridLineWidth,
                               [this](int c) { return ColWidths(c); });
    }
}

void TStringGrid::ResetView()
{
    m_topRow = m_fixedRows;
    m_leftCol = m_fixedCols;
    MoveCurrent(std::min(m_fixedCols, m_colCount - 1), std::min(m_fixedRows, m_rowCount - 1),
                false);
}

void TStringGrid::SetTopRow(int row)
{
    m_topRow = row;
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetLeftCol(int col)
{
    m_leftCol = col;
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

int TStringGrid::VisibleRowCount() const
{
    int y = 0;
    for (int r = 0; r < m_fixedRows; ++r)
        y += RowHeights(r) + m_gridLineWidth;
    int count = 0;
    for (int r = m_topRow; r < m_rowCount; ++r) {
        y += RowHeights(r) + m_gridLineWidth;
        if (y > ClientHeight())
            break;
        ++count;
    }
    return count;
}

int TStringGrid::VisibleColCount() const
{
    int x = 0;
    for (int c = 0; c < m_fixedCols; ++c)
        x += ColWidths(c) + m_gridLineWidth;
    int count = 0;
    for (int c = m_leftCol; c < m_colCount; ++c) {
        x += ColWidths(c) + m_gridLineWidth;
        if (x > ClientWidth())
            break;
        ++count;
    }
    return count;
}

void TStringGrid::ClampScroll()
{
    m_topRow = std::clamp(m_topRow, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    m_leftCol = std::clamp(m_leftCol, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
}

int TStringGrid::MaxTopRow() const
{
    int room = ClientHeight();
    for (int r = 0; r < m_fixedRows; ++r)
        room -= RowHeights(r) + m_gridLineWidth;
    int top = m_rowCount;
    while (top > m_fixedRows) {
        room -= RowHeights(top - 1) + m_gridLineWidth;
        if (room < 0)
            break;
        --top;
    }
    return std::min(top, m_rowCount - 1);
}

int TStringGrid::MaxLeftCol() const
{
    int room = ClientWidth();
    for (int c = 0; c < m_fixedCols; ++c)
        room -= ColWidths(c) + m_gridLineWidth;
    int left = m_colCount;
    while (left > m_fixedCols) {
        room -= ColWidths(left - 1) + m_gridLineWidth;
        if (room < 0)
            break;
        --left;
    }
    return std::min(left, m_colCount - 1);
}

void TStringGrid::UpdateScrollBars()
{
    m_scrolling = true;
    const int maxTop = std::max(m_fixedRows, MaxTopRow());
    verticalScrollBar()->setRange(0, maxTop - m_fixedRows);
    verticalScrollBar()->setPageStep(std::max(1, VisibleRowCount()));
    verticalScrollBar()->setValue(m_topRow - m_fixedRows);
    const int maxLeft = std::max(m_fixedCols, MaxLeftCol());
    horizontalScrollBar()->setRange(0, maxLeft - m_fixedCols);
    horizontalScrollBar()->setPageStep(std::max(1, VisibleColCount()));
    horizontalScrollBar()->setValue(m_leftCol - m_fixedCols);
    m_scrolling = false;
}

void TStringGrid::scrollContentsBy(int, int)
{
    if (m_scrolling)
        return;
    m_topRow = m_fixedRows + verticalScrollBar()->value();
    m_leftCol = m_fixedCols + horizontalScrollBar()->value();
    ClampScroll();
    Repaint();
}

int TStringGrid::ClientWidth() const
{
    return viewport()->width();
}

int TStringGrid::ClientHeight() const
{
    return viewport()->height();
}

QRect TStringGrid::CellRectAnywhere(int col, int row) const
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        return {};
    int x = 0;
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
    } else {
        for (int c = 0; c < m_fixedCols; ++c)
            x += ColWidths(c) + m_gridLineWidth;
        for (int c = m_leftCol; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
        for (int c = col; c < m_leftCol; ++c)
            x -= ColWidths(c) + m_gridLineWidth;
    }
    int y = 0;
    if (row < m_fixedRows) {
        for (int r = 0; r < row; ++r)
            y += RowHeights(r) + m_gridLineWidth;
    } else {
        for (int r = 0; r < m_fixedRows; ++r)
            y += RowHeights(r) + m_gridLineWidth;
        if (row < m_topRow)
            return QRect(x, -RowHeights(row) - m_gridLineWidth, ColWidths(col), RowHeights(row));
        for (int r = m_topRow; r < row; ++r) {
            y += RowHeights(r) + m_gridLineWidth;
            if (y > ClientHeight())
                return QRect(x, y, ColWidths(col), RowHeights(row)); // below the view
        }
    }
    return QRect(x, y, ColWidths(col), RowHeights(row));
}

QRect TStringGrid::CellRect(int col, int row) const
{
    if ((col >= m_fixedCols && col < m_leftCol) || (row >= m_fixedRows && row < m_topRow))
        return {};
    // Each row takes at least its grid line: rows this far down are out of view.
    if (m_gridLineWidth > 0 && row - m_topRow > ClientHeight())
        return {};
    const QRect rect = CellRectAnywhere(col, row);
    if (rect.isNull() || rect.left() >= ClientWidth() || rect.top() >= ClientHeight())
        return {};
    return rect;
}

QPoint TStringGrid::MouseCoord(int x, int y) const
{
    auto find = [this](int pos, int fixed, int first, int count, auto size) {
        int edge = 0;
        for (int i = 0; i < fixed; ++i) {
            edge += size(i) + m_gridLineWidth;
            if (pos < edge)
                return i;
        }
        for (int i = first; i < count; ++i) {
            edge += size(i) + m_gridLineWidth;
            if (pos < edge)
                return i;
        }
        return -1;
    };
    if (x < 0 || y < 0)
        return { -1, -1 };
    const int col
        = find(x, m_fixedCols, m_leftCol, m_colCount, [this](int c) { return ColWidths(c); });
    const int row
        = find(y, m_fixedRows, m_topRow, m_rowCount, [this](int r) { return RowHeights(r); });
    if (col < 0 || row < 0)
        return { -1, -1 };
    return { col, row };
}

int TStringGrid::SizingColAt(int x, int y) const
{
    const QPoint cell = MouseCoord(x, y);
    if (cell.y() < 0 || cell.y() >= m_fixedRows || cell.x() < 0)
        return -1;
    const QRect rect = CellRect(cell.x(), cell.y());
    if (rect.right() + 1 - x < 4 && x - (rect.right() + 1) < 4)
        return cell.x();
    if (x - rect.left() < 4) {
        // The border on the left belongs to the column before.
        int before = cell.x() - 1;
        if (cell.x() == m_leftCol && cell.x() >= m_fixedCols)
            before = m_fixedCols - 1;
        return before;
    }
    return -1;
}

void TStringGrid::BeginUpdate()
{
    ++m_updateCount;
}

void TStringGrid::EndUpdate()
{
    if (m_updateCount > 0 && --m_updateCount == 0)
        viewport()->update();
}

void TStringGrid::InvalidateCell(int col, int row)
{
    if (m_updateCount)
        return;
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, m_gridLineWidth, m_gridLineWidth));
}

void TStringGrid::InvalidateRow(int row)
{
    if (m_updateCount)
        return;
    const QRect rect = CellRect(m_fixedCols < m_colCount ? m_fixedCols : 0, row);
    if (!rect.isEmpty() || row < m_fixedRows)
        viewport()->update(
            QRect(0, std::max(rect.top(), 0), ClientWidth(), RowHeights(row) + m_gridLineWidth));
}

void TStringGrid::InvalidateGrid()
{
    Repaint();
}

void TStringGrid::DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                           TGridDrawState state)
{
    QColor background = palette().color(QPalette::Base);
    QColor text = palette().color(QPalette::Text);
    if (state & gdFixed) {
        background = m_fixedColor;
        text = palette().color(QPalette::ButtonText);
    } else if (state & gdSelected) {
        background = palette().color(QPalette::Highlight);
        text = palette().color(QPalette::HighlightedText);
    }
    painter.fillRect(rect, background);
    painter.setPen(text);
    painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     ToDisplay(std::string(m_store.Text(col, row))));
}

void TStringGrid::DrawGridLines(QPainter &painter, int col, int row, const QRect &rect,
                                bool fixed) const
{
    Q_UNUSED(col);
    Q_UNUSED(row);
    if (m_gridLineWidth <= 0)
        return;
    const QColor color = fixed ? palette().color(QPalette::Dark) : QColor(192, 192, 192);
    if (m_options & (fixed ? goFixedVertLine : goVertLine))
        painter.fillRect(
            QRect(rect.right() + 1, rect.top(), m_gridLineWidth, rect.height() + m_gridLineWidth),
            color);
    if (m_options & (fixed ? goFixedHorzLine : goHorzLine))
        painter.fillRect(
            QRect(rect.left(), rect.bottom() + 1, rect.width() + m_gridLineWidth, m_gridLineWidth),
            color);
}

void TStringGrid::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Window));
    const std::vector<int> cols = InView(m_fixedCols, m_leftCol, m_colCount, ClientWidth(),
                                         m_gridLineWidth, [this](int c) { return ColWidths(c); });
    const std::vector<int> rows = InView(m_fixedRows, m_topRow, m_rowCount, ClientHeight(),
                                         m_gridLineWidth, [this](int r) { return RowHeights(r); });
    int y = 0;
    for (int r : rows) {
        int x = 0;
        for (int c : cols) {
            const QRect rect(x, y, ColWidths(c), RowHeights(r));
            const bool fixed = IsFixedCell(c, r);
            TGridDrawState state = fixed ? gdFixed : 0;
            if (!fixed && c == m_col && r == m_row) {
                state |= gdSelected;
                if (hasFocus())
                    state |= gdFocused;
            }
            painter.save();
            painter.setClipRect(rect);
            DrawCell(painter, c, r, rect, state);
            painter.restore();
            DrawGridLines(painter, c, r, rect, fixed);
            x += rect.width() + m_gridLineWidth;
        }
        y += RowHeights(r) + m_gridLineWidth;
    }
}

// The current cell shows whether the grid has the keyboard.
void TStringGrid::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    InvalidateCell(m_col, m_row);
}

void TStringGrid::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    InvalidateCell(m_col, m_row);
}

void TStringGrid::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    ClampScroll();
    UpdateScrollBars();
    Resized();
}

void TStringGrid::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseMove(event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        DblClick(p.x(), p.y());
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (button != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    if (m_options & goColSizing) {
        const int col = SizingColAt(x, y);
        if (col >= 0) {
            m_sizingCol = col;
            m_sizingStartX = x;
            m_sizingStartWidth = ColWidths(col);
            return;
        }
    }
    const QPoint cell = MouseCoord(x, y);
    if (cell.x() >= m_fixedCols && cell.y() >= m_fixedRows)
        MoveCurrent(cell.x(), cell.y());
}

void TStringGrid::MouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (m_sizingCol >= 0) {
        SetColWidths(m_sizingCol, std::max(1, m_sizingStartWidth + x - m_sizingStartX));
        return;
    }
    const bool sizing = (m_options & goColSizing) && SizingColAt(x, y) >= 0;
    viewport()->setCursor(sizing ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TStringGrid::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int)
{
    if (button != Qt::LeftButton || m_sizingCol < 0)
        return;
    const int col = m_sizingCol;
    const int width = std::max(1, m_sizingStartWidth + x - m_sizingStartX);
    if (width != ColWidths(col))
        SetColWidths(col, width);
    m_sizingCol = -1;
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    int key = event->key();
    KeyDown(key, event->modifiers());
    if (key == 0)
        return;
    const QByteArray text = event->text().toUtf8();
    for (char c : text) {
        char ch = c;
        KeyPress(ch);
    }
}

void TStringGrid::keyReleaseEvent(QKeyEvent *event)
{
    int key = event->key();
    KeyUp(key, event->modifiers());
}

void TStringGrid::KeyDown(int &key, Qt::KeyboardModifiers shift)
{
    const int page = std::max(1, VisibleRowCount());
    const bool ctrl = shift & Qt::ControlModifier;
    int col = m_col, row = m_row;
    switch (key) {
    case Qt::Key_Up:
        --row;
        break;
    case Qt::Key_Down:
        ++row;
        break;
    case Qt::Key_Left:
        --col;
        break;
    case Qt::Key_Right:
        ++col;
        break;
    case Qt::Key_PageUp:
        row -= page;
        break;
    case Qt::Key_PageDown:
        row += page;
        break;
    case Qt::Key_Home:
        if (ctrl)
            row = m_fixedRows;
        else
            col = m_fixedCols;
        break;
    case Qt::Key_End:
        if (ctrl)
            row = m_rowCount - 1;
        else
            col = m_colCount - 1;
        break;
    default:
        return;
    }
    col = std::clamp(col, m_fixedCols, m_colCount - 1);
    row = std::clamp(row, m_fixedRows, m_rowCount - 1);
    MoveCurrent(col, row);
}
