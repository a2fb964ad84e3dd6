// Updating every sample database from a local site served by python3's web
// server, once with a manifest of sizes and digests (each download checked)
// and once with a manifest of plain lines (nothing to check), alternately in
// the same run, through the real update dialog (offscreen).
//
//   build/bench/update_check [runs]   (default 15)
//
// Each update starts from an empty version.ini and no databases, so all of
// them are downloaded, flushed to disk and put in place, as a user's update
// does. The figure is the median wall time with digests, its peer the same
// without; the process's CPU time is printed beside them.

#include "platform/Application.h"
#include "updater/Unit2.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string Read(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Write(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A site under `root`/`name`, holding the sample databases and a manifest
// whose lines `line` writes.
template<typename Line> void MakeSite(const fs::path &root, const std::string &name, Line line)
{
    const fs::path cdl = root / name / "tirmo" / "cdl";
    fs::create_directories(cdl);
    std::string manifest;
    for (const auto &entry : fs::directory_iterator(TIRMO_SOURCE_DIR "/sample/cdl")) {
        if (entry.path().extension() != ".cdl")
            continue;
        const std::string bytes = Read(entry.path());
        fs::copy_file(entry.path(), cdl / entry.path().filename());
        manifest += line(entry.path().filename().string(), bytes) + "\r\n";
    }
    Write(root / name / "tirmo" / "version.ini", manifest);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

double CpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct TTime {
    double wall, cpu;
};

// One whole update into a fresh application folder; its times in ms.
TTime UpdateOnce(const fs::path &app, const std::string &site, size_t databases)
{
    fs::remove_all(app);
    fs::create_directories(app / "cdl" / "data");
    Write(app / "version.ini", "");
    TUpdateForm form(app.string());
    form.SiteURL = site;
    form.show();
    const double cpu = CpuMs();
    const auto start = std::chrono::steady_clock::now();
    form.bt_StartUpdateClick();
    const TTime time {
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(),
        CpuMs() - cpu
    };
    size_t arrived = 0;
    for (const auto &entry : fs::directory_iterator(app / "cdl"))
        arrived += entry.path().extension() == ".cdl";
    if (arrived != databases || Read(app / "version.ini").empty()) {
        std::fprintf(stderr, "update from %s: %zu of %zu databases\n", site.c_str(), arrived,
                     databases);
        std::exit(1);
    }
    return time;
}

} // namespace

int main(int argc, char **argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TApplication application(argc, argv);
    SetMessageBoxHook([](const std::string &text, const std::string &) {
        std::fprintf(stderr, "update failed: %s\n", text.c_str());
        std::exit(1);
    });

    QTemporaryDir dir;
    const fs::path root = dir.filePath("site").toStdString();
    MakeSite(root, "digests", [](const std::string &name, const std::string &bytes) {
        const QByteArray sha = QCryptographicHash::hash(QByteArray::fromStdString(bytes),
                                                        QCryptographicHash::Sha256);
        return name + ";" + std::to_string(bytes.size()) + "-" + sha.toHex().toStdString();
    });
    MakeSite(root, "plain", [](const std::string &name, const std::string &bytes) {
        return name + ";" + std::to_string(bytes.size());
    });
    size_t databases = 0, bytes = 0;
    for (const auto &entry : fs::directory_iterator(root / "plain" / "tirmo" / "cdl")) {
        ++databases;
        bytes += fs::file_size(entry.path());
    }

    QProcess server;
    server.start("python3",
                 { "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory",
                   QString::fromStdString(root.string()) });
    QByteArray out;
    QRegularExpressionMatch port;
    while (!(port = QRegularExpression("port (\\d+)").match(QString::fromLatin1(out))).hasMatch()) {
        if (!server.waitForReadyRead(10000)) {
            std::fprintf(stderr, "python3 -m http.server did not start\n");
            return 1;
        }
        out += server.readAllStandardOutput();
    }
    const std::string base = "http://127.0.0.1:" + port.captured(1).toStdString();

    const fs::path app = dir.filePath("app").toStdString();
    std::vector<double> checked, unchecked, checkedCpu, uncheckedCpu;
    for (int run = 0; run <= runs; ++run) { // run 0 warms up
        // Each goes first every other run, so that neither inherits the
        // other's disk work more often.
        TTime withDigests {}, without {};
        if (run % 2) {
            withDigests = UpdateOnce(app, base + "/digests", databases);
            without = UpdateOnce(app, base + "/plain", databases);
        } else {
            without = UpdateOnce(app, base + "/plain", databases);
            withDigests = UpdateOnce(app, base + "/digests", databases);
        }
        if (run > 0) {
            checked.push_back(withDigests.wall);
            unchecked.push_back(without.wall);
            checkedCpu.push_back(withDigests.cpu);
            uncheckedCpu.push_back(without.cpu);
        }
    }
    const double a = Median(checked), b = Median(unchecked);
    std::printf("%zu sample databases, %zu KiB, %d runs of each after a warm-up, medians\n",
                databases, bytes / 1024, runs);
    std::printf("with digests checked  %8.1f ms (cpu %6.1f ms)\n", a, Median(checkedCpu));
    std::printf("without checking      %8.1f ms (cpu %6.1f ms)\n", b, Median(uncheckedCpu));
    std::printf("ratio                 %8.3f\n", a / b);
    std::printf("FIGURE update_with_digests %.1f ms peer=%.1f maxratio=1.1\n", a, b);
    server.kill();
    server.waitForFinished(5000);
    return 0;
}
