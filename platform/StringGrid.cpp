#include "platform/StringGrid.h"

#include "platform/AnsiText.h"
#include "platform/Exceptions.h"
#include "platform/Poison.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

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
        std::memcpy(&v, p + i * 4, 4);
        return v;
    }
    uint16_t v;
    std::memcpy(&v, p + i * 2, 2);
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
    return sizeof(BlockHeader) + count * (wide ? 4 : 2) + OffsetAt(block, wide, count - 1);
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
    const char *bytes = block + sizeof(BlockHeader) + count * (wide ? 4 : 2);
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
            Texts &texts = Unpack(r, size_t(dst + len));
            for (int i = 0; i < len; ++i)
                texts[size_t(dst + i)] = TextOf(old, uint32_t(src + i));
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

// ---------------------------------------------------------------------------
// TStringGrid

TStringGrid::TStringGrid(QWidget *parent) : QAbstractScrollArea(parent)
{
    m_colWidths.assign(size_t(m_colCount), m_defaultColWidth);
    m_rowHeights.assign(size_t(m_rowCount), m_defaultRowHeight);
    m_fixedColor = palette().color(QPalette::Button);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    UpdateScrollBars();
}

TStringGrid::~TStringGrid() = default;

void TStringGrid::Repaint()
{
    if (m_updateCount == 0)
        viewport()->update();
}

void TStringGrid::SetColCount(int value)
{
    value = std::max(value, 1);
    if (value <= m_fixedCols)
        m_fixedCols = value - 1;
    if (value == m_colCount)
        return;
    const int oldCols = m_colCount;
    m_colCount = value;
    m_colWidths.resize(size_t(value), m_defaultColWidth);
    m_col = std::clamp(m_col, m_fixedCols, m_colCount - 1);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    SizeChanged(oldCols, m_rowCount);
}

void TStringGrid::SetRowCount(int value)
{
    value = std::max(value, 1);
    if (value <= m_fixedRows)
        m_fixedRows = value - 1;
    if (value == m_rowCount)
        return;
    const int oldRows = m_rowCount;
    m_rowCount = value;
    m_rowHeights.resize(size_t(value), m_defaultRowHeight);
    // Room for the rows about to be filled, and for a sort's scratch rows.
    if (value > m_store.StoredRows())
        m_store.Reserve(value + 3);
    m_row = std::clamp(m_row, m_fixedRows, m_rowCount - 1);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    SizeChanged(m_colCount, oldRows);
}

