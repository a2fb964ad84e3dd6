#pragma once

#include <string>
#include <vector>

class TAdvStringGrid;

// The collection as the game list holds it: one row per game of the shown
// system, a check box in the Have column (column 0) and the game's GID in the
// hidden GID column. All column indices here are real column indices.

// The real index of the first column whose header equals `name` ignoring
// case (upper-cased with the user's locale), or -1.
int FindColumn(const TAdvStringGrid &grid, const std::string &name);

// Fills the grid with the games of the database at `path`: its second line
// becomes the header row, each further line a game row; a Have column of
// cleared check boxes goes in front and the GID column is hidden. Throws,
// naming the file, when the database can't be read or has no GID column;
// the grid is then cleared (ClearGameList).
void LoadGameList(TAdvStringGrid &grid, const std::string &path);

// Hides the grid and empties it: no texts, no check boxes, no hidden column.
void ClearGameList(TAdvStringGrid &grid);

// The GID column of a loaded list.
int GidColumn(const TAdvStringGrid &grid);

// `name` as a file name in one folder: path separators and control
// characters become "_", and a name longer than `room` bytes is cut before
// the first character that doesn't fit whole. Names that are already fine are
// kept as they are.
std::string SafeFileName(const std::string &name, size_t room);

// <folder of the database>/data/<safe name>.dat
std::string OwnershipPath(const std::string &databasePath, const std::string &name);

// Ticks the rows whose GIDs the ownership file at `path` lists (each GID the
// first row that has it). A missing file ticks nothing; a file that exists
// but can't be read throws, naming it. Returns the GIDs of the file that no
// row has (a game the database no longer lists, or not yet), each once, in
// the file's order: they are the user's too and go back into the file.
std::vector<std::string> LoadOwnership(TAdvStringGrid &grid, const std::string &path);

// The GIDs of the ticked rows, top to bottom, then the `unlisted` ones, each
// followed by CR LF.
std::string OwnershipText(const TAdvStringGrid &grid,
                          const std::vector<std::string> &unlisted = {});

// Replaces the ownership file at `path` with the ticks and the `unlisted`
// GIDs, creating its folder when it is missing. A failure throws, naming the
// file; the old file is kept.
void SaveOwnership(const TAdvStringGrid &grid, const std::string &path,
                   const std::vector<std::string> &unlisted = {});

// "You Have <ticked> of <games> known <name> Games"
std::string GetStatusText(const TAdvStringGrid &grid, const std::string &name);

enum class TExportKind { Have, Miss };

// The export as it goes to disk: the header, an empty line and the
// "<Game Name> (<Country>)" lines of the ticked (Have) or unticked (Miss)
// games sorted ignoring case, every line ended by CR LF.
std::string ExportText(const TAdvStringGrid &grid, const std::string &name, TExportKind kind);

// The file name proposed in the save dialog: "<name> Have.txt" or
// "<name> Miss.txt", the name made safe as for ownership files and cut so
// that the whole name fits in one file name.
std::string ProposedExportName(const std::string &name, TExportKind kind);

// Writes an export to the file the user chose, replacing it. Throws
// EFCreateError "Cannot create file <path>" when it can't be written.
void WriteExport(const std::string &path, const std::string &text);
