#include "grid/GridAccessible.h"

#include "grid/Advgrid.h"

#include <QAccessibleWidget>
#include <QPointer>
#include <QWindow>

#include <climits>
#include <unordered_map>

namespace {

AccessibleEventHook g_hook;

bool Listening()
{
    return g_hook || QAccessible::isActive();
}

void Announce(QAccessibleEvent &event)
{
    if (g_hook)
        g_hook(event);
    QAccessible::updateAccessibility(&event);
}

class TGridAccessible;

// The action a check-box cell offers: screen readers read a cell's check
// state only when it has an action of this name, and Qt's own name for a
// toggle differs from it in case.
const QString ToggleAction = QStringLiteral("toggle");

// One cell by its place: a header cell (row -1) or a cell of the table's
// rows, which begin below the grid's fixed rows. Columns are display columns.
class TGridCellAccessible : public QAccessibleInterface,
                            public QAccessibleTableCellInterface,
                            public QAccessibleActionInterface {
public:
    TGridCellAccessible(TAdvStringGrid *grid, int row, int col)
        : m_grid(grid), m_row(row), m_col(col)
    {
    }

    bool isValid() const override
    {
        return m_grid && m_col < m_grid->ColCount()
            && (m_row < 0 ? m_grid->FixedRows() > 0 : GridRow() < m_grid->RowCount());
    }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QAccessibleInterface *parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_grid);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }

    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override { }

    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect cell = m_grid->CellRect(m_col, GridRow());
        return cell.isEmpty() ? QRect()
                              : QRect(m_grid->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }

    QAccessible::Role role() const override
    {
        return m_row < 0 ? QAccessible::ColumnHeader : QAccessible::Cell;
    }

    QAccessible::State state() const override
    {
        QAccessible::State st;
        if (!isValid())
            return st;
        st.invisible = !m_grid->isVisible();
        st.offscreen = m_grid->CellRect(m_col, GridRow()).isEmpty();
        if (m_row < 0)
            return st;
        st.selectable = st.focusable = true;
        st.selected = isSelected();
        st.focused = st.selected && m_grid->hasFocus();
        bool checked = false;
        if (m_grid->GetCheckBoxState(m_grid->RemapCol(m_col), GridRow(), checked)) {
            st.checkable = true;
            st.checked = checked;
        }
        return st;
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (type == QAccessible::ActionInterface && m_row >= 0)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    // The table cell.
    bool isSelected() const override
    {
        return m_row >= 0 && isValid() && m_grid->Col() == m_col && m_grid->Row() == GridRow();
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override;
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_col; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    // The actions: a check box toggles as a click on it does.
    QStringList actionNames() const override
    {
        return isValid() && m_grid->HasCheckBox(m_grid->RemapCol(m_col), GridRow())
            ? QStringList { ToggleAction }
            : QStringList {};
    }
    QString localizedActionName(const QString &name) const override
    {
        return QAccessibleActionInterface::localizedActionName(name == ToggleAction ? toggleAction()
                                                                                    : name);
    }
    void doAction(const QString &name) override
    {
        if ((name == ToggleAction || name == toggleAction()) && isValid())
            m_grid->UserToggle(m_col, GridRow());
    }
    QStringList keyBindingsForAction(const QString &) const override { return {}; }

private:
    int GridRow() const { return m_row < 0 ? 0 : m_row + m_grid->FixedRows(); }

    QPointer<TAdvStringGrid> m_grid;
    int m_row;
    int m_col;
};

// The grid as a table. Cells are made as they are asked for and kept until
// the grid's cells change all at once.
class TGridAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit TGridAccessible(TAdvStringGrid *grid) : QAccessibleWidget(grid, QAccessible::Table) { }
    ~TGridAccessible() override { Forget(); }

    TAdvStringGrid *Grid() const { return static_cast<TAdvStringGrid *>(widget()); }

    // A cell of the table, or with row -1 a header cell.
    QAccessibleInterface *Cell(int row, int col) const
    {
        if (col < 0 || col >= columnCount() || row < -1 || row >= rowCount()
            || (row < 0 && Grid()->FixedRows() == 0))
            return nullptr;
        const uint64_t key = uint64_t(uint32_t(row + 1)) << 32 | uint32_t(col);
        auto it = m_cells.find(key);
        if (it == m_cells.end())
            it = m_cells
                     .emplace(key,
                              QAccessible::registerAccessibleInterface(
                                  new TGridCellAccessible(Grid(), row, col)))
                     .first;
        return QAccessible::accessibleInterface(it->second);
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // Children: the header cells, then the cells row by row.
    int childCount() const override
    {
        const qint64 count = qint64(HeaderCount()) + qint64(rowCount()) * columnCount();
        return int(std::min<qint64>(count, INT_MAX));
    }
    QAccessibleInterface *child(int index) const override
    {
        if (index < 0 || columnCount() == 0)
            return nullptr;
        if (index < HeaderCount())
            return Cell(-1, index);
        index -= HeaderCount();
        return Cell(index / columnCount(), index % columnCount());
    }
    int indexOfChild(const QAccessibleInterface *iface) const override
    {
        const QAccessibleTableCellInterface *cell
            = iface ? const_cast<QAccessibleInterface *>(iface)->tableCellInterface() : nullptr;
        if (!cell || cell->table() != this)
            return -1;
        if (cell->rowIndex() < 0)
            return cell->columnIndex();
        return HeaderCount() + cell->rowIndex() * columnCount() + cell->columnIndex();
    }
    QAccessibleInterface *childAt(int x, int y) const override
    {
        const QPoint p = Grid()->viewport()->mapFromGlobal(QPoint(x, y));
        const QPoint cell = Grid()->MouseCoord(p.x(), p.y());
        if (cell.x() < 0)
            return nullptr;
        return Cell(cell.y() < Grid()->FixedRows() ? -1 : cell.y() - Grid()->FixedRows(), cell.x());
    }
    QAccessibleInterface *focusChild() const override
    {
        return Grid()->hasFocus() ? CurrentCell() : nullptr;
    }

    QAccessibleInterface *CurrentCell() const
    {
        return Cell(Grid()->Row() - Grid()->FixedRows(), Grid()->Col());
    }

    // The table.
    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int row, int column) const override
    {
        return row < 0 ? nullptr : Cell(row, column);
    }
    int selectedCellCount() const override { return CurrentCell() ? 1 : 0; }
    QList<QAccessibleInterface *> selectedCells() const override
    {
        if (QAccessibleInterface *current = CurrentCell())
            return { current };
        return {};
    }
    QString columnDescription(int column) const override
    {
        return Grid()->FixedRows() > 0 && column >= 0 && column < columnCount()
            ? Grid()->ShownText(column, 0)
            : QString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override { return Grid()->ColCount(); }
    int rowCount() const override { return Grid()->RowCount() - Grid()->FixedRows(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent *) override { Forget(); }

    void Forget()
    {
        for (const auto &[key, id] : m_cells)
            QAccessible::deleteAccessibleInterface(id);
        m_cells.clear();
        m_selected = nullptr;
    }

    // The cell last announced as current, for the next move's deselection.
    QAccessibleInterface *TakeSelected(QAccessibleInterface *current)
    {
        return std::exchange(m_selected, current);
    }

private:
    int HeaderCount() const { return Grid()->FixedRows() > 0 ? columnCount() : 0; }

    mutable std::unordered_map<uint64_t, QAccessible::Id> m_cells;
    QAccessibleInterface *m_selected = nullptr;
};

QString TGridCellAccessible::text(QAccessible::Text t) const
{
    if (!isValid())
        return {};
    if (t == QAccessible::Name)
        return m_grid->ShownText(m_col, GridRow());
    return {};
}

QList<QAccessibleInterface *> TGridCellAccessible::columnHeaderCells() const
{
    auto *table = dynamic_cast<TGridAccessible *>(parent());
    if (m_row < 0 || !table)
        return {};
    if (QAccessibleInterface *header = table->Cell(-1, m_col))
        return { header };
    return {};
}

// Where a notice's text is kept for assistive technology: it is never shown,
// so it changes nothing on screen, but screen readers speak a notification
// as it is announced shown.
class TNotice : public QWidget {
public:
    explicit TNotice(QWidget *owner) : QWidget(owner) { hide(); }
};

TNotice *NoticeOf(QWidget &owner)
{
    for (QObject *child : owner.children())
        if (auto *notice = dynamic_cast<TNotice *>(child))
            return notice;
    return new TNotice(&owner);
}

QAccessibleInterface *Factory(const QString &, QObject *object)
{
    if (auto *grid = qobject_cast<TAdvStringGrid *>(object))
        return new TGridAccessible(grid);
    if (auto *notice = dynamic_cast<TNotice *>(object))
        return new QAccessibleWidget(notice, QAccessible::Notification);
    return nullptr;
}

TGridAccessible *TableOf(TAdvStringGrid &grid)
{
    return dynamic_cast<TGridAccessible *>(QAccessible::queryAccessibleInterface(&grid));
}

} // namespace

void InstallGridAccessible()
{
    static const bool installed = (QAccessible::installFactory(Factory), true);
    Q_UNUSED(installed);
}

// As a table view does: the new cell selected, the old one not, then the
// focus on the new one.
void AnnounceCurrentCell(TAdvStringGrid &grid)
{
    // A hidden list is being filled: its cells are about to be replaced.
    if (!Listening() || !grid.isVisible())
        return;
    TGridAccessible *table = TableOf(grid);
    QAccessibleInterface *cell = table ? table->CurrentCell() : nullptr;
    if (!cell)
        return;
    QAccessibleInterface *previous = table->TakeSelected(cell);
    if (previous == cell)
        return;
    QAccessibleEvent added(cell, QAccessible::SelectionAdd);
    Announce(added);
    if (previous && previous->isValid()) {
        QAccessibleEvent removed(previous, QAccessible::SelectionRemove);
        Announce(removed);
    }
    AnnounceFocusedCell(grid);
}

void AnnounceFocusedCell(TAdvStringGrid &grid)
{
    if (!Listening() || !grid.isVisible() || !grid.hasFocus())
        return;
    TGridAccessible *table = TableOf(grid);
    QAccessibleInterface *cell = table ? table->CurrentCell() : nullptr;
    if (!cell)
        return;
    // A list filled while hidden announced no current cell yet.
    if (table->TakeSelected(cell) != cell) {
        QAccessibleEvent added(cell, QAccessible::SelectionAdd);
        Announce(added);
    }
    QAccessibleEvent focus(cell, QAccessible::Focus);
    Announce(focus);
}

void AnnounceCheckBoxState(TAdvStringGrid &grid, int displayCol, int row)
{
    if (!Listening())
        return;
    TGridAccessible *table = TableOf(grid);
    if (QAccessibleInterface *cell
        = table ? table->Cell(row - grid.FixedRows(), displayCol) : nullptr) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent event(cell, changed);
        Announce(event);
    }
}

void AnnounceGridReset(TAdvStringGrid &grid)
{
    if (!Listening())
        return;
    TGridAccessible *table = TableOf(grid);
    if (!table)
        return;
    table->Forget();
    QAccessibleTableModelChangeEvent event(table, QAccessibleTableModelChangeEvent::ModelReset);
    Announce(event);
}

void AnnounceNotice(QWidget &owner, const QString &text)
{
    if (!Listening())
        return;
    InstallGridAccessible();
    TNotice *notice = NoticeOf(owner);
    if (notice->accessibleName() == text)
        return;
    notice->setAccessibleName(text);
    QAccessibleEvent shown(notice, QAccessible::ObjectShow);
    Announce(shown);
}

AccessibleEventHook SetAccessibleEventHook(AccessibleEventHook hook)
{
    return std::exchange(g_hook, std::move(hook));
}
