#include "app/Catalogue.h"

#include "platform/AnsiText.h"
#include "platform/AppDir.h"
#include "platform/DirSearch.h"
#include "platform/TextFile.h"

#include <optional>

namespace {

// The display name from the first line. The name ends at the line end too:
// a name with a line end in it could never become an ownership file name.
// An editor's byte-order mark before it is not part of it: the same system
// keeps the same name, and so its ownership file. Only a regular file is
// read (a named pipe would never answer).
std::optional<std::string> ReadDisplayName(const std::string &path)
{
    constexpr int kMarkBytes = 3;
    TTextFile file(path, "rt");
    std::string line;
    if (!file.ReadLine(line, MaxNameChars + kMarkBytes + 1))
        return std::nullopt;
    line = std::string(WithoutByteOrderMark(line)).substr(0, MaxNameChars);
    std::string name = FirstField(line);
    name.erase(std::min(name.find_first_of("\r\n"), name.size()));
    return name;
}

} // namespace

void ScanDatabases(SysRecord &head, const std::string &appDir)
{
    head.Next.reset();
    SysRecord *tail = &head;
    const std::string dir = appDir + "/cdl/";
    for (const TSearchRec &entry : FindFiles(dir + "*.cdl", faAnyFile)) {
        // Only a plain directory is known not to be a database; anything else
        // is tried, and left out when it can't be read.
        if (entry.Attr == faDirectory)
            continue;
        const std::string path = dir + entry.Name;
        std::optional<std::string> name = ReadDisplayName(path);
        if (!name)
            continue;
        tail->Next = std::make_unique<SysRecord>(SysRecord { std::move(*name), path, nullptr });
        tail = tail->Next.get();
    }
}

TStringList GetSysNames(const SysRecord &head)
{
    TStringList names;
    for (const SysRecord *r = head.Next.get(); r; r = r->Next.get())
        names.Add(r->Name);
    names.Sort();
    return names;
}

SysRecord *FindSysRecord(const SysRecord &head, const std::string &name)
{
    for (SysRecord *r = head.Next.get(); r; r = r->Next.get())
        if (r->Name == name)
            return r;
    return nullptr;
}

std::string FirstField(const std::string &line)
{
    return line.substr(0, line.find('\t'));
}
