#pragma once

#include <string>

// The directory of the running executable, without a trailing separator
// (the root directory stays "/").
std::string ExecutableDir();

// Everything the program reads and writes is found relative to its
// application directory. Two layouts give it:
// - In place (a build folder, or any folder holding cdl/ beside the
//   executable, such as the <prefix>/lib/tirmo of earlier installs): the
//   executable's folder, and no environment variable is read.
// - Installed (the executable in <prefix>/bin, the data it ships with in
//   <prefix>/share/tirmo: cdl/*.cdl and version.ini): the user's data folder
//   $XDG_DATA_HOME/tirmo (~/.local/share/tirmo when unset). The installed
//   tree is only read.
struct TAppLayout {
    std::string AppDir;
    // Installed: <prefix>/share/tirmo; in place: empty.
    std::string ShippedDir;
    // Installed: <prefix>/lib/tirmo, an earlier install's folder whose state
    // a first start takes over; in place: empty.
    std::string EarlierDir;
};
TAppLayout FindAppLayout(const std::string &executableDir);

// Installed: makes the user's folder (with cdl/ and cdl/data/) and copies in
// each shipped database and version.ini that it lacks, never over a file
// there; a folder made now first gets what the earlier install's folder
// holds (its ticks, databases and version.ini). Returns the application
// directory: the user's folder, or the shipped one (read-only) when the
// user's can't be made. `problem` gets what went wrong, for the user, or is
// left empty.
std::string SetUpAppDir(const TAppLayout &layout, std::string &problem);

// Longest name, in bytes, of a system or of a data file beside the program:
// the files it reads were made for 260-byte name buffers, NUL included.
inline constexpr int MaxNameChars = 259;
