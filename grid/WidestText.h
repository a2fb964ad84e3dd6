#pragma once

// The width that sizing a grid column to its content asks for: the widest of
// its cell texts, each in the font it is drawn in. Found by TWidestFinder,
// which finds the widest of many texts in one font as QFontMetrics measures
// them, without measuring each.
//
// A text's width is the sum of its characters' advances plus the kerning of
// each neighbouring pair, all from QFontMetricsF, each pair measured once as
// it is met; for the scripts of a game list that sum is what shaping gives.
// Every text is first estimated by its advances alone; kerning mostly
// narrows a text, so only texts whose advances, allowed a margin for kerning
// that widens, reach the widest measured width get the pair sum, and of
// those only one per distinct sum is measured. Should a measured width ever
// stray from its sum (a ligature of three characters, a complex script) or
// kerning widen a text beyond the margin, the margins grow and the search
// runs again.
//
// Measuring each of 100,000 names would cost the load its goal: this holds
// up `grid_load_100000_rows` of `scripts/bench.sh grid_load`, whose load
// sizes the columns as the game list does.

#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

class TAdvStringGrid;

// The width of the widest cell text of a column (display and real index):
// each line in its cell's font, a check box's width beside it, markup
// without its tags.
int WidestColumnText(TAdvStringGrid &grid, int displayCol, int realCol);

class TWidestFinder {
public:
    explicit TWidestFinder(const QFont &font);

    void Reserve(size_t count) { m_candidates.reserve(count); }
    // Adds one line of text that comes with `extra` pixels beside it; the
    // text must outlive the finder.
    void Add(std::string_view line, int extra);
    // The widest width of a line added with its extra, or 0 for none.
    int Widest();

private:
    struct Candidate {
        std::string_view text;
        int extra;
        double advances;
    };

    double Advance(QChar c);
    double Pair(QChar a, QChar b);
    double Advances(std::string_view line);
    double Kerned(const Candidate &c);
    int Measure(const Candidate &c, double kerned);

    QFontMetrics m_metrics;
    QFontMetricsF m_metricsF;
    double m_ascii[128];
    int32_t m_ascii64[128];
    std::vector<float> m_pairs;
    std::unordered_map<char16_t, double> m_wide;
    std::unordered_map<uint32_t, float> m_widePairs;
    std::vector<Candidate> m_candidates;
    double m_widen = 0.05; // how much kerning may widen a text, relative
    double m_stray = 1.0; // how far a measured width may lie from its sum
};
