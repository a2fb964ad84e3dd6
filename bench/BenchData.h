#pragma once

// Generated data of the start-up and scale benchmarks: game databases with
// realistic field lengths (about 80 bytes a game) and ownership files.

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

// Game number g (from 1) has the GID "G" and seven digits.
inline std::string Gid(int g)
{
    char gid[16];
    std::snprintf(gid, sizeof gid, "G%07d", g);
    return gid;
}

// A game database as the update site ships them: the system's name and a
// description, the header line, then the games; CR LF line ends.
inline void WriteGameDatabase(const std::string &path, const std::string &system, int games, unsigned seed)
{
    std::mt19937 random(seed);
    auto pick = [&](int n) { return int(random() % unsigned(n)); };
    const char *words[] = {"Dragon", "Quest", "Star", "Legend", "of", "the", "Night", "Racer", "Fighter", "Space",
                           "Battle", "Zone", "Super", "Mega", "Dark", "Soul", "Blade", "Kingdom", "Tales", "Chrono"};
    const char *countries[] = {"USA", "Japan", "Europe", "Korea", "Brazil", "Australia", "Germany", "France"};
    const char *publishers[] = {"Velmar Soft", "Orbis Games Ltd.", "Kitsune Interactive", "Nordlicht Spiele"};
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << system << "\tCD-ROM games, generated for benchmarks\r\n"
        << "Game Name\tCountry\tYear\tPublisher\tSerial\tGID\r\n";
    for (int g = 1; g <= games; ++g) {
        std::string title;
        for (int w = 0, n = 3 + pick(4); w < n; ++w)
            title += (w ? " " : "") + std::string(words[pick(20)]);
        char serial[16];
        std::snprintf(serial, sizeof serial, "SLUS-%05d", pick(100000));
        out << title << '\t' << countries[pick(8)] << '\t' << 1985 + pick(20) << '\t' << publishers[pick(4)] << '\t'
            << serial << '\t' << Gid(g) << "\r\n";
    }
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

// An ownership file naming every other game, shuffled as a file kept by hand
// would be.
inline void WriteOwnership(const std::string &path, int games)
{
    std::vector<int> owned;
    for (int g = 1; g <= games; g += 2)
        owned.push_back(g);
    std::shuffle(owned.begin(), owned.end(), std::mt19937(7));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int g : owned)
        out << Gid(g) << "\r\n";
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace bench
