#pragma once

// The plain string grid widget that the game list's grid is built on.

#include "platform/CellStore.h"

#include <QAbstractScrollArea>
#include <QColor>
#include <QFlags>
#include <QRect>

#include <string>
#include <string_view>
#include <vector>

// A whole column or row as one list: the text and object of each cell.
struct TCellList {
    std::vector<std::string> Texts;
    std::vector<TObject *> Objects;
};

// The program's plain string grid: a table of cells on a scroll area that
// paints only the cells in view, scrolls by whole rows and columns, keeps a
// current cell, fixed header rows and columns, per-column widths and per-row
// heights. Column and row indices here are display indices.
class TStringGrid : public QAbstractScrollArea {
    Q_OBJECT
    Q_PROPERTY(int ColCount READ ColCount WRITE SetColCount)
    Q_PROPERTY(int RowCount READ RowCount WRITE SetRowCount)
    Q_PROPERTY(int FixedCols READ FixedCols WRITE SetFixedCols)
    Q_PROPERTY(int FixedRows READ FixedRows WRITE SetFixedRows)
    Q_PROPERTY(int DefaultColWidth READ DefaultColWidth WRITE SetDefaultColWidth)
    Q_PROPERTY(int DefaultRowHeight READ DefaultRowHeight WRITE SetDefaultRowHeight)
    Q_PROPERTY(int GridLineWidth READ GridLineWidth WRITE SetGridLineWidth)
    Q_PROPERTY(TGridOptions Options READ Options WRITE SetOptions)
    Q_PROPERTY(QColor FixedColor READ FixedColor WRITE SetFixedColor)
    Q_PROPERTY(bool Ctl3D READ Ctl3D WRITE SetCtl3D)

public:
    enum TGridOption {
        goFixedVertLine = 0x1,
        goFixedHorzLine = 0x2,
        goVertLine = 0x4,
        goHorzLine = 0x8,
        goRangeSelect = 0x10,
        goDrawFocusSelected = 0x20,
        goRowSizing = 0x40,
        goColSizing = 0x80,
        goRowMoving = 0x100,
        goColMoving = 0x200,
        goEditing = 0x400,
        goTabs = 0x800,
        goRowSelect = 0x1000,
        goAlwaysShowEditor = 0x2000,
        goThumbTracking = 0x4000,
    };
    Q_DECLARE_FLAGS(TGridOptions, TGridOption)
    Q_FLAG(TGridOptions)

    enum TGridDrawStateFlag { gdSelected = 0x1, gdFocused = 0x2, gdFixed = 0x4 };
    using TGridDrawState = int;

    explicit TStringGrid(QWidget *parent = nullptr);
    ~TStringGrid() override;

    int ColCount() const { return m_colCount; }
    void SetColCount(int value);
    int RowCount() const { return m_rowCount; }
    void SetRowCount(int value);
    int FixedCols() const { return m_fixedCols; }
    void SetFixedCols(int value);
    int FixedRows() const { return m_fixedRows; }
    void SetFixedRows(int value);

    int DefaultColWidth() const { return m_defaultColWidth; }
    void SetDefaultColWidth(int value);
    int DefaultRowHeight() const { return m_defaultRowHeight; }
    void SetDefaultRowHeight(int value);
    int GridLineWidth() const { return m_gridLineWidth; }
    void SetGridLineWidth(int value);
    // Outside the column range a width reads as DefaultColWidth.
    int ColWidths(int col) const;
    void SetColWidths(int col, int width);
    int RowHeights(int row) const;
    void SetRowHeights(int row, int height);

    TGridOptions Options() const { return m_options; }
    void SetOptions(TGridOptions value);
    QColor FixedColor() const { return m_fixedColor; }
    void SetFixedColor(const QColor &value);
    bool Ctl3D() const { return m_ctl3D; }
    void SetCtl3D(bool value);

