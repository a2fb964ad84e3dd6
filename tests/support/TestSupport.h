#pragma once

#include <QTemporaryDir>

#include <string>
#include <utility>
#include <vector>

// Message boxes shown during a test, as (text, caption), oldest first. The
// test main installs the recorder, so no box ever waits for a click.
std::vector<std::pair<std::string, std::string>> &ShownMessageBoxes();

// Whole-file helpers on real files.
std::string ReadFileBytes(const std::string &path);
void WriteFileBytes(const std::string &path, const std::string &bytes);
