// Loading a 100,000-game database into the game list, against the same file
// in a QStandardItemModel shown by a QTableView.
//
//   build/bench/grid_load [rows]
//
// Times are medians of 5 runs after a warm-up; memory is measured in fresh
// child processes from /proc/self/status (VmRSS above the empty grid or view,
// and the peak VmHWM above the same baseline).

#include "bench/GridBench.h"
#include "platform/Application.h"

#include <QFile>
#include <QHeaderView>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace {

constexpr int kRuns = 5;

// The peer: what a Qt program would do without this grid.
std::pair<double, double> LoadPeer(QTableView &view, const std::string &path)
{
    const double startCpu = bench::CpuMs();
    const auto start = std::chrono::steady_clock::now();
    auto *model = new QStandardItemModel(&view);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot open " + path);
    QStringList headers { "Have" };
    int gid = -1;
    bool first = true;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        const QList<QByteArray> fields = line.split('\t');
        if (first) {
            for (const QByteArray &f : fields)
                headers << QString::fromUtf8(f);
            gid = int(headers.indexOf("GID"));
            first = false;
            continue;
        }
        QList<QStandardItem *> items;
        auto *have = new QStandardItem;
        have->setCheckable(true);
        have->setCheckState(Qt::Unchecked);
        items << have;
        for (const QByteArray &f : fields)
            items << new QStandardItem(QString::fromUtf8(f));
        model->appendRow(items);
    }
    model->setHorizontalHeaderLabels(headers);
    QAbstractItemModel *old = view.model();
    view.setModel(model);
    delete old;
    if (gid >= 0)
        view.setColumnHidden(gid, true);
    view.resizeColumnsToContents();
    view.horizontalHeader()->setStretchLastSection(true);
    return { bench::MsSince(start), bench::CpuMs() - startCpu };
}

// The peer in a window of its own, at the game list's size and in its font.
QTableView *MakePeerView(QWidget &window)
{
    const TDesignedForm form;
    const TAdvColumnGrid &list = form.GameList();
    window.resize(list.size());
    auto *view = new QTableView(&window);
    view->setGeometry(QRect(QPoint(0, 0), list.size()));
    view->setFont(list.font());
    view->verticalHeader()->setDefaultSectionSize(21);
    view->verticalHeader()->hide();
    view->setSortingEnabled(false);
    view->setModel(new QStandardItemModel(view));
    window.show();
    return view;
}

// Child process: prints "rss_kb hwm_kb" above the baseline.
int MeasureMemory(const std::string &which, const std::string &path)
{
    if (which == "grid") {
        TDesignedForm form;
        TAdvColumnGrid *grid = &form.GameList();
        ProcessMessages();
        const long base = bench::StatusKb("VmRSS");
        bench::LoadLikeGameList(*grid, path);
        ProcessMessages();
        std::cout << bench::StatusKb("VmRSS") - base << " " << bench::StatusKb("VmHWM") - base
                  << "\n";
    } else {
        QWidget window;
        QTableView *view = MakePeerView(window);
        ProcessMessages();
        const long base = bench::StatusKb("VmRSS");
        LoadPeer(*view, path);
        ProcessMessages();
        std::cout << bench::StatusKb("VmRSS") - base << " " << bench::StatusKb("VmHWM") - base
                  << "\n";
    }
    return 0;
}

std::pair<long, long> ChildMemory(const std::string &which, const std::string &path)
{
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string command = "'" + self + "' mem " + which + " '" + path + "'";
    std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), &pclose);
    long rss = -1, hwm = -1;
    if (!pipe || std::fscanf(pipe.get(), "%ld %ld", &rss, &hwm) != 2)
        throw std::runtime_error("memory child failed: " + command);
    return { rss, hwm };
}

