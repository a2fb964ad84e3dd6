#pragma once

// The catalogue of systems: the game databases found in <AppDir>/cdl, by
// display name.

#include "platform/StringList.h"

#include <memory>
#include <string>

// One system of the catalogue: a game database in the cdl directory.
struct SysRecord {
    std::string Name; // display name, from the database's first line; at most MaxNameChars
    std::string Path; // full path of the game database
    std::unique_ptr<SysRecord> Next;
};

// Builds the catalogue behind `head` (whose own Name and Path are unused) from
// <appDir>/cdl/*.cdl, in the order the directory search returns the files.
// Directories are skipped; a file that can't be read or is empty is left out.
void ScanDatabases(SysRecord &head, const std::string &appDir);

// Every record's Name, sorted ignoring case with the user's locale; equal
// names are all kept.
TStringList GetSysNames(const SysRecord &head);

// The first record whose Name equals `name` byte for byte, or nullptr.
SysRecord *FindSysRecord(const SysRecord &head, const std::string &name);

// The line's text up to its first TAB; a line without a TAB whole.
std::string FirstField(const std::string &line);