    std::string Cells(int col, int row) const;
    // A cell's text without a copy, for passes over many rows; valid until
    // the row is next changed.
    std::string_view CellText(int col, int row) const { return m_store.Text(col, row); }
    // A hint before a pass over many rows: asking for the row kRowsAhead
    // further on lets the waits on memory overlap. Any row number is allowed.
    void PrefetchRow(int row) const { m_store.Prefetch(row); }
    static constexpr int kRowsAhead = TCellStore::kRowsAhead;
    void SetCells(int col, int row, const std::string &text);
    TObject *Objects(int col, int row) const;
    void SetObjects(int col, int row, TObject *object);
    // Rows 0 .. RowCount - 1 of a column; columns 0 .. ColCount - 1 of a row.
    TCellList Cols(int col) const;
    void SetCols(int col, const TCellList &list);
    TCellList Rows(int row) const;
    void SetRows(int row, const TCellList &list);

    // The current cell.
    int Col() const { return m_col; }
    void SetCol(int col);
    int Row() const { return m_row; }
    void SetRow(int row);
    void FocusCell(int col, int row);

    // Scroll position: the first non-fixed row and column in view.
    int TopRow() const { return m_topRow; }
    void SetTopRow(int row);
    int LeftCol() const { return m_leftCol; }
    void SetLeftCol(int col);
    int VisibleRowCount() const;
    int VisibleColCount() const;

    // The rectangle of a cell in viewport coordinates; empty when not in view.
    QRect CellRect(int col, int row) const;
    // The cell under a viewport point, or (-1, -1).
    QPoint MouseCoord(int x, int y) const;

    int ClientWidth() const;
    int ClientHeight() const;

    // Repaints suspended until the matching EndUpdate.
    void BeginUpdate();
    void EndUpdate();
    void InvalidateCell(int col, int row);
    void InvalidateRow(int row);
    void InvalidateGrid();

protected:
    // Cell access for derived grids without a copy of the text.
    TCellStore &Store() { return m_store; }
    const TCellStore &Store() const { return m_store; }

    virtual void DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                          TGridDrawState state);
    void DrawGridLines(QPainter &painter, int col, int row, const QRect &rect, bool fixed) const;
    virtual bool IsFixedCell(int col, int row) const
    {
        return col < m_fixedCols || row < m_fixedRows;
    }
    QRect CellRectAnywhere(int col, int row) const;

    // What the grid tells itself of its changes and input; derived grids
    // extend these.
    virtual void ColWidthsChanged() { }
    virtual void RowHeightsChanged() { }
    virtual void SizeChanged(int /*oldColCount*/, int /*oldRowCount*/) { }
    virtual void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseMove(Qt::KeyboardModifiers shift, int x, int y);
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    virtual void DblClick(int /*x*/, int /*y*/) { }
    virtual void KeyDown(int &key, Qt::KeyboardModifiers shift);
    virtual void KeyPress(char & /*key*/) { }
    virtual void KeyUp(int & /*key*/, Qt::KeyboardModifiers /*shift*/) { }
    virtual void Resized() { }
    // A column border drag is in progress.
    bool ColSizingActive() const { return m_sizingCol >= 0; }
    // The column whose right border lies within reach of x in a fixed row, or -1.
    int SizingColAt(int x, int y) const;

    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

    // Makes (col, row) current; with `scroll`, the view moves only as far
    // as it takes to show the cell whole.
    void MoveCurrent(int col, int row, bool scroll = true);
    // The first row and column in view and current, as for a new list.
    void ResetView();
    // After the current cell moved.
    virtual void CurrentCellChanged() { }

private:
    void UpdateScrollBars();
    int MaxTopRow() const;
    int MaxLeftCol() const;
    void ScrollIntoView(int col, int row);
    void ClampScroll();
    void Repaint();

    TCellStore m_store;
    int m_colCount = 5;
    int m_rowCount = 5;
    int m_fixedCols = 1;
    int m_fixedRows = 1;
    int m_defaultColWidth = 64;
    int m_defaultRowHeight = 24;
    int m_gridLineWidth = 1;
    std::vector<int> m_colWidths;
    std::vector<int> m_rowHeights;
    TGridOptions m_options
        = TGridOptions(goFixedVertLine | goFixedHorzLine | goVertLine | goHorzLine | goRangeSelect);
    QColor m_fixedColor;
    bool m_ctl3D = true;
    int m_col = 1;
    int m_row = 1;
    int m_topRow = 1;
    int m_leftCol = 1;
    int m_updateCount = 0;
    bool m_scrolling = false;
    int m_sizingCol = -1;
    int m_sizingStartX = 0;
    int m_sizingStartWidth = 0;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TStringGrid::TGridOptions)
