#pragma once

// The game list's grid component, TAdvStringGrid: check boxes in cells,
// hidden columns, sorting, CSV loading, column widths and drawing, each kept
// in a unit of its own that the component puts together.

#include "grid/HiddenColumns.h"
#include "platform/Exceptions.h"
#include "platform/StringGrid.h"

#include <QFont>
#include <QPixmap>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class EAdvGridError : public Exception {
public:
    using Exception::Exception;
};

enum TCellType : uint8_t { ctCheckBox = 4, ctDataCheckBox = 5 };
enum TCellVAlign : uint8_t { vaTop, vaBottom, vaCenter, vaUnderText, vaAboveText, vaFull };
enum TCellHAlign : uint8_t { haLeft, haRight, haCenter, haBeforeText, haAfterText, haFull };

// A graphic in a cell's object slot, owned by the grid. Made and freed on
// the GUI thread only: they come from a pool of their own (CheckBoxPool.h).
class TCellGraphic final : public TObject {
public:
    static void *operator new(size_t size);
    static void operator delete(void *p, size_t size);

    TCellType CellType = ctCheckBox;
    TCellVAlign CellVAlign = vaTop;
    TCellHAlign CellHAlign = haBeforeText;
    bool CellBoolean = false; // the state of a ctCheckBox
};

class TGridSorter;
struct TSortCounts;

// The grid of the game list: a string grid with hidden columns, CSV loading,
// check-box cells, sorting on a header click with a typed goto, and column
// sizing. Cell access (Cells, Objects, check boxes) takes real column
// indices; drawing, the mouse, sorting and searching map display columns to
// real ones. Its parts of their own: CSV loading (CSVLoad.h), hidden columns
// (HiddenColumns.h), the sort (GridSort.h), drawing (GridPaint.h), the check
// boxes' memory (CheckBoxPool.h) and the widest text of a column
// (WidestText.h).
class TAdvStringGrid : public TStringGrid {
    Q_OBJECT
    Q_PROPERTY(bool EnableGraphics READ EnableGraphics WRITE SetEnableGraphics)
    Q_PROPERTY(bool EnableHTML READ EnableHTML WRITE SetEnableHTML)
    Q_PROPERTY(bool OemConvert READ OemConvert WRITE SetOemConvert)
    Q_PROPERTY(QFont FixedFont READ FixedFont WRITE SetFixedFont)
    Q_PROPERTY(TVAlignment VAlignment READ VAlignment WRITE SetVAlignment)
    Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
    Q_PROPERTY(bool ColumnSizeStretch READ ColumnSizeStretch WRITE SetColumnSizeStretch)
    Q_PROPERTY(bool FixedRowAlways READ FixedRowAlways WRITE SetFixedRowAlways)
    Q_PROPERTY(bool FixedColAlways READ FixedColAlways WRITE SetFixedColAlways)
    Q_PROPERTY(QColor SelectionColor READ SelectionColor WRITE SetSelectionColor)
    Q_PROPERTY(QColor SelectionTextColor READ SelectionTextColor WRITE SetSelectionTextColor)
    Q_PROPERTY(bool SelectionRectangle READ SelectionRectangle WRITE SetSelectionRectangle)
    Q_PROPERTY(bool Bands READ Bands WRITE SetBands)
    Q_PROPERTY(bool FixedAsButtons READ FixedAsButtons WRITE SetFixedAsButtons)
    Q_PROPERTY(bool SortShow READ SortShow WRITE SetSortShow)
    Q_PROPERTY(int SortColumn READ SortColumn WRITE SetSortColumn)
    Q_PROPERTY(TSortDirection SortDirection READ SortDirection WRITE SetSortDirection)
    Q_PROPERTY(bool SortAutoFormat READ SortAutoFormat WRITE SetSortAutoFormat)
    Q_PROPERTY(bool SortFull READ SortFull WRITE SetSortFull)
    Q_PROPERTY(bool SortFixedCols READ SortFixedCols WRITE SetSortFixedCols)
    Q_PROPERTY(bool SortNormalCellsOnly READ SortNormalCellsOnly WRITE SetSortNormalCellsOnly)
    Q_PROPERTY(bool AutoGotoWhenSorted READ AutoGotoWhenSorted WRITE SetAutoGotoWhenSorted)
    Q_PROPERTY(bool AutoGotoIncremental READ AutoGotoIncremental WRITE SetAutoGotoIncremental)

public:
    enum TVAlignment { vtaCenter, vtaTop, vtaBottom };
    Q_ENUM(TVAlignment)
    enum TSortDirection { sdAscending, sdDescending };
    Q_ENUM(TSortDirection)
    enum TSortStyle {
        ssAutomatic,
        ssAlphabetic,
        ssNumeric,
        ssDate,
        ssAlphaNoCase,
        ssAlphaCase,
        ssShortDateEU,
        ssShortDateUS,
        ssCustom,
        ssFinancial,
        ssAnsiAlphaCase,
        ssAnsiAlphaNoCase,
        ssRaw,
        ssHTML,
        ssImages
    };
    Q_ENUM(TSortStyle)