void TStringGrid::SetFixedCols(int value)
{
    if (value < 0 || value >= m_colCount)
        throw ERangeError("Fixed column count must be less than column count");
    m_fixedCols = value;
    m_col = std::max(m_col, m_fixedCols);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetFixedRows(int value)
{
    if (value < 0 || value >= m_rowCount)
        throw ERangeError("Fixed row count must be less than row count");
    m_fixedRows = value;
    m_row = std::max(m_row, m_fixedRows);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetDefaultColWidth(int value)
{
    m_defaultColWidth = std::max(value, 0);
    m_colWidths.assign(size_t(m_colCount), m_defaultColWidth);
    UpdateScrollBars();
    Repaint();
    ColWidthsChanged();
}

void TStringGrid::SetDefaultRowHeight(int value)
{
    m_defaultRowHeight = std::max(value, 0);
    m_rowHeights.assign(size_t(m_rowCount), m_defaultRowHeight);
    UpdateScrollBars();
    Repaint();
    RowHeightsChanged();
}

void TStringGrid::SetGridLineWidth(int value)
{
    m_gridLineWidth = std::max(value, 0);
    UpdateScrollBars();
    Repaint();
}

int TStringGrid::ColWidths(int col) const
{
    if (col < 0 || col >= m_colCount)
        return m_defaultColWidth;
    return m_colWidths[size_t(col)];
}

void TStringGrid::SetColWidths(int col, int width)
{
    if (col < 0 || col >= m_colCount)
        throw ERangeError("Grid column " + std::to_string(col) + " out of range");
    width = std::max(width, 0);
    if (m_colWidths[size_t(col)] == width)
        return;
    m_colWidths[size_t(col)] = width;
    UpdateScrollBars();
    Repaint();
    ColWidthsChanged();
}

int TStringGrid::RowHeights(int row) const
{
    if (row < 0 || row >= m_rowCount)
        return m_defaultRowHeight;
    return m_rowHeights[size_t(row)];
}

void TStringGrid::SetRowHeights(int row, int height)
{
    if (row < 0 || row >= m_rowCount)
        throw ERangeError("Grid row " + std::to_string(row) + " out of range");
    height = std::max(height, 0);
    if (m_rowHeights[size_t(row)] == height)
        return;
    m_rowHeights[size_t(row)] = height;
    UpdateScrollBars();
    Repaint();
    RowHeightsChanged();
}

void TStringGrid::SetOptions(TGridOptions value)
{
    m_options = value;
    Repaint();
}

void TStringGrid::SetFixedColor(const QColor &value)
{
    m_fixedColor = value;
    Repaint();
}

void TStringGrid::SetCtl3D(bool value)
{
    m_ctl3D = value;
    Repaint();
}

std::string TStringGrid::Cells(int col, int row) const
{
    return std::string(m_store.Text(col, row));
}

void TStringGrid::SetCells(int col, int row, const std::string &text)
{
    m_store.SetText(col, row, text);
    InvalidateCell(col, row);
}

TObject *TStringGrid::Objects(int col, int row) const
{
    return m_store.Object(col, row);
}

void TStringGrid::SetObjects(int col, int row, TObject *object)
{
    m_store.SetObject(col, row, object);
}

TCellList TStringGrid::Cols(int col) const
{
    TCellList list;
    for (int r = 0; r < m_rowCount; ++r) {
        list.Texts.emplace_back(m_store.Text(col, r));
        list.Objects.push_back(m_store.Object(col, r));
    }
    return list;
}

void TStringGrid::SetCols(int col, const TCellList &list)
{
    for (int r = 0; r < m_rowCount; ++r) {
        const bool has = size_t(r) < list.Texts.size();
        m_store.SetText(col, r, has ? list.Texts[size_t(r)] : std::string());
        m_store.SetObject(col, r,
                          size_t(r) < list.Objects.size() ? list.Objects[size_t(r)] : nullptr);
    }
    Repaint();
}

TCellList TStringGrid::Rows(int row) const
{
    TCellList list;
    for (int c = 0; c < m_colCount; ++c) {
        list.Texts.emplace_back(m_store.Text(c, row));
        list.Objects.push_back(m_store.Object(c, row));
    }
    return list;
}

void TStringGrid::SetRows(int row, const TCellList &list)
{
    for (int c = 0; c < m_colCount; ++c) {
        m_store.SetText(c, row,
                        size_t(c) < list.Texts.size() ? list.Texts[size_t(c)] : std::string());
        m_store.SetObject(c, row,
                          size_t(c) < list.Objects.size() ? list.Objects[size_t(c)] : nullptr);
    }
    InvalidateRow(row);
}

void TStringGrid::SetCol(int col)
{
    MoveCurrent(col, m_row);
}

void TStringGrid::SetRow(int row)
{
    MoveCurrent(m_col, row);
}

void TStringGrid::FocusCell(int col, int row)
{
    MoveCurrent(col, row);
}

void TStringGrid::MoveCurrent(int col, int row, bool scroll)
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        throw ERangeError("Grid index out of range (column " + std::to_string(col) + ", row "
                          + std::to_string(row) + ")");
    const bool moved = col != m_col || row != m_row;
    m_col = col;
    m_row = row;
    if (scroll)
        ScrollIntoView(col, row);
    ClampScroll();
    UpdateScrollBars();
    Repaint();
    if (moved)
        CurrentCellChanged();
}

namespace {

// The first scrollable index that shows `index` whole when the scrollable
// part is `room` long, `first` moved as little as possible. An index wider
// than the room goes first.
template<typename Size> int ScrolledTo(int first, int index, int room, int line, Size size)
{
    if (index <= first)
        return index;
    int used = size(index);
    int top = index;
    while (top > first && used + size(top - 1) + line <= room) {
        used += size(top - 1) + line;
        --top;
    }
    return top;
}

// The fixed indices, then the scrolled ones from `first` as far as `room`
// reaches: the rest of a long list costs nothing.
template<typename Size>
std::vector<int> InView(int fixed, int first, int count, int room, int line, Size size)
{
    std::vector<int> shown;
    int pos = 0;
    for (int i = 0; i < fixed && pos < room; ++i) {
        shown.push_back(i);
        pos += size(i) + line;
    }
    for (int i = first; i < count && pos < room; ++i) {
        shown.push_back(i);
        pos += size(i) + line;
    }
    return shown;
}

} // namespace

// Rows and columns are measured each on their own, so a cell comes into
// view however far the other direction is scrolled.
void TStringGrid::ScrollIntoView(int col, int row)
{
    if (row >= m_fixedRows) {
        int room = ClientHeight();
        for (int r = 0; r < m_fixedRows; ++r)
            room -= RowHeights(r) + m_gridLineWidth;
        m_topRow = ScrolledTo(m_topRow, row, room, m_gridLineWidth,
                              [this](int r) { return RowHeights(r); });
    }
    if (col >= m_fixedCols) {
        int room = ClientWidth();
        for (int c = 0; c < m_fixedCols; ++c)
            room -= ColWidths(c) + m_gridLineWidth;
        m_leftCol = ScrolledTo(m_leftCol, col, room, m_gridLineWidth,
                               [this](int c) { return ColWidths(c); });
    }
}

void TStringGrid::ResetView()
{
    m_topRow = m_fixedRows;
    m_leftCol = m_fixedCols;
    MoveCurrent(std::min(m_fixedCols, m_colCount - 1), std::min(m_fixedRows, m_rowCount - 1),
                false);
}

void TStringGrid::CurrentCellChanged()
{
}

void TStringGrid::SetTopRow(int row)
{
    m_topRow = row;
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

void TStringGrid::SetLeftCol(int col)
{
    m_leftCol = col;
    ClampScroll();
    UpdateScrollBars();
    Repaint();
}

int TStringGrid::VisibleRowCount() const
{
    int y = 0;
    for (int r = 0; r < m_fixedRows; ++r)
        y += RowHeights(r) + m_gridLineWidth;
    int count = 0;
    for (int r = m_topRow; r < m_rowCount; ++r) {
        y += RowHeights(r) + m_gridLineWidth;
        if (y > ClientHeight())
            break;
        ++count;
    }
    return count;
}

int TStringGrid::VisibleColCount() const
{
    int x = 0;
    for (int c = 0; c < m_fixedCols; ++c)
        x += ColWidths(c) + m_gridLineWidth;
    int count = 0;
    for (int c = m_leftCol; c < m_colCount; ++c) {
        x += ColWidths(c) + m_gridLineWidth;
        if (x > ClientWidth())
            break;
        ++count;
    }
    return count;
}

void TStringGrid::ClampScroll()
{
    m_topRow = std::clamp(m_topRow, m_fixedRows, std::max(m_fixedRows, MaxTopRow()));
    m_leftCol = std::clamp(m_leftCol, m_fixedCols, std::max(m_fixedCols, MaxLeftCol()));
}

int TStringGrid::MaxTopRow() const
{
    int room = ClientHeight();
    for (int r = 0; r < m_fixedRows; ++r)
        room -= RowHeights(r) + m_gridLineWidth;
    int top = m_rowCount;
    while (top > m_fixedRows) {
        room -= RowHeights(top - 1) + m_gridLineWidth;
        if (room < 0)
            break;
        --top;
    }
    return std::min(top, m_rowCount - 1);
}

int TStringGrid::MaxLeftCol() const
{
    int room = ClientWidth();
    for (int c = 0; c < m_fixedCols; ++c)
        room -= ColWidths(c) + m_gridLineWidth;
    int left = m_colCount;
    while (left > m_fixedCols) {
        room -= ColWidths(left - 1) + m_gridLineWidth;
        if (room < 0)
            break;
        --left;
    }
    return std::min(left, m_colCount - 1);
}

void TStringGrid::UpdateScrollBars()
{
    m_scrolling = true;
    const int maxTop = std::max(m_fixedRows, MaxTopRow());
    verticalScrollBar()->setRange(0, maxTop - m_fixedRows);
    verticalScrollBar()->setPageStep(std::max(1, VisibleRowCount()));
    verticalScrollBar()->setValue(m_topRow - m_fixedRows);
    const int maxLeft = std::max(m_fixedCols, MaxLeftCol());
    horizontalScrollBar()->setRange(0, maxLeft - m_fixedCols);
    horizontalScrollBar()->setPageStep(std::max(1, VisibleColCount()));
    horizontalScrollBar()->setValue(m_leftCol - m_fixedCols);
    m_scrolling = false;
}

void TStringGrid::scrollContentsBy(int, int)
{
    if (m_scrolling)
        return;
    m_topRow = m_fixedRows + verticalScrollBar()->value();
    m_leftCol = m_fixedCols + horizontalScrollBar()->value();
    ClampScroll();
    Repaint();
}

int TStringGrid::ClientWidth() const
{
    return viewport()->width();
}

int TStringGrid::ClientHeight() const
{
    return viewport()->height();
}

QRect TStringGrid::CellRectAnywhere(int col, int row) const
{
    if (col < 0 || col >= m_colCount || row < 0 || row >= m_rowCount)
        return {};
    int x = 0;
    if (col < m_fixedCols) {
        for (int c = 0; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
    } else {
        for (int c = 0; c < m_fixedCols; ++c)
            x += ColWidths(c) + m_gridLineWidth;
        for (int c = m_leftCol; c < col; ++c)
            x += ColWidths(c) + m_gridLineWidth;
        for (int c = col; c < m_leftCol; ++c)
            x -= ColWidths(c) + m_gridLineWidth;
    }
    int y = 0;
    if (row < m_fixedRows) {
        for (int r = 0; r < row; ++r)
            y += RowHeights(r) + m_gridLineWidth;
    } else {
        for (int r = 0; r < m_fixedRows; ++r)
            y += RowHeights(r) + m_gridLineWidth;
        if (row < m_topRow)
            return QRect(x, -RowHeights(row) - m_gridLineWidth, ColWidths(col), RowHeights(row));
        for (int r = m_topRow; r < row; ++r) {
            y += RowHeights(r) + m_gridLineWidth;
            if (y > ClientHeight())
                return QRect(x, y, ColWidths(col), RowHeights(row)); // below the view
        }
    }
    return QRect(x, y, ColWidths(col), RowHeights(row));
}

QRect TStringGrid::CellRect(int col, int row) const
{
    if ((col >= m_fixedCols && col < m_leftCol) || (row >= m_fixedRows && row < m_topRow))
        return {};
    // Each row takes at least its grid line: rows this far down are out of view.
    if (m_gridLineWidth > 0 && row - m_topRow > ClientHeight())
        return {};
    const QRect rect = CellRectAnywhere(col, row);
    if (rect.isNull() || rect.left() >= ClientWidth() || rect.top() >= ClientHeight())
        return {};
    return rect;
}

QPoint TStringGrid::MouseCoord(int x, int y) const
{
    auto find = [this](int pos, int fixed, int first, int count, auto size) {
        int edge = 0;
        for (int i = 0; i < fixed; ++i) {
            edge += size(i) + m_gridLineWidth;
            if (pos < edge)
                return i;
        }
        for (int i = first; i < count; ++i) {
            edge += size(i) + m_gridLineWidth;
            if (pos < edge)
                return i;
        }
        return -1;
    };
    if (x < 0 || y < 0)
        return { -1, -1 };
    const int col
        = find(x, m_fixedCols, m_leftCol, m_colCount, [this](int c) { return ColWidths(c); });
    const int row
        = find(y, m_fixedRows, m_topRow, m_rowCount, [this](int r) { return RowHeights(r); });
    if (col < 0 || row < 0)
        return { -1, -1 };
    return { col, row };
}

int TStringGrid::SizingColAt(int x, int y) const
{
    const QPoint cell = MouseCoord(x, y);
    if (cell.y() < 0 || cell.y() >= m_fixedRows || cell.x() < 0)
        return -1;
    const QRect rect = CellRect(cell.x(), cell.y());
    if (rect.right() + 1 - x < 4 && x - (rect.right() + 1) < 4)
        return cell.x();
    if (x - rect.left() < 4) {
        // The border on the left belongs to the column before.
        int before = cell.x() - 1;
        if (cell.x() == m_leftCol && cell.x() >= m_fixedCols)
            before = m_fixedCols - 1;
        return before;
    }
    return -1;
}

void TStringGrid::BeginUpdate()
{
    ++m_updateCount;
}

void TStringGrid::EndUpdate()
{
    if (m_updateCount > 0 && --m_updateCount == 0)
        viewport()->update();
}

void TStringGrid::InvalidateCell(int col, int row)
{
    if (m_updateCount)
        return;
    const QRect rect = CellRect(col, row);
    if (!rect.isEmpty())
        viewport()->update(rect.adjusted(0, 0, m_gridLineWidth, m_gridLineWidth));
}

void TStringGrid::InvalidateRow(int row)
{
    if (m_updateCount)
        return;
    const QRect rect = CellRect(m_fixedCols < m_colCount ? m_fixedCols : 0, row);
    if (!rect.isEmpty() || row < m_fixedRows)
        viewport()->update(
            QRect(0, std::max(rect.top(), 0), ClientWidth(), RowHeights(row) + m_gridLineWidth));
}

void TStringGrid::InvalidateGrid()
{
    Repaint();
}

void TStringGrid::DrawCell(QPainter &painter, int col, int row, const QRect &rect,
                           TGridDrawState state)
{
    QColor background = palette().color(QPalette::Base);
    QColor text = palette().color(QPalette::Text);
    if (state & gdFixed) {
        background = m_fixedColor;
        text = palette().color(QPalette::ButtonText);
    } else if (state & gdSelected) {
        background = palette().color(QPalette::Highlight);
        text = palette().color(QPalette::HighlightedText);
    }
    painter.fillRect(rect, background);
    painter.setPen(text);
    painter.drawText(rect.adjusted(2, 2, 0, 0), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                     ToDisplay(std::string(m_store.Text(col, row))));
}

void TStringGrid::DrawGridLines(QPainter &painter, int col, int row, const QRect &rect,
                                bool fixed) const
{
    Q_UNUSED(col);
    Q_UNUSED(row);
    if (m_gridLineWidth <= 0)
        return;
    const QColor color = fixed ? palette().color(QPalette::Dark) : QColor(192, 192, 192);
    if (m_options & (fixed ? goFixedVertLine : goVertLine))
        painter.fillRect(
            QRect(rect.right() + 1, rect.top(), m_gridLineWidth, rect.height() + m_gridLineWidth),
            color);
    if (m_options & (fixed ? goFixedHorzLine : goHorzLine))
        painter.fillRect(
            QRect(rect.left(), rect.bottom() + 1, rect.width() + m_gridLineWidth, m_gridLineWidth),
            color);
}

void TStringGrid::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.fillRect(viewport()->rect(), palette().color(QPalette::Window));
    const std::vector<int> cols = InView(m_fixedCols, m_leftCol, m_colCount, ClientWidth(),
                                         m_gridLineWidth, [this](int c) { return ColWidths(c); });
    const std::vector<int> rows = InView(m_fixedRows, m_topRow, m_rowCount, ClientHeight(),
                                         m_gridLineWidth, [this](int r) { return RowHeights(r); });
    int y = 0;
    for (int r : rows) {
        int x = 0;
        for (int c : cols) {
            const QRect rect(x, y, ColWidths(c), RowHeights(r));
            const bool fixed = IsFixedCell(c, r);
            TGridDrawState state = fixed ? gdFixed : 0;
            if (!fixed && c == m_col && r == m_row) {
                state |= gdSelected;
                if (hasFocus())
                    state |= gdFocused;
            }
            painter.save();
            painter.setClipRect(rect);
            DrawCell(painter, c, r, rect, state);
            painter.restore();
            DrawGridLines(painter, c, r, rect, fixed);
            x += rect.width() + m_gridLineWidth;
        }
        y += RowHeights(r) + m_gridLineWidth;
    }
}

// The current cell shows whether the grid has the keyboard.
void TStringGrid::focusInEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusInEvent(event);
    InvalidateCell(m_col, m_row);
}

void TStringGrid::focusOutEvent(QFocusEvent *event)
{
    QAbstractScrollArea::focusOutEvent(event);
    InvalidateCell(m_col, m_row);
}

void TStringGrid::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    ClampScroll();
    UpdateScrollBars();
    Resized();
}

