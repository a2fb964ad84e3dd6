// The cell store of the grid widget: packed text blocks per row in a block
// arena, and the objects beside them (see CellStore.h).

#include "platform/CellStore.h"

#include "platform/Exceptions.h"
#include "platform/Poison.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

// ---------------------------------------------------------------------------
// Text blocks
//
// A text block: u16 lead (empty cells before the first stored one), u16
// count (bit 15: offsets are 32-bit), `count` end offsets, then the bytes.

namespace {

constexpr int kMaxRows = 1 << 26;
constexpr uint16_t kWide = 0x8000;

void *Allocate(size_t bytes)
{
    void *p = std::malloc(bytes);
    if (!p)
        throw std::bad_alloc();
    return p;
}

struct BlockHeader {
    uint16_t lead;
    uint16_t count;
};

BlockHeader HeaderOf(const char *block)
{
    BlockHeader h { 0, 0 };
    if (block)
        std::memcpy(&h, block, sizeof h);
    return h;
}

uint32_t OffsetAt(const char *block, bool wide, uint32_t i)
{
    const char *p = block + sizeof(BlockHeader);
    if (wide) {
        uint32_t v;
        std::memcpy(&v, p + size_t(i) * 4, 4);
        return v;
    }
    uint16_t v;
    std::memcpy(&v, p + size_t(i) * 2, 2);
    return v;
}

// Blocks share chunks: in the sanitizer build a poisoned gap follows each
// block and a freed block is poisoned, so that an overrun or a view read
// after its row changed is caught as with blocks of their own.
constexpr size_t kRedZone = kPoisoning ? 8 : 0;

// Chunks are large enough that a load makes few of them, and a block above
// an eighth of one gets a chunk of its own, so at most that much of a chunk
// is left unused when the next block doesn't fit.
constexpr size_t kChunkSize = size_t(256) << 10;
constexpr size_t kOwnChunk = kChunkSize / 8;

} // namespace

// ---------------------------------------------------------------------------
// TBlockArena
//
// Each block is preceded by the u32 id of its chunk.

TBlockArena::~TBlockArena()
{
    for (Chunk &chunk : m_chunks)
        std::free(chunk.memory);
}

uint32_t TBlockArena::NewChunk(size_t size)
{
    if (m_freeIds.empty()) {
        m_chunks.emplace_back();
        m_freeIds.push_back(uint32_t(m_chunks.size() - 1));
    }
    const uint32_t id = m_freeIds.back();
    m_chunks[id] = Chunk { static_cast<char *>(::Allocate(size)), size, 0, 0 };
    m_freeIds.pop_back();
    Poison(m_chunks[id].memory, size);
    return id;
}

char *TBlockArena::Cut(uint32_t id, size_t bytes)
{
    Chunk &chunk = m_chunks[id];
    char *p = chunk.memory + chunk.used;
    Unpoison(p, sizeof id + bytes);
    std::memcpy(p, &id, sizeof id);
    chunk.used += sizeof id + bytes + kRedZone;
    ++chunk.live;
    return p + sizeof id;
}

char *TBlockArena::Allocate(size_t bytes)
{
    const size_t need = sizeof(uint32_t) + bytes + kRedZone;
    if (need > kOwnChunk)
        return Cut(NewChunk(need), bytes);
    if (m_current == UINT32_MAX || m_chunks[m_current].used + need > kChunkSize)
        m_current = NewChunk(kChunkSize);
    return Cut(m_current, bytes);
}

void TBlockArena::Free(char *block, size_t bytes)
{
    if (!block)
        return;
    uint32_t id;
    std::memcpy(&id, block - sizeof id, sizeof id);
    Chunk &chunk = m_chunks[id];
    if (--chunk.live > 0) {
        Poison(block - sizeof id, sizeof id + bytes);
        return;
    }
    if (id == m_current) {
        Poison(chunk.memory, chunk.size);
        chunk.used = 0;
        return;
    }
    std::free(chunk.memory);
    chunk = Chunk();
    m_freeIds.push_back(id);
}

// ---------------------------------------------------------------------------
// TCellStore

TCellStore::~TCellStore()
{
    for (Row &row : m_rows)
        FreeRow(row);
}

void TCellStore::FreeTexts(char *&block)
{
    if (block)
        m_arena.Free(block, SizeOf(block));
    block = nullptr;
}

void TCellStore::FreeRow(Row &row)
{
    FreeTexts(row.texts);
    if (row.objectCount > 1)
        std::free(row.objects);
    row = Row();
}

void TCellStore::CheckIndex(int col, int row)
{
    if (col < 0 || row < 0 || col >= kMaxCols || row >= kMaxRows)
        throw ERangeError("Grid index out of range (column " + std::to_string(col) + ", row "
                          + std::to_string(row) + ")");
}

