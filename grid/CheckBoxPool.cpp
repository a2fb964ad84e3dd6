// The slabs that the grid's check boxes live in (see CheckBoxPool.h).

#include "grid/CheckBoxPool.h"

#include "grid/Advgrid.h"
#include "platform/Poison.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <new>

namespace {

constexpr size_t kSlabSize = size_t(64) * 1024;
// Bits for as many slots as the slab could hold without its head.
constexpr size_t kWords = (kSlabSize / sizeof(TCellGraphic) + 63) / 64;

struct alignas(TCellGraphic) Slot {
    unsigned char bytes[sizeof(TCellGraphic)];
};

} // namespace

// The head of a slab; its slots follow.
struct TCheckBoxPool::Slab {
    uint64_t freeBits[kWords]; // a set bit: that slot is free
    size_t index, freeCount, firstWord;
};

namespace {

constexpr size_t kSlotsAt
    = (sizeof(TCheckBoxPool::Slab) + alignof(Slot) - 1) / alignof(Slot) * alignof(Slot);
constexpr size_t kSlots = (kSlabSize - kSlotsAt) / sizeof(Slot);
static_assert(kSlots <= kWords * 64);

Slot *Slots(TCheckBoxPool::Slab &slab)
{
    return reinterpret_cast<Slot *>(reinterpret_cast<char *>(&slab) + kSlotsAt);
}

} // namespace

TCheckBoxPool::~TCheckBoxPool()
{
    for (Slab *slab : m_slabs) {
        Unpoison(Slots(*slab), kSlots * sizeof(Slot));
        std::free(slab);
    }
}

TCheckBoxPool &TCheckBoxPool::Shared()
{
    static TCheckBoxPool *pool = new TCheckBoxPool;
    return *pool;
}

void *TCheckBoxPool::Take()
{
    while (m_firstFree < m_slabs.size() && m_slabs[m_firstFree]->freeCount == 0)
        ++m_firstFree;
    if (m_firstFree == m_slabs.size()) {
        m_slabs.reserve(std::max<size_t>(1, 2 * m_slabs.size())); // so that the slab can't be lost
        m_slabs.push_back(NewSlab(m_slabs.size()));
    }
    Slab &slab = *m_slabs[m_firstFree];
    while (slab.freeBits[slab.firstWord] == 0)
        ++slab.firstWord;
    uint64_t &word = slab.freeBits[slab.firstWord];
    const size_t i = slab.firstWord * 64 + size_t(std::countr_zero(word));
    word &= word - 1;
    --slab.freeCount;
    ++m_live;
    Unpoison(&Slots(slab)[i], sizeof(Slot));
    return &Slots(slab)[i];
}

void TCheckBoxPool::Give(void *p)
{
    // Back to the slab's aligned start through the pointer itself.
    auto &slab = *reinterpret_cast<Slab *>(static_cast<char *>(p)
                                           - (reinterpret_cast<uintptr_t>(p) & (kSlabSize - 1)));
    const size_t i = size_t(static_cast<Slot *>(p) - Slots(slab));
    uint64_t &word = slab.freeBits[i / 64];
    const uint64_t bit = uint64_t(1) << (i % 64);
    if (word & bit)
        std::abort(); // given twice
    Poison(p, sizeof(Slot));
    word |= bit;
    ++slab.freeCount;
    slab.firstWord = std::min(slab.firstWord, i / 64);
    m_firstFree = std::min(m_firstFree, slab.index);
    if (--m_live == 0)
        Restart();
}

TCheckBoxPool::Slab *TCheckBoxPool::NewSlab(size_t index)
{
    auto *slab = static_cast<Slab *>(std::aligned_alloc(kSlabSize, kSlabSize));
    if (!slab)
        throw std::bad_alloc();
    Reset(*slab, index);
    return slab;
}

void TCheckBoxPool::Reset(Slab &slab, size_t index)
{
    std::fill(std::begin(slab.freeBits), std::end(slab.freeBits), 0);
    for (size_t i = 0; i < kSlots; ++i)
        slab.freeBits[i / 64] |= uint64_t(1) << (i % 64);
    slab.index = index;
    slab.freeCount = kSlots;
    slab.firstWord = 0;
    Poison(Slots(slab), kSlots * sizeof(Slot));
}

// Keeps one slab: a large list's memory goes back once it is cleared.
void TCheckBoxPool::Restart()
{
    for (size_t s = 1; s < m_slabs.size(); ++s) {
        Unpoison(Slots(*m_slabs[s]), kSlots * sizeof(Slot));
        std::free(m_slabs[s]);
    }
    m_slabs.resize(std::min<size_t>(m_slabs.size(), 1));
    if (!m_slabs.empty())
        Reset(*m_slabs[0], 0);
    m_firstFree = 0;
}
