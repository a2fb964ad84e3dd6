#pragma once

// Directory search by wildcard pattern, with the attributes of each entry.

#include <string>
#include <vector>

// File attributes as the directory search reports them.
constexpr int faReadOnly = 0x01; // the owner may not write
constexpr int faHidden = 0x02; // the name starts with "."
constexpr int faSysFile = 0x04; // never set here
constexpr int faVolumeID = 0x08; // never set here
constexpr int faDirectory = 0x10;
constexpr int faArchive = 0x20; // never set here
constexpr int faAnyFile = 0x3F;

struct TSearchRec {
    std::string Name; // the entry's name, without its directory
    int Attr = 0;
};

// True when `name` matches the wildcard `pattern` ("*" any run of characters,
// "?" any one), ignoring letter case as this program always has.
bool MatchesMask(const std::string &name, const std::string &pattern);

// The directory search: the entries of the pattern's directory whose names
// match its last component. An entry that is hidden, a system file or a
// directory is found only when `attr` asks for that attribute; faAnyFile finds
// everything. The entries come sorted by name ignoring case, the order in
// which this program has always listed them. A missing directory finds nothing.
std::vector<TSearchRec> FindFiles(const std::string &pattern, int attr);
