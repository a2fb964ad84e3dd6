#pragma once

#include "platform/StringList.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The version manifest: one entry per line, "<name>;<anything>". Lines are
// compared whole, ignoring letter case; a server line without an equal local
// line is a changed entry.

// Reads a manifest's bytes into lines: CR LF, LF and CR end a line, a zero
// byte ends the text, an empty line is no entry. A missing file gives no
// lines; one that can't be read, or is not a regular file, throws naming it.
TStringList ReadManifest(const std::string &path);
TStringList ManifestLines(const std::string &bytes);

// The server lines, sorted, that no local line equals; each local line
// matches one server line at most.
std::vector<std::string> ChangedEntries(TStringList local, TStringList server);

// The text before the first ";", or the whole line.
std::string EntryName(const std::string &line);

// "Main", in exactly this case, stands for the program itself.
bool IsProgramEntry(const std::string &name);

// Why a name can't be used as a file name under "cdl" and, percent-encoded,
// as the last segment of its address, if it can't: it must not be empty, "."
// or "..", longer than 259 bytes, hold ";", a path separator or a control
// character, or be other than UTF-8 (the encoding servers decode addresses
// in). The publishing script keeps the same rule.
std::optional<std::string> UnsafeEntryNameReason(const std::string &name);

// What a line promises of its file when its rest reads
// "<size>-<64 hex digits>": the size and the SHA-256 digest (in lower case).
struct TFileDigest {
    std::int64_t Size = 0;
    std::string Sha256;
};
std::optional<TFileDigest> FileDigest(const std::string &line);

// Whether a line's rest begins like "<size>-" (digits, then a dash) but is no
// "<size>-<64 hex digits>": a manifest cut short, or mangled, never a line
// to fetch unchecked.
bool HasBrokenDigest(const std::string &line);

// A line or name as a message quotes it: in double quotes, cut to a readable
// length (with its full size said), control bytes shown as \xNN.
std::string Quoted(const std::string &text);
