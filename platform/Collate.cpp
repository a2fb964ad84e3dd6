#include "platform/Collate.h"

#include "platform/AnsiText.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>

namespace {

bool IsAscii(const std::string &s)
{
    for (unsigned char c : s)
        if (c >= 0x80)
            return false;
    return true;
}

// The C locale (LANG unset) has no collation of its own: Qt's collator then
// sorts its keys by code point while comparing without case, and a list
// sorted by one is searched wrongly by the other. Collate it as English.
QLocale CollationLocale()
{
    const QLocale current;
    return current.language() == QLocale::C ? QLocale(QLocale::English, QLocale::UnitedStates)
                                            : current;
}

// Made once per locale and case mode: building a collator costs far more
// than a comparison.
QCollator &Collator(Qt::CaseSensitivity cs)
{
    thread_local QCollator collators[2];
    thread_local QLocale locales[2] = { QLocale(QLocale::C), QLocale(QLocale::C) };
    thread_local bool made[2] = { false, false };
    const int i = cs == Qt::CaseSensitive ? 1 : 0;
    const QLocale current = CollationLocale();
    if (!made[i] || locales[i] != current) {
        collators[i] = QCollator(current);
        collators[i].setCaseSensitivity(cs);
        locales[i] = current;
        made[i] = true;
    }
    return collators[i];
}

int Sign(int v)
{
    return (v > 0) - (v < 0);
}

// The collation's primary order of the ASCII characters under English,
// which tailors none of them: letters of either case share a rank, and the
// control characters it ignores have none (0). Ignoring case, two ASCII texts
// compare as the sequences of their characters' ranks do, so they need no
// collator, whose loading costs milliseconds at start-up.
constexpr unsigned char kAsciiRank[128] = {
    0,  0,  0,  0,  0,  0,  0,  0,  0,  1,  2,  3,  4,  5,  0,  0, //
    0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0, //
    6,  12, 16, 28, 38, 29, 27, 15, 17, 18, 24, 32, 9,  8,  14, 25, //  !"#$%&'()*+,-./
    39, 40, 41, 42, 43, 44, 45, 46, 47, 48, 11, 10, 33, 34, 35, 13, // 0-9 :;<=>?
    23, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, // @A-O
    64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 19, 26, 20, 31, 7, // P-Z [\]^_
    30, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63, // `a-o
    64, 65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 21, 36, 22, 37, 0, // p-z {|}~ DEL
};

unsigned char Rank(char c)
{
    return kAsciiRank[static_cast<unsigned char>(c)];
}

bool CollatesAsEnglish()
{
    return CollationLocale().language() == QLocale::English;
}

// The ranks of a text's characters, those without one left out.
std::string RankKey(const std::string &s)
{
    std::string key;
    key.reserve(s.size());
    for (char c : s)
        if (Rank(c))
            key.push_back(char(Rank(c)));
    return key;
}

int CompareRanks(const std::string &a, const std::string &b)
{
    size_t i = 0, j = 0;
    for (;;) {
        while (i < a.size() && !Rank(a[i]))
            ++i;
        while (j < b.size() && !Rank(b[j]))
            ++j;
        if (i == a.size() || j == b.size())
            return int(j == b.size()) - int(i == a.size());
        if (const int d = Rank(a[i++]) - Rank(b[j++]))
            return Sign(d);
    }
}

template<class Key, class MakeKey> void SortByKeys(std::vector<std::string> &texts, MakeKey makeKey)
{
    std::vector<Key> keys;
    keys.reserve(texts.size());
    for (const std::string &text : texts)
        keys.push_back(makeKey(text));
    std::vector<size_t> order(texts.size());
    std::iota(order.begin(), order.end(), size_t(0));
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return keys[a].compare(keys[b]) < 0; });
    std::vector<std::string> sorted;
    sorted.reserve(texts.size());
    for (size_t i : order)
        sorted.push_back(std::move(texts[i]));
    texts = std::move(sorted);
}

// Bytes are the same text whether shown as UTF-8 or Windows-1252 only when
// they are ASCII; anything else goes through the decoder.
QString Shown(const std::string &s)
{
    return IsAscii(s) ? QString::fromLatin1(s.data(), qsizetype(s.size())) : ToDisplay(s);
}

int Compare(Qt::CaseSensitivity cs, const std::string &a, const std::string &b)
{
    QCollator &collator = Collator(cs);
    // QCollator::compare puts an empty text before any other, while the
    // collation itself (and so every sort key) makes a text of ignorable
    // characters equal to it; lists sorted by key must agree with this.
    if (a.empty() != b.empty())
        return Sign(collator.sortKey(Shown(a)).compare(collator.sortKey(Shown(b))));
    return Sign(collator.compare(Shown(a), Shown(b)));
}

} // namespace

int AnsiCompareText(const std::string &a, const std::string &b)
{
    if (IsAscii(a) && IsAscii(b) && CollatesAsEnglish())
        return CompareRanks(a, b);
    return Compare(Qt::CaseInsensitive, a, b);
}

void AnsiSortTexts(std::vector<std::string> &texts)
{
    if (std::all_of(texts.begin(), texts.end(), IsAscii) && CollatesAsEnglish())
        SortByKeys<std::string>(texts, RankKey);
    else
        SortByKeys<QCollatorSortKey>(texts, [](const std::string &text) {
            return Collator(Qt::CaseInsensitive).sortKey(Shown(text));
        });
}

int AnsiCompareStr(const std::string &a, const std::string &b)
{
    return Compare(Qt::CaseSensitive, a, b);
}

std::string AnsiUpperCase(const std::string &s)
{
    return ToSameEncoding(QLocale().toUpper(Shown(s)), s);
}

std::string AnsiLowerCase(const std::string &s)
{
    return ToSameEncoding(QLocale().toLower(Shown(s)), s);
}
