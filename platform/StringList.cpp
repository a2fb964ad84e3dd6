#include "platform/StringList.h"

#include "platform/AnsiText.h"
#include "platform/Collate.h"
#include "platform/Exceptions.h"

void TStringList::CheckIndex(int index, int limit) const
{
    if (index < 0 || index > limit)
        throw ERangeError("List index out of bounds (" + std::to_string(index) + ")");
}

const std::string &TStringList::operator[](int index) const
{
    CheckIndex(index, Count() - 1);
    return m_lines[size_t(index)];
}

std::string &TStringList::operator[](int index)
{
    CheckIndex(index, Count() - 1);
    return m_lines[size_t(index)];
}

int TStringList::Add(const std::string &line)
{
    m_lines.push_back(line);
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string &line)
{
    CheckIndex(index, Count());
    m_lines.insert(m_lines.begin() + index, line);
}

void TStringList::Delete(int index)
{
    CheckIndex(index, Count() - 1);
    m_lines.erase(m_lines.begin() + index);
}

int TStringList::IndexOf(const std::string &line) const
{
    for (int i = 0; i < Count(); ++i)
        if (AnsiCompareText(m_lines[size_t(i)], line) == 0)
            return i;
    return -1;
}

std::string TStringList::NameOf(int index) const
{
    const std::string &line = (*this)[index];
    const size_t at = line.find(m_separator);
    return at == std::string::npos ? std::string() : line.substr(0, at);
}

int TStringList::IndexOfName(const std::string &name) const
{
    for (int i = 0; i < Count(); ++i) {
        const std::string &line = m_lines[size_t(i)];
        const size_t at = line.find(m_separator);
        if (at != std::string::npos && AnsiCompareText(line.substr(0, at), name) == 0)
            return i;
    }
    return -1;
}

std::string TStringList::Value(const std::string &name) const
{
    const int i = IndexOfName(name);
    if (i < 0)
        return {};
    const std::string &line = m_lines[size_t(i)];
    return line.substr(line.find(m_separator) + 1);
}

void TStringList::Sort()
{
    AnsiSortTexts(m_lines);
}

std::string TStringList::Text() const
{
    std::string text;
    for (const std::string &line : m_lines)
        text += line + "\r\n";
    return text;
}
