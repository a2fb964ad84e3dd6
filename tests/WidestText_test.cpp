#include "grid/WidestText.h"

#include "platform/AnsiText.h"

#include <QFontMetrics>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

int MeasuredWidest(const QFont &font, const std::vector<std::string> &texts,
                   const std::vector<int> &extras)
{
    const QFontMetrics metrics(font);
    int widest = 0;
    for (size_t i = 0; i < texts.size(); ++i)
        widest = std::max(widest, metrics.horizontalAdvance(ToDisplay(texts[i])) + extras[i]);
    return widest;
}

} // namespace

// Whatever the texts, the answer is the width that measuring each gives:
// kerned pairs, 8-bit and UTF-8 text, runs of one value, and the pixels
// beside a text each count.
TEST(WidestText, EqualsMeasuringEveryText)
{
    QFont italic;
    italic.setItalic(true);
    QFont large;
    large.setPixelSize(31);
    for (const QFont &font : { QFont(), italic, large }) {
        unsigned seed = 99;
        auto next = [&] { return seed = seed * 1103515245u + 12345u; };
        const std::vector<std::string> pieces
            = { "AV",       "To",           "W",    "i",  "l", "f",       "fi", ".", " ",
                "\xc3\xa9", "\xe2\x80\x94", "\xe9", "Ly", "1", "\xd0\x96" };
        std::vector<std::string> texts;
        std::vector<int> extras;
        for (int n = 0; n < 2000; ++n) {
            std::string text;
            const int parts = 1 + int((next() >> 8) % 12);
            for (int p = 0; p < parts; ++p)
                text += pieces[(next() >> 8) % pieces.size()];
            const int repeat = (next() >> 8) % 4 == 0 ? 3 : 1;
            const int extra = (next() >> 8) % 5 == 0 ? 15 : 0;
            for (int k = 0; k < repeat; ++k) {
                texts.push_back(text);
                extras.push_back(extra);
            }
        }
        TWidestFinder finder(font);
        finder.Reserve(texts.size());
        for (size_t i = 0; i < texts.size(); ++i)
            finder.Add(texts[i], extras[i]);
        EXPECT_EQ(finder.Widest(), MeasuredWidest(font, texts, extras))
            << font.toString().toStdString();
    }
}

TEST(WidestText, NoTextIsNoWidth)
{
    TWidestFinder finder { QFont() };
    EXPECT_EQ(finder.Widest(), 0);
    finder.Add("", 15);
    EXPECT_EQ(finder.Widest(), 15);
}
