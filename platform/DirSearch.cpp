#include "platform/DirSearch.h"

#include "platform/AnsiText.h"

#include <QString>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// Case-insensitive wildcard match with backtracking on the last "*".
bool Match(const QString &name, const QString &pattern)
{
    qsizetype n = 0, p = 0, starP = -1, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size()
                   && (pattern[p] == u'?' || pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++p;
            ++n;
        } else if (starP >= 0) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

int AttributesOf(const fs::directory_entry &entry, const std::string &name)
{
    std::error_code ec;
    int attr = 0;
    if (entry.is_directory(ec))
        attr |= faDirectory;
    if (name.starts_with('.'))
        attr |= faHidden;
    const fs::file_status st = entry.status(ec);
    if (!ec && (st.permissions() & fs::perms::owner_write) == fs::perms::none)
        attr |= faReadOnly;
    return attr;
}

} // namespace

bool MatchesMask(const std::string &name, const std::string &pattern)
{
    return Match(ToDisplay(name), ToDisplay(pattern));
}

std::vector<TSearchRec> FindFiles(const std::string &pattern, int attr)
{
    const fs::path full(pattern);
    const std::string mask = full.filename().string();
    const fs::path dir = full.has_parent_path() ? full.parent_path() : fs::path(".");
    const int excluded = ~attr & (faHidden | faSysFile | faVolumeID | faDirectory);
    std::vector<TSearchRec> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        TSearchRec rec;
        rec.Name = it->path().filename().string();
        if (!MatchesMask(rec.Name, mask))
            continue;
        rec.Attr = AttributesOf(*it, rec.Name);
        if ((rec.Attr & excluded) == 0)
            found.push_back(std::move(rec));
    }
    std::sort(found.begin(), found.end(), [](const TSearchRec &a, const TSearchRec &b) {
        const int c = ToDisplay(a.Name).compare(ToDisplay(b.Name), Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.Name < b.Name;
    });
    return found;
}