    // Columns below this real index can be hidden.
    static constexpr int kMaxHidden = THiddenColumns::kMax;

    explicit TAdvStringGrid(QWidget *parent = nullptr);
    ~TAdvStringGrid() override;

    // Counts as the grid's own operations see them.
    int GetRowCountEx() const { return RowCount(); }
    int GetColCount() const { return GetColCountEx(); }
    int GetColCountEx() const { return ColCount(); }
    void SetRowCountEx(int value);
    void SetColCountEx(int value);
    int GetFixedRowsEx() const;
    int GetFixedColsEx() const;

    // Hidden columns.
    int RemapCol(int displayCol) const;
    int RemapColInv(int realCol) const;
    int RealColIndex(int displayCol) const { return RemapCol(displayCol); }
    int DisplColIndex(int realCol) const { return RemapColInv(realCol); }
    bool IsHiddenColumn(int realCol) const;
    int NumHiddenColumns() const { return m_hidden.Count(); }
    void HideColumn(int col) { HideColumns(col, col); }
    void HideColumns(int from, int to);
    void UnhideColumn(int col) { UnhideColumns(col, col); }
    void UnhideColumns(int from, int to);
    void UnhideColumnsAll();

    // Emptying and moving cells (real column indices).
    void Clear();
    virtual void ClearRect(int col1, int row1, int col2, int row2);
    void ClearCols(int col, int count);
    virtual void RemoveCols(int col, int count);
    virtual void InsertCols(int col, int count);

    // CSV loading.
    char CSVDelimiter = '\0';
    bool FixedCellsInFiles = true;
    bool TildeLineBreaks = false;
    std::function<void(QObject *sender, short progress)> OnFileProgress;
    void LoadFromCSV(const std::string &fileName) { InputFromCSV(fileName, false); }
    void InsertFromCSV(const std::string &fileName) { InputFromCSV(fileName, true); }
    void InputFromCSV(const std::string &fileName, bool insert);

    // Check boxes (real column indices).
    std::string CheckTrueText = "Y";
    std::string CheckFalseText = "N";
    void AddCheckBox(int col, int row, bool state, bool data);
    void RemoveCheckBox(int col, int row);
    bool HasCheckBox(int col, int row) const;
    bool GetCheckBoxState(int col, int row, bool &state) const;
    bool SetCheckBoxState(int col, int row, bool state);
    bool ToggleCheck(int col, int row, bool checkEditable);
    bool ToggleCheckBox(int col, int row) { return ToggleCheck(col, row, false); }
    // A click's toggle of the box in a cell (display column), with its event.
    bool UserToggle(int displayCol, int row);
    // Whether a cell may be edited by the user; `canEdit` comes in holding
    // the caller's value.
    virtual void GetCellReadOnly(int col, int row, bool &canEdit);

