#pragma once

// Memory for the grid's check boxes (TCellGraphic): slots from 64 KiB slabs
// of their own, a free slot always taken lowest first.
//
// Check boxes come one per game, a million in the largest lists, and go all
// together when a list is cleared. Freed to the heap, a million small blocks
// on its free lists made the next large allocation sort through them one by
// one, in the scattered order a sort leaves. From the slabs, a list loaded
// after another was cleared gets its check boxes one after another in
// memory, whatever order the old ones went in. This holds up the figures
// `growth_load_*` of `scripts/bench.sh scale` (each size is loaded after the
// last one was cleared) and `grid_load_100000_rows` of `scripts/bench.sh
// grid_load`.
//
// Used on the GUI thread only, as the grid is.

#include <cstddef>
#include <cstdint>
#include <vector>

class TCheckBoxPool {
public:
    TCheckBoxPool() = default;
    ~TCheckBoxPool();
    TCheckBoxPool(const TCheckBoxPool &) = delete;
    TCheckBoxPool &operator=(const TCheckBoxPool &) = delete;

    // The pool of every grid's check boxes; never destroyed, since a grid
    // may outlive any static.
    static TCheckBoxPool &Shared();

    // A slot for one TCellGraphic; throws std::bad_alloc.
    void *Take();
    // Gives a slot back; giving one twice aborts, as going on would hand it
    // out twice. Once no slot is taken, all slabs but the first go back.
    void Give(void *p);

    struct Slab; // the head of a slab, before its slots

private:
    static Slab *NewSlab(size_t index);
    static void Reset(Slab &slab, size_t index);
    void Restart();

    std::vector<Slab *> m_slabs;
    size_t m_firstFree = 0; // no slab before this one has a free slot
    size_t m_live = 0;
};
