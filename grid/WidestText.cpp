// The widest text of a grid column, and of many texts in one font (see
// WidestText.h).

#include "grid/WidestText.h"

#include "grid/Advgrid.h"
#include "grid/Advutil.h"
#include "platform/AnsiText.h"

#include <QString>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace {

// The widest of the lines of a text, markup measured without its tags.
int TextWidth(const QFont &font, std::string_view text, bool html)
{
    if (html && IsHTML(text)) {
        const std::string plain = StripHTML(text);
        return TextWidth(font, plain, html);
    }
    const QFontMetrics metrics(font);
    int widest = 0;
    ForEachLine(text, [&](std::string_view line) {
        widest = std::max(widest, metrics.horizontalAdvance(ToDisplay(std::string(line))));
    });
    return widest;
}

QString Shown(std::string_view line)
{
    return IsAscii(line) ? QString::fromLatin1(line.data(), qsizetype(line.size()))
                         : ToDisplay(std::string(line));
}

} // namespace

TWidestFinder::TWidestFinder(const QFont &font)
    : m_metrics(font), m_metricsF(font),
      m_pairs(size_t(128) * 128, std::numeric_limits<float>::quiet_NaN())
{
    for (int c = 0; c < 128; ++c) {
        m_ascii[c] = m_metricsF.horizontalAdvance(QChar(c));
        m_ascii64[c] = int32_t(std::lround(m_ascii[c] * 64));
    }
}

void TWidestFinder::Add(std::string_view line, int extra)
{
    if (!m_candidates.empty() && m_candidates.back().extra == extra
        && m_candidates.back().text == line)
        return; // a run of one value, as in a column of check boxes
    m_candidates.push_back({ line, extra, Advances(line) + extra });
}

int TWidestFinder::Widest()
{
    if (m_candidates.empty())
        return 0;
    const auto top = std::max_element(
        m_candidates.begin(), m_candidates.end(),
        [](const Candidate &a, const Candidate &b) { return a.advances < b.advances; });
    int best = Measure(*top, Kerned(*top));
    for (;;) {
        const double widen = m_widen;
        const double stray = m_stray;
        std::unordered_map<double, const Candidate *> distinct;
        for (const Candidate &c : m_candidates) {
            if (c.advances * (1 + widen) + 1 < best)
                continue;
            const double kerned = Kerned(c);
            if (kerned + stray < best)
                continue;
            if (stray > 1)
                best = std::max(best, Measure(c, kerned)); // no shortcut once widths strayed
            else
                distinct.emplace(kerned, &c);
        }
        std::vector<std::pair<double, const Candidate *>> order(distinct.begin(), distinct.end());
        std::sort(order.begin(), order.end(),
                  [](const auto &a, const auto &b) { return a.first > b.first; });
        for (const auto &[kerned, c] : order) {
            if (kerned + stray < best)
                break;
            best = std::max(best, Measure(*c, kerned));
        }
        if (m_widen == widen && m_stray == stray)
            return best;
    }
}

double TWidestFinder::Advance(QChar c)
{
    if (c.unicode() < 128)
        return m_ascii[c.unicode()];
    auto it = m_wide.find(c.unicode());
    if (it == m_wide.end())
        it = m_wide.emplace(c.unicode(), m_metricsF.horizontalAdvance(c)).first;
    return it->second;
}

double TWidestFinder::Pair(QChar a, QChar b)
{
    float *kern = nullptr;
    if (a.unicode() < 128 && b.unicode() < 128) {
        kern = &m_pairs[size_t(a.unicode()) * 128 + b.unicode()];
    } else {
        const uint32_t key = uint32_t(a.unicode()) << 16 | b.unicode();
        kern = &m_widePairs.emplace(key, std::numeric_limits<float>::quiet_NaN()).first->second;
    }
    if (std::isnan(*kern)) {
        const QChar pair[2] = { a, b };
        *kern = float(m_metricsF.horizontalAdvance(QString(pair, 2)) - Advance(a) - Advance(b));
    }
    return *kern;
}

// Advances are whole 64ths of a pixel, so they add up exactly as ints.
double TWidestFinder::Advances(std::string_view line)
{
    int64_t width = 0;
    unsigned char any = 0;
    for (unsigned char c : line) {
        any |= c;
        width += m_ascii64[c & 0x7F];
    }
    if (!(any & 0x80))
        return double(width) / 64;
    double wide = 0;
    for (QChar c : ToDisplay(std::string(line)))
        wide += Advance(c);
    return wide;
}

double TWidestFinder::Kerned(const Candidate &c)
{
    const QString shown = Shown(c.text);
    double width = c.advances;
    for (qsizetype i = 1; i < shown.size(); ++i)
        width += Pair(shown[i - 1], shown[i]);
    const double gain = width - c.advances;
    if (gain > c.advances * m_widen + 1)
        m_widen = (gain + 1) / std::max(c.advances, 1.0);
    return width;
}

int TWidestFinder::Measure(const Candidate &c, double kerned)
{
    const int exact = m_metrics.horizontalAdvance(Shown(c.text)) + c.extra;
    const double stray = std::abs(exact - kerned);
    if (stray > m_stray)
        m_stray = stray + 1;
    return exact;
}

int WidestColumnText(TAdvStringGrid &grid, int displayCol, int realCol)
{
    const bool html = grid.m_enableHTML;
    int widest = 0;
    auto graphicWidth = [&](int r) {
        return grid.HasCheckBox(displayCol, r) ? TAdvStringGrid::kCheckBoxSize : 0;
    };
    auto measureExactly = [&](int r, bool fixed) {
        QColor brush;
        QFont font = fixed ? grid.m_fixedFont : grid.font();
        grid.GetCellColor(displayCol, r, fixed ? TAdvStringGrid::gdFixed : 0, brush, font);
        widest = std::max(widest,
                          TextWidth(font, grid.Store().Text(realCol, r), html) + graphicWidth(r));
    };
    const bool fixedCol = displayCol < grid.FixedCols();
    const int firstNormal
        = fixedCol ? grid.RowCount() : std::min(grid.FixedRows(), grid.RowCount());
    for (int r = 0; r < firstNormal && r < grid.FixedRows(); ++r)
        measureExactly(r, true);
    if (grid.OnGetCellColor) {
        // The event may choose another font for any cell.
        for (int r = grid.FixedRows(); r < grid.RowCount(); ++r)
            measureExactly(r, fixedCol);
        return widest;
    }
    if (firstNormal >= grid.RowCount() && !fixedCol)
        return widest;
    QColor brush;
    QFont font = fixedCol ? grid.m_fixedFont : grid.font();
    grid.GetCellColor(displayCol, std::min(std::max(grid.FixedRows(), 0), grid.RowCount() - 1),
                      fixedCol ? TAdvStringGrid::gdFixed : 0, brush, font);
    TWidestFinder finder(font);
    finder.Reserve(size_t(grid.RowCount()));
    for (int r = fixedCol ? grid.FixedRows() : firstNormal; r < grid.RowCount(); ++r) {
        std::string_view text = grid.Store().Text(realCol, r);
        const int extra = graphicWidth(r);
        if (html && IsHTML(text)) {
            widest = std::max(widest, TextWidth(font, text, html) + extra);
            continue;
        }
        if (text.find('\n') == std::string_view::npos)
            finder.Add(text, extra);
        else
            ForEachLine(text, [&](std::string_view line) { finder.Add(line, extra); });
    }
    return std::max(widest, finder.Widest());
}
