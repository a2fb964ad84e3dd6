#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What every harness shares: one offscreen application object made before
// the first input (with the locale pinned, as in the tests), and message
// boxes recorded instead of shown.

// The texts of the message boxes shown since the last Clear.
std::vector<std::string> &ShownMessages();

// Splits an input at each occurrence of `marker`, into at most `parts`
// pieces (the last piece keeps any further markers). Seeds carry the marker,
// so the fuzzer mutates every piece.
std::vector<std::string> SplitInput(const uint8_t *data, size_t size, std::string_view marker,
                                    size_t parts);

// Each line up to LF, the LF not included; no empty piece after a final LF.
std::vector<std::string> LfLines(const std::string &text);

// A fresh empty folder for one input, removed with the object.
class TScratchDir {
public:
    TScratchDir();
    ~TScratchDir();
    TScratchDir(const TScratchDir &) = delete;
    TScratchDir &operator=(const TScratchDir &) = delete;
    std::string Path(const std::string &name) const { return m_path + "/" + name; }
    const std::string &Path() const { return m_path; }

private:
    std::string m_path;
};

// A violated property: prints what and aborts, so the fuzzer keeps the input.
[[noreturn]] void FuzzFail(const std::string &what);
#define FUZZ_CHECK(condition, what)                                                                \
    do {                                                                                           \
        if (!(condition))                                                                          \
            FuzzFail(std::string(#condition) + ": " + (what));                                     \
    } while (0)
