#pragma once

// The GIDs of an ownership file, as a set that ticks each listed game once.
//
// Built for speed; the scripts/bench.sh figures it holds up are
// collection_choose_cpu (bench/collection.cpp: 50,000 ticks among 100,000
// games, from choosing the system) and growth_ticks in bench/scale.cpp.

#include "platform/CellStore.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Each GID added ticks the first row that has it. The GIDs lie in one block,
// each ended by LF, and each open-addressed slot holds a GID of up to 8 bytes
// itself (most are that short) or else where it lies in the block, beside a
// piece of its hash. GIDs are put in and looked up in order with the slots of
// the next few already asked for (the prefetch ring of EachAhead), so that in
// a long list the waits on memory overlap; nothing of the size of the list is
// allocated besides the slots.
class TOwnedGids {
public:
    // In the file's order; a GID no cell can hold is passed over.
    void Add(std::string_view gid);

    // Lays out the slots once every GID is in; a GID added twice counts once.
    void Index();

    // True the first time a row with gid asks; `hash` as EachAhead gives it.
    bool Take(std::string_view gid, size_t hash)
    {
        Slot &slot = m_slots[Probe(gid, hash)];
        if (slot.size == kEmpty || slot.tag == kTaken)
            return false;
        slot.tag = kTaken;
        ++m_taken;
        return true;
    }

    // The GIDs that no row took, each once, in the order of the file. An
    // empty line names no game.
    std::vector<std::string> Untaken();

    // Calls visit(gid, hash) for each GID next() gives until it gives none,
    // the slot of each asked for a few GIDs before its visit. A GID's bytes
    // must stay valid until its visit.
    template<class Next, class Visit> void EachAhead(Next next, Visit visit) const
    {
        struct Ahead {
            std::string_view gid;
            size_t hash;
        };
        std::array<Ahead, TCellStore::kRowsAhead> ring;
        size_t asked = 0, visited = 0;
        const auto ask = [&] {
            const std::optional<std::string_view> gid = next();
            if (!gid)
                return false;
            Ahead &a = ring[asked++ % ring.size()];
            a = { *gid, Hash(*gid) };
            __builtin_prefetch(&m_slots[a.hash & (m_slots.size() - 1)]);
            return true;
        };
        while (asked < ring.size() && ask()) { }
        while (visited < asked) {
            const Ahead a = ring[visited++ % ring.size()];
            ask(); // into the place just read
            visit(a.gid, a.hash);
        }
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    // A taken slot keeps its place in the probe sequence but matches no GID.
    static constexpr uint32_t kTaken = 0;

    struct Slot {
        uint64_t gid = 0; // the bytes of a short GID, else its offset
        uint32_t size = kEmpty;
        uint32_t tag = 0;
    };

    static size_t Hash(std::string_view gid) { return std::hash<std::string_view>()(gid); }
    static uint32_t TagOf(size_t hash) { return uint32_t(uint64_t(hash) >> 32) | 1; }
    static bool IsShort(std::string_view gid) { return gid.size() <= sizeof(uint64_t); }
    static uint64_t ShortBytes(std::string_view gid)
    {
        uint64_t bytes = 0;
        if (!gid.empty()) // an empty cell's view may hold no pointer at all
            std::memcpy(&bytes, gid.data(), gid.size());
        return bytes;
    }

    bool Holds(const Slot &slot, std::string_view gid, uint32_t tag) const
    {
        return slot.tag == tag && slot.size == gid.size() && SameBytes(slot, gid);
    }

    // The slot holding gid, or the empty one where it would go.
    size_t Probe(std::string_view gid, size_t hash) const
    {
        const size_t mask = m_slots.size() - 1;
        const uint32_t tag = TagOf(hash);
        for (size_t i = hash & mask;; i = (i + 1) & mask)
            if (m_slots[i].size == kEmpty || Holds(m_slots[i], gid, tag))
                return i;
    }

    // The slot of a GID that is in, taken or not.
    size_t Find(std::string_view gid, size_t hash) const;

    bool SameBytes(const Slot &slot, std::string_view gid) const
    {
        if (IsShort(gid))
            return slot.gid == ShortBytes(gid);
        return std::string_view(m_text).substr(slot.gid, slot.size) == gid;
    }

    std::string m_text;
    size_t m_count = 0, m_distinct = 0, m_taken = 0;
    std::vector<Slot> m_slots;
};
