#pragma once

#include "platform/StringList.h"

#include <string>

// A list of header lines: a line's name is its text before the first ':'.
class TExStringList : public TStringList {
public:
    TExStringList() : TStringList(':') { }

    using TStringList::IndexOfName;

    // Replaces the first line named `name` with "name: value", or appends one;
    // an empty value deletes that line instead.
    void SetValue(const std::string &name, const std::string &value);
};
