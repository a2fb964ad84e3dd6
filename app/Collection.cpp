// The collection as the game list holds it: loading a database into the
// list, the ticks of an ownership file, saving them, the status and exports.

#include "app/Collection.h"

#include "app/OwnedGids.h"
#include "grid/Advgrid.h"
#include "platform/AnsiText.h"
#include "platform/AtomicFile.h"
#include "platform/Collate.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"
#include "platform/TextFile.h"

#include <QByteArrayView>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace {

// Lines are read in pieces of this size; a longer line takes several.
constexpr int kLinePiece = 64 * 1024;
// Longest file name most file systems take, in bytes.
constexpr size_t kMaxFileName = 255;
const char kOwnershipExtension[] = ".dat";
// The list's header row: the one fixed row the game list is designed with.
constexpr int kHeaderRows = 1;

// The next line whole, with its LF when it has one; false at the end.
bool ReadWholeLine(TTextFile &file, std::string &line)
{
    line.clear();
    std::string piece;
    while (file.ReadLine(piece, kLinePiece)) {
        line += piece;
        if (line.back() == '\n')
            break;
    }
    return !line.empty();
}

// A copy of a game database made for the grid's CSV loader: the lines after
// the first, read as text (CRs dropped, ended at Ctrl-Z) and each ended by CR
// LF, which is how the loader splits lines. It is written as every other
// file is, as a ".tirmo-<hex>.tmp" scratch file that a kill leaves for the
// next start to remove, beside the database, or in the system's temporary
// folder when the cdl folder can't take it (read-only, full). It goes with
// this object.
class TGameListCopy {
public:
    explicit TGameListCopy(const std::string &databasePath)
    {
        const std::filesystem::path database(databasePath);
        const std::string name = database.filename().string() + "tmp";
        std::string failures;
        for (const std::string &folder : { database.parent_path().string(),
                                           QFile::encodeName(QDir::tempPath()).toStdString() }) {
            const std::optional<std::string> failure = CopyInto(databasePath, folder + "/" + name);
            if (!failure)
                return;
            failures += (failures.empty() ? "" : "; ") + *failure;
        }
        throw EFCreateError("Cannot create a temporary copy of " + databasePath + ": " + failures);
    }

    const std::string &Path() const { return m_copy->TemporaryPath(); }

private:
    // Makes the copy for `target`; why the copy couldn't be written, if it
    // couldn't. A database that can't be read throws.
    std::optional<std::string> CopyInto(const std::string &databasePath, const std::string &target)
    {
        // Only a regular file is read: a named pipe in its place would hold
        // the program for good.
        TTextFile in;
        if (!in.Open(databasePath, "rt"))
            throw EFOpenError("Cannot open file " + databasePath + ": " + in.OpenFailure());
        const std::string folder = std::filesystem::path(target).parent_path().string();
        RemoveTemporaryFiles(folder);
        TTextFile out;
        int error = 0;
        try {
            m_copy.emplace(target);
            if (!out.Open(m_copy->TemporaryPath(), "w+t"))
                throw EFCreateError("Cannot create file " + target + ": " + out.OpenFailure());
            error = Copy(in, out);
        } catch (const EInOutError &e) {
            m_copy.reset();
            return e.what();
        }
        if (in.Error())
            throw EInOutError("Cannot read file " + databasePath);
        if (error) {
            m_copy.reset();
            return "Cannot write file " + target + ": " + std::strerror(error);
        }
        return std::nullopt;
    }

    // Copies what follows the first line; the error of the first write that
    // failed, or 0.
    static int Copy(TTextFile &in, TTextFile &out)
    {
        std::string piece;
        bool first = true;
        while (in.ReadLine(piece, kLinePiece)) {
            if (first) {
                first = piece.back() != '\n';
                continue;
            }
            if (!out.Write(piece))
                return errno ? errno : EIO;
        }
        if (!out.Close())
            return errno ? errno : EIO;
        return 0;
    }

    std::optional<TAtomicFile> m_copy; // never committed: discarded with this object
};

