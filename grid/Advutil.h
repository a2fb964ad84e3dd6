#pragma once

#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

// Text helpers of the grid: the CSV splitting rules and their pieces, and
// what drawing, sizing and sorting ask of a cell's text. Positions are
// counted from 1, 0 meaning "none".

// The first position of `ch` in `s` that is not part of a run of `ch`
// (a position at the very end always counts), or 0.
size_t SinglePos(char ch, std::string_view s);
// How many times SinglePos finds `ch`, deleting up to each find.
int NumSingleChar(char ch, std::string_view s);
// Every run of `ch` after the first character collapses into one `ch`.
std::string DoubleToSingleChar(char ch, std::string_view s);
// Every LF becomes CR LF.
std::string CSVToLineFeeds(std::string_view s);
// Code page 437 bytes to Windows-1252 bytes ("?" where there is no match).
std::string OemToAnsi(std::string_view s);

// Splits one line into fields by the grid's CSV rules. Fields that need no
// change point into `line`; the others live in `scratch`, which the caller
// keeps until the fields are used.
void SplitCSVLine(std::string_view line, char delimiter, bool tildeLineBreaks,
                  std::vector<std::string_view> &fields, std::deque<std::string> &scratch);

// The delimiter that two sample lines agree on, or '\0'.
char DetectDelimiter(std::string_view line1, std::string_view line2);

// Reads a file as lines: a line ends at CR (an LF right after it belongs to
// the line end), a lone LF is an ordinary character, Ctrl-Z or the physical
// end ends the file. Read errors raise EInOutError naming the file.
class TCSVLineReader {
public:
    TCSVLineReader(std::FILE *file, std::string fileName);
    // False at the end of the file.
    bool ReadLine(std::string &line);
    // Passes over a line without keeping it.
    bool SkipLine();
    void Rewind();

private:
    bool Fill();
    bool NextLine(std::string *line);

    std::FILE *m_file;
    std::string m_fileName;
    std::vector<char> m_buffer;
    size_t m_pos = 0;
    size_t m_end = 0;
    bool m_eof = false;
    bool m_skipLF = false;
};

// Markup in a cell: texts holding "</", "<B" or "<I".
bool IsHTML(std::string_view s);
// The text with its markup tags removed.
std::string StripHTML(std::string_view s);

// What automatic sorting takes a cell text for: digits and "-" (an empty
// text too), or digits with the thousand and decimal separators where no
// thousand separator stands less than 3 places after the one before (the
// first counts from place 0), make a number unless the text holds two "-" or
// two decimal separators; a "/" at place 2 or 3 between two digits makes a
// date; anything else is text.
enum class TTextKind { Number, Date, Text };
TTextKind DetectTextKind(std::string_view s, char thousandSeparator, char decimalSeparator);

// Whether every byte is 7-bit.
bool IsAscii(std::string_view s);
// Whether UTF-8 text stops inside a character: its last lead byte asks for
// more bytes than follow it.
bool EndsInsideCharacter(const std::string &s);
// Drops the last UTF-8 character, whole.
void DropLastCharacter(std::string &s);

// The lines of a cell text as it is shown: CR LF (or a lone LF) breaks it.
template<typename F> void ForEachLine(std::string_view text, F f)
{
    size_t start = 0;
    for (;;) {
        const size_t lf = text.find('\n', start);
        std::string_view line = text.substr(
            start, lf == std::string_view::npos ? std::string_view::npos : lf - start);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        f(line);
        if (lf == std::string_view::npos)
            return;
        start = lf + 1;
    }
}
