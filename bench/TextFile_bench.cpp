// Copies a large game database line by line in text mode, as loading a game
// list does (pieces of at most 1039 characters, "rt" to "w+t"), and compares
// it with the C library copying the same file with fgets/fputs in binary mode.
// Also times the catalogue scan of a cdl folder holding that database.
//
// Usage: TextFile_bench [DATABASE.cdl]   (default: 100,000 generated games
// in a temporary folder)

#include "app/Catalogue.h"
#include "platform/TextFile.h"
#include "tests/support/GameDatabase.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <string>

namespace {

double BestOf(int runs, const std::function<void()> &work)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        best = std::min(
            best,
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    return best;
}

void CopyTextFile(const std::string &from, const std::string &to)
{
    TTextFile in(from, "rt"), out(to, "w+t");
    std::string piece;
    while (in.ReadLine(piece, 1040))
        out.Write(piece);
}

void CopyCLibrary(const std::string &from, const std::string &to)
{
    std::FILE *in = std::fopen(from.c_str(), "rb");
    std::FILE *out = std::fopen(to.c_str(), "wb");
    char buffer[1040];
    while (std::fgets(buffer, sizeof buffer, in))
        std::fputs(buffer, out);
    std::fclose(in);
    std::fclose(out);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir tmp;
    QDir(tmp.path()).mkpath("cdl");
    const std::string dir = tmp.path().toStdString();
    const std::string db = dir + "/cdl/bench.cdl";
    if (argc > 1) {
        QFile::copy(argv[1], QString::fromStdString(db));
    } else {
        using F = TGameField;
        WriteGameDatabase(
            db, 100000,
            { .fields = { F::Name, F::Country, F::Year, F::Publisher, F::Serial, F::Gid },
              .systemLine = "Benchmark\t100000 games" });
    }
    const std::string copy = dir + "/copy.tmp";
    // Interleaved rounds, best of each, so that a busy machine hurts both alike.
    double ours = 1e30, peer = 1e30;
    for (int round = 0; round < 9; ++round) {
        ours = std::min(ours, BestOf(1, [&] { CopyTextFile(db, copy); }));
        peer = std::min(peer, BestOf(1, [&] { CopyCLibrary(db, copy); }));
    }
    const double scan = BestOf(5, [&] {
        SysRecord head;
        ScanDatabases(head, dir);
    });
    const char *what = argc > 1 ? argv[1] : "100,000 rows";
    std::printf("text-mode line copy of %s: %.1f ms; C library fgets/fputs (binary): %.1f ms; "
                "ratio %.2f\n",
                what, ours, peer, ours / peer);
    std::printf("catalogue scan of a cdl folder with that database: %.3f ms\n", scan);
    std::printf("FIGURE textfile_line_copy %.1f ms peer=%.1f\n", ours, peer);
    std::printf("FIGURE catalogue_scan_one_database %.3f ms\n", scan);
    return 0;
}
