#include "grid/Advutil.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

// Fields shown as "[a][b]"; Q stands for a double quote in tables.
std::string Split(std::string line, char delimiter = ',', bool tilde = false)
{
    for (char &c : line)
        if (c == 'Q')
            c = '"';
    std::vector<std::string_view> fields;
    std::deque<std::string> scratch;
    SplitCSVLine(line, delimiter, tilde, fields, scratch);
    std::string out;
    for (std::string_view f : fields) {
        std::string s(f);
        for (char &c : s)
            if (c == '"')
                c = 'Q';
        out += "[" + s + "]";
    }
    return out;
}

} // namespace

TEST(CSVSplit, EveryRuleOfTheTable)
{
    const struct {
        const char *line;
        const char *fields;
    } cases[] = {
        { "a,b,", "[a][b]" },
        { "a,,b", "[a][][b]" },
        { "", "" },
        { "x,Qa,bQ,y", "[x][a,b][y]" },
        { "QabQcd,e", "[ab][e]" },
        { "x,Qa,bQcd", "[x][a,b][cd]" },
        { "Qabc,def", "[][def]" },
        { "aQQb,cQQd", "[aQQb][cQd]" },
        { "x,abQ", "[x][ab]" },
        { "QaQQbQ", "[aQb]" },
        { "QaQQQQbQ", "[aQb]" },
        { "x,Q", "[x][]" },
        // A quoted field with a doubled quote before its closing quote.
        { "QaQQbQ,c", "[aQb][c]" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(Split(c.line), c.fields) << "line: " << c.line;
}

TEST(CSVSplit, LineBreaksInFields)
{
    EXPECT_EQ(Split("a\nb,c"), "[a\r\nb][c]");
    EXPECT_EQ(Split("a~b,c~", ',', true), "[a\r\nb][c\r\n]");
    EXPECT_EQ(Split("a~b,c"), "[a~b][c]");
    // Without a delimiter the whole line is one field.
    EXPECT_EQ(Split("a,b", '\0'), "[a,b]");
}

TEST(CSVSplit, LoneOccurrencesAndCollapsing)
{
    EXPECT_EQ(SinglePos('"', "ab\"\"c\"d"), 6u);
    EXPECT_EQ(SinglePos('"', "ab\"\""), 4u); // the last position always counts
    EXPECT_EQ(SinglePos('"', "abc"), 0u);
    EXPECT_EQ(NumSingleChar(',', "a,b,,c"), 1); // a run is no lone occurrence
    EXPECT_EQ(NumSingleChar('\t', "a\tb"), 1);
    EXPECT_EQ(DoubleToSingleChar('"', "\"\"a\"\"\"b"), "\"a\"b");
    EXPECT_EQ(DoubleToSingleChar('"', ""), "");
}

TEST(CSVSplit, DelimiterDetection)
{
    EXPECT_EQ(DetectDelimiter("a,b,c", "1,2,3"), ',');
    EXPECT_EQ(DetectDelimiter("a,b", "1,2,3"), '\0');
    EXPECT_EQ(DetectDelimiter("a\tb\tc", "1\t2\t3"), '\t');
    // A later candidate needs a strictly greater count.
    EXPECT_EQ(DetectDelimiter("a,b;c;d", "1,2;3;4"), ';');
    EXPECT_EQ(DetectDelimiter("a,b|c", "1,2|3"), ',');
    EXPECT_EQ(DetectDelimiter("a,b", ""), '\0');
}

TEST(CSVSplit, OemBytesBecomeAnsi)
{
    EXPECT_EQ(OemToAnsi("Pok\x82mon \x9a"), "Pok\xe9mon \xdc");
    EXPECT_EQ(OemToAnsi("\xc4"), "?"); // a box-drawing line has no match
}

TEST(CSVLineReader, CrEndsLinesLoneLfDoesNotCtrlZEndsFile)
{
    const struct {
        std::string bytes;
        std::vector<std::string> lines;
    } cases[] = {
        { "a\r\nb\r\n", { "a", "b" } },
        { "a\r\nb", { "a", "b" } },
        { "a\nb\n", { "a\nb\n" } },
        { "a\rb", { "a", "b" } },
        { "\r\n\r\n", { "", "" } },
        { "a\r\nb\x1a"
          "c\r\nd\r\n",
          { "a", "b" } },
        { "a\r\n\x1a", { "a" } },
        { "", {} },
    };
    for (const auto &c : cases) {
        std::FILE *file = std::tmpfile();
        ASSERT_NE(file, nullptr);
        std::fwrite(c.bytes.data(), 1, c.bytes.size(), file);
        std::rewind(file);
        TCSVLineReader reader(file, "test");
        for (int pass = 0; pass < 2; ++pass) {
            std::vector<std::string> lines;
            std::string line;
            while (reader.ReadLine(line))
                lines.push_back(line);
            EXPECT_EQ(lines, c.lines) << "pass " << pass;
            reader.Rewind();
        }
        std::fclose(file);
    }
}

TEST(CSVLineReader, LinesLongerThanTheBuffer)
{
    std::FILE *file = std::tmpfile();
    const std::string longLine(200000, 'x');
    const std::string bytes = longLine + "\r\n" + longLine;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::rewind(file);
    TCSVLineReader reader(file, "test");
    std::string line;
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, longLine);
    ASSERT_TRUE(reader.ReadLine(line));
    EXPECT_EQ(line, longLine);
    EXPECT_FALSE(reader.ReadLine(line));
    std::fclose(file);
}

TEST(SortDetection, KindOfACellText)
{
    const struct {
        const char *text;
        TTextKind kind;
    } cases[] = {
        { "1942", TTextKind::Number },   { "", TTextKind::Number },
        { "-5", TTextKind::Number },     { "12-34", TTextKind::Number },
        { "--5", TTextKind::Text },      { "1-2-3", TTextKind::Text },
        { "12,345", TTextKind::Number }, { "123,456.75", TTextKind::Number },
        { "1,234", TTextKind::Text },    { ",123", TTextKind::Text },
        { "12,34", TTextKind::Number },  { "1.2.3", TTextKind::Text },
        { "3.5", TTextKind::Number },    { "12/05/1999", TTextKind::Date },
        { "1/2", TTextKind::Date },      { "123/4", TTextKind::Text },
        { "5/", TTextKind::Text },       { "a/1", TTextKind::Text },
        { "Zelda", TTextKind::Text },    { "1942 Deluxe", TTextKind::Text },
    };
    for (const auto &c : cases)
        EXPECT_EQ(DetectTextKind(c.text, ',', '.'), c.kind) << c.text;
    EXPECT_EQ(DetectTextKind("12.345,5", '.', ','), TTextKind::Number);
    EXPECT_EQ(DetectTextKind("1.234,5", '.', ','), TTextKind::Text);
}
