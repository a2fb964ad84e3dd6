// Choosing a system of 100,000 games whose ownership file names 50,000 of
// them, from the selector's change to the shown list with its ticks and
// status text; then saving that ownership file; then a Have export without
// the dialog; and the status text a check-box click rebuilds.
//
//   build/bench/collection [games] [ticks]
//
// Each figure is the median of 7 runs after a warm-up, on the real main
// window (offscreen) in a temporary application folder. Peak memory is the
// process's high-water mark (VmHWM) at the end.

#include "app/Collection.h"
#include "app/Unit1.h"
#include "platform/Application.h"
#include "platform/AtomicFile.h"
#include "tests/support/GameDatabase.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace {

constexpr int kRuns = 7;

void WriteDatabase(const std::string &path, const std::string &name, int games)
{
    using F = TGameField;
    WriteGameDatabase(
        path, games,
        { .fields = { F::Name, F::Country, F::Publisher, F::Year, F::Discs, F::Serial, F::Gid },
          .systemLine = name + "\tCD-ROMs" });
}

double CpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time, and the process's CPU time beside it: on a busy machine the
// CPU time is what the code costs.
struct TTime {
    double wall, cpu;
};

TTime Ms(const std::function<void()> &f)
{
    const double cpu = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    f();
    return {
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
        CpuMs() - cpu
    };
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string Figures(const std::vector<TTime> &times)
{
    std::vector<double> wall, cpu;
    for (const TTime &t : times) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%8.1f ms (cpu %7.1f ms)", Median(wall), Median(cpu));
    return text;
}

long PeakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void Choose(TForm1 &form, const QString &name)
{
    const int index = form.cbo_SysList->findText(name);
    form.cbo_SysList->setCurrentIndex(index);
    emit form.cbo_SysList->activated(index);
}

} // namespace

int main(int argc, char **argv)
{
    const int games = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int ticks = argc > 2 ? std::atoi(argv[2]) : 50000;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication app(argc, argv);
    SetMessageBoxHook([](const std::string &text, const std::string &) {
        std::fprintf(stderr, "message box: %s\n", text.c_str());
        std::exit(1);
    });

    QTemporaryDir dir;
    const std::string appDir = dir.path().toStdString();
    std::filesystem::create_directories(appDir + "/cdl/data");
    WriteDatabase(appDir + "/cdl/big.cdl", "Big System", games);
    WriteDatabase(appDir + "/cdl/tiny.cdl", "Tiny System", 1);
    // Evenly spread ticks: the file of a list ticked by hand.
    WriteOwnership(appDir + "/cdl/data/Big System.dat", games, std::max(1, games / ticks), ticks);
    const std::string exportPath = appDir + "/export.txt";

    TForm1 form(appDir);
    form.show();
    QCoreApplication::processEvents();
    form.ExecuteSaveDialog = [&](QFileDialog &) { return std::optional<std::string>(exportPath); };

    std::vector<TTime> choose, save, exportHave, status;
    std::string shown;
    for (int run = 0; run <= kRuns; ++run) {
        Choose(form, "Tiny System");
        const TTime c = Ms([&] { Choose(form, "Big System"); });
        shown = form.StatusText().toStdString();
        const TTime s = Ms([&] { form.SaveOwnership(form.CurSys); });
        const TTime e = Ms([&] { form.sb_SaveHaveClick(); });
        const TTime t = Ms([&] { form.acg_GameListCheckBoxMouseUp(); });
        QCoreApplication::processEvents();
        if (run == 0)
            continue; // warm-up
        choose.push_back(c);
        save.push_back(s);
        exportHave.push_back(e);
        status.push_back(t);
    }

    // Where the time goes.
    TAdvColumnGrid &grid = *form.acg_GameList;
    const std::string database = form.CurSys->Path;
    const std::string ownership = OwnershipPath(database, form.CurSys->Name);
    std::vector<TTime> load, tick, count, text, write;
    for (int run = 0; run < kRuns; ++run) {
        load.push_back(Ms([&] { LoadGameList(grid, database); }));
        tick.push_back(Ms([&] { LoadOwnership(grid, ownership); }));
        count.push_back(Ms([&] { GetStatusText(grid, "Big System"); }));
        std::string bytes;
        text.push_back(Ms([&] { bytes = OwnershipText(grid); }));
        write.push_back(Ms([&] { WriteFileAtomically(ownership, bytes); }));
    }

    std::printf("collection: %d games, %d ticked; medians of %d runs after a warm-up\n", games,
                ticks, kRuns);
    std::printf("  status after choosing: %s\n", shown.c_str());
    std::printf("  choose the system (load, ticks, status): %s   target < 250 ms\n",
                Figures(choose).c_str());
    std::printf("  save the ownership file:                 %s   target < 50 ms\n",
                Figures(save).c_str());
    std::printf("  Have export without the dialog:          %s\n", Figures(exportHave).c_str());
    std::printf("  status text after a check-box click:     %s   one frame: < 16 ms\n",
                Figures(status).c_str());
    std::printf("  parts of choosing: game list %s, ticks %s, status text %s\n",
                Figures(load).c_str(), Figures(tick).c_str(), Figures(count).c_str());
    std::printf("  parts of saving: ownership text %s, atomic write %s\n", Figures(text).c_str(),
                Figures(write).c_str());
    std::printf("  peak memory (VmHWM):                     %8.1f MB\n", PeakKb() / 1024.0);
    for (const auto &[name, times, target] :
         { std::tuple { "collection_choose_cpu", &choose, " max=250" },
           std::tuple { "collection_save_ticks_cpu", &save, " max=50" },
           std::tuple { "collection_have_export_cpu", &exportHave, "" } }) {
        std::vector<double> cpu;
        for (const TTime &t : *times)
            cpu.push_back(t.cpu);
        std::printf("FIGURE %s %.1f ms%s\n", name, Median(cpu), target);
    }
    return 0;
}
