#pragma once

#include <string>

// The directory of the running executable, without a trailing separator
// (the root directory stays "/"). All data files are found relative to it.
std::string ExecutableDir();

// Longest name, in bytes, of a system or of a data file beside the program:
// the files it reads were made for 260-byte name buffers, NUL included.
inline constexpr int MaxNameChars = 259;
