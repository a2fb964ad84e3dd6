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

// Each byte alone, row by row of the encoding table: the outputs are
// written out, not worked out again.
TEST(NMURL, EveryByteMatchesTheTable)
{
    struct Row {
        int first, last;
        const char *out; // the encodings of first..last, one after the other
    } rows[] = {
        { 0, 31,
          "%00%01%02%03%04%05%06%07%08%09%0A%0B%0C%0D%0E%0F"
          "%10%11%12%13%14%15%16%17%18%19%1A%1B%1C%1D%1E%1F" },
        { 32, 32, "+" },
        { 33, 47, "%21%22%23%24%25%26%27%28%29%2A%2B%2C%2D%2E%2F" },
        { 48, 57, "0123456789" },
        { 58, 64, "%3A%3B%3C%3D%3E%3F%40" },
        { 65, 90,
          "ABCDEFGHIJKLMNOP"
          "QRSTUVWXYZ" },
        { 91, 96, "%5B%5C%5D%5E%5F%60" },
        { 97, 122,
          "abcdefghijklmnop"
          "qrstuvwxyz" },
        { 123, 255,
          "%7B%7C%7D%7E%7F%80%81%82%83%84%85%86%87%88%89%8A"
          "%8B%8C%8D%8E%8F%90%91%92%93%94%95%96%97%98%99%9A"
          "%9B%9C%9D%9E%9F%A0%A1%A2%A3%A4%A5%A6%A7%A8%A9%AA"
          "%AB%AC%AD%AE%AF%B0%B1%B2%B3%B4%B5%B6%B7%B8%B9%BA"
          "%BB%BC%BD%BE%BF%C0%C1%C2%C3%C4%C5%C6%C7%C8%C9%CA"
          "%CB%CC%CD%CE%CF%D0%D1%D2%D3%D4%D5%D6%D7%D8%D9%DA"
          "%DB%DC%DD%DE%DF%E0%E1%E2%E3%E4%E5%E6%E7%E8%E9%EA"
          "%EB%EC%ED%EE%EF%F0%F1%F2%F3%F4%F5%F6%F7%F8%F9%FA"
          "%FB%FC%FD%FE%FF" },
    };
    TNMURL url;
    int next = 0;
    for (const Row &row : rows) {
        ASSERT_EQ(row.first, next) << "the rows cover every byte once";
        std::string out;
        for (int b = row.first; b <= row.last; ++b)
            out += url.URLEncode(std::string(1, char(b)));
        EXPECT_EQ(out, row.out) << row.first << ".." << row.last;
        next = row.last + 1;
    }
    EXPECT_EQ(next, 256);
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
