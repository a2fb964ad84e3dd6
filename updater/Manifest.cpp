#include "updater/Manifest.h"

#include "platform/Collate.h"

#include <fstream>
#include <iterator>

namespace {

constexpr size_t kMaxName = 259;

// Bisection over a list sorted with AnsiCompareText.
int FindSorted(const TStringList &list, const std::string &line)
{
    int low = 0;
    int high = list.Count() - 1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int c = AnsiCompareText(list[mid], line);
        if (c == 0)
            return mid;
        if (c < 0)
            low = mid + 1;
        else
            high = mid - 1;
    }
    return -1;
}

} // namespace

TStringList ManifestLines(const std::string &bytes)
{
    const std::string text = bytes.substr(0, bytes.find('\0'));
    TStringList lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            lines.Add(text.substr(start));
            break;
        }
        lines.Add(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

TStringList ReadManifest(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return ManifestLines(std::string(std::istreambuf_iterator<char>(in), {}));
}

std::vector<std::string> ChangedEntries(TStringList local, TStringList server)
{
    local.Sort();
    server.Sort();
    std::vector<std::string> changed;
    for (const std::string &line : server) {
        const int match = FindSorted(local, line);
        if (match >= 0)
            local.Delete(match);
        else
            changed.push_back(line);
    }
    return changed;
}

std::string EntryName(const std::string &line)
{
    return line.substr(0, line.find(';'));
}

bool IsProgramEntry(const std::string &name)
{
    return name == "Main";
}

std::string UnsafeEntryNameReason(const std::string &name)
{
    if (name.empty())
        return "has no name";
    if (name.size() > kMaxName)
        return "has a name longer than 259 characters";
    if (name == "." || name == ".." || name.find("..") != std::string::npos)
        return "has a name with \"..\"";
    for (unsigned char c : name) {
        if (c == '/' || c == '\\')
            return "has a name with a path separator";
        if (c < 32 || c == 127)
            return "has a name with a control character";
    }
    return {};
}
