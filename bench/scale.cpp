// How the costs grow with the number of games: loading the game list as the
// main window does (with clearing it away again), ticking every other game
// from an ownership file, sorting by "Game Name" with header clicks
// (ascending, then descending), and saving the ticks, at 1,000, 10,000,
// 100,000 and 1,000,000 games.
//
//   build/bench/scale [MAX_GAMES]     (MAX_GAMES defaults to 1,000,000)
//
// Each figure is the thread's CPU time (on a busy machine, what an idle one
// shows as wall time), the median of 9 runs after a warm-up; each run goes
// through every size, and each step starts with the caches emptied. Prints
// the table as "SCALE" lines with the growth of the medians from each size
// to the next (linear is 10, n log n about 12), and the growth of the last
// step as figures (the median of each run's own growth).

#include "app/Collection.h"
#include "bench/GridBench.h"
#include "platform/Application.h"

#include <QMouseEvent>
#include <QTemporaryDir>

#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {

constexpr int kRuns = 9;

// Writes to every cache line of a buffer twice the size of the last-level
// cache, so that nothing of a list is left in the caches.
void EmptyCaches()
{
    static std::vector<char> buffer = [] {
        const long lastLevel = sysconf(_SC_LEVEL3_CACHE_SIZE);
        return std::vector<char>(2 * size_t(lastLevel > 0 ? lastLevel : 32L << 20));
    }();
    for (size_t i = 0; i < buffer.size(); i += 64)
        ++buffer[i];
}

// Each step starts with empty caches, as in the program, where a user's
// clicks lie seconds apart: without that a list of 100,000 games (some
// 16 MB) would be measured partly from the cache, as the steps before left
// it there, which a list of a million never fits, and the growth between
// them would tell what else the machine was doing rather than how the work
// grows.
double CpuMsOf(const std::function<void()> &work)
{
    EmptyCaches();
    const double start = bench::CpuMs();
    work();
    return bench::CpuMs() - start;
}

// A click on the header of a display column, as the user makes it.
void ClickHeader(TAdvColumnGrid &grid, int col)
{
    const QPointF at = grid.CellRect(col, 0).center();
    const QPointF global = grid.viewport()->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(grid.viewport(), &press);
    QCoreApplication::sendEvent(grid.viewport(), &release);
}

const char *const kFigures[]
    = { "load", "ticks", "sort_ascending", "sort_descending", "save_ticks" };
// Counts, not times: they tell a worse algorithm from a costlier step.
const char *const kCounts[] = { "compares_ascending", "swaps_ascending" };

// One list size: its files, its grid, and the figures of each run.
struct TSize {
    explicit TSize(int games) : Games(games)
    {
        bench::WriteGameList(List, games);
        WriteOwnership(Ownership, games, 2);
    }

    // One run of every step, in the order a user takes them.
    void Run(bool warmUp)
    {
        const double load = CpuMsOf([&] { bench::LoadLikeGameList(Grid, List); });
        const double ticks = CpuMsOf([&] { LoadOwnership(Grid, Ownership); });
        QCoreApplication::processEvents();
        // "Game Name" is display column 1; a click on a column other than
        // the sort column sorts ascending, a second one descending.
        Grid.SetSortColumn(0);
        const double ascending = CpuMsOf([&] { ClickHeader(Grid, 1); });
        const TSortCounts counts = LastSortCounts(Grid);
        const double compares = double(counts.compares), swaps = double(counts.swaps);
        const double descending = CpuMsOf([&] { ClickHeader(Grid, 1); });
        if (Grid.SortColumn() != 1 || Grid.SortDirection() != TAdvStringGrid::sdDescending)
            throw std::runtime_error("the header clicks did not sort by Game Name");
        const double save = CpuMsOf([&] { SaveOwnership(Grid, Ownership); });
        // The program holds one list at a time: loading the next clears this
        // one, and with no check box left their memory goes back. Here the
        // clearing is done now, so that every size is loaded as the program
        // loads it, and it counts with the load.
        const double clear = CpuMsOf([&] { Grid.Clear(); });
        if (warmUp)
            return;
        Times["load"].push_back(load + clear);
        Times["ticks"].push_back(ticks);
        Times["save_ticks"].push_back(save);
        Times["sort_ascending"].push_back(ascending);
        Times["sort_descending"].push_back(descending);
        Times["compares_ascending"].push_back(compares);
        Times["swaps_ascending"].push_back(swaps);
    }

    double Median(const std::string &figure) const { return bench::Median(Times.at(figure)); }

    double MedianGrowthOver(const TSize &smaller, const std::string &figure) const
    {
        std::vector<double> growths;
        for (size_t run = 0; run < Times.at(figure).size(); ++run)
            growths.push_back(Times.at(figure)[run] / smaller.Times.at(figure)[run]);
        return bench::Median(growths);
    }

    const int Games;
    QTemporaryDir Dir;
    const std::string List = Dir.path().toStdString() + "/list.txt";
    const std::string Ownership = Dir.path().toStdString() + "/list.dat";
    TDesignedForm Form;
    TAdvColumnGrid &Grid = Form.GameList();
    std::map<std::string, std::vector<double>> Times;
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    const int most = argc > 1 ? std::atoi(argv[1]) : 1000000;
    try {
        std::vector<std::unique_ptr<TSize>> sizes;
        for (int games = 1000; games <= most; games *= 10)
            sizes.push_back(std::make_unique<TSize>(games));
        // Each run takes every size in turn, so that a slower spell of a
        // shared machine weighs on all of them alike and not on one size.
        for (int run = 0; run <= kRuns; ++run) {
            for (auto &size : sizes)
                size->Run(run == 0);
            std::fprintf(stderr, "scale: run %d of %d done\n", run, kRuns);
        }
        std::printf("SCALE | games | load | ticks | sort ascending | sort descending | save ticks "
                    "| compares "
                    "(ascending) | swaps |\n");
        std::printf("SCALE |---:|---:|---:|---:|---:|---:|---:|---:|\n");
        for (size_t i = 0; i < sizes.size(); ++i) {
            std::printf("SCALE | %d |", sizes[i]->Games);
            for (const char *figure : kFigures) {
                const double ms = sizes[i]->Median(figure);
                if (i == 0)
                    std::printf(" %.2f |", ms);
                else
                    std::printf(" %.2f (x%.1f) |", ms, ms / sizes[i - 1]->Median(figure));
            }
            for (const char *count : kCounts)
                std::printf(" %.0f |", sizes[i]->Median(count));
            std::printf("\n");
        }
        // The verdict rests on the last step, where fixed costs no longer
        // hide the growth: linear is 10, n log n 10 log(10n) / log(n); a
        // growth 40 % above that is a defect. It is the median of each run's
        // own growth, both sizes measured seconds apart, so that a slower
        // spell of a shared machine that falls on one size only counts once.
        if (sizes.size() >= 2) {
            const TSize &small = *sizes[sizes.size() - 2];
            const TSize &large = *sizes.back();
            const double nlogn = 10 * std::log(double(large.Games)) / std::log(double(small.Games));
            for (const char *figure : kFigures) {
                const bool sort = std::string(figure).starts_with("sort");
                std::printf("FIGURE growth_%s_%d_to_%d %.1f x max=%.1f\n", figure, small.Games,
                            large.Games, large.MedianGrowthOver(small, figure),
                            1.4 * (sort ? nlogn : 10));
            }
        }
    } catch (const std::exception &e) {
        std::fprintf(stderr, "scale: %s\n", e.what());
        return 1;
    }
    return 0;
}
