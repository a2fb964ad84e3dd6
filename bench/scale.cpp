// How the costs grow with the number of games: loading the game list as the
// main window does, ticking every other game from an ownership file, sorting
// by "Game Name" with header clicks (ascending, then descending), and saving
// the ticks, at 1,000, 10,000, 100,000 and 1,000,000 games.
//
//   build/bench/scale [MAX_GAMES]     (MAX_GAMES defaults to 1,000,000)
//
// Each figure is the thread's CPU time (on a busy machine, what an idle one
// shows as wall time), the median of 5 runs after a warm-up. Prints the table
// as "SCALE" lines with the growth from each size to the next (linear is 10,
// n log n about 12), and the growth of the last step as figures.

#include "app/Collection.h"
#include "bench/BenchData.h"
#include "bench/GridBench.h"
#include "platform/Application.h"

#include <QMouseEvent>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <map>

namespace {

constexpr int kRuns = 5;

double CpuMsOf(const std::function<void()> &work)
{
    const double start = bench::CpuMs();
    work();
    return bench::CpuMs() - start;
}

// A click on the header of a display column, as the user makes it.
void ClickHeader(TAdvColumnGrid &grid, int col)
{
    const QPointF at = grid.CellRect(col, 0).center();
    const QPointF global = grid.viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(grid.viewport(), &press);
    QCoreApplication::sendEvent(grid.viewport(), &release);
}

const char *const kFigures[] = {"load", "ticks", "sort_ascending", "sort_descending", "save_ticks"};
// Counts, not times: they tell a worse algorithm from a costlier step.
const char *const kCounts[] = {"compares_ascending", "swaps_ascending"};

std::map<std::string, double> Measure(int games)
{
    QTemporaryDir dir;
    const std::string list = dir.path().toStdString() + "/list.txt";
    const std::string ownership = dir.path().toStdString() + "/list.dat";
    bench::GenerateGameList(list, games);
    bench::WriteOwnership(ownership, games);

    QWidget window;
    TAdvColumnGrid &grid = *bench::MakeGameGrid(window);
    std::map<std::string, std::vector<double>> times;
    for (int run = 0; run <= kRuns; ++run) {
        const double load = CpuMsOf([&] { bench::LoadLikeGameList(grid, list); });
        const double ticks = CpuMsOf([&] { LoadOwnership(grid, ownership); });
        QCoreApplication::processEvents();
        // "Game Name" is display column 1; a click on a column other than
        // the sort column sorts ascending, a second one descending.
        grid.SetSortColumn(0);
        const double ascending = CpuMsOf([&] { ClickHeader(grid, 1); });
        const double compares = double(grid.SortCompares), swaps = double(grid.SortSwaps);
        const double descending = CpuMsOf([&] { ClickHeader(grid, 1); });
        if (grid.SortColumn() != 1 || grid.SortDirection() != TAdvStringGrid::sdDescending)
            throw std::runtime_error("the header clicks did not sort by Game Name");
        const double save = CpuMsOf([&] { SaveOwnership(grid, ownership); });
        if (run == 0)
            continue; // warm-up
        times["load"].push_back(load);
        times["ticks"].push_back(ticks);
        times["save_ticks"].push_back(save);
        times["sort_ascending"].push_back(ascending);
        times["sort_descending"].push_back(descending);
        times["compares_ascending"].push_back(compares);
        times["swaps_ascending"].push_back(swaps);
    }
    std::map<std::string, double> medians;
    for (const auto &[figure, values] : times)
        medians[figure] = bench::Median(values);
    return medians;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const int most = argc > 1 ? std::atoi(argv[1]) : 1000000;
    try {
        std::vector<std::pair<int, std::map<std::string, double>>> rows;
        for (int games = 1000; games <= most; games *= 10) {
            rows.emplace_back(games, Measure(games));
            std::fprintf(stderr, "scale: %d games measured\n", games);
        }
        std::printf("SCALE | games | load | ticks | sort ascending | sort descending | save ticks | compares "
                    "(ascending) | swaps |\n");
        std::printf("SCALE |---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (size_t i = 0; i < rows.size(); ++i) {
            std::printf("SCALE | %d |", rows[i].first);
            for (const char *figure : kFigures) {
                const double ms = rows[i].second.at(figure);
                if (i == 0)
                    std::printf(" %.2f |", ms);
                else
                    std::printf(" %.2f (x%.1f) |", ms, ms / rows[i - 1].second.at(figure));
            }
            for (const char *count : kCounts)
                std::printf(" %.0f |", rows[i].second.at(count));
            std::printf("\n");
        }
        // The verdict rests on the last step, where fixed costs no longer
        // hide the growth: linear is 10, n log n 10 log(10n) / log(n); a
        // growth 40 % above that is a defect.
        if (rows.size() >= 2) {
            const auto &[a, small] = rows[rows.size() - 2];
            const auto &[b, large] = rows.back();
            const double nlogn = 10 * std::log(double(b)) / std::log(double(a));
            for (const char *figure : kFigures) {
                const bool sort = std::string(figure).starts_with("sort");
                std::printf("FIGURE growth_%s_%d_to_%d %.1f x max=%.1f\n", figure, a, b,
                            large.at(figure) / small.at(figure), 1.4 * (sort ? nlogn : 10));
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "scale: %s\n", e.what());
        return 1;
    }
    return 0;
}
