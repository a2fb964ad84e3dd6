#include "platform/Collate.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"

#include <QCollator>
#include <QLocale>
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

TEST(Collate, IgnoresCaseUnderPinnedLocale)
{
    EXPECT_EQ(AnsiCompareText("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareText("apple", "Banana"), 0);
    EXPECT_GT(AnsiCompareText("Zebra", "apple"), 0);
    EXPECT_NE(AnsiCompareStr("abc", "ABC"), 0);
    EXPECT_EQ(AnsiUpperCase("Pok\xc3\xa9mon"), "POK\xc3\x89MON");
    EXPECT_EQ(AnsiUpperCase("Pok\xe9mon"), "POK\xc9MON");
}

namespace {

// The collator's own verdict on two ASCII texts, ignoring case, as the
// comparison gives it for texts that are not all ASCII.
int CollatorSign(const std::string &a, const std::string &b)
{
    QCollator collator(QLocale(QLocale::English, QLocale::UnitedStates));
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    const QString x = QString::fromLatin1(a), y = QString::fromLatin1(b);
    const int c = a.empty() != b.empty() ? collator.sortKey(x).compare(collator.sortKey(y))
                                         : collator.compare(x, y);
    return (c > 0) - (c < 0);
}

int SignOf(int v)
{
    return (v > 0) - (v < 0);
}

} // namespace

// ASCII texts are compared and sorted without the collator; every verdict
// must still be the collator's, control characters, punctuation and letter
// case included.
TEST(Collate, AsciiTextsCompareAndSortAsTheCollatorDoes)
{
    std::vector<std::string> texts = { "" };
    for (int c = 0; c < 128; ++c)
        texts.emplace_back(1, char(c));
    for (const std::string &a : texts)
        for (const std::string &b : texts)
            ASSERT_EQ(SignOf(AnsiCompareText(a, b)), CollatorSign(a, b))
                << "characters " << (a.empty() ? -1 : int(a[0])) << " and "
                << (b.empty() ? -1 : int(b[0]));

    // Longer texts, mostly of letters, digits, spaces and punctuation.
    std::mt19937 random(20261210);
    const std::string common = "aAbBzZ09 -_.,'&!(:/\x01\t";
    auto text = [&] {
        std::string t;
        for (int n = int(random() % 6); n > 0; --n)
            t += random() % 4 ? common[random() % common.size()] : char(random() % 128);
        return t;
    };
    std::vector<std::string> many;
    for (int i = 0; i < 3000; ++i) {
        const std::string a = text(), b = text();
        ASSERT_EQ(SignOf(AnsiCompareText(a, b)), CollatorSign(a, b))
            << "\"" << a << "\" / \"" << b << "\"";
        many.push_back(a);
    }
    AnsiSortTexts(many);
    for (size_t i = 0; i + 1 < many.size(); ++i)
        ASSERT_LE(CollatorSign(many[i], many[i + 1]), 0) << many[i] << " / " << many[i + 1];
}

// A language whose collation tails ASCII letters is left to the collator:
// in Czech "ch" is a letter of its own, after "h".
TEST(Collate, OtherLanguagesKeepTheirOwnOrderOfAsciiTexts)
{
    const QLocale pinned;
    EXPECT_LT(AnsiCompareText("chata", "hrad"), 0);
    QLocale::setDefault(QLocale(QLocale::Czech, QLocale::Czechia));
    EXPECT_GT(AnsiCompareText("chata", "hrad"), 0);
    std::vector<std::string> words = { "chata", "hrad", "cesta" };
    AnsiSortTexts(words);
    EXPECT_EQ(words, (std::vector<std::string> { "cesta", "hrad", "chata" }));
    QLocale::setDefault(pinned);
}

TEST(StringList, SortIgnoresCaseAndKeepsEqualLines)
{
    TStringList list;
    for (const char *s : { "sega CD", "Amiga CD32", "PC Engine CD", "amiga cd32", "3DO" })
        list.Add(s);
    list.Sort();
    ASSERT_EQ(list.Count(), 5);
    EXPECT_EQ(list[0], "3DO");
    EXPECT_EQ(AnsiCompareText(list[1], "amiga cd32"), 0);
    EXPECT_EQ(AnsiCompareText(list[2], "amiga cd32"), 0);
    EXPECT_EQ(list[3], "PC Engine CD");
    EXPECT_EQ(list[4], "sega CD");
}

TEST(StringList, NamesValuesAndBounds)
{
    TStringList list;
    list.Add("Host=example");
    list.Add("no separator");
    list.Add("host=second");
    EXPECT_EQ(list.IndexOfName("HOST"), 0);
    EXPECT_EQ(list.Value("host"), "example");
    EXPECT_EQ(list.IndexOfName("no separator"), -1);
    EXPECT_EQ(list.IndexOf("NO SEPARATOR"), 1);
    EXPECT_EQ(list.Text(), "Host=example\r\nno separator\r\nhost=second\r\n");
    EXPECT_THROW(list[3], ERangeError);
    EXPECT_THROW(list.Delete(-1), ERangeError);
}

// With LANG unset the locale is C; a sorted list must still agree with the
// comparison that searches it.
TEST(StringList, SortAgreesWithComparisonInTheCLocale)
{
    const QLocale pinned;
    QLocale::setDefault(QLocale::c());
    TStringList list;
    for (const char *s : { "cdi.cdl;1", "Main;0.2", "neocd.cdl;2", "", "Zeta", "alpha" })
        list.Add(s);
    list.Sort();
    for (int i = 0; i + 1 < list.Count(); ++i)
        EXPECT_LE(AnsiCompareText(list[i], list[i + 1]), 0) << list[i] << " / " << list[i + 1];
    QLocale::setDefault(pinned);
}
