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
    const QString mask = ToDisplay(full.filename().string());
    const fs::path dir = full.has_parent_path() ? full.parent_path() : fs::path(".");
    const int excluded = ~attr & (faHidden | faSysFile | faVolumeID | faDirectory);
    struct Found {
        QString shown; // the name as matched and sorted
        TSearchRec rec;
    };
    std::vector<Found> found;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        Found f;
        f.rec.Name = it->path().filename().string();
        f.shown = ToDisplay(f.rec.Name);
        if (!Match(f.shown, mask))
            continue;
        f.rec.Attr = AttributesOf(*it, f.rec.Name);
        if ((f.rec.Attr & excluded) == 0)
            found.push_back(std::move(f));
    }
    std::sort(found.begin(), found.end(), [](const Found &a, const Found &b) {
        const int c = a.shown.compare(b.shown, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a.rec.Name < b.rec.Name;
    });
    std::vector<TSearchRec> recs;
    recs.reserve(found.size());
    for (Found &f : found)
        recs.push_back(std::move(f.rec));
    return recs;
}
