#pragma once

#include <string>
#include <vector>

// The user's locale comparison, as the program compares names, lines and
// header names. Bytes are shown as ToDisplay() decodes them; the locale is
// QLocale's default (tests pin it).

// Compares ignoring letter case: < 0, 0 or > 0.
int AnsiCompareText(const std::string &a, const std::string &b);
// Sorts texts ascending in AnsiCompareText's order; not stable.
void AnsiSortTexts(std::vector<std::string> &texts);
// Compares with letter case: < 0, 0 or > 0.
int AnsiCompareStr(const std::string &a, const std::string &b);

// Upper- and lower-casing of the user's locale, in the text's own encoding.
std::string AnsiUpperCase(const std::string &s);
std::string AnsiLowerCase(const std::string &s);