void FillGameList(TAdvStringGrid &grid, const std::string &copyPath)
{
    grid.UnhideColumnsAll();
    grid.Clear();
    grid.RemoveCols(0, grid.ColCount() - 1);
    grid.CSVDelimiter = '\t';
    grid.LoadFromCSV(copyPath);
    // A database without games leaves the loader one row, which can't stay
    // fixed; whatever came before, the header row is fixed again here.
    if (grid.RowCount() > kHeaderRows)
        grid.SetFixedRows(kHeaderRows);
    grid.InsertCols(0, 1);
    const int gid = FindColumn(grid, "GID");
    if (gid < 0)
        return;
    grid.HideColumn(gid);
    grid.BeginUpdate();
    for (int r = 1; r < grid.RowCount(); ++r)
        grid.AddCheckBox(0, r, false, false);
    grid.EndUpdate();
    grid.SetCells(0, 0, "Have");
    grid.SetAutoSize(true);
}

bool IsTicked(const TAdvStringGrid &grid, int have, int row)
{
    bool state = false;
    return grid.GetCheckBoxState(have, row, state) && state;
}

// Calls visit(row) for each game row, top to bottom, with the rows a little
// further down already asked for.
template<class Visit> void ForEachGame(const TAdvStringGrid &grid, Visit visit)
{
    for (int r = 1; r < grid.RowCount(); ++r) {
        grid.PrefetchRow(r + TStringGrid::kRowsAhead);
        visit(r);
    }
}

int CountTicked(const TAdvStringGrid &grid, int have)
{
    int count = 0;
    ForEachGame(grid, [&](int r) { count += IsTicked(grid, have, r) ? 1 : 0; });
    return count;
}

int GameCount(const TAdvStringGrid &grid)
{
    return grid.RowCount() - 1;
}

// "<lead><count> of <games> known <name> Games", the name's bytes all in:
// printf's "%s" would end it at a NUL that a database's first line can hold.
std::string CountText(const char *lead, int count, int games, const std::string &name)
{
    return lead + std::to_string(count) + " of " + std::to_string(games) + " known " + name
        + " Games";
}

// The cell's text, or nothing when the list has no such column.
std::string CellOrEmpty(const TAdvStringGrid &grid, int col, int row)
{
    return col < 0 ? std::string() : grid.Cells(col, row);
}

void CreateFolderOf(const std::string &path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    std::error_code error;
    if (!folder.empty() && !std::filesystem::is_directory(folder, error)
        && !std::filesystem::create_directories(folder, error) && error)
        throw EFCreateError("Cannot create file " + path + ": the folder " + folder.string()
                            + " can't be made: " + error.message());
}

} // namespace

int FindColumn(const TAdvStringGrid &grid, const std::string &name)
{
    const std::string wanted = AnsiUpperCase(name);
    // The hidden column is past the shown ones: ColCount itself is a column.
    for (int c = 0; c <= grid.ColCount(); ++c)
        if (AnsiUpperCase(grid.Cells(c, 0)) == wanted)
            return c;
    return -1;
}

void ClearGameList(TAdvStringGrid &grid)
{
    grid.hide();
    grid.UnhideColumnsAll();
    grid.Clear();
}

int GidColumn(const TAdvStringGrid &grid)
{
    return FindColumn(grid, "GID");
}

void LoadGameList(TAdvStringGrid &grid, const std::string &path)
{
    try {
        const TGameListCopy copy(path);
        grid.hide();
        FillGameList(grid, copy.Path());
        if (GidColumn(grid) < 0)
            throw EInOutError("The game database " + path + " has no GID column");
    } catch (...) {
        ClearGameList(grid);
        throw;
    }
    grid.show();
}

std::string SafeFileName(const std::string &name, size_t room)
{
    std::string safe = name;
    for (char &c : safe) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '/' || c == '\\')
            c = '_';
    }
    // Without a separator ".." can't climb; alone it would name the folder above.
    if (safe == "." || safe == "..")
        safe.replace(0, safe.size(), safe.size(), '_');
    if (safe.size() > room) {
        // A UTF-8 name is cut before the character that doesn't fit whole;
        // in a single-byte encoding every byte is a character.
        size_t cut = room;
        if (QByteArrayView(safe.data(), qsizetype(safe.size())).isValidUtf8())
            while (cut > 0 && (static_cast<unsigned char>(safe[cut]) & 0xC0) == 0x80)
                --cut;
        safe.resize(cut);
    }
    return safe;
}

