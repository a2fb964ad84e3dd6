#pragma once

// Generated game databases and ownership files, for benchmarks and tests
// that need many games: realistic field lengths (about 90 bytes a game with
// every field), the same games for the same seed, CR LF line ends.

#include <climits>
#include <string>
#include <vector>

enum class TGameField { Name, Country, Publisher, Genre, Year, Discs, Serial, Gid };

struct TGameDatabaseShape {
    // The columns, in order; the header line names them.
    std::vector<TGameField> fields;
    // The system's line above the header ("Name\tdescription"); none when
    // empty, which is the list as the grid loads it.
    std::string systemLine {};
    unsigned seed = 20261209;
};

// Game number g (from 1) has the GID "G" and seven digits.
std::string Gid(int game);

// `games` games; a game's fields don't depend on which of them are written.
// Throws std::runtime_error when the file can't be written.
void WriteGameDatabase(const std::string &path, int games, const TGameDatabaseShape &shape);

// An ownership file naming every `step`-th game from the first, at most
// `count` of them, shuffled as a file kept by hand would be.
void WriteOwnership(const std::string &path, int games, int step, int count = INT_MAX);
