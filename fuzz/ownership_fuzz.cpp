// The ownership file reader against a loaded game list: any bytes as the
// file. Checks that every ticked row's GID is a line of the file, that every
// line naming a game ticks it, and the round trip: the ticks saved and read
// back into a fresh list tick the same rows.
#include "app/Collection.h"
#include "fuzz/FuzzSupport.h"
#include "grid/Advcgrid.h"

#include <fstream>
#include <set>

namespace {

// Real GIDs and awkward ones: shared by two rows, with blanks, with bytes
// that are not UTF-8, with the characters a text-mode read treats apart.
const char kDatabase[]
    = "Fuzz System\tCD-ROMs\r\n"
      "Game Name\tCountry\tGID\r\n"
      "2020 Super Baseball\tJapan, USA\t2020bb\r\n"
      "Art of Fighting\tJapan\taof\r\n"
      "Shared One\tUSA\tshared\r\n"
      "Shared Two\tEurope\tshared\r\n"
      "Blank Tail\tUSA\tblank \r\n"
      "Blank Inside\tUSA\ta b\r\n"
      "Latin\tEurope\t\xe9t\xe9\r\n"
      "Utf\tEurope\t\xc3\xa9t\xc3\xa9\r\n"
      "Zero\tJapan\t0\r\n"
      "Semicolon\tJapan\tx;1\r\n"
      "Long\tUSA\tGID-0123456789-0123456789-0123456789-0123456789-0123456789\r\n";

struct TList {
    TScratchDir dir;
    TAdvColumnGrid grid;
    std::string ownership = dir.Path("Fuzz System.dat");
    std::string saved = dir.Path("saved/Fuzz System.dat");

    TList()
    {
        const std::string database = dir.Path("fuzz.cdl");
        std::ofstream(database, std::ios::binary) << kDatabase;
        LoadGameList(grid, database);
    }

    void Untick()
    {
        for (int r = 1; r < grid.RowCount(); ++r)
            grid.SetCheckBoxState(0, r, false);
    }

    std::set<int> Ticked() const
    {
        std::set<int> rows;
        for (int r = 1; r < grid.RowCount(); ++r)
            if (bool state = false; grid.GetCheckBoxState(0, r, state) && state)
                rows.insert(r);
        return rows;
    }
};

// The file's lines as a text-mode read gives them: CRs dropped, Ctrl-Z ends.
std::set<std::string> Lines(const std::string &bytes)
{
    std::string text = bytes.substr(0, bytes.find('\x1A'));
    std::erase(text, '\r');
    const std::vector<std::string> lines = LfLines(text);
    return { lines.begin(), lines.end() };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static TList list;
    const std::string bytes(reinterpret_cast<const char *>(data), size);
    std::ofstream(list.ownership, std::ios::binary | std::ios::trunc) << bytes;

    list.Untick();
    LoadOwnership(list.grid, list.ownership);
    const std::set<int> ticked = list.Ticked();
    const std::set<std::string> lines = Lines(bytes);
    const int gid = GidColumn(list.grid);
    std::set<std::string> seen;
    for (int r = 1; r < list.grid.RowCount(); ++r) {
        const std::string id = list.grid.Cells(gid, r);
        const bool first = seen.insert(id).second; // a shared GID ticks its first row
        FUZZ_CHECK(ticked.count(r) == (first && lines.count(id)),
                   "row " + std::to_string(r) + " GID " + id);
    }

    SaveOwnership(list.grid, list.saved);
    list.Untick();
    LoadOwnership(list.grid, list.saved);
    FUZZ_CHECK(list.Ticked() == ticked, "saved ticks read back differently");
    return 0;
}
