#pragma once

// Shared pieces of the grid benchmarks: the generated game database, the
// game list as the main window sets it up and loads it, and the figures.

#include "grid/Advcgrid.h"

#include <QFont>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bench {

// A game database without its first line: the header line, then `rows`
// games in 8 columns with the key column last, about 90 bytes a game.
inline void GenerateGameList(const std::string &path, int rows)
{
    std::mt19937 random(20261209);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    const char *words[] = {"Dragon", "Quest", "Star", "Legend", "of", "the", "Night", "Racer", "Fighter", "Space",
                           "Battle", "Zone", "Super", "Mega", "Dark", "Soul", "Blade", "Kingdom", "Hearts", "Final",
                           "Saga", "Tales", "Myst", "Ridge", "Tekken", "Puzzle", "World", "Wars", "Knight", "Chrono"};
    const char *countries[] = {"US", "JP", "EU", "KR", "BR", "AU", "DE", "FR"};
    const char *publishers[] = {"Velmar Soft", "Orbis Games Ltd.", "Kitsune Interactive", "Nordlicht Spiele",
                                "Bluefin Entertainment", "Hyperion Works", "Sakura Denki", "Pixel Forge Studios"};
    const char *genres[] = {"Action", "Role-Playing", "Racing", "Puzzle", "Shoot 'em up", "Sports",
                            "Action Adventure", "Fighting"};
    const char *prefixes[] = {"SLUS", "SLES", "SLPS", "SCUS", "SCES", "T", "MK", "GD"};
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Game Name\tCountry\tPublisher\tGenre\tYear\tDiscs\tSerial\tGID\r\n";
    std::string line;
    for (int r = 0; r < rows; ++r) {
        std::string name;
        const int wordCount = pick(3, 7);
        for (int w = 0; w < wordCount; ++w) {
            if (w)
                name += ' ';
            name += words[pick(0, 29)];
        }
        if (pick(0, 3) == 0)
            name += " " + std::to_string(pick(2, 9));
        char serial[32];
        std::snprintf(serial, sizeof serial, "%s-%05d", prefixes[pick(0, 7)], pick(0, 99999));
        char gid[32];
        std::snprintf(gid, sizeof gid, "G%07d", r + 1);
        line = name + '\t' + countries[pick(0, 7)] + '\t' + publishers[pick(0, 7)] + '\t' + genres[pick(0, 7)] +
               '\t' + std::to_string(pick(1985, 2005)) + '\t' + std::to_string(pick(1, 4)) + '\t' + serial + '\t' +
               gid + "\r\n";
        out << line;
    }
}

inline QFont GridFont()
{
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    return font;
}

// The game list with its design settings, in a shown window of the main
// window's size.
inline TAdvColumnGrid *MakeGameGrid(QWidget &window)
{
    window.resize(687, 468);
    auto *grid = new TAdvColumnGrid(&window);
    grid->setGeometry(0, 0, 687, 468);
    grid->SetFixedCols(0);
    grid->SetColCount(1);
    grid->SetDefaultRowHeight(21);
    grid->SetOptions(TStringGrid::goFixedVertLine | TStringGrid::goFixedHorzLine | TStringGrid::goVertLine |
                     TStringGrid::goHorzLine | TStringGrid::goColSizing);
    grid->SetColumnSizeStretch(true);
    grid->SetSortShow(true);
    grid->SetSortColumn(1);
    grid->SetFixedAsButtons(true);
    grid->SetAutoGotoWhenSorted(true);
    grid->SetAutoGotoIncremental(true);
    grid->setFont(GridFont());
    grid->SetFixedFont(GridFont());
    window.show();
    return grid;
}

struct LoadTimes {
    double wholeMs = 0;
    double csvMs = 0;
    double wholeCpuMs = 0;
    double csvCpuMs = 0;
    // Clear+RemoveCols, LoadFromCSV, InsertCols, HideColumn, AddCheckBox, SetAutoSize
    double stageMs[6] = {};
};

inline double MsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// CPU time of this thread: on a machine shared with other work it shows what
// the wall time would be on an idle one.
inline double CpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000 + double(ts.tv_nsec) / 1e6;
}

// The calls the main window makes to fill the list.
inline LoadTimes LoadLikeGameList(TAdvColumnGrid &grid, const std::string &path)
{
    LoadTimes times;
    const double startCpu = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    auto stage = start;
    auto lap = [&](int i) {
        times.stageMs[i] = MsSince(stage);
        stage = std::chrono::steady_clock::now();
    };
    grid.UnhideColumnsAll();
    grid.Clear();
    grid.RemoveCols(0, grid.ColCount() - 1);
    grid.CSVDelimiter = '\t';
    lap(0);
    const double csvCpu = CpuMs();
    grid.LoadFromCSV(path);
    times.csvCpuMs = CpuMs() - csvCpu;
    lap(1);
    times.csvMs = times.stageMs[1];
    grid.InsertCols(0, 1);
    lap(2);
    int gid = -1;
    for (int c = 0; c <= grid.ColCount() && gid < 0; ++c)
        if (grid.Cells(c, 0) == "GID")
            gid = c;
    grid.HideColumn(gid);
    lap(3);
    for (int r = 1; r < grid.RowCount(); ++r)
        grid.AddCheckBox(0, r, false, false);
    grid.SetCells(0, 0, "Have");
    lap(4);
    grid.SetAutoSize(true);
    lap(5);
    times.wholeMs = MsSince(start);
    times.wholeCpuMs = CpuMs() - startCpu;
    return times;
}

inline double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A field of /proc/self/status in kB ("VmRSS", "VmHWM").
inline long StatusKb(const char *field)
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(key.size()));
    return -1;
}

} // namespace bench