std::string OwnershipPath(const std::string &databasePath, const std::string &name)
{
    const std::string folder = std::filesystem::path(databasePath).parent_path().string();
    return folder + "/data/" + SafeFileName(name, kMaxFileName - (sizeof kOwnershipExtension - 1))
        + kOwnershipExtension;
}

std::vector<std::string> LoadOwnership(TAdvStringGrid &grid, const std::string &path)
{
    TTextFile file;
    if (!file.Open(path, "rt")) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {}; // nothing owned yet
        throw EFOpenError("Cannot open file " + path + ": " + file.OpenFailure());
    }
    TOwnedGids owned;
    std::string line;
    for (bool first = true; ReadWholeLine(file, line); first = false) {
        if (line.back() == '\n')
            line.pop_back();
        // A file saved by an editor may start with a byte-order mark.
        owned.Add(first ? WithoutByteOrderMark(line) : line);
    }
    if (file.Error())
        throw EInOutError("Cannot read file " + path);
    owned.Index();
    const int have = FindColumn(grid, "Have");
    const int gid = GidColumn(grid);
    int next = 1, row = 1;
    grid.BeginUpdate();
    const auto endUpdate = qScopeGuard([&] { grid.EndUpdate(); });
    owned.EachAhead(
        [&]() -> std::optional<std::string_view> {
            if (next >= grid.RowCount())
                return std::nullopt;
            return grid.CellText(gid, next++);
        },
        // Ticking changes no text that a GID ahead points into.
        [&](std::string_view rowGid, size_t hash) {
            if (owned.Take(rowGid, hash))
                grid.SetCheckBoxState(have, row, true);
            ++row;
        });
    return owned.Untaken();
}

std::string OwnershipText(const TAdvStringGrid &grid, const std::vector<std::string> &unlisted)
{
    const int have = FindColumn(grid, "Have");
    const int gid = GidColumn(grid);
    std::string text;
    ForEachGame(grid, [&](int r) {
        if (IsTicked(grid, have, r))
            text.append(grid.CellText(gid, r)).append("\r\n");
    });
    for (const std::string &kept : unlisted)
        text.append(kept).append("\r\n");
    return text;
}

void SaveOwnership(const TAdvStringGrid &grid, const std::string &path,
                   const std::vector<std::string> &unlisted)
{
    CreateFolderOf(path);
    RemoveTemporaryFiles(std::filesystem::path(path).parent_path().string());
    WriteFileAtomically(path, OwnershipText(grid, unlisted));
}

std::string GetStatusText(const TAdvStringGrid &grid, const std::string &name)
{
    return CountText("You Have ", CountTicked(grid, FindColumn(grid, "Have")), GameCount(grid),
                     name);
}

std::string ExportText(const TAdvStringGrid &grid, const std::string &name, TExportKind kind)
{
    const int gameName = FindColumn(grid, "Game Name");
    const int country = FindColumn(grid, "Country");
    const int have = FindColumn(grid, "Have");
    const bool wanted = kind == TExportKind::Have;
    TStringList lines;
    ForEachGame(grid, [&](int r) {
        if (IsTicked(grid, have, r) == wanted)
            lines.Add(CellOrEmpty(grid, gameName, r) + " (" + CellOrEmpty(grid, country, r) + ")");
    });
    lines.Sort();
    lines.Insert(0,
                 CountText(wanted ? " You Have " : " You are missing ", lines.Count(),
                           GameCount(grid), name));
    lines.Insert(1, "");
    return lines.Text();
}

std::string ProposedExportName(const std::string &name, TExportKind kind)
{
    const std::string suffix = kind == TExportKind::Have ? " Have.txt" : " Miss.txt";
    return SafeFileName(name, kMaxFileName - suffix.size()) + suffix;
}

void WriteExport(const std::string &path, const std::string &text)
{
    // Replacing by rename would go over a file the user made read-only. The
    // check is made with the rights the rename is made with.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw EFCreateError("Cannot create file " + path + ": " + std::strerror(EISDIR));
    if (std::filesystem::exists(path, error)
        && ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0)
        throw EFCreateError("Cannot create file " + path + ": " + std::strerror(errno));
    RemoveTemporaryFiles(std::filesystem::path(path).parent_path().string());
    WriteFileAtomically(path, text);
}
