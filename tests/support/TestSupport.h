#pragma once

#include "platform/StringList.h"

#include <QTemporaryDir>

class QProcessEnvironment;

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

// Message boxes shown during a test, as (text, caption), oldest first. The
// test main installs the recorder, so no box ever waits for a click.
std::vector<std::pair<std::string, std::string>> &ShownMessageBoxes();

// A string list (or a list type derived from it) of these lines, in order.
template<typename List = TStringList> List Lines(std::initializer_list<const char *> lines)
{
    List list;
    for (const char *line : lines)
        list.Add(line);
    return list;
}

// Whole-file helpers on real files.
// Leak checking for the program run as a child under the sanitizers: its
// exit, driven by the window probe, leaves Qt's own allocations behind.
void UseChildLeakSuppressions(QProcessEnvironment &env);

std::string ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);

// A row of tests/data/entry-names.tsv: a name a manifest may hold, whether
// the program and the publishing script both take it, and the path segment
// it is asked for by. The name is written with \t, \n, \\ and \xNN escapes.
struct TEntryNameCase {
    std::string Name;
    bool Taken = false;
    std::string PathSegment;
    std::string Why;
};
std::vector<TEntryNameCase> ReadEntryNameCases(const std::string &path);

// While one lives, this thread obeys file permissions even when the process
// runs as root (its capabilities to override them are set aside), so that a
// read-only folder refuses writes in every test run. False from Active() when
// the capabilities couldn't be set aside.
class TPermissionsObeyed {
public:
    TPermissionsObeyed();
    ~TPermissionsObeyed();
    TPermissionsObeyed(const TPermissionsObeyed &) = delete;
    TPermissionsObeyed &operator=(const TPermissionsObeyed &) = delete;
    bool Active() const { return m_active; }

private:
    bool m_active = false;
    unsigned m_effective[2] = { 0, 0 };
};