uint32_t TCellStore::End(const char *block)
{
    const BlockHeader h = HeaderOf(block);
    return uint32_t(h.lead) + (h.count & ~kWide);
}

size_t TCellStore::SizeOf(const char *block)
{
    const BlockHeader h = HeaderOf(block);
    const uint32_t count = h.count & ~kWide;
    const bool wide = h.count & kWide;
    return sizeof(BlockHeader) + size_t(count) * (wide ? 4 : 2) + OffsetAt(block, wide, count - 1);
}

std::string_view TCellStore::TextOf(const char *block, uint32_t col)
{
    const BlockHeader h = HeaderOf(block);
    const uint32_t count = h.count & ~kWide;
    if (col < h.lead || col >= h.lead + count)
        return {};
    const bool wide = h.count & kWide;
    const uint32_t i = col - h.lead;
    const uint32_t begin = i == 0 ? 0 : OffsetAt(block, wide, i - 1);
    const uint32_t end = OffsetAt(block, wide, i);
    const char *bytes = block + sizeof(BlockHeader) + size_t(count) * (wide ? 4 : 2);
    return { bytes + begin, end - begin };
}

char *TCellStore::Pack(const Texts &texts)
{
    size_t end = texts.size();
    while (end > 0 && texts[end - 1].empty())
        --end; // trailing empty cells need no entry
    size_t lead = 0;
    while (lead < end && texts[lead].empty())
        ++lead;
    if (lead == end)
        return nullptr;
    if (end > size_t(kMaxCols))
        throw ERangeError("Grid row has too many columns");
    const size_t count = end - lead;
    size_t total = 0;
    for (size_t i = lead; i < end; ++i)
        total += texts[i].size();
    if (total > UINT32_MAX)
        throw ERangeError("Grid row too long");
    const bool wide = total > 0xFFFF;
    const size_t offsetSize = wide ? 4 : 2;
    char *block = m_arena.Allocate(sizeof(BlockHeader) + count * offsetSize + total);
    const BlockHeader h { uint16_t(lead), uint16_t(count | (wide ? kWide : 0)) };
    std::memcpy(block, &h, sizeof h);
    char *offsets = block + sizeof(BlockHeader);
    char *bytes = offsets + count * offsetSize;
    uint32_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        const std::string_view t = texts[lead + i];
        if (!t.empty()) // an empty view may hold no pointer at all
            std::memcpy(bytes + pos, t.data(), t.size());
        pos += uint32_t(t.size());
        if (wide) {
            std::memcpy(offsets + i * 4, &pos, 4);
        } else {
            const uint16_t v = uint16_t(pos);
            std::memcpy(offsets + i * 2, &v, 2);
        }
    }
    return block;
}

TCellStore::Row &TCellStore::RowAt(int row)
{
    if (size_t(row) >= m_rows.size())
        m_rows.resize(size_t(row) + 1);
    return m_rows[size_t(row)];
}

void TCellStore::Reserve(int rows)
{
    // Growing in small steps must not copy the rows each time.
    if (rows > 0 && size_t(rows) > m_rows.capacity())
        m_rows.reserve(std::max(size_t(rows), m_rows.capacity() + m_rows.capacity() / 8));
}

TCellStore::Texts &TCellStore::Unpack(const Row &row, size_t minCount)
{
    const uint32_t end = End(row.texts);
    m_scratch.assign(std::max<size_t>(end, minCount), std::string_view());
    for (uint32_t c = HeaderOf(row.texts).lead; c < end; ++c)
        m_scratch[c] = TextOf(row.texts, c);
    return m_scratch;
}

void TCellStore::Repack(Row &row, const Texts &texts)
{
    char *block = Pack(texts); // the texts may point into the old block
    FreeTexts(row.texts);
    row.texts = block;
}

std::string_view TCellStore::Text(int col, int row) const
{
    CheckIndex(col, row);
    if (size_t(row) >= m_rows.size())
        return {};
    return TextOf(m_rows[size_t(row)].texts, uint32_t(col));
}

void TCellStore::SetText(int col, int row, std::string_view text)
{
    CheckIndex(col, row);
    if (text.empty() && Text(col, row).empty())
        return;
    Row &r = RowAt(row);
    Texts &texts = Unpack(r, size_t(col) + 1);
    texts[size_t(col)] = text;
    Repack(r, texts);
}

