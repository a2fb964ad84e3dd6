#include "grid/CheckBoxPool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace {

std::vector<void *> TakeMany(TCheckBoxPool &pool, size_t count)
{
    std::vector<void *> slots(count);
    for (void *&slot : slots)
        slot = pool.Take();
    return slots;
}

} // namespace

// Slots given back in the scattered order a sort leaves are taken again
// lowest first, across slabs, so that the next list lies in order.
TEST(CheckBoxPool, FreedSlotsAreTakenAgainLowestFirst)
{
    TCheckBoxPool pool;
    const size_t count = 20000; // several slabs
    std::vector<void *> slots = TakeMany(pool, count);
    std::vector<void *> kept;
    std::vector<void *> freed;
    for (size_t i = 0; i < count; ++i)
        (i % 3 == 0 ? kept : freed).push_back(slots[(i * 7919) % count]);
    for (void *p : freed)
        pool.Give(p);
    // Lowest first is the order they were first taken in: slab by slab in
    // the order the slabs were made, each slab from its start.
    std::unordered_map<void *, size_t> takenAt;
    for (size_t i = 0; i < count; ++i)
        takenAt[slots[i]] = i;
    std::vector<size_t> expected;
    for (void *p : freed)
        expected.push_back(takenAt[p]);
    std::sort(expected.begin(), expected.end());
    std::vector<void *> again = TakeMany(pool, freed.size());
    std::vector<size_t> order;
    for (void *p : again)
        order.push_back(takenAt.count(p) ? takenAt[p] : count);
    EXPECT_EQ(order, expected);
    for (void *p : kept)
        pool.Give(p);
    for (void *p : again)
        pool.Give(p);
}

// With every slot back, the memory of all slabs but the first goes back, and
// the next slot is the first slab's first.
TEST(CheckBoxPool, AnEmptyPoolStartsOverInItsFirstSlab)
{
    TCheckBoxPool pool;
    std::vector<void *> slots = TakeMany(pool, 5000);
    void *const first = slots.front();
    std::reverse(slots.begin(), slots.end());
    for (void *p : slots)
        pool.Give(p);
    void *const next = pool.Take();
    EXPECT_EQ(next, first);
    pool.Give(next);
}

TEST(CheckBoxPoolDeathTest, AGiftTwiceAborts)
{
    TCheckBoxPool pool;
    void *kept = pool.Take();
    void *p = pool.Take();
    pool.Give(p);
    EXPECT_DEATH(pool.Give(p), "");
    pool.Give(kept);
}
