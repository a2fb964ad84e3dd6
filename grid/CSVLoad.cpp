// Loading a CSV file into the grid (see CSVLoad.h).

#include "grid/CSVLoad.h"

#include "grid/Advgrid.h"
#include "grid/Advutil.h"
#include "grid/GridAccessible.h"
#include "platform/Application.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <cmath>
#include <cstdio>
#include <deque>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// Loading lets painting and input in at this interval, not after every line.
constexpr int kPumpIntervalMs = 16;

void ProcessDuringLoad(QElapsedTimer &pump)
{
    if (pump.elapsed() < kPumpIntervalMs)
        return;
    ProcessMessages();
    pump.restart();
}

} // namespace

void LoadCSVInto(TAdvStringGrid &grid, const std::string &fileName, bool insert)
{
    const int colOffset = grid.FixedCellsInFiles ? 0 : grid.GetFixedColsEx();
    int rowOffset = grid.FixedCellsInFiles ? 0 : grid.GetFixedRowsEx();
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(fileName.c_str(), "rb"),
                                                          &std::fclose);
    if (!file)
        throw EAdvGridError("Cannot open file " + fileName);
    int firstRow = 0;
    if (insert) {
        rowOffset = 0;
        firstRow = grid.RowCount();
    }

    const char savedDelimiter = grid.CSVDelimiter;
    const auto restore
        = qScopeGuard([&grid, savedDelimiter] { grid.CSVDelimiter = savedDelimiter; });

    TCSVLineReader reader(file.get(), fileName);
    std::string line;
    if (grid.CSVDelimiter == '\0') {
        std::string first, second;
        reader.ReadLine(first);
        reader.ReadLine(second);
        reader.Rewind();
        grid.CSVDelimiter = DetectDelimiter(first, second);
    }
    int lines = 0;
    while (reader.SkipLine())
        ++lines;
    reader.Rewind();

    grid.SetRowCountEx(insert ? grid.RowCount() + lines : rowOffset + lines);
    if (!insert)
        grid.ResetView(); // a new list is read from its top

    QElapsedTimer pump;
    pump.start();
    std::vector<std::string_view> fields;
    std::deque<std::string> scratch;
    int done = 0;
    int lastPercent = -1;
    for (int k = firstRow; reader.ReadLine(line); ++k) {
        if (grid.OemConvert())
            line = OemToAnsi(line);
        scratch.clear();
        SplitCSVLine(line, grid.CSVDelimiter, grid.TildeLineBreaks, fields, scratch);
        grid.Store().SetTexts(rowOffset + k, colOffset, fields);
        if (grid.ColCount() < colOffset + int(fields.size()))
            grid.SetColCountEx(colOffset + int(fields.size()));
        if (grid.OnFileProgress) {
            ++done;
            const int percent = int(std::lround(done * 100.0 / lines));
            if (percent != lastPercent) {
                lastPercent = percent;
                grid.OnFileProgress(&grid, short(percent));
            }
        }
        ProcessDuringLoad(pump);
        if (grid.RowCount() < rowOffset + k + 1)
            grid.SetRowCountEx(rowOffset + k + 1);
    }
    grid.InvalidateGrid();
    AnnounceGridReset(grid);
}
