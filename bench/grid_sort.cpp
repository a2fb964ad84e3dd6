// Sorting the 100,000-game list by "Game Name" with header clicks, against
// QStandardItemModel::sort on the same rows, and the typed goto.
//
//   build/bench/grid_sort [rows]
//
// Times are medians of 5 runs after a warm-up, as wall time and as the
// thread's CPU time (what an idle machine shows as wall time).

#include "bench/GridBench.h"
#include "platform/Application.h"

#include <QFile>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QStandardItemModel>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

constexpr int kRuns = 5;

struct Timed {
    double wallMs;
    double cpuMs;
};

template<typename F> Timed Time(F f)
{
    const double cpu = bench::CpuMs();
    const auto start = std::chrono::steady_clock::now();
    f();
    return { bench::MsSince(start), bench::CpuMs() - cpu };
}

// A real click on a header cell: press and release through the widget.
void ClickHeader(TAdvColumnGrid &grid, int col)
{
    const QPointF pos = grid.CellRect(col, 0).center();
    const QPointF global = grid.viewport()->mapToGlobal(pos);
    QMouseEvent press(QEvent::MouseButtonPress, pos, global, Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(grid.viewport(), &press);
    QMouseEvent release(QEvent::MouseButtonRelease, pos, global, Qt::LeftButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(grid.viewport(), &release);
}

void Type(TAdvColumnGrid &grid, char c)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A + (c - 'A'), {}, QString(QChar(c)));
    QCoreApplication::sendEvent(&grid, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A + (c - 'A'), {}, QString(QChar(c)));
    QCoreApplication::sendEvent(&grid, &release);
}

void FillPeer(QStandardItemModel &model, const std::string &path)
{
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open " + path);
    file.readLine(); // the header line
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        QList<QStandardItem *> items;
        auto *have = new QStandardItem;
        have->setCheckable(true);
        items << have;
        for (const QByteArray &f : line.split('\t'))
            items << new QStandardItem(QString::fromUtf8(f));
        model.appendRow(items);
    }
}

double Median(const std::vector<Timed> &times, double Timed::*field)
{
    std::vector<double> values;
    for (const Timed &t : times)
        values.push_back(t.*field);
    return bench::Median(values);
}

int Run(int rows)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("games.cdl").toStdString();
    bench::WriteGameList(path, rows);
    std::printf("Game database: %d games, %.2f MB\n\n", rows,
                double(std::filesystem::file_size(path)) / (1024 * 1024));

    std::vector<Timed> ascending, descending, peerAscending, peerDescending;
    qint64 compares = 0, swaps = 0;
    TDesignedForm form;
    TAdvColumnGrid *grid = &form.GameList();
    for (int i = 0; i <= kRuns; ++i) {
        // The warm-up counts the work; the timed runs sort as the program does.
        CountSorts(*grid, i == 0);
        grid->SetSortColumn(0); // so that the first click on "Game Name" sorts ascending
        bench::LoadLikeGameList(*grid, path);
        const Timed up = Time([&] { ClickHeader(*grid, 1); });
        if (grid->SortColumn() != 1 || grid->SortDirection() != TAdvStringGrid::sdAscending)
            throw std::runtime_error("the first click did not sort ascending");
        if (i == 0) {
            compares = LastSortCounts(*grid).compares;
            swaps = LastSortCounts(*grid).swaps;
        }
        const Timed down = Time([&] { ClickHeader(*grid, 1); });
        if (i > 0) {
            ascending.push_back(up);
            descending.push_back(down);
        }
    }

    // The typed goto: each key searches again from the first row.
    std::vector<Timed> keys;
    grid->setFocus();
    for (int i = 0; i <= kRuns; ++i) {
        grid->IncrementalSearchText.clear();
        for (char c : std::string("SUPERX")) // the last letter matches nothing: a full pass
            keys.push_back(Time([&] { Type(*grid, c); }));
    }
    double slowestKey = 0;
    for (const Timed &t : keys)
        slowestKey = std::max(slowestKey, t.wallMs);

    for (int i = 0; i <= kRuns; ++i) {
        // A fresh model each run. Emptying a sorted model takes its items out
        // one by one at a cost that grows with the rows left, for minutes,
        // so the models stay until the program ends.
        auto &model = *new QStandardItemModel;
        FillPeer(model, path);
        const Timed up = Time([&] { model.sort(1, Qt::AscendingOrder); });
        const Timed down = Time([&] { model.sort(1, Qt::DescendingOrder); });
        if (i > 0) {
            peerAscending.push_back(up);
            peerDescending.push_back(down);
        }
    }

    std::printf("Sort by \"Game Name\", median of %d runs after a warm-up\n", kRuns);
    std::printf("  grid, first click (ascending):   %8.1f ms wall %8.1f ms CPU   (goal < 80 ms)\n",
                Median(ascending, &Timed::wallMs), Median(ascending, &Timed::cpuMs));
    std::printf("  grid, second click (descending): %8.1f ms wall %8.1f ms CPU\n",
                Median(descending, &Timed::wallMs), Median(descending, &Timed::cpuMs));
    std::printf("  grid, last ascending sort: %lld comparisons, %lld swaps\n", (long long)compares,
                (long long)swaps);
    std::printf("  peer, QStandardItemModel::sort ascending:  %8.1f ms wall %8.1f ms CPU\n",
                Median(peerAscending, &Timed::wallMs), Median(peerAscending, &Timed::cpuMs));
    std::printf("  peer, QStandardItemModel::sort descending: %8.1f ms wall %8.1f ms CPU\n",
                Median(peerDescending, &Timed::wallMs), Median(peerDescending, &Timed::cpuMs));
    std::printf("  peer / grid, ascending:  %6.2f x wall %6.2f x CPU   (goal >= 5)\n",
                Median(peerAscending, &Timed::wallMs) / Median(ascending, &Timed::wallMs),
                Median(peerAscending, &Timed::cpuMs) / Median(ascending, &Timed::cpuMs));
    std::printf("  peer / grid, descending: %6.2f x wall %6.2f x CPU\n",
                Median(peerDescending, &Timed::wallMs) / Median(descending, &Timed::wallMs),
                Median(peerDescending, &Timed::cpuMs) / Median(descending, &Timed::cpuMs));
    std::printf("\nTyped goto over %d rows: key median %.2f ms wall %.2f ms CPU, slowest key %.2f "
                "ms wall   (goal < 16 ms)\n",
                rows, Median(keys, &Timed::wallMs), Median(keys, &Timed::cpuMs), slowestKey);
    std::printf("FIGURE sort_%d_rows_ascending_cpu %.1f ms peer=%.1f max=80 maxratio=0.2\n", rows,
                Median(ascending, &Timed::cpuMs), Median(peerAscending, &Timed::cpuMs));
    std::printf("FIGURE sort_%d_rows_descending_cpu %.1f ms peer=%.1f maxratio=0.2\n", rows,
                Median(descending, &Timed::cpuMs), Median(peerDescending, &Timed::cpuMs));
    std::printf("FIGURE typed_goto_slowest_key %.2f ms max=16\n", slowestKey);
    std::fflush(stdout);
    std::_Exit(0); // the peer's models are not taken apart (see above)
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    try {
        return Run(argc > 1 ? std::atoi(argv[1]) : 100000);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "grid_sort: %s\n", e.what());
        return 1;
    }
}
