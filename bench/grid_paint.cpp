// Painting the game list: one repaint of the whole view, at the top, in the
// middle and at the end of a list of 1,000 games and of 1,000,000 games.
// Only the cells in view are drawn, so both lists cost the same; the
// 1,000-game list is the peer.
//
//   build/bench/grid_paint [large rows]
//
// Each figure is the median of 31 repaints after a warm-up, as the thread's
// CPU time (what an idle machine shows as wall time).

#include "bench/GridBench.h"
#include "platform/Application.h"

#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr int kRepaints = 31;

// The median CPU time of one repaint with `top` as the first row in view.
double PaintMs(TAdvColumnGrid &grid, int top)
{
    grid.SetTopRow(top);
    grid.viewport()->repaint(); // warm-up
    std::vector<double> times;
    for (int i = 0; i < kRepaints; ++i) {
        const double start = bench::CpuMs();
        grid.viewport()->repaint();
        times.push_back(bench::CpuMs() - start);
    }
    return bench::Median(times);
}

struct Figures {
    double top, middle, end;
};

Figures Measure(const QTemporaryDir &dir, int rows)
{
    const std::string path = dir.filePath("list" + QString::number(rows) + ".cdl").toStdString();
    bench::WriteGameList(path, rows);
    TDesignedForm form;
    TAdvColumnGrid *grid = &form.GameList();
    bench::LoadLikeGameList(*grid, path);
    grid->show();
    QCoreApplication::processEvents();
    return { PaintMs(*grid, 1), PaintMs(*grid, rows / 2), PaintMs(*grid, rows) };
}

} // namespace

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    const int large = argc > 1 ? std::atoi(argv[1]) : 1000000;
    QTemporaryDir dir;
    const Figures small = Measure(dir, 1000);
    const Figures big = Measure(dir, large);
    std::printf("grid_paint: one repaint, CPU ms, median of %d: 1,000 games %.3f / %.3f / %.3f, "
                "%d games %.3f / %.3f / %.3f (top / middle / end)\n",
                kRepaints, small.top, small.middle, small.end, large, big.top, big.middle, big.end);
    std::printf("FIGURE paint_top_%dk %.3f ms peer=%.3f maxratio=1.25\n", large / 1000, big.top,
                small.top);
    std::printf("FIGURE paint_middle_%dk %.3f ms peer=%.3f maxratio=1.25\n", large / 1000,
                big.middle, small.middle);
    std::printf("FIGURE paint_end_%dk %.3f ms peer=%.3f maxratio=1.25\n", large / 1000, big.end,
                small.end);
    return 0;
}
