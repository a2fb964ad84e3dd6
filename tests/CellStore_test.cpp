// The cell store: texts packed per row, objects, rows exchanged, and the
// arena that the blocks are cut from.

#include "platform/CellStore.h"

#include <gtest/gtest.h>

#include <string>

TEST(CellStore, RowsExchangeAndTextsPackPerRow)
{
    TCellStore store;
    store.SetText(2, 0, "two");
    store.SetText(0, 0, "zero");
    store.SetTexts(1, 1, { "b", "", "d" });
    EXPECT_EQ(store.Text(0, 0), "zero");
    EXPECT_EQ(store.Text(1, 0), "");
    EXPECT_EQ(store.Text(2, 0), "two");
    EXPECT_EQ(store.Text(3, 1), "d");
    TObject object;
    store.SetObject(5, 1, &object);
    store.SwapRows(0, 1);
    EXPECT_EQ(store.Text(3, 0), "d");
    EXPECT_EQ(store.Object(5, 0), &object);
    EXPECT_EQ(store.Text(2, 1), "two");
    EXPECT_EQ(store.Text(7, 9), "");
    store.SetText(0, 1, store.Text(2, 1)); // from the row itself
    EXPECT_EQ(store.Text(0, 1), "two");
    store.SetObject(5, 0, nullptr);
    EXPECT_EQ(store.Object(5, 0), nullptr);
}

// Enough rows for the texts to fill several chunks, freed in an order that
// empties some chunks while others still hold rows, edited, and filled again.
TEST(CellStore, TextsSurviveTheirBlocksBeingFreedAndTheSpaceReused)
{
    constexpr int kRows = 20000;
    const auto text = [](int row, int col, int round) {
        return std::to_string(round) + ":" + std::to_string(row) + "/" + std::to_string(col)
            + std::string(size_t(row % 97), char('a' + col));
    };
    TCellStore store;
    const auto fill = [&](int first, int last, int round) {
        for (int r = first; r < last; ++r) {
            const std::string a = text(r, 0, round), b = text(r, 1, round), c = text(r, 2, round);
            store.SetTexts(r, 0, { a, b, c });
        }
    };
    const auto expectRows = [&](int first, int last, int round) {
        for (int r = first; r < last; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(store.Text(c, r), text(r, c, round)) << "row " << r << " column " << c;
    };

    fill(0, kRows, 0);
    // Blocks too large to share a chunk, among the shared ones.
    const std::string large(40 * 1024, 'L'), huge(300 * 1024, 'H');
    store.SetText(100, 5, large);
    store.SetText(100, 6, huge);
    EXPECT_EQ(store.Text(100, 5), large);
    EXPECT_EQ(store.Text(100, 6), huge);
    store.ClearTexts(5, 100, 100);
    store.ClearTexts(6, 100, 100);
    expectRows(0, kRows, 0);

    // The first half goes, last row first: its chunks empty while the
    // second half keeps its own.
    for (int r = kRows / 2 - 1; r >= 0; --r)
        store.ClearTexts(r, 0, 2);
    EXPECT_EQ(store.Text(1, 0), "");
    expectRows(kRows / 2, kRows, 0);
    // Every other row of the second half is rewritten.
    for (int r = kRows / 2; r < kRows; r += 2)
        store.SetText(1, r, "edited");
    for (int r = kRows / 2; r < kRows; r += 2)
        ASSERT_EQ(store.Text(1, r), "edited");
    EXPECT_EQ(store.Text(1, kRows / 2 + 1), text(kRows / 2 + 1, 1, 0));

    // All rows go, the sorted way (scattered), and come back with new texts.
    for (int r = 0; r < kRows; ++r)
        store.ClearTexts((r * 7919) % kRows, 0, 2);
    fill(0, kRows, 1);
    expectRows(0, kRows, 1);
    store.CopyRowRefs(kRows, 3);
    EXPECT_EQ(store.Text(2, kRows), text(3, 2, 1));
    store.ForgetRow(kRows);
}
