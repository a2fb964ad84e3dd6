#pragma once

// TAdvColumnGrid: the grid component with settings per column.

#include "grid/Advgrid.h"

#include <QFont>
#include <QObject>
#include <QPen>
#include <QStringList>

#include <memory>
#include <vector>

class TAdvColumnGrid;

// The settings of one column of a TAdvColumnGrid.
class TGridColumnItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(TAlignment Alignment READ Alignment WRITE SetAlignment)
    Q_PROPERTY(int Borders MEMBER Borders)
    Q_PROPERTY(QPen BorderPen MEMBER BorderPen)
    Q_PROPERTY(QColor Color READ Color WRITE SetColor)
    Q_PROPERTY(QStringList ComboItems MEMBER ComboItems)
    Q_PROPERTY(int EditLength MEMBER EditLength)
    Q_PROPERTY(QObject *EditLink MEMBER EditLink)
    Q_PROPERTY(QString EditMask MEMBER EditMask)
    Q_PROPERTY(TEditorType Editor MEMBER Editor)
    Q_PROPERTY(bool Fixed READ Fixed WRITE SetFixed)
    Q_PROPERTY(QFont Font READ Font WRITE SetFont)
    Q_PROPERTY(QString Header READ Header WRITE SetHeader)
    Q_PROPERTY(bool Password MEMBER Password)
    Q_PROPERTY(int PrintBorders MEMBER PrintBorders)
    Q_PROPERTY(QPen PrintBorderPen MEMBER PrintBorderPen)
    Q_PROPERTY(QColor PrintColor MEMBER PrintColor)
    Q_PROPERTY(QFont PrintFont MEMBER PrintFont)
    Q_PROPERTY(bool ReadOnly MEMBER ReadOnly)
    Q_PROPERTY(TAdvStringGrid::TSortStyle SortStyle MEMBER SortStyle)
    Q_PROPERTY(QString SortPrefix READ SortPrefixText WRITE SetSortPrefixText)
    Q_PROPERTY(QString SortSuffix READ SortSuffixText WRITE SetSortSuffixText)
    Q_PROPERTY(int SpinMax MEMBER SpinMax)
    Q_PROPERTY(int SpinMin MEMBER SpinMin)
    Q_PROPERTY(int SpinStep MEMBER SpinStep)
    Q_PROPERTY(int Tag MEMBER Tag)
    Q_PROPERTY(int Width READ Width WRITE SetWidth)

public:
    enum TAlignment { taLeftJustify, taRightJustify, taCenter };
    Q_ENUM(TAlignment)
    enum TEditorType {
        edNormal,
        edSpinEdit,
        edComboEdit,
        edComboList,
        edEditBtn,
        edCheckBox,
        edDateEdit
    };
    Q_ENUM(TEditorType)

    TGridColumnItem(TAdvColumnGrid *grid, int index);

    int Index() const { return m_index; }

    TAlignment Alignment() const { return m_alignment; }
    void SetAlignment(TAlignment value);
    QColor Color() const { return m_color; }
    void SetColor(const QColor &value);
    bool Fixed() const { return m_fixed; }
    void SetFixed(bool value);
    QFont Font() const { return m_font; }
    void SetFont(const QFont &value);
    QString Header() const { return m_header; }
    void SetHeader(const QString &value);
    int Width() const { return m_width; }
    void SetWidth(int value);
    QString SortPrefixText() const;
    void SetSortPrefixText(const QString &value);
    QString SortSuffixText() const;
    void SetSortSuffixText(const QString &value);

    int Borders = 0;
    QPen BorderPen { QColor(192, 192, 192) };
    QStringList ComboItems;
    int EditLength = 0;
    QObject *EditLink = nullptr;
    QString EditMask;
    TEditorType Editor = edNormal;
    bool Password = false;
    int PrintBorders = 0;
    QPen PrintBorderPen;
    QColor PrintColor { 255, 255, 255 };
    QFont PrintFont;
    bool ReadOnly = false;
    TAdvStringGrid::TSortStyle SortStyle = TAdvStringGrid::ssAutomatic;
    std::string SortPrefix;
    std::string SortSuffix;
    int SpinMax = 0;
    int SpinMin = 0;
    int SpinStep = 0;
    int Tag = 0;

private:
    friend class TGridColumnCollection;
    friend class TAdvColumnGrid;
    TAdvColumnGrid *m_grid;
    int m_index;
    TAlignment m_alignment = taLeftJustify;
    QColor m_color;
    bool m_fixed = false;
    QFont m_font;
    QString m_header;
    int m_width = 64;
};

// The column settings of a TAdvColumnGrid, item i for column i.
class TGridColumnCollection {
public:
    explicit TGridColumnCollection(TAdvColumnGrid *grid) : m_grid(grid) { }

    int Count() const { return int(m_items.size()); }
    TGridColumnItem *Items(int index) const;
    TGridColumnItem *operator[](int index) const { return Items(index); }
    TGridColumnItem *Add();
    void Delete(int index);
    // Adds items at the end or removes them from the end.
    void Resize(int count);

private:
    TAdvColumnGrid *m_grid;
    std::vector<std::unique_ptr<TGridColumnItem>> m_items;
};

// The string grid with per-column settings.
class TAdvColumnGrid : public TAdvStringGrid {
    Q_OBJECT
    Q_PROPERTY(int ColCount READ ColCount WRITE SetColCount)

public:
    explicit TAdvColumnGrid(QWidget *parent = nullptr);
    ~TAdvColumnGrid() override;

    TGridColumnCollection &Columns() { return m_columns; }
    // Also sizes the Columns collection to the new count.
    void SetColCount(int value);

    void GetCellReadOnly(int col, int row, bool &canEdit) override;

protected:
    Qt::Alignment GetCellAlignment(int col, int row) override;
    void GetCellColor(int col, int row, TGridDrawState state, QColor &brush, QFont &font) override;
    void GetColumnFormat(int col, TSortStyle &style, std::string &prefix,
                         std::string &suffix) override;
    void ColumnWidthsCopied() override;
    bool IsFixedCell(int col, int row) const override;

private:
    TGridColumnItem *ItemFor(int col) const;

    TGridColumnCollection m_columns;
};
