// A downloaded game database on its way to the grid: any bytes as the file
// in a fresh cdl folder. Checks the display name the catalogue takes from
// the first line (and the ownership file name made from it), then the load
// into the game list: the header row from the second line, the GID column
// found and hidden, a cleared check box on every game row, every column shown
// once, and a database without a GID column refused with its path named.
#include "app/Catalogue.h"
#include "app/Collection.h"
#include "fuzz/FuzzSupport.h"
#include "grid/Advcgrid.h"
#include "platform/AnsiText.h"
#include "platform/AppDir.h"
#include "platform/Exceptions.h"

#include <filesystem>
#include <fstream>
#include <set>

namespace {

// The file as a text-mode read gives it: CRs dropped, Ctrl-Z ends it.
std::string TextMode(const std::string &bytes)
{
    std::string text = bytes.substr(0, bytes.find('\x1A'));
    std::erase(text, '\r');
    return text;
}

std::string ExpectedName(const std::string &text)
{
    std::string line(WithoutByteOrderMark(text.substr(0, text.find('\n'))));
    line = line.substr(0, MaxNameChars);
    return line.substr(0, line.find('\t'));
}

std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1)
        fields.push_back(line.substr(start, tab - start));
    if (start < line.size())
        fields.push_back(line.substr(start));
    return fields;
}

bool IsAscii(const std::string &text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

std::string AsciiUpper(std::string text)
{
    for (char &c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

void CheckName(const SysRecord &head, const std::string &path, const std::string &text)
{
    const SysRecord *record = head.Next.get();
    FUZZ_CHECK((record != nullptr) == !text.empty(), "a record for a file that has a line");
    if (!record)
        return;
    FUZZ_CHECK(!record->Next, "one record for one file");
    FUZZ_CHECK(record->Path == path, "record path " + record->Path);
    FUZZ_CHECK(record->Name == ExpectedName(text), "display name " + record->Name);
    FUZZ_CHECK(record->Name.find_first_of("\t\r\n") == std::string::npos, "line end in the name");
    FUZZ_CHECK(FindSysRecord(head, record->Name) == record, "name not found again");
    FUZZ_CHECK(GetSysNames(head).Count() == 1, "one name");
    ToDisplay(record->Name);

    const std::filesystem::path ownership = OwnershipPath(path, record->Name);
    const std::string file = ownership.filename().string();
    FUZZ_CHECK(ownership.parent_path() == std::filesystem::path(path).parent_path() / "data",
               "ownership file outside the data folder: " + ownership.string());
    FUZZ_CHECK(file.size() <= 255 && file.size() >= 4 && file.ends_with(".dat"),
               "ownership file name " + file);
}

// Every column is either hidden or shown in exactly one display column.
void CheckColumns(const TAdvStringGrid &grid)
{
    std::set<int> shown;
    for (int d = 0; d < grid.ColCount(); ++d) {
        const int real = grid.RealColIndex(d);
        FUZZ_CHECK(!grid.IsHiddenColumn(real), "hidden column " + std::to_string(real) + " shown");
        FUZZ_CHECK(shown.insert(real).second, "column " + std::to_string(real) + " shown twice");
    }
    for (int c = 0; c < grid.ColCount() + grid.NumHiddenColumns(); ++c)
        FUZZ_CHECK(shown.count(c) || grid.IsHiddenColumn(c),
                   "column " + std::to_string(c) + " never shown");
}

void CheckList(TAdvStringGrid &grid, const std::string &path, const std::string &text,
               const std::string &name)
{
    const size_t firstEnd = text.find('\n');
    const std::string rest = firstEnd == std::string::npos ? "" : text.substr(firstEnd + 1);
    const std::string header = rest.substr(0, rest.find('\n'));
    const std::vector<std::string> fields = Fields(header);
    // Quotes and non-ASCII names are the CSV loader's and the locale's own
    // business; for the rest the GID column is known here.
    const bool plain = rest.find('"') == std::string::npos && IsAscii(header);
    int expectedGid = -1;
    for (size_t i = 0; plain && i < fields.size() && expectedGid < 0; ++i)
        if (AsciiUpper(fields[i]) == "GID")
            expectedGid = int(i) + 1; // behind the Have column

    try {
        LoadGameList(grid, path);
    } catch (const Exception &e) {
        const std::string what = e.what();
        FUZZ_CHECK(what.find(path) != std::string::npos, "error without the path: " + what);
        FUZZ_CHECK(!plain || expectedGid < 0, "refused with a GID column: " + what);
        FUZZ_CHECK(grid.isHidden() && grid.NumHiddenColumns() == 0, "not cleared after " + what);
        return;
    }
    const int gid = GidColumn(grid);
    FUZZ_CHECK(gid >= 0, "loaded without a GID column");
    FUZZ_CHECK(!plain || gid == expectedGid, "GID column " + std::to_string(gid));
    FUZZ_CHECK(grid.Cells(0, 0) == "Have", "no Have column");
    if (plain)
        for (size_t i = 0; i < fields.size(); ++i)
            FUZZ_CHECK(grid.Cells(int(i) + 1, 0) == fields[i], "header cell " + std::to_string(i));
    if (gid < TAdvStringGrid::kMaxHidden)
        FUZZ_CHECK(grid.IsHiddenColumn(gid), "GID column shown");
    CheckColumns(grid);
    for (int r = 1; r < grid.RowCount(); ++r) {
        bool state = true;
        FUZZ_CHECK(grid.GetCheckBoxState(0, r, state) && !state,
                   "row " + std::to_string(r) + " without a cleared check box");
    }

    // No ownership file yet: nothing ticked, nothing to save, a count of none.
    FUZZ_CHECK(LoadOwnership(grid, OwnershipPath(path, name)).empty(), "GIDs from nowhere");
    FUZZ_CHECK(OwnershipText(grid).empty(), "ticks from nowhere");
    FUZZ_CHECK(GetStatusText(grid, name)
                   == "You Have 0 of " + std::to_string(grid.RowCount() - 1) + " known " + name
                       + " Games",
               "status text");
    ExportText(grid, name, TExportKind::Miss);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const TScratchDir dir;
    std::filesystem::create_directory(dir.Path("cdl"));
    const std::string path = dir.Path("cdl/fuzz.cdl");
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::ofstream(path, std::ios::binary) << bytes;
    const std::string text = TextMode(bytes);

    SysRecord head;
    ScanDatabases(head, dir.Path());
    CheckName(head, path, text);

    static TAdvColumnGrid grid;
    CheckList(grid, path, text, head.Next ? head.Next->Name : std::string());
    return 0;
}
