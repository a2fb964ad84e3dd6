// The set of owned GIDs: each ticks once, and what no row took comes back in
// the file's order.

#include "app/OwnedGids.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// Offers `rows` to the set as the game list does, in order through the
// prefetch ring; the rows it took.
std::vector<std::string> TakeRows(TOwnedGids &owned, const std::vector<std::string> &rows)
{
    std::vector<std::string> taken;
    size_t next = 0;
    owned.EachAhead(
        [&]() -> std::optional<std::string_view> {
            if (next == rows.size())
                return std::nullopt;
            return rows[next++];
        },
        [&](std::string_view gid, size_t hash) {
            if (owned.Take(gid, hash))
                taken.emplace_back(gid);
        });
    return taken;
}

TOwnedGids Indexed(const std::vector<std::string> &file)
{
    TOwnedGids owned;
    for (const std::string &gid : file)
        owned.Add(gid);
    owned.Index();
    return owned;
}

} // namespace

TEST(OwnedGids, EachGidTicksItsFirstRowOnceAndTheRestComeBackInOrder)
{
    const std::string longGid(30, 'L');
    const struct {
        const char *what;
        std::vector<std::string> file, rows, taken, untaken;
    } cases[] = {
        { "none", {}, { "a", "b" }, {}, {} },
        { "two rows, one GID", { "dup" }, { "dup", "dup" }, { "dup" }, {} },
        { "named twice", { "x", "x", "y" }, { "y" }, { "y" }, { "x" } },
        { "letter case counts", { "OTHER" }, { "other" }, {}, { "OTHER" } },
        { "eight and nine bytes",
          { "123456789", "12345678" },
          { "12345678", "123456789" },
          { "12345678", "123456789" },
          {} },
        { "a GID's first bytes or more",
          { "1234567", "12345678 ", "1234567890" },
          { "12345678", "123456789" },
          {},
          { "1234567", "12345678 ", "1234567890" } },
        { "long GIDs and their pieces",
          { longGid, longGid.substr(0, 24) },
          { longGid.substr(24), longGid },
          { longGid },
          { longGid.substr(0, 24) } },
        { "an empty line names no game but ticks an empty cell",
          { "", "gone" },
          { "" },
          { "" },
          { "gone" } },
        { "nothing taken", { "", "b", "a", "b" }, {}, {}, { "b", "a" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TOwnedGids owned = Indexed(c.file);
        EXPECT_EQ(TakeRows(owned, c.rows), c.taken);
        EXPECT_EQ(owned.Untaken(), c.untaken);
    }
}

// More GIDs than the ring holds and slots that collide: every one found once
// through the ring, short and long alike.
TEST(OwnedGids, ALongListTicksEveryGidItNamesOnce)
{
    constexpr int kGids = 50000;
    const auto gid = [](int i) {
        return (i % 3 ? "g" : "a-game-id-longer-than-eight-bytes-") + std::to_string(i);
    };
    std::vector<std::string> file, rows, expectedTaken, expectedUntaken;
    for (int i = 0; i < kGids; ++i) {
        file.push_back(gid(i));
        if (i % 4 == 0)
            expectedUntaken.push_back(gid(i));
    }
    for (int i = kGids - 1; i >= 0; --i) {
        rows.push_back(gid(i) + "x"); // in no file
        if (i % 4 != 0) {
            rows.push_back(gid(i));
            rows.push_back(gid(i)); // the second row of a GID stays unticked
            expectedTaken.push_back(gid(i));
        }
    }
    TOwnedGids owned = Indexed(file);
    EXPECT_EQ(TakeRows(owned, rows), expectedTaken);
    EXPECT_EQ(owned.Untaken(), expectedUntaken);
}
