#include "platform/Collate.h"
#include "platform/Exceptions.h"
#include "platform/StringList.h"

#include <QLocale>
#include <gtest/gtest.h>

TEST(Collate, IgnoresCaseUnderPinnedLocale)
{
    EXPECT_EQ(AnsiCompareText("abc", "ABC"), 0);
    EXPECT_LT(AnsiCompareText("apple", "Banana"), 0);
    EXPECT_GT(AnsiCompareText("Zebra", "apple"), 0);
    EXPECT_NE(AnsiCompareStr("abc", "ABC"), 0);
    EXPECT_EQ(AnsiUpperCase("Pok\xc3\xa9mon"), "POK\xc3\x89MON");
    EXPECT_EQ(AnsiUpperCase("Pok\xe9mon"), "POK\xc9MON");
}

TEST(StringList, SortIgnoresCaseAndKeepsEqualLines)
{
    TStringList list;
    for (const char *s : {"sega CD", "Amiga CD32", "PC Engine CD", "amiga cd32", "3DO"})
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
    for (const char *s : {"cdi.cdl;1", "Main;0.2", "neocd.cdl;2", "", "Zeta", "alpha"})
        list.Add(s);
    list.Sort();
    for (int i = 0; i + 1 < list.Count(); ++i)
        EXPECT_LE(AnsiCompareText(list[i], list[i + 1]), 0) << list[i] << " / " << list[i + 1];
    QLocale::setDefault(pinned);
}
