// The version manifest: any bytes as the local and the server manifest,
// split at the first "\n%%\n". Checks that reading loses and invents nothing
// but empty lines, that the comparison is a sorted sub-multiset of the
// server's lines, and that what a message quotes of a line is short and
// free of control bytes.
#include "fuzz/FuzzSupport.h"
#include "platform/Collate.h"
#include "updater/Manifest.h"

#include <algorithm>

namespace {

// The text the lines must give back: cut at a zero byte, line ends as LF,
// no empty lines.
std::string Normalized(const std::string &bytes)
{
    const std::string text = bytes.substr(0, bytes.find('\0'));
    std::string out;
    const auto endLine = [&] {
        if (!out.empty() && out.back() != '\n')
            out += '\n';
    };
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n')
            endLine();
        else
            out += text[i];
    }
    return out;
}

void CheckLines(const std::string &bytes, const TStringList &lines)
{
    std::string joined;
    for (const std::string &line : lines) {
        FUZZ_CHECK(line.find_first_of(std::string("\r\n\0", 3)) == std::string::npos, line);
        FUZZ_CHECK(!line.empty(), "an empty line");
        joined += line + "\n";
    }
    std::string expected = Normalized(bytes);
    if (!expected.empty() && expected.back() != '\n')
        expected += '\n';
    FUZZ_CHECK(joined == expected, "lines differ from the text");
}

bool Sorted(const std::vector<std::string> &lines)
{
    return std::is_sorted(
        lines.begin(), lines.end(),
        [](const std::string &a, const std::string &b) { return AnsiCompareText(a, b) < 0; });
}

size_t CountEqual(const std::vector<std::string> &lines, const std::string &line)
{
    return size_t(std::count_if(lines.begin(), lines.end(), [&](const std::string &other) {
        return AnsiCompareText(other, line) == 0;
    }));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::vector<std::string> parts = SplitInput(data, size, "\n%%\n", 2);
    const TStringList local = ManifestLines(parts[0]);
    const TStringList server = ManifestLines(parts[1]);
    CheckLines(parts[0], local);
    CheckLines(parts[1], server);

    const std::vector<std::string> changed = ChangedEntries(local, server);
    FUZZ_CHECK(Sorted(changed), "changed entries out of order");
    FUZZ_CHECK(changed.size() <= size_t(server.Count()), "more changes than server lines");
    FUZZ_CHECK(changed.size() + size_t(local.Count()) >= size_t(server.Count()),
               "a local line matched twice");
    for (const std::string &line : changed) {
        // A changed line is a server line with more copies there than locally.
        const size_t onServer = CountEqual(server.Lines(), line);
        FUZZ_CHECK(onServer > CountEqual(local.Lines(), line), line);
        FUZZ_CHECK(CountEqual(changed, line) <= onServer, line);
        FUZZ_CHECK(EntryName(line).find(';') == std::string::npos, line);
        const std::string quoted = Quoted(line);
        FUZZ_CHECK(quoted.size() <= 4 * 80 + 40, "a long quote");
        FUZZ_CHECK(
            std::none_of(quoted.begin(), quoted.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 32 || c == 127; }),
            quoted);
        if (const auto digest = FileDigest(line))
            FUZZ_CHECK(digest->Size >= 0 && digest->Sha256.size() == 64, line);
    }
    FUZZ_CHECK(ChangedEntries(server, server).empty(), "a manifest differs from itself");
    return 0;
}