    // Column layout (display column indices).
    void SetAutoSize(bool value);
    bool AutoSize() const { return m_autoSize; }
    void AutoSizeColumns(bool doFixedCols, int extra);
    void AutoSizeCol(int col) { SizeToWidth(col, false); }
    void SizeToWidth(int col, bool onlyGrow);
    void StretchRightColumn();

    // Sorting (GridSort.h) and the typed goto.
    void QSort();
    int Compare(int col, int row1, int row2);
    int CompareLine(int col, int row1, int row2);
    void SortSwapRows(int row1, int row2);
    // The first row whose sort-column text starts with `text` (typed, UTF-8),
    // compared in the encoding each cell is shown in.
    int Search(const std::string &text) const;
    std::string IncrementalSearchText;
    std::string SortPrefix;
    std::string SortSuffix;
    QPixmap SortUpGlyph;
    QPixmap SortDownGlyph;

    // Events, called only when assigned.
    std::function<void(QObject *sender, int col, int row, bool state)> OnCheckBoxClick;
    std::function<void(QObject *sender, int col, int row, bool state)> OnCheckBoxMouseUp;
    std::function<void(QObject *sender, int row, int col, bool &canEdit)> OnCanEditCell;
    std::function<void(QObject *sender, int row, int col)> OnClickCell;
    std::function<void(QObject *sender, int row, int col)> OnDblClickCell;
    std::function<void(QObject *sender, int fromCol, int toCol)> OnEndColumnSize;
    std::function<void(QObject *sender, char &key)> OnKeyPress;
    std::function<void(QObject *sender, int col, bool &doSort)> OnCanSort;
    std::function<void(QObject *sender, int col)> OnClickSort;
    std::function<void(QObject *sender, int col, TSortStyle &style, std::string &prefix,
                       std::string &suffix)>
        OnGetFormat;
    std::function<void(QObject *sender, int col, int row1, int row2, int &result)> OnCustomCompare;
    std::function<void(QObject *sender, int col, int row1, int row2, int &result)> OnRawCompare;
    std::function<void(QObject *sender, int row, int col, Qt::Alignment &alignment)> OnGetAlignment;
    std::function<void(QObject *sender, int row, int col, QColor &brush, QFont &font)>
        OnGetCellColor;

    // A cell's text as it is drawn (display column).
    QString ShownText(int displayCol, int row) const;

    // Published settings.
    bool EnableGraphics() const { return m_enableGraphics; }
    void SetEnableGraphics(bool value);
    bool EnableHTML() const { return m_enableHTML; }
    void SetEnableHTML(bool value);
    bool OemConvert() const { return m_oemConvert; }
    void SetOemConvert(bool value) { m_oemConvert = value; }
    QFont FixedFont() const { return m_fixedFont; }
    void SetFixedFont(const QFont &value);
    TVAlignment VAlignment() const { return m_vAlignment; }
    void SetVAlignment(TVAlignment value);
    bool ColumnSizeStretch() const { return m_stretch; }
    void SetColumnSizeStretch(bool value);
    bool FixedRowAlways() const { return m_fixedRowAlways; }
    void SetFixedRowAlways(bool value) { m_fixedRowAlways = value; }
    bool FixedColAlways() const { return m_fixedColAlways; }
    void SetFixedColAlways(bool value) { m_fixedColAlways = value; }
    QColor SelectionColor() const { return m_selectionColor; }
    void SetSelectionColor(const QColor &value);
    QColor SelectionTextColor() const { return m_selectionTextColor; }
    void SetSelectionTextColor(const QColor &value);
    bool SelectionRectangle() const { return m_selectionRectangle; }
    void SetSelectionRectangle(bool value);
    bool Bands() const { return m_bands; }
    void SetBands(bool value);
    bool FixedAsButtons() const { return m_fixedAsButtons; }
    void SetFixedAsButtons(bool value);
    bool SortShow() const { return m_sortShow; }
    void SetSortShow(bool value);
    int SortColumn() const { return m_sortColumn; }
    void SetSortColumn(int value);
    TSortDirection SortDirection() const { return m_sortDirection; }
    void SetSortDirection(TSortDirection value);
    bool SortAutoFormat() const { return m_sortAutoFormat; }
    void SetSortAutoFormat(bool value) { m_sortAutoFormat = value; }
    bool SortFull() const { return m_sortFull; }
    void SetSortFull(bool value) { m_sortFull = value; }
    bool SortFixedCols() const { return m_sortFixedCols; }
    void SetSortFixedCols(bool value) { m_sortFixedCols = value; }
    bool SortNormalCellsOnly() const { return m_sortNormalCellsOnly; }
    void SetSortNormalCellsOnly(bool value) { m_sortNormalCellsOnly = value; }
    bool AutoGotoWhenSorted() const { return m_autoGotoWhenSorted; }
    void SetAutoGotoWhenSorted(bool value) { m_autoGotoWhenSorted = value; }
    bool AutoGotoIncremental() const { return m_autoGotoIncremental; }
    void SetAutoGotoIncremental(bool value) { m_autoGotoIncremental = value; }

protected:
    // Per-cell look: alignment, brush and font, as the column and the events
    // decide. Row and column here are display indices.
    virtual Qt::Alignment GetCellAlignment(int col, int row);
    virtual void GetCellColor(int col, int row, TGridDrawState state, QColor &brush, QFont &font);
    // The sort style of a real column before the OnGetFormat event.
    virtual void GetColumnFormat(int col, TSortStyle &style, std::string &prefix,
                                 std::string &suffix);
    // Copies the widths into per-column settings; nothing here.
    virtual void ColumnWidthsCopied() { }