void TStringGrid::Resized()
{
}

void TStringGrid::ColWidthsChanged()
{
}

void TStringGrid::RowHeightsChanged()
{
}

void TStringGrid::SizeChanged(int, int)
{
}

void TStringGrid::mousePressEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseMove(event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseReleaseEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    MouseUp(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton)
        DblClick(p.x(), p.y());
    MouseDown(event->button(), event->modifiers(), p.x(), p.y());
}

void TStringGrid::MouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int y)
{
    if (button != Qt::LeftButton)
        return;
    setFocus(Qt::MouseFocusReason);
    if (m_options & goColSizing) {
        const int col = SizingColAt(x, y);
        if (col >= 0) {
            m_sizingCol = col;
            m_sizingStartX = x;
            m_sizingStartWidth = ColWidths(col);
            return;
        }
    }
    const QPoint cell = MouseCoord(x, y);
    if (cell.x() >= m_fixedCols && cell.y() >= m_fixedRows)
        MoveCurrent(cell.x(), cell.y());
}

void TStringGrid::MouseMove(Qt::KeyboardModifiers, int x, int y)
{
    if (m_sizingCol >= 0) {
        SetColWidths(m_sizingCol, std::max(1, m_sizingStartWidth + x - m_sizingStartX));
        return;
    }
    const bool sizing = (m_options & goColSizing) && SizingColAt(x, y) >= 0;
    viewport()->setCursor(sizing ? Qt::SplitHCursor : Qt::ArrowCursor);
}

