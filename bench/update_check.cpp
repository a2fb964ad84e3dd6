// Updating every sample database from a local site served by python3's web
// server, with a manifest of sizes and digests (each download checked), with
// the same manifest signed by a publisher's key made by minisign for the run
// (the signature fetched and checked too), and with a manifest of plain lines
// (nothing to check), in turns in the same run, through the real update
// dialog (offscreen).
//
//   build/bench/update_check [runs]   (default 15)
//
// Each update starts from an empty version.ini and no databases, so all of
// them are downloaded, flushed to disk and put in place, as a user's update
// does. The figures are the median wall time with digests, its peer the
// same without, and the median wall time signed, its peer the same with
// digests alone; the process's CPU time is printed beside them.

#include "platform/Application.h"
#include "tests/support/Minisign.h"
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
TTime UpdateOnce(const fs::path &app, const std::string &site, size_t databases,
                 const std::string &key = "")
{
    fs::remove_all(app);
    fs::create_directories(app / "cdl" / "data");
    Write(app / "version.ini", "");
    TUpdateForm form(app.string());
    form.SiteURL = site;
    form.UpdateKey = key;
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
        // Every database is new to a fresh folder: the notice of that is no failure.
        if (text.find("in the list when TIRMO is started again") != std::string::npos)
            return;
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
    fs::create_directories(root / "signed");
    fs::copy(root / "digests" / "tirmo", root / "signed" / "tirmo", fs::copy_options::recursive);
    const TMinisign publisher;
    publisher.SignFile((root / "signed" / "tirmo" / "version.ini").string());
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
    std::vector<double> checked, unchecked, verified, checkedCpu, uncheckedCpu, verifiedCpu;
    for (int run = 0; run <= runs; ++run) { // run 0 warms up
        // Each goes first as often as the others, so that none inherits
        // another's disk work more often.
        TTime withDigests {}, without {}, signedToo {};
        for (int turn = 0; turn < 3; ++turn) {
            switch ((run + turn) % 3) {
            case 0:
                withDigests = UpdateOnce(app, base + "/digests", databases);
                break;
            case 1:
                without = UpdateOnce(app, base + "/plain", databases);
                break;
            default:
                signedToo = UpdateOnce(app, base + "/signed", databases, publisher.PublicKey());
            }
        }
        if (run > 0) {
            checked.push_back(withDigests.wall);
            unchecked.push_back(without.wall);
            verified.push_back(signedToo.wall);
            checkedCpu.push_back(withDigests.cpu);
            uncheckedCpu.push_back(without.cpu);
            verifiedCpu.push_back(signedToo.cpu);
        }
    }
    const double a = Median(checked), b = Median(unchecked), c = Median(verified);
    std::printf("%zu sample databases, %zu KiB, %d runs of each after a warm-up, medians\n",
                databases, bytes / 1024, runs);
    std::printf("signed, digests too   %8.1f ms (cpu %6.1f ms)\n", c, Median(verifiedCpu));
    std::printf("with digests checked  %8.1f ms (cpu %6.1f ms)\n", a, Median(checkedCpu));
    std::printf("without checking      %8.1f ms (cpu %6.1f ms)\n", b, Median(uncheckedCpu));
    std::printf("ratio digests / none  %8.3f\n", a / b);
    std::printf("ratio signed / digests%8.3f\n", c / a);
    std::printf("FIGURE update_with_digests %.1f ms peer=%.1f maxratio=1.1\n", a, b);
    std::printf("FIGURE update_signed %.1f ms peer=%.1f maxratio=1.05\n", c, a);
    server.kill();
    server.waitForFinished(5000);
    return 0;
}
