// The set of owned GIDs (see OwnedGids.h): filling, indexing, what is left.

#include "app/OwnedGids.h"

void TOwnedGids::Add(std::string_view gid)
{
    if (gid.size() >= kEmpty)
        return; // longer than any cell can be
    m_text.append(gid).push_back('\n');
    ++m_count;
}

void TOwnedGids::Index()
{
    size_t size = 16;
    while (size < 2 * m_count)
        size *= 2;
    m_slots.assign(size, Slot {});
    size_t next = 0;
    EachAhead(
        [&]() -> std::optional<std::string_view> {
            if (next == m_text.size())
                return std::nullopt;
            const size_t end = m_text.find('\n', next);
            const std::string_view gid(m_text.data() + next, end - next);
            next = end + 1;
            return gid;
        },
        [&](std::string_view gid, size_t hash) {
            Slot &slot = m_slots[Probe(gid, hash)];
            if (slot.size == kEmpty) { // a GID the file names twice ticks once
                slot = { IsShort(gid) ? ShortBytes(gid) : uint64_t(gid.data() - m_text.data()),
                         uint32_t(gid.size()), TagOf(hash) };
                ++m_distinct;
            }
        });
}

std::vector<std::string> TOwnedGids::Untaken()
{
    std::vector<std::string> gids;
    for (size_t next = 0; m_taken < m_distinct && next < m_text.size();) {
        const size_t end = m_text.find('\n', next);
        const std::string_view gid(m_text.data() + next, end - next);
        next = end + 1;
        Slot &slot = m_slots[Find(gid, Hash(gid))];
        if (slot.tag == kTaken)
            continue;
        slot.tag = kTaken;
        ++m_taken;
        if (!gid.empty())
            gids.emplace_back(gid);
    }
    return gids;
}

size_t TOwnedGids::Find(std::string_view gid, size_t hash) const
{
    const size_t mask = m_slots.size() - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask)
        if (m_slots[i].size == gid.size() && SameBytes(m_slots[i], gid))
            return i;
}