void TStringGrid::MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers, int x, int)
{
    if (button != Qt::LeftButton || m_sizingCol < 0)
        return;
    const int col = m_sizingCol;
    const int width = std::max(1, m_sizingStartWidth + x - m_sizingStartX);
    if (width != ColWidths(col))
        SetColWidths(col, width);
    m_sizingCol = -1;
}

void TStringGrid::DblClick(int, int)
{
}

void TStringGrid::keyPressEvent(QKeyEvent *event)
{
    int key = event->key();
    KeyDown(key, event->modifiers());
    if (key == 0)
        return;
    const QByteArray text = event->text().toUtf8();
    for (char c : text) {
        char ch = c;
        KeyPress(ch);
    }
}

void TStringGrid::keyReleaseEvent(QKeyEvent *event)
{
    int key = event->key();
    KeyUp(key, event->modifiers());
}

void TStringGrid::KeyDown(int &key, Qt::KeyboardModifiers shift)
{
    const int page = std::max(1, VisibleRowCount());
    const bool ctrl = shift & Qt::ControlModifier;
    int col = m_col, row = m_row;
    switch (key) {
    case Qt::Key_Up:
        --row;
        break;
    case Qt::Key_Down:
        ++row;
        break;
    case Qt::Key_Left:
        --col;
        break;
    case Qt::Key_Right:
        ++col;
        break;
    case Qt::Key_PageUp:
        row -= page;
        break;
    case Qt::Key_PageDown:
        row += page;
        break;
    case Qt::Key_Home:
        if (ctrl)
            row = m_fixedRows;
        else
            col = m_fixedCols;
        break;
    case Qt::Key_End:
        if (ctrl)
            row = m_rowCount - 1;
        else
            col = m_colCount - 1;
        break;
    default:
        return;
    }
    col = std::clamp(col, m_fixedCols, m_colCount - 1);
    row = std::clamp(row, m_fixedRows, m_rowCount - 1);
    MoveCurrent(col, row);
}

void TStringGrid::KeyPress(char &)
{
}

void TStringGrid::KeyUp(int &, Qt::KeyboardModifiers)
{
}
