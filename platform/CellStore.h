#pragma once

// The cells of the grid widget: each row's texts packed into one block cut
// from a block arena, the row's objects beside them.
//
// Built for speed and size; the scripts/bench.sh figures it holds up:
//  - grid_memory_100000_rows and grid_load_100000_rows(_cpu), in
//    bench/grid_load.cpp: one packed block per row, cut from shared chunks,
//    in place of a string and a heap block per cell;
//  - paint_top/middle/end_1000k, in bench/grid_paint.cpp: any row's cells
//    are found at once, so the end of a million rows paints as fast as the
//    top of a thousand;
//  - the growth_* figures of bench/scale.cpp: a sort exchanges rows by their
//    handles, passes read blocks in the order they were made, and Prefetch
//    lets a pass over rows that a sort has scattered overlap its waits, so
//    each step stays linear (n log n for the sort).

#include <cstdint>
#include <functional>
#include <string_view>
#include <vector>

// Base of whatever a grid cell's object slot can hold.
class TObject {
public:
    virtual ~TObject() = default;
};

// Where a cell store's text blocks live: blocks are cut from large chunks in
// the order they are made, so the rows of a load lie one after another in
// memory and a pass over them reads in order. A block's space comes back when
// every block of its chunk is gone: the chunk is then freed or, if blocks are
// still being cut from it, used again from its start.
class TBlockArena {
public:
    TBlockArena() = default;
    TBlockArena(const TBlockArena &) = delete;
    TBlockArena &operator=(const TBlockArena &) = delete;
    ~TBlockArena();

    char *Allocate(size_t bytes);
    // `bytes` as given to Allocate; null is ignored.
    void Free(char *block, size_t bytes);

private:
    struct Chunk {
        char *memory = nullptr;
        size_t size = 0;
        size_t used = 0;
        size_t live = 0;
    };
    uint32_t NewChunk(size_t size);
    char *Cut(uint32_t id, size_t bytes);

    std::vector<Chunk> m_chunks; // indexed by the id in front of each block
    std::vector<uint32_t> m_freeIds;
    uint32_t m_current = UINT32_MAX;
};

// The cells of a grid: one text and one object reference per (column, row),
// stored sparsely by row. An entry outlives any lowering of the grid's
// counts. Each row's texts are packed into one block (leading empty cells
// cost nothing, so inserting empty columns in front only bumps a count), a
// row's single object sits in the row itself, and two rows are exchanged by
// exchanging two handles. The store never frees objects: whoever put them
// there owns them.
class TCellStore {
public:
    static constexpr int kMaxCols = 32767;
    // How far ahead a pass over rows asks for them (see Prefetch).
    static constexpr int kRowsAhead = 16;

    TCellStore() = default;
    TCellStore(const TCellStore &) = delete;
    TCellStore &operator=(const TCellStore &) = delete;
    ~TCellStore();

    // Valid until the row is next changed.
    std::string_view Text(int col, int row) const;
    void SetText(int col, int row, std::string_view text);
    // Writes fields to columns firstCol, firstCol + 1, ... of one row at once.
    void SetTexts(int row, int firstCol, const std::vector<std::string_view> &fields);
    // Empties the texts of columns [col1, col2] of one row.
    void ClearTexts(int row, int col1, int col2);

    TObject *Object(int col, int row) const;
    void SetObject(int col, int row, TObject *object);
    // Columns of a row that hold an object, in ascending order.
    std::vector<int> ObjectCols(int row) const;
    // Offers each object of columns [col1, col2] of a row to `release`; the
    // slots of those it takes (returns true for) are emptied.
    void ReleaseObjects(int row, int col1, int col2, const std::function<bool(TObject *)> &release);

    // For each row below `rows`: new[dst + i] := old[src + i] for i < len,
    // texts and objects. An object whose source is not itself overwritten is
    // moved, not copied, so no two cells share one. Objects overwritten by
    // the move are offered to `release` first.
    using Release = std::function<bool(TObject *)>;
    void MoveCols(int rows, int dst, int src, int len, const Release &release);
    // For each row below `rows`: cells [col, limit - count) move `count`
    // places right, cells [col, col + count) become empty (texts and
    // objects), cells from `limit` on stay. Objects pushed out are offered
    // to `release`.
    void InsertEmptyCols(int rows, int col, int count, int limit, const Release &release);

    // Starts bringing a row's texts and object into the cache; any row. Once
    // a list has been sorted its rows lie scattered, and asking for the row
    // kRowsAhead further on lets the waits on memory overlap.
    void Prefetch(int row) const;

    // Exchanges two whole rows, every column included.
    void SwapRows(int a, int b);
    // Makes row `dst` hold the texts of row `src` and the same object
    // references (not owned twice: the caller forgets them again).
    void CopyRowRefs(int dst, int src);
    // Drops a row's entries without freeing its objects.
    void ForgetRow(int row);
    void Reserve(int rows);

    // Rows that have ever been written (the rest read as empty).
    int StoredRows() const { return int(m_rows.size()); }

private:
    struct ObjEntry {
        int col;
        TObject *object;
    };
    // A row: its text block and its objects. One object is held in place;
    // more are an array of entries sorted by column.
    struct Row {
        char *texts = nullptr;
        void *objects = nullptr;
        uint32_t objectCount = 0;
        int32_t singleCol = 0;
    };
    using Texts = std::vector<std::string_view>;

    static std::string_view TextOf(const char *block, uint32_t col);
    static uint32_t End(const char *block);
    static size_t SizeOf(const char *block);
    void FreeTexts(char *&block);
    char *Pack(const Texts &texts);
    static std::vector<ObjEntry> Entries(const Row &row);
    static void SetEntries(Row &row, const std::vector<ObjEntry> &entries);
    void FreeRow(Row &row);
    Row &RowAt(int row);
    void Repack(Row &row, const Texts &texts);
    // The texts of a row from column 0, at least minCount of them.
    Texts &Unpack(const Row &row, size_t minCount);
    static void CheckIndex(int col, int row);

    TBlockArena m_arena; // before the rows: their blocks live in it
    std::vector<Row> m_rows;
    Texts m_scratch;
};
