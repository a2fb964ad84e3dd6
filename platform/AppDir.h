#pragma once

#include <string>

// The directory of the running executable, without a trailing separator
// (the root directory stays "/"). All data files are found relative to it.
std::string ExecutableDir();
