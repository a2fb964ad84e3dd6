#pragma once

#include "platform/StringList.h"

#include <string>
#include <vector>

// The version manifest: one entry per line, "<name>;<anything>". Lines are
// compared whole, ignoring letter case; a server line without an equal local
// line is a changed entry.

// Reads a manifest's bytes into lines: CR LF, LF and CR end a line, a zero
// byte ends the text. A missing file gives no lines.
TStringList ReadManifest(const std::string &path);
TStringList ManifestLines(const std::string &bytes);

// The server lines, sorted, that no local line equals; each local line
// matches one server line at most.
std::vector<std::string> ChangedEntries(TStringList local, TStringList server);

// The text before the first ";", or the whole line.
std::string EntryName(const std::string &line);

// "Main", in exactly this case, stands for the program itself.
bool IsProgramEntry(const std::string &name);

// Why a name can't be used as a file name under "cdl", or empty when it can:
// it must not be empty, leave the folder, or hold a control character.
std::string UnsafeEntryNameReason(const std::string &name);