int RunAll(int rows, bool gridOnly)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("games.cdl").toStdString();
    bench::WriteGameList(path, rows);
    const double fileMb = double(std::filesystem::file_size(path)) / (1024 * 1024);
    std::printf("Game database: %d games, 8 columns, %.2f MB (%s)\n\n", rows, fileMb, path.c_str());

    std::vector<double> whole, csv, peer, wholeCpu, csvCpu, peerCpu;
    std::vector<double> stages[6];
    {
        TDesignedForm form;
        TAdvColumnGrid *grid = &form.GameList();
        bench::LoadLikeGameList(*grid, path); // warm-up
        for (int i = 0; i < kRuns; ++i) {
            const bench::LoadTimes t = bench::LoadLikeGameList(*grid, path);
            whole.push_back(t.wholeMs);
            csv.push_back(t.csvMs);
            wholeCpu.push_back(t.wholeCpuMs);
            csvCpu.push_back(t.csvCpuMs);
            for (int s = 0; s < 6; ++s)
                stages[s].push_back(t.stageMs[s]);
        }
        std::printf("check: %d rows, %d shown columns, widths", grid->RowCount(), grid->ColCount());
        for (int c = 0; c < grid->ColCount(); ++c)
            std::printf(" %d", grid->ColWidths(c));
        std::printf("\n");
    }
    if (gridOnly) {
        std::printf("grid, Clear .. SetAutoSize(true): %.1f ms wall, %.1f ms CPU; stages",
                    bench::Median(whole), bench::Median(wholeCpu));
        for (auto &stage : stages)
            std::printf(" %.1f", bench::Median(stage));
        std::printf("\n");
        return 0;
    }
    {
        QWidget window;
        QTableView *view = MakePeerView(window);
        LoadPeer(*view, path); // warm-up
        for (int i = 0; i < kRuns; ++i) {
            const auto [wall, cpu] = LoadPeer(*view, path);
            peer.push_back(wall);
            peerCpu.push_back(cpu);
        }
    }
    const auto [gridRss, gridHwm] = ChildMemory("grid", path);
    const auto [peerRss, peerHwm] = ChildMemory("peer", path);

    std::printf("\nLoad, median of %d runs after a warm-up: wall time, and the thread's CPU time\n",
                kRuns);
    std::printf("(the CPU time is what an idle machine shows as wall time)\n");
    std::printf(
        "  grid, Clear .. SetAutoSize(true):     %8.1f ms wall %8.1f ms CPU   (goal < 150 ms)\n",
        bench::Median(whole), bench::Median(wholeCpu));
    std::printf("  grid, LoadFromCSV alone:              %8.1f ms wall %8.1f ms CPU\n",
                bench::Median(csv), bench::Median(csvCpu));
    const char *names[6] = { "Clear+RemoveCols", "LoadFromCSV", "InsertCols",
                             "HideColumn",       "AddCheckBox", "SetAutoSize" };
    std::printf("  grid stages (wall):");
    for (int s = 0; s < 6; ++s)
        std::printf(" %s %.1f", names[s], bench::Median(stages[s]));
    std::printf(" ms\n");
    std::printf("  peer, QStandardItemModel + QTableView: %8.1f ms wall %8.1f ms CPU\n",
                bench::Median(peer), bench::Median(peerCpu));
    std::printf("  peer / grid:                           %8.2f x wall %8.2f x CPU   (goal >= 3)\n",
                bench::Median(peer) / bench::Median(whole),
                bench::Median(peerCpu) / bench::Median(wholeCpu));
    std::printf("\nMemory above the empty widget (fresh process each, /proc/self/status)\n");
    std::printf("  grid: RSS %7.1f MB, peak %7.1f MB = %.2f x file (goal <= 3)\n", gridRss / 1024.0,
                gridHwm / 1024.0, gridRss / 1024.0 / fileMb);
    std::printf("  peer: RSS %7.1f MB, peak %7.1f MB\n", peerRss / 1024.0, peerHwm / 1024.0);
    std::printf("  grid / peer: %.2f   (goal < 0.5)\n", double(gridRss) / double(peerRss));
    std::printf("FIGURE grid_load_%d_rows %.1f ms peer=%.1f max=150 maxratio=0.333\n", rows,
                bench::Median(whole), bench::Median(peer));
    std::printf("FIGURE grid_load_%d_rows_cpu %.1f ms peer=%.1f max=150 maxratio=0.333\n", rows,
                bench::Median(wholeCpu), bench::Median(peerCpu));
    std::printf("FIGURE grid_LoadFromCSV_%d_rows %.1f ms\n", rows, bench::Median(csv));
    std::printf("FIGURE grid_memory_%d_rows %.1f MB peer=%.1f max=%.1f maxratio=0.5\n", rows,
                gridRss / 1024.0, peerRss / 1024.0, 3 * fileMb);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    try {
        if (argc == 4 && std::string(argv[1]) == "mem")
            return MeasureMemory(argv[2], argv[3]);
        // "grid_load ROWS grid" times the grid alone, for profiling.
        return RunAll(argc > 1 ? std::atoi(argv[1]) : 100000,
                      argc > 2 && std::string(argv[2]) == "grid");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "grid_load: %s\n", e.what());
        return 1;
    }
}
