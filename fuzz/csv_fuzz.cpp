// The grid's CSV loader: any bytes as the file. The first input byte is the
// delimiter (0: detect one), the second holds the switches: bit 0
// TildeLineBreaks, bit 1 OemConvert, bit 2 FixedCellsInFiles off, bit 3
// insert below the rows of an earlier load. Checks the row count and the
// delimiter restored for every input, and every cell against a plain split
// for files without quotes loaded with a fixed delimiter.
#include "fuzz/FuzzSupport.h"
#include "grid/Advcgrid.h"

#include <fstream>

namespace {

// The file's lines: CR (with an LF after it) ends a line, Ctrl-Z the file.
std::vector<std::string> Lines(const std::string &bytes)
{
    const std::string text = bytes.substr(0, bytes.find('\x1A'));
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\r', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
        if (start < text.size() && text[start] == '\n')
            ++start;
    }
    return lines;
}

std::string LineBreaks(const std::string &field, bool tilde)
{
    std::string out;
    for (char c : field) {
        if (c == (tilde ? '~' : '\n'))
            out += "\r\n";
        else
            out += c;
    }
    return out;
}

// Fields of a line without quotes: a trailing delimiter adds no field.
std::vector<std::string> PlainFields(std::string line, char delimiter, bool tilde)
{
    std::vector<std::string> fields;
    for (size_t p; (p = line.find(delimiter)) != std::string::npos; line.erase(0, p + 1))
        fields.push_back(LineBreaks(line.substr(0, p), tilde));
    if (!line.empty())
        fields.push_back(LineBreaks(line, tilde));
    return fields;
}

const std::string &FilePath()
{
    static const TScratchDir dir;
    static const std::string path = dir.Path("list.cdl");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const char delimiter = char(data[0]);
    const bool tilde = data[1] & 1, oem = data[1] & 2, fixedInFile = !(data[1] & 4),
               insert = data[1] & 8;
    const std::string file(reinterpret_cast<const char *>(data + 2), size - 2);
    std::ofstream(FilePath(), std::ios::binary | std::ios::trunc) << file;

    TAdvColumnGrid grid;
    grid.CSVDelimiter = delimiter;
    grid.TildeLineBreaks = tilde;
    grid.SetOemConvert(oem);
    grid.FixedCellsInFiles = fixedInFile;
    if (insert)
        grid.LoadFromCSV(FilePath());
    const int rowsBefore = grid.RowCount();
    const int colsBefore = grid.ColCount();
    grid.InputFromCSV(FilePath(), insert);

    FUZZ_CHECK(grid.CSVDelimiter == delimiter, "delimiter not restored");
    const std::vector<std::string> lines = Lines(file);
    const int rowOffset = insert ? rowsBefore : fixedInFile ? 0 : 1;
    FUZZ_CHECK(grid.RowCount() >= 1, "no row");
    FUZZ_CHECK(grid.RowCount() == std::max(1, rowOffset + int(lines.size()))
                   || (!fixedInFile && !insert),
               "row count " + std::to_string(grid.RowCount()) + " for "
                   + std::to_string(lines.size()) + " lines");

    if (delimiter == '\0' || oem || insert || !fixedInFile || file.find('"') != std::string::npos)
        return 0;
    int columns = colsBefore; // loading never lowers it
    for (size_t row = 0; row < lines.size(); ++row) {
        const std::vector<std::string> fields = PlainFields(lines[row], delimiter, tilde);
        columns = std::max(columns, int(fields.size()));
        for (size_t col = 0; col < fields.size(); ++col)
            FUZZ_CHECK(grid.Cells(int(col), int(row)) == fields[col],
                       "cell " + std::to_string(col) + "," + std::to_string(row));
    }
    FUZZ_CHECK(grid.ColCount() == columns, "column count " + std::to_string(grid.ColCount()));
    return 0;
}
