#include "updater/Manifest.h"

#include "platform/AnsiText.h"
#include "platform/AppDir.h"
#include "platform/Collate.h"
#include "platform/Exceptions.h"
#include "platform/TextFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

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
        if (end > start)
            lines.Add(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

TStringList ReadManifest(const std::string &path)
{
    // Only a regular file: a named pipe in its place would never answer.
    TTextFile file;
    if (!file.Open(path, "rb")) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {};
        throw EFOpenError("Cannot open file " + path + ": " + file.OpenFailure());
    }
    constexpr int kPiece = 64 * 1024;
    std::string bytes, piece;
    while (file.ReadLine(piece, kPiece))
        bytes += piece;
    if (file.Error())
        throw EInOutError("Cannot read file " + path);
    return ManifestLines(bytes);
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

std::optional<std::string> UnsafeEntryNameReason(const std::string &name)
{
    if (name.empty())
        return "has no name";
    if (name.size() > size_t(MaxNameChars))
        return "has a name longer than " + std::to_string(MaxNameChars) + " characters";
    if (name == "." || name == "..")
        return "has the name of a folder";
    for (unsigned char c : name) {
        if (c == ';')
            return "has a name with \";\", which ends a name in version.ini";
        if (c == '/' || c == '\\')
            return "has a name with a path separator";
        if (c < 32 || c == 127)
            return "has a name with a control character";
    }
    if (!IsUtf8(name))
        return "has a name that isn't UTF-8, which its address can't carry";
    return std::nullopt;
}

std::optional<TFileDigest> FileDigest(const std::string &line)
{
    const size_t semicolon = line.find(';');
    if (semicolon == std::string::npos)
        return std::nullopt;
    const std::string rest = line.substr(semicolon + 1);
    const size_t dash = rest.find('-');
    const std::string size = rest.substr(0, dash);
    // 18 digits fit a 64-bit size.
    if (dash == std::string::npos || size.empty() || size.size() > 18
        || size.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    std::string digest = rest.substr(dash + 1);
    if (digest.size() != 64
        || digest.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::nullopt;
    for (char &c : digest)
        if (c >= 'A' && c <= 'F')
            c = char(c - 'A' + 'a');
    return TFileDigest { std::stoll(size), digest };
}

bool HasBrokenDigest(const std::string &line)
{
    const size_t semicolon = line.find(';');
    if (semicolon == std::string::npos)
        return false;
    const size_t dash = line.find_first_not_of("0123456789", semicolon + 1);
    return dash > semicolon + 1 && dash < line.size() && line[dash] == '-' && !FileDigest(line);
}

std::string Quoted(const std::string &text)
{
    constexpr size_t kShown = 80;
    size_t shown = std::min(text.size(), kShown);
    // Never cut a UTF-8 character in two.
    while (shown < text.size() && shown > 0
           && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80)
        --shown;
    std::string out = "\"";
    for (unsigned char c : text.substr(0, shown)) {
        if (c < 32 || c == 127) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    out += "\"";
    if (shown < text.size())
        out.insert(out.size() - 1, "...")
            .append(" (" + std::to_string(text.size()) + " bytes in all)");
    return out;
}