    void DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                  TGridDrawState state) override;
    void ColWidthsChanged() override;
    void SizeChanged(int oldColCount, int oldRowCount) override;
    void Resized() override;
    void MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y) override;
    void DblClick(int x, int y) override;
    void KeyDown(int &key, Qt::KeyboardModifiers shift) override;
    void KeyPress(char &key) override;
    void KeyUp(int &key, Qt::KeyboardModifiers shift) override;
    void CurrentCellChanged() override;
    void focusInEvent(QFocusEvent *event) override;

private:
    static constexpr int kCheckBoxSize = 15;

    TCellGraphic *CellGraphic(int col, int row) const;
    static bool FreeGraphic(TObject *object);
    const TCellGraphic *CheckBoxOf(int col, int row) const;

    bool m_enableGraphics = true;
    bool m_enableHTML = true;
    bool m_oemConvert = false;
    QFont m_fixedFont;
    TVAlignment m_vAlignment = vtaTop;
    bool m_autoSize = false;
    bool m_stretch = false;
    bool m_stretchAllowed = true;
    bool m_fixedRowAlways = false;
    bool m_fixedColAlways = false;
    QColor m_selectionColor;
    QColor m_selectionTextColor;
    bool m_selectionRectangle = false;
    bool m_bands = false;
    bool m_fixedAsButtons = false;
    bool m_sortShow = false;
    int m_sortColumn = 0;
    TSortDirection m_sortDirection = sdAscending;
    bool m_sortAutoFormat = true;
    bool m_sortFull = false;
    bool m_sortFixedCols = false;
    bool m_sortNormalCellsOnly = false;
    bool m_autoGotoWhenSorted = false;
    bool m_autoGotoIncremental = false;

    THiddenColumns m_hidden;

    std::unique_ptr<TGridSorter> m_sorter;
    friend class TGridSorter;
    friend class TGridPainter;
    friend int WidestColumnText(TAdvStringGrid &grid, int displayCol, int realCol);
    friend void LoadCSVInto(TAdvStringGrid &grid, const std::string &fileName, bool insert);
    // Counting a grid's sorts, for benchmarks and tests (tests/support/GameGrid.h).
    friend void CountSorts(TAdvStringGrid &grid, bool on);
    friend TSortCounts LastSortCounts(const TAdvStringGrid &grid);

    bool m_colSized = false;
    bool m_suppressNextSort = false;
    QPoint m_pressPoint { -1, -1 };
    QPoint m_pressedCell { -1, -1 };
};
