#pragma once

// Shared pieces of the grid benchmarks: the generated game database, the
// game list loaded as the main window loads it, and the figures. The list
// itself is the program's (TDesignedForm).

#include "grid/Advcgrid.h"
#include "tests/support/GameDatabase.h"
#include "tests/support/GameGrid.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// The list the grid benchmarks load: the game list's file without the
// system's line, 8 columns with the key last.
inline void WriteGameList(const std::string &path, int rows)
{
    using F = TGameField;
    WriteGameDatabase(path, rows,
                      { .fields = { F::Name, F::Country, F::Publisher, F::Genre, F::Year, F::Discs,
                                    F::Serial, F::Gid } });
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
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// CPU time of this thread: on a machine shared with other work it shows what
// the wall time would be on an idle one.
inline double CpuMs()
{
    timespec ts {};
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
