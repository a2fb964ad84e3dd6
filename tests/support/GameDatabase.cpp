#include "tests/support/GameDatabase.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <stdexcept>

namespace {

const char *const kWords[]
    = { "Dragon",  "Quest",   "Star",   "Legend", "of",     "the",   "Night", "Racer",
        "Fighter", "Space",   "Battle", "Zone",   "Super",  "Mega",  "Dark",  "Soul",
        "Blade",   "Kingdom", "Hearts", "Final",  "Saga",   "Tales", "Myst",  "Ridge",
        "Tekken",  "Puzzle",  "World",  "Wars",   "Knight", "Chrono" };
const char *const kCountries[] = { "US", "JP", "EU", "KR", "BR", "AU", "DE", "FR" };
const char *const kPublishers[]
    = { "Velmar Soft",           "Orbis Games Ltd.", "Kitsune Interactive", "Nordlicht Spiele",
        "Bluefin Entertainment", "Hyperion Works",   "Sakura Denki",        "Pixel Forge Studios" };
const char *const kGenres[] = { "Action",       "Role-Playing", "Racing",           "Puzzle",
                                "Shoot 'em up", "Sports",       "Action Adventure", "Fighting" };
const char *const kPrefixes[] = { "SLUS", "SLES", "SLPS", "SCUS", "SCES", "T", "MK", "GD" };
const char *const kHeaders[]
    = { "Game Name", "Country", "Publisher", "Genre", "Year", "Discs", "Serial", "GID" };

using TGame = std::array<std::string, 8>;

class TGameMaker {
public:
    explicit TGameMaker(unsigned seed) : m_random(seed) { }

    // Every field is drawn, in one order, whatever the shape writes.
    TGame Make(int number)
    {
        TGame game;
        std::string &name = Field(game, TGameField::Name);
        for (int w = 0, words = Pick(3, 7); w < words; ++w)
            name += (w ? " " : "") + std::string(kWords[Pick(0, 29)]);
        if (Pick(0, 3) == 0)
            name += " " + std::to_string(Pick(2, 9));
        Field(game, TGameField::Country) = kCountries[Pick(0, 7)];
        Field(game, TGameField::Publisher) = kPublishers[Pick(0, 7)];
        Field(game, TGameField::Genre) = kGenres[Pick(0, 7)];
        Field(game, TGameField::Year) = std::to_string(Pick(1985, 2005));
        Field(game, TGameField::Discs) = std::to_string(Pick(1, 4));
        char serial[32];
        std::snprintf(serial, sizeof serial, "%s-%05d", kPrefixes[Pick(0, 7)], Pick(0, 99999));
        Field(game, TGameField::Serial) = serial;
        Field(game, TGameField::Gid) = Gid(number);
        return game;
    }

    static std::string &Field(TGame &game, TGameField field) { return game[size_t(field)]; }

private:
    int Pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_random); }

    std::mt19937 m_random;
};

void Finish(std::ofstream &out, const std::string &path)
{
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace

std::string Gid(int game)
{
    char gid[16];
    std::snprintf(gid, sizeof gid, "G%07d", game);
    return gid;
}

void WriteGameDatabase(const std::string &path, int games, const TGameDatabaseShape &shape)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!shape.systemLine.empty())
        out << shape.systemLine << "\r\n";
    for (size_t f = 0; f < shape.fields.size(); ++f)
        out << (f ? "\t" : "") << kHeaders[size_t(shape.fields[f])];
    out << "\r\n";
    TGameMaker maker(shape.seed);
    for (int g = 1; g <= games; ++g) {
        TGame game = maker.Make(g);
        for (size_t f = 0; f < shape.fields.size(); ++f)
            out << (f ? "\t" : "") << TGameMaker::Field(game, shape.fields[f]);
        out << "\r\n";
    }
    Finish(out, path);
}

void WriteOwnership(const std::string &path, int games, int step, int count)
{
    std::vector<int> owned;
    for (int g = 1; g <= games && int(owned.size()) < count; g += step)
        owned.push_back(g);
    std::shuffle(owned.begin(), owned.end(), std::mt19937(7));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (int g : owned)
        out << Gid(g) << "\r\n";
    Finish(out, path);
}
