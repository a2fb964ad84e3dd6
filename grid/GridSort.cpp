// Sorting the grid's rows and comparing their cells (see GridSort.h).

#include "grid/GridSort.h"

#include "grid/Advutil.h"
#include "grid/GridAccessible.h"
#include "platform/Collate.h"

#include <QDate>
#include <QLocale>
#include <QScopeGuard>

#include <algorithm>
#include <charconv>
#include <memory>

namespace {

struct TNumberFormat {
    char thousand = ',';
    char decimal = '.';
};

TNumberFormat SystemNumberFormat()
{
    const QLocale locale;
    TNumberFormat format;
    const QString group = locale.groupSeparator();
    const QString decimal = locale.decimalPoint();
    format.thousand
        = group.size() == 1 && group[0].unicode() < 0x80 ? char(group[0].unicode()) : '\0';
    format.decimal
        = decimal.size() == 1 && decimal[0].unicode() < 0x80 ? char(decimal[0].unicode()) : '.';
    return format;
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int Sign(double v)
{
    return (v > 0) - (v < 0);
}

int CompareBytes(std::string_view a, std::string_view b)
{
    const int c = a.compare(b); // unsigned bytes, a proper prefix first
    return (c > 0) - (c < 0);
}

std::string UpperAscii(std::string_view s)
{
    std::string out(s);
    for (char &c : out)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return out;
}

bool ToNumber(std::string_view cell, TAdvStringGrid::TSortStyle style, const std::string &prefix,
              const std::string &suffix, const TNumberFormat &format, double &value)
{
    std::string s(cell);
    if (!prefix.empty())
        if (const size_t p = s.find(prefix); p != std::string::npos)
            s.erase(p, prefix.size());
    if (!suffix.empty())
        if (const size_t p = s.find(suffix); p != std::string::npos)
            s.erase(p, suffix.size());
    if (style == TAdvStringGrid::ssFinancial && format.thousand != '\0')
        s.erase(std::remove(s.begin(), s.end(), format.thousand), s.end());
    if (format.decimal != '.')
        if (const size_t p = s.find(format.decimal); p != std::string::npos)
            s[p] = '.';
    const char *begin = s.data();
    const char *end = s.data() + s.size();
    const auto result = std::from_chars(begin, end, value);
    if (result.ec == std::errc() && result.ptr == end)
        return true;
    if (cell.empty()) {
        value = 0;
        return true;
    }
    return false;
}

// Day number of a date text, or 0 when it is none. Day-first or month-first
// order; a two-digit year is taken in 1950..2049.
qint64 DateValue(std::string_view s, bool dayFirst)
{
    int parts[3] = { 0, 0, 0 };
    int n = 0;
    bool digits = false;
    for (char c : s) {
        if (IsDigit(c)) {
            if (n == 3)
                return 0;
            parts[n] = parts[n] * 10 + (c - '0');
            digits = true;
            if (parts[n] > 99999)
                return 0;
        } else if ((c == '/' || c == '-' || c == '.') && digits && n < 3) {
            ++n;
            digits = false;
        } else if (c == ' ') {
            break; // a time part is not compared
        } else {
            return 0;
        }
    }
    if (digits)
        ++n;
    if (n != 3)
        return 0;
    int year = parts[2];
    if (year < 100)
        year += year < 50 ? 2000 : 1900;
    const QDate date(year, dayFirst ? parts[1] : parts[0], dayFirst ? parts[0] : parts[1]);
    return date.isValid() ? date.toJulianDay() : 0;
}

bool LocaleIsDayFirst()
{
    const QString format = QLocale().dateFormat(QLocale::ShortFormat);
    return format.indexOf(QLatin1Char('d')) < format.indexOf(QLatin1Char('M'));
}

TAdvStringGrid::TSortStyle DetectedStyle(std::string_view s, const TNumberFormat &format)
{
    switch (DetectTextKind(s, format.thousand, format.decimal)) {
    case TTextKind::Number:
        return TAdvStringGrid::ssNumeric;
    case TTextKind::Date:
        return TAdvStringGrid::ssDate;
    case TTextKind::Text:
        break;
    }
    return TAdvStringGrid::ssAlphabetic;
}

// Eight bytes of s from offset on as a big-endian word, zeros past its end.
uint64_t BigEndianWord(std::string_view s, size_t offset)
{
    uint64_t word = 0;
    for (size_t i = offset; i < offset + 8; ++i)
        word = word << 8 | (i < s.size() ? uint8_t(s[i]) : 0);
    return word;
}

} // namespace

TGridSorter::SortKey::SortKey(std::string_view text, TSortStyle detected)
    : head { BigEndianWord(text, 0), BigEndianWord(text, 8), BigEndianWord(text, 16),
             BigEndianWord(text, 24) },
      text(text), detected(detected)
{
}

// Where the heads differ they decide as the bytes do: a zero padding a
// shorter text sorts it first, as a proper prefix sorts first.
int TGridSorter::SortKey::CompareBytes(const SortKey &other) const
{
    for (size_t i = 0; i < std::size(head); ++i)
        if (head[i] != other.head[i])
            return head[i] < other.head[i] ? -1 : 1;
    // Equal heads holding both texts whole: the shorter is a prefix.
    if (std::max(text.size(), other.text.size()) <= sizeof head)
        return (text.size() > other.text.size()) - (text.size() < other.text.size());
    return ::CompareBytes(text, other.text);
}

// The texts are looked up first and read afterwards, both a few rows ahead:
// after an earlier sort the rows' blocks lie scattered and each read would
// wait.
void TGridSorter::MakeSortKeys()
{
    const int col = m_grid.SortColumn();
    const TCellStore &store = m_grid.Store();
    m_sortKeys.assign(size_t(m_grid.RowCount()), SortKey());
    if (col < 0)
        return;
    for (int r = 0; r < m_grid.RowCount(); ++r) {
        store.Prefetch(r + TAdvStringGrid::kRowsAhead);
        m_sortKeys[size_t(r)].text = store.Text(col, r);
    }
    const TNumberFormat format { m_thousandSeparator, m_decimalSeparator };
    for (size_t r = 0; r < m_sortKeys.size(); ++r) {
        if (r + TAdvStringGrid::kRowsAhead < m_sortKeys.size())
            __builtin_prefetch(m_sortKeys[r + TAdvStringGrid::kRowsAhead].text.data());
        SortKey &key = m_sortKeys[r];
        key = SortKey(key.text, DetectedStyle(key.text, format));
    }
}

void TGridSorter::RefreshNumberFormat()
{
    const TNumberFormat format = SystemNumberFormat();
    m_thousandSeparator = format.thousand;
    m_decimalSeparator = format.decimal;
}

void TGridSorter::Sort()
{
    if (!m_counting) {
        TNoCounts none;
        SortRows(none);
        return;
    }
    m_counts = {};
    SortRows(m_counts);
}

int TGridSorter::Compare(int col, int row1, int row2)
{
    TNoCounts none;
    return Compare(none, col, row1, row2);
}

int TGridSorter::CompareLine(int col, int row1, int row2)
{
    TNoCounts none;
    return CompareLine(none, col, row1, row2);
}

void TGridSorter::SwapRows(int row1, int row2)
{
    TNoCounts none;
    SwapRows(none, row1, row2);
}

template<typename Counts> void TGridSorter::SortRows(Counts &counts)
{
    TAdvStringGrid &grid = m_grid;
    if (SortsByCheckBoxes()) {
        SortByCheckBoxes(counts);
        return;
    }
    std::unique_ptr<TCellList> savedCol0;
    if (grid.SortNormalCellsOnly() && grid.GetFixedColsEx() > 0)
        savedCol0 = std::make_unique<TCellList>(grid.Cols(0));
    grid.BeginUpdate();
    m_sortFormat = {};
    RefreshNumberFormat();
    grid.SetRowCountEx(grid.RowCount() + 3);
    const int currentRow = grid.Row();
    // However the sort ends (an event may throw), the scratch rows go again.
    const auto finish = qScopeGuard([this, &grid] {
        m_sorting = false;
        // Kept allocated: fresh pages for the keys would cost every click.
        m_sortKeys.clear();
        // The scratch rows hold copies of references that data rows own.
        for (int r = grid.RowCount() - 3; r < grid.RowCount(); ++r)
            grid.Store().ForgetRow(r);
        grid.SetRowCountEx(grid.RowCount() - 3);
        grid.EndUpdate();
    });
    MakeSortKeys();
    m_sorting = true;
    QuickSortRows(counts, grid.SortColumn(), grid.GetFixedRowsEx(), grid.RowCount() - 4);
    // The current row's index stays, and the view stays where it was.
    if (currentRow < grid.RowCount() - 3)
        grid.MoveCurrent(grid.Col(), currentRow, false);
    if (savedCol0)
        grid.SetCols(0, *savedCol0);
    AnnounceGridReset(grid);
}

// A column of check boxes sorts by their state, not by its empty texts.
bool TGridSorter::SortsByCheckBoxes() const
{
    const int col = m_grid.SortColumn();
    return col >= 0 && m_grid.GetFixedRowsEx() < m_grid.RowCount()
        && m_grid.HasCheckBox(col, m_grid.GetFixedRowsEx());
}

// Ticked rows first (missing first when descending); within each group by
// the first other shown column's text, byte by byte and ascending as an
// alphabetic sort compares, so a name column reads in order in both
// directions; rows equal in both keep their order.
template<typename Counts> void TGridSorter::SortByCheckBoxes(Counts &counts)
{
    TAdvStringGrid &grid = m_grid;
    grid.BeginUpdate();
    const auto endUpdate = qScopeGuard([&grid] { grid.EndUpdate(); });
    const int first = grid.GetFixedRowsEx();
    const int sortCol = grid.SortColumn();
    const int nameCol = grid.RemapCol(grid.RemapCol(0) == sortCol ? 1 : 0);
    struct Key {
        bool ticked;
        std::string_view name;
        int row;
    };
    std::vector<Key> keys;
    keys.reserve(size_t(grid.RowCount() - first));
    for (int r = first; r < grid.RowCount(); ++r) {
        bool ticked = false;
        grid.GetCheckBoxState(sortCol, r, ticked);
        keys.push_back({ ticked, grid.Store().Text(nameCol, r), r });
    }
    const bool tickedFirst = grid.SortDirection() == TAdvStringGrid::sdAscending;
    std::stable_sort(keys.begin(), keys.end(), [&](const Key &a, const Key &b) {
        counts.Compared();
        if (a.ticked != b.ticked)
            return a.ticked == tickedFirst;
        return a.name < b.name;
    });
    // Row first + i takes the row keys[i] names; each cycle of that
    // permutation is walked with swaps.
    std::vector<bool> placed(keys.size(), false);
    for (size_t i = 0; i < keys.size(); ++i) {
        size_t j = i;
        while (!placed[j] && size_t(keys[j].row - first) != i) {
            const size_t from = size_t(keys[j].row - first);
            SwapRows(counts, first + int(j), first + int(from));
            placed[j] = true;
            j = from;
        }
        placed[j] = true;
    }
    AnnounceGridReset(grid);
}

template<typename Counts>
void TGridSorter::QuickSortRows(Counts &counts, int col, int left, int right)
{
    const int dir = m_grid.SortDirection() == TAdvStringGrid::sdAscending ? 1 : -1;
    const int pivot = m_grid.RowCount() - 2;
    // The pivot's key is all a keyed comparison reads of it; only other
    // columns or handlers need its cells.
    if (!SortsByKeysOnly())
        m_grid.Store().CopyRowRefs(pivot, (left + right) / 2);
    if (size_t(pivot) < m_sortKeys.size())
        m_sortKeys[size_t(pivot)] = m_sortKeys[size_t((left + right) / 2)];
    int i = left, j = right;
    do {
        while (CompareLine(counts, col, pivot, i) == dir && i < right)
            ++i;
        while (CompareLine(counts, col, j, pivot) == dir && j > left)
            --j;
        if (i <= j) {
            if (i != j && CompareLine(counts, col, i, j) != 0)
                SwapRows(counts, i, j);
            ++i;
            --j;
        }
    } while (i <= j);
    if (left < j)
        QuickSortRows(counts, col, left, j);
    if (i < right)
        QuickSortRows(counts, col, i, right);
}

template<typename Counts> void TGridSorter::SwapRows(Counts &counts, int row1, int row2)
{
    counts.Swapped();
    m_grid.Store().SwapRows(row1, row2);
    if (size_t(std::max(row1, row2)) < m_sortKeys.size())
        std::swap(m_sortKeys[size_t(row1)], m_sortKeys[size_t(row2)]);
    const int h1 = m_grid.RowHeights(row1), h2 = m_grid.RowHeights(row2);
    if (h1 != h2) {
        m_grid.SetRowHeights(row1, h2);
        m_grid.SetRowHeights(row2, h1);
    }
}

template<typename Counts> int TGridSorter::CompareLine(Counts &counts, int col, int row1, int row2)
{
    int result = Compare(counts, col, row1, row2);
    // While sorting, hidden columns count as columns of the row.
    while (result == 0 && m_grid.SortFull()
           && col <= m_grid.ColCount() + m_grid.NumHiddenColumns() - 2)
        result = Compare(counts, ++col, row1, row2);
    return result;
}

bool TGridSorter::HasCompareHandlers() const
{
    return m_grid.OnGetFormat || m_grid.OnCustomCompare || m_grid.OnRawCompare;
}

bool TGridSorter::SortsByKeysOnly() const
{
    return !m_grid.SortFull() && m_grid.SortColumn() >= 0 && !HasCompareHandlers();
}

template<typename Counts> int TGridSorter::Compare(Counts &counts, int col, int row1, int row2)
{
    counts.Compared();
    TAdvStringGrid &grid = m_grid;
    // Without handlers that might change cells mid-sort, the texts can come
    // from the sort's own keys.
    const bool keyed = m_sorting && col == grid.SortColumn()
        && size_t(std::max(row1, row2)) < m_sortKeys.size() && !HasCompareHandlers();
    // The common case of a sort by keys, once the column's format is known.
    if (keyed && col == m_sortFormat.col) {
        const SortKey &a = m_sortKeys[size_t(row1)];
        const TSortStyle style
            = m_sortFormat.style == TAdvStringGrid::ssAutomatic ? a.detected : m_sortFormat.style;
        if (style == TAdvStringGrid::ssAlphabetic || style == TAdvStringGrid::ssAlphaCase)
            return a.CompareBytes(m_sortKeys[size_t(row2)]);
    }
    // A column's own format does not change during a sort; the event's may.
    SortFormat asked;
    const bool known = m_sorting && !grid.OnGetFormat && col == m_sortFormat.col;
    if (!known) {
        asked
            = { col,
                grid.SortAutoFormat() ? TAdvStringGrid::ssAutomatic : TAdvStringGrid::ssAlphabetic,
                {},
                {} };
        grid.GetColumnFormat(col, asked.style, asked.prefix, asked.suffix);
        if (grid.OnGetFormat)
            grid.OnGetFormat(&grid, col, asked.style, asked.prefix, asked.suffix);
        else if (m_sorting)
            m_sortFormat = asked;
    }
    const SortFormat &columnFormat = known ? m_sortFormat : asked;
    const std::string &prefix = columnFormat.prefix;
    const std::string &suffix = columnFormat.suffix;
    TSortStyle style = columnFormat.style;
    const std::string_view a = keyed ? m_sortKeys[size_t(row1)].text : grid.Store().Text(col, row1);
    const std::string_view b = keyed ? m_sortKeys[size_t(row2)].text : grid.Store().Text(col, row2);
    if (!m_sorting)
        RefreshNumberFormat();
    const TNumberFormat format { m_thousandSeparator, m_decimalSeparator };
    // The first text alone decides the automatic style.
    if (style == TAdvStringGrid::ssAutomatic)
        style = keyed ? m_sortKeys[size_t(row1)].detected : DetectedStyle(a, format);
    switch (style) {
    case TAdvStringGrid::ssAutomatic:
    case TAdvStringGrid::ssAlphabetic:
    case TAdvStringGrid::ssAlphaCase:
        return ::CompareBytes(a, b);
    case TAdvStringGrid::ssAlphaNoCase:
        return ::CompareBytes(UpperAscii(a), UpperAscii(b));
    case TAdvStringGrid::ssAnsiAlphaCase:
        return AnsiCompareStr(std::string(a), std::string(b));
    case TAdvStringGrid::ssAnsiAlphaNoCase:
        return AnsiCompareText(std::string(a), std::string(b));
    case TAdvStringGrid::ssNumeric:
    case TAdvStringGrid::ssFinancial: {
        double x = 0, y = 0;
        if (!ToNumber(a, style, prefix, suffix, format, x)
            || !ToNumber(b, style, prefix, suffix, format, y))
            return 0;
        return Sign(x - y);
    }
    case TAdvStringGrid::ssDate: {
        const bool dayFirst = LocaleIsDayFirst();
        return Sign(double(DateValue(a, dayFirst) - DateValue(b, dayFirst)));
    }
    case TAdvStringGrid::ssShortDateEU:
    case TAdvStringGrid::ssShortDateUS: {
        const bool dayFirst = style == TAdvStringGrid::ssShortDateEU;
        return Sign(double(DateValue(a, dayFirst) - DateValue(b, dayFirst)));
    }
    case TAdvStringGrid::ssHTML:
        return ::CompareBytes(StripHTML(a), StripHTML(b));
    case TAdvStringGrid::ssImages:
        return 0; // cells carry no image indices in this grid
    case TAdvStringGrid::ssCustom: {
        int result = 0;
        if (grid.OnCustomCompare)
            grid.OnCustomCompare(&grid, col, row1, row2, result);
        return result;
    }
    case TAdvStringGrid::ssRaw: {
        int result = 0;
        if (grid.OnRawCompare)
            grid.OnRawCompare(&grid, col, row1, row2, result);
        return result;
    }
    }
    return 0;
}
