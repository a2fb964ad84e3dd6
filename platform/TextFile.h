#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// A C-runtime stream file with CR LF text-mode rules, so that the files on
// disk stay byte for byte those this program has always read and written:
//  - reading in text mode ("rt") drops every CR and ends the file at the first
//    Ctrl-Z (character 26);
//  - writing in text mode ("wt", "w+t") writes each LF as CR LF.
// A "b" in the mode reads and writes the bytes unchanged. Modes: "r", "w" and
// "w+" ("w" creates or empties the file); the program only writes to a file
// it opened with "w+".
class TTextFile {
public:
    TTextFile() = default;
    TTextFile(const std::string &path, const char *mode) { Open(path, mode); }
    ~TTextFile() { Close(); }
    TTextFile(const TTextFile &) = delete;
    TTextFile &operator=(const TTextFile &) = delete;

    // False when the file can't be opened; OpenFailure() then says why. A
    // file opened for reading must be a regular file (see OpenRegularFile).
    bool Open(const std::string &path, const char *mode);
    // Why the last Open() failed, as a message says it.
    const std::string &OpenFailure() const { return m_openFailure; }
    bool IsOpen() const { return m_file != nullptr; }
    // False when a write or the final flush failed.
    bool Close();

    // The C library's line read into a buffer of `size` bytes: at most
    // size - 1 characters, ending after the first LF within them. False, and
    // `line` empty, when nothing is left to read (or size < 2).
    bool ReadLine(std::string &line, int size);

    // Writes the text (LF as CR LF in text mode). False when it failed.
    bool Write(std::string_view text);

    // A read or write failed since the file was opened.
    bool Error() const { return m_error; }

private:
    bool Fill();

    std::FILE *m_file = nullptr;
    bool m_text = true;
    bool m_error = false;
    std::string m_openFailure;
    bool m_ended = false; // end of file or Ctrl-Z seen: nothing more to read
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_len = 0;
    size_t m_block = 0; // size of the next read
};

// Opens `path` with open(2)'s `flags` only when it is a regular file, and
// never waits: a named pipe (or a device) where a file is expected would
// otherwise hold the program until some other program opens its other end.
// The descriptor, or -1 with errno set (EISDIR for a folder, ENXIO for
// anything else that isn't a regular file) and `why` saying what failed.
int OpenRegularFile(const std::string &path, int flags, std::string &why);