void TCellStore::SetTexts(int row, int firstCol, const std::vector<std::string_view> &fields)
{
    CheckIndex(firstCol, row);
    if (fields.empty())
        return;
    CheckIndex(firstCol + int(fields.size()) - 1, row);
    Row &r = RowAt(row);
    if (!r.texts && firstCol == 0) {
        r.texts = Pack(fields);
        return;
    }
    Texts &texts = Unpack(r, size_t(firstCol) + fields.size());
    std::copy(fields.begin(), fields.end(), texts.begin() + firstCol);
    Repack(r, texts);
}

void TCellStore::ClearTexts(int row, int col1, int col2)
{
    CheckIndex(col1, row);
    if (size_t(row) >= m_rows.size() || col2 < col1)
        return;
    Row &r = m_rows[size_t(row)];
    const BlockHeader h = HeaderOf(r.texts);
    const uint32_t end = End(r.texts);
    if (uint32_t(col1) <= h.lead && uint32_t(col2) + 1 >= end) {
        FreeTexts(r.texts);
        return;
    }
    bool changed = false;
    for (uint32_t c = uint32_t(col1); c <= uint32_t(col2) && c < end && !changed; ++c)
        changed = !TextOf(r.texts, c).empty();
    if (!changed)
        return;
    Texts &texts = Unpack(r, 0);
    for (int c = col1; c <= col2 && size_t(c) < texts.size(); ++c)
        texts[size_t(c)] = {};
    Repack(r, texts);
}

std::vector<TCellStore::ObjEntry> TCellStore::Entries(const Row &row)
{
    if (row.objectCount == 1)
        return { { row.singleCol, static_cast<TObject *>(row.objects) } };
    const auto *entries = static_cast<const ObjEntry *>(row.objects);
    return std::vector<ObjEntry>(entries, entries + row.objectCount);
}

void TCellStore::SetEntries(Row &row, const std::vector<ObjEntry> &entries)
{
    if (row.objectCount > 1)
        std::free(row.objects);
    row.objects = nullptr;
    row.objectCount = uint32_t(entries.size());
    row.singleCol = 0;
    if (entries.size() == 1) {
        row.objects = entries[0].object;
        row.singleCol = entries[0].col;
    } else if (entries.size() > 1) {
        auto *array = static_cast<ObjEntry *>(Allocate(entries.size() * sizeof(ObjEntry)));
        std::copy(entries.begin(), entries.end(), array);
        row.objects = array;
    }
}

TObject *TCellStore::Object(int col, int row) const
{
    CheckIndex(col, row);
    if (size_t(row) >= m_rows.size())
        return nullptr;
    const Row &r = m_rows[size_t(row)];
    if (r.objectCount == 1)
        return r.singleCol == col ? static_cast<TObject *>(r.objects) : nullptr;
    const auto *entries = static_cast<const ObjEntry *>(r.objects);
    for (uint32_t i = 0; i < r.objectCount; ++i)
        if (entries[i].col == col)
            return entries[i].object;
    return nullptr;
}

void TCellStore::SetObject(int col, int row, TObject *object)
{
    CheckIndex(col, row);
    if (!object && Object(col, row) == nullptr)
        return;
    Row &r = RowAt(row);
    if (r.objectCount == 0 && object) {
        r.objects = object;
        r.singleCol = col;
        r.objectCount = 1;
        return;
    }
    if (r.objectCount == 1 && r.singleCol == col) {
        r.objects = object;
        r.objectCount = object ? 1 : 0;
        return;
    }
    std::vector<ObjEntry> entries = Entries(r);
    auto it = std::find_if(entries.begin(), entries.end(),
                           [col](const ObjEntry &e) { return e.col >= col; });
    if (it != entries.end() && it->col == col) {
        if (object)
            it->object = object;
        else
            entries.erase(it);
    } else if (object) {
        entries.insert(it, { col, object });
    }
    SetEntries(r, entries);
}

std::vector<int> TCellStore::ObjectCols(int row) const
{
    std::vector<int> cols;
    if (row >= 0 && size_t(row) < m_rows.size())
        for (const ObjEntry &e : Entries(m_rows[size_t(row)]))
            cols.push_back(e.col);
    return cols;
}

void TCellStore::ReleaseObjects(int row, int col1, int col2,
                                const std::function<bool(TObject *)> &release)
{
    if (row < 0 || size_t(row) >= m_rows.size() || m_rows[size_t(row)].objectCount == 0)
        return;
    Row &r = m_rows[size_t(row)];
    if (r.objectCount == 1) {
        if (r.singleCol >= col1 && r.singleCol <= col2
            && release(static_cast<TObject *>(r.objects))) {
            r.objects = nullptr;
            r.objectCount = 0;
        }
        return;
    }
    std::vector<ObjEntry> kept;
    for (const ObjEntry &e : Entries(r))
        if (!(e.col >= col1 && e.col <= col2 && release(e.object)))
            kept.push_back(e);
    SetEntries(r, kept);
}

