#include "net/Nmurl.h"

#include <gtest/gtest.h>

TEST(NMURL, EncodesByTheByteTable)
{
    struct Case {
        std::string in, out;
    } cases[] = {
        { "", "" },
        { "AZaz09", "AZaz09" },
        { "a b", "a+b" },
        { "/", "%2F" },
        { "~", "%7E" },
        { "\xe9", "%E9" },
        { std::string(1, '\0'), "%00" },
        { "\x1f!/:@[`{\xff", "%1F%21%2F%3A%40%5B%60%7B%FF" },
        { "-._*", "%2D%2E%5F%2A" },
        { "name=J\xfcrgen & co\r\n", "name%3DJ%FCrgen+%26+co%0D%0A" },
    };
    TNMURL url;
    for (const Case &c : cases)
        EXPECT_EQ(url.URLEncode(c.in), c.out) << c.in;
}

TEST(NMURL, EveryByteMatchesTheTable)
{
    TNMURL url;
    for (int b = 0; b < 256; ++b) {
        const bool kept
            = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        const std::string expected = kept ? std::string(1, char(b)) : b == ' ' ? "+" : hex;
        EXPECT_EQ(url.URLEncode(std::string(1, char(b))), expected) << b;
    }
}

TEST(NMURL, LongInputAndInputString)
{
    TNMURL url;
    url.InputString = std::string(70000, ' ') + "x/";
    const std::string out = url.Encode();
    ASSERT_EQ(out.size(), 70000u + 1 + 3);
    EXPECT_EQ(out.substr(69998), "++x%2F");
}

// A path segment keeps RFC 3986's unreserved bytes only.
TEST(NMURL, PathSegmentKeepsOnlyUnreservedBytes)
{
    for (int b = 0; b < 256; ++b) {
        const bool kept = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')
            || b == '-' || b == '.' || b == '_' || b == '~';
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", b);
        EXPECT_EQ(PathSegmentEncode(std::string(1, char(b))), kept ? std::string(1, char(b)) : hex)
            << b;
    }
    EXPECT_EQ(PathSegmentEncode("a%41 b#c.cdl"), "a%2541%20b%23c.cdl");
}
