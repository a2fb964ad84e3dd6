#pragma once

#include <string>
#include <vector>

// The program's string list: lines of bytes, looked up and sorted with the
// user's locale comparison ignoring case (AnsiCompareText).
class TStringList {
public:
    TStringList() = default;
    virtual ~TStringList() = default;

    int Count() const { return int(m_lines.size()); }
    const std::string &operator[](int index) const;
    std::string &operator[](int index);
    const std::vector<std::string> &Lines() const { return m_lines; }
    auto begin() const { return m_lines.begin(); }
    auto end() const { return m_lines.end(); }

    int Add(const std::string &line);
    void Insert(int index, const std::string &line);
    void Delete(int index);
    void Clear() { m_lines.clear(); }

    // Index of the first line equal to `line` ignoring case, or -1.
    int IndexOf(const std::string &line) const;

    // Name/value lines: the name is the text before the first separator; a
    // line without one has no name.
    virtual int IndexOfName(const std::string &name) const;
    std::string Value(const std::string &name) const;
    std::string NameOf(int index) const;

    // Sorts ascending with AnsiCompareText; not stable, equal lines all kept.
    void Sort();

    // The lines, each followed by CR LF.
    std::string Text() const;

protected:
    // Header lists name their lines with ":" instead of "=".
    explicit TStringList(char nameSeparator) : m_separator(nameSeparator) { }
    void CheckIndex(int index, int limit) const;

private:
    std::vector<std::string> m_lines;
    char m_separator = '=';
};
