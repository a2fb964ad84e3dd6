// Start-up: the real tirmo executable in an application folder holding 200
// game databases of 2,000 games each, from its start until its main window is
// shown with the selector filled, next to a Qt Widgets program that shows an
// empty main window of the same size, in the same run, and the same window
// showing one label (the cost of any text: the font set-up). All run offscreen
// with a hook preloaded (shown/ShownHook.cpp) that reports the moment the
// first window has painted and ends the process; the programs take turns, one
// warm-up each, then the median of the runs.
//
//   build/bench/startup [RUNS]     (RUNS defaults to 7)

#include "tests/support/GameDatabase.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

namespace fs = std::filesystem;

namespace {

constexpr int kDatabases = 200;
constexpr int kGames = 2000;

long long MonotonicNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The application folder: the executable beside cdl/ with the databases,
// their files named in an order unlike their systems' names.
void LayOutAppFolder(const fs::path &dir)
{
    fs::create_directories(dir / "cdl" / "data");
    fs::copy_file(TIRMO_EXE, dir / "tirmo");
    const char *makers[]
        = { "Velmar", "Orbis", "Kitsune", "Nordlicht", "Bluefin", "Hyperion", "Sakura", "Pixel" };
    for (int i = 0; i < kDatabases; ++i) {
        const std::string system
            = std::string(makers[i % 8]) + " CD System " + std::to_string(1000 - i);
        char file[32];
        std::snprintf(file, sizeof file, "sys%03d.cdl", (i * 37) % kDatabases);
        using F = TGameField;
        WriteGameDatabase(
            (dir / "cdl" / file).string(), kGames,
            { .fields = { F::Name, F::Country, F::Year, F::Publisher, F::Serial, F::Gid },
              .systemLine = system + "\tCD-ROM games, generated for benchmarks",
              .seed = unsigned(i) });
    }
}

struct Start {
    double ms = 0;
    double cpuMs = 0; // user and system time of the process until it was shown
    int entries = 0;
    long long bytesRead = 0;
    int width = 0, height = 0;
};

// Starts the program with the hook and waits for its report.
Start TimeStart(const std::string &program, const fs::path &errors,
                const std::vector<std::string> &args = {})
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);

    std::vector<std::string> env = { "QT_QPA_PLATFORM=offscreen", "TIRMO_SHOWN_FD=3",
                                     std::string("LD_PRELOAD=") + SHOWN_HOOK };
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) && std::strncmp(*e, "LD_PRELOAD=", 11))
            env.push_back(*e);
    std::vector<char *> envp;
    for (std::string &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> words = { program };
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const long long start = MonotonicNs();
    const int spawned
        = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (spawned != 0) {
        close(fds[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(spawned));
    }
    std::string report;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) != 0;)
        if (n > 0)
            report.append(buffer, size_t(n));
        else if (errno != EINTR)
            break;
    close(fds[0]);
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);

    long long shownAt = 0;
    Start result;
    if (std::sscanf(report.c_str(), "shown %lld %d %lld %dx%d", &shownAt, &result.entries,
                    &result.bytesRead, &result.width, &result.height)
        != 5) {
        std::ifstream in(errors);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        throw std::runtime_error(program + " ended without showing a window:\n" + text);
    }
    result.ms = double(shownAt - start) / 1e6;
    result.cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3
        + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(5, std::atoi(argv[1])) : 7;
    char pattern[] = "/tmp/tirmo-startup.XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path dir = pattern;
    int result = 0;
    try {
        LayOutAppFolder(dir);
        const std::string tirmo = (dir / "tirmo").string();
        // The same executable beside an empty cdl folder: what the window
        // itself costs, without the databases.
        fs::create_directories(dir / "bare" / "cdl" / "data");
        fs::copy_file(TIRMO_EXE, dir / "bare" / "tirmo");
        const std::string bare = (dir / "bare" / "tirmo").string();
        std::vector<double> tirmoMs, emptyMs, tirmoCpu, emptyCpu, tirmoRead, emptyRead, bareMs,
            bareCpu, labelMs, labelCpu;
        // The empty window is shown at the size of the program's.
        Start t = TimeStart(tirmo, dir / "tirmo.err"), e, b, l;
        const std::vector<std::string> size = { std::to_string(t.width), std::to_string(t.height) };
        std::vector<std::string> sizeAndText = size;
        sizeAndText.push_back("Game Name");
        for (int run = 0; run <= runs; ++run) {
            e = TimeStart(EMPTY_WINDOW_EXE, dir / "empty.err", size);
            l = TimeStart(EMPTY_WINDOW_EXE, dir / "label.err", sizeAndText);
            t = TimeStart(tirmo, dir / "tirmo.err");
            b = TimeStart(bare, dir / "bare.err");
            if (t.entries != kDatabases)
                throw std::runtime_error("tirmo showed " + std::to_string(t.entries)
                                         + " systems, not " + std::to_string(kDatabases));
            if (run == 0)
                continue; // warm-up
            tirmoMs.push_back(t.ms);
            emptyMs.push_back(e.ms);
            tirmoCpu.push_back(t.cpuMs);
            bareMs.push_back(b.ms);
            bareCpu.push_back(b.cpuMs);
            emptyCpu.push_back(e.cpuMs);
            labelMs.push_back(l.ms);
            labelCpu.push_back(l.cpuMs);
            tirmoRead.push_back(double(t.bytesRead));
            emptyRead.push_back(double(e.bytesRead));
        }
        const double tirmoMedian = Median(tirmoMs), emptyMedian = Median(emptyMs);
        const double tirmoCpuMedian = Median(tirmoCpu), emptyCpuMedian = Median(emptyCpu);
        const double readPerDb = (Median(tirmoRead) - Median(emptyRead)) / kDatabases;
        std::printf("start-up until the main window is shown, offscreen; median of %d runs after a "
                    "warm-up\n",
                    runs);
        std::printf(
            "(wall time, and the process's CPU time: what an idle machine shows as wall time)\n");
        std::printf("  tirmo, %d databases of %d games: %7.1f ms wall %7.1f ms CPU (%d systems "
                    "listed, %dx%d)\n",
                    kDatabases, kGames, tirmoMedian, tirmoCpuMedian, t.entries, t.width, t.height);
        std::printf("  tirmo, no databases:               %7.1f ms wall %7.1f ms CPU\n",
                    Median(bareMs), Median(bareCpu));
        std::printf("  empty Qt main window, same size:   %7.1f ms wall %7.1f ms CPU (%dx%d)\n",
                    emptyMedian, emptyCpuMedian, e.width, e.height);
        std::printf("  that window with one label:        %7.1f ms wall %7.1f ms CPU\n",
                    Median(labelMs), Median(labelCpu));
        std::printf(
            "  ratio:                             %7.2f x wall %7.2f x CPU   (target <= 1.5)\n",
            tirmoMedian / emptyMedian, tirmoCpuMedian / emptyCpuMedian);
        std::printf("  bytes read per database:           %7.0f\n", readPerDb);
        std::printf("FIGURE startup_200_databases %.1f ms peer=%.1f maxratio=1.5\n", tirmoMedian,
                    emptyMedian);
        std::printf("FIGURE startup_200_databases_cpu %.1f ms peer=%.1f maxratio=1.5\n",
                    tirmoCpuMedian, emptyCpuMedian);
        std::printf("FIGURE startup_no_databases_cpu %.1f ms peer=%.1f\n", Median(bareCpu),
                    emptyCpuMedian);
        std::printf("FIGURE startup_one_label_window_cpu %.1f ms peer=%.1f\n", Median(labelCpu),
                    emptyCpuMedian);
        std::printf("FIGURE startup_bytes_read_per_database %.0f B max=8192\n", readPerDb);
    } catch (const std::exception &ex) {
        std::fprintf(stderr, "startup: %s\n", ex.what());
        result = 1;
    }
    fs::remove_all(dir);
    return result;
}