void TCellStore::MoveCols(int rows, int dst, int src, int len, const Release &release)
{
    CheckIndex(dst, 0);
    CheckIndex(src, 0);
    if (len <= 0 || dst == src)
        return;
    CheckIndex(dst + len - 1, 0);
    CheckIndex(src + len - 1, 0);
    const int last = std::min<int>(rows, int(m_rows.size()));
    for (int row = 0; row < last; ++row) {
        Row &r = m_rows[size_t(row)];
        if (r.texts) {
            const char *old = r.texts;
            Texts &texts = Unpack(r, size_t(dst) + size_t(len));
            for (int i = 0; i < len; ++i)
                texts[size_t(dst) + size_t(i)] = TextOf(old, uint32_t(src + i));
            Repack(r, texts);
        }
        if (r.objectCount) {
            std::vector<ObjEntry> kept;
            std::vector<ObjEntry> moved;
            for (const ObjEntry &e : Entries(r)) {
                if (e.col >= src && e.col < src + len)
                    moved.push_back({ e.col - src + dst, e.object });
                else if (!(e.col >= dst && e.col < dst + len))
                    kept.push_back(e);
                else
                    release(e.object);
            }
            kept.insert(kept.end(), moved.begin(), moved.end());
            std::sort(kept.begin(), kept.end(),
                      [](const ObjEntry &a, const ObjEntry &b) { return a.col < b.col; });
            SetEntries(r, kept);
        }
    }
}

void TCellStore::InsertEmptyCols(int rows, int col, int count, int limit, const Release &release)
{
    CheckIndex(col, 0);
    if (count <= 0)
        return;
    CheckIndex(limit - 1, 0);
    const int last = std::min<int>(rows, int(m_rows.size()));
    for (int row = 0; row < last; ++row) {
        Row &r = m_rows[size_t(row)];
        const BlockHeader h = HeaderOf(r.texts);
        if (r.texts && col <= h.lead && End(r.texts) + uint32_t(count) <= uint32_t(limit)) {
            // Every stored text shifts as a whole: only the lead grows.
            const BlockHeader shifted { uint16_t(h.lead + count), h.count };
            std::memcpy(r.texts, &shifted, sizeof shifted);
        } else if (r.texts) {
            const char *old = r.texts;
            Texts &texts = Unpack(r, size_t(limit));
            for (int c = limit - 1; c >= col; --c)
                texts[size_t(c)]
                    = c >= col + count ? TextOf(old, uint32_t(c - count)) : std::string_view();
            Repack(r, texts);
        }
        if (r.objectCount) {
            std::vector<ObjEntry> entries;
            for (ObjEntry e : Entries(r)) {
                if (e.col >= col && e.col < limit - count)
                    e.col += count;
                else if (e.col >= limit - count && e.col < limit) {
                    release(e.object); // pushed out by the shift, as its text is
                    continue;
                }
                entries.push_back(e);
            }
            std::sort(entries.begin(), entries.end(),
                      [](const ObjEntry &a, const ObjEntry &b) { return a.col < b.col; });
            SetEntries(r, entries);
        }
    }
}

void TCellStore::Prefetch(int row) const
{
    if (row < 0 || size_t(row) >= m_rows.size())
        return;
    const Row &r = m_rows[size_t(row)];
    if (r.texts)
        __builtin_prefetch(r.texts);
    if (r.objects)
        __builtin_prefetch(r.objects);
}

void TCellStore::SwapRows(int a, int b)
{
    CheckIndex(0, a);
    CheckIndex(0, b);
    RowAt(std::max(a, b));
    std::swap(m_rows[size_t(a)], m_rows[size_t(b)]);
}

void TCellStore::CopyRowRefs(int dst, int src)
{
    CheckIndex(0, dst);
    CheckIndex(0, src);
    RowAt(std::max(dst, src));
    ForgetRow(dst);
    Row &d = m_rows[size_t(dst)];
    const Row &s = m_rows[size_t(src)];
    if (s.texts) {
        const size_t size = SizeOf(s.texts);
        d.texts = m_arena.Allocate(size);
        std::memcpy(d.texts, s.texts, size);
    }
    if (s.objectCount == 1) {
        d.objects = s.objects;
        d.singleCol = s.singleCol;
        d.objectCount = 1;
    } else if (s.objectCount > 1) {
        SetEntries(d, Entries(s));
    }
}

void TCellStore::ForgetRow(int row)
{
    if (row >= 0 && size_t(row) < m_rows.size())
        FreeRow(m_rows[size_t(row)]);
}
