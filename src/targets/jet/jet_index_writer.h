// Adding entries to one physical index of a table: the B-tree's pages are decoded once and
// kept in memory while the transaction runs, entries go in key order, pages that overflow
// split (a new last leaf at the right edge takes just the new entry, as Jet does for
// ever-growing keys; elsewhere the upper half moves to a new page), parent entries and tail
// pointers follow, and Finish encodes every changed page back into the page store.
//
// A parent holds, for every child but the last, a copy of the greatest entry below it; the
// last child is named only by the page's tail field.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "targets/jet/jet_database.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_row.h"
#include "targets/jet/jet_row_index_key.h"

namespace qm::jet {

// The usable entry area of an index page.
inline constexpr std::size_t kIndexEntryArea = kPageSize - 480;

class TJetIndexWriter {
  public:
    TJetIndexWriter(TJetPageAllocator& allocator, const TJetTable& table, std::size_t physical);

    // The key of a row, or nullopt when the row has no entry (all columns NULL in an index
    // that ignores nulls). `pending` gives the Long Text values not stored yet. Throws Error
    // naming the index, the field, the value and the first character when a text value
    // cannot be keyed.
    std::optional<std::string> KeyOf(const TRowLayout& row, const TPendingText& pending) const;

    // Throws Error, naming the index's fields and the row's values, when the row may not
    // enter the index: a NULL in a primary key or required index, or a key a unique index
    // already holds (text keys fold case, width and kana type, so "abc" takes the key of
    // "ABC"; the message then names the value already there).
    void RefuseDuplicate(const std::optional<std::string>& key, const TRowLayout& row,
                         const TPendingText& pending);

    void Insert(const std::string& key, std::uint32_t page, std::uint8_t row);

    // Whether an entry with exactly this key is in the index (the rows inserted so far
    // included).
    bool Contains(const std::string& key);

    // Encodes the changed pages into the store.
    void Finish();

    // Keys added that differed from both neighbours (the definition's statistics).
    std::uint32_t DistinctAdded() const { return distinct_; }

    // For the fuzz target and tests: the entries of a page as they are encoded.
    struct TEntry {
        std::string sortKey;  // key, page (3 bytes big-endian), row
        std::uint32_t child = 0;
    };
    struct TNode {
        bool leaf = true;
        std::uint32_t previous = 0, next = 0, tail = 0;
        std::vector<TEntry> entries;
        std::size_t bytes = 0;  // sum of the entries' full sizes
        bool dirty = false;
    };
    // The bytes used by a node's entries after prefix compression.
    static std::size_t UsedBytes(const TNode& node);
    // A page image of `node` (throws Error when it does not fit).
    static void EncodeNode(const TNode& node, std::uint32_t owner, std::uint8_t* page);

  private:
    struct TStep {
        std::uint32_t page;
        int entry;  // the parent's entry that leads here; -1: its tail (or the root)
    };
    TNode& Node(std::uint32_t page);
    std::vector<TStep> Descend(const std::string& sortKey);
    std::uint32_t NewPage();
    void PropagateMax(const std::vector<TStep>& path, std::size_t level);
    void Split(std::vector<TStep>& path, std::size_t level, bool appendAtEnd);
    const TEntry* Before(std::uint32_t leaf, std::size_t position);
    const TEntry* After(std::uint32_t leaf, std::size_t position);
    std::u16string Fields() const;
    std::u16string Values(const TRowLayout& row, const TPendingText& pending) const;
    std::u16string StoredValues(std::string_view sortKey) const;
    // Throws the duplicate-key error of `row`, whose key the entry `existing` already has.
    [[noreturn]] void FailDuplicate(std::string_view existing, const TRowLayout& row,
                                    const TPendingText& pending) const;

    TJetPageAllocator& allocator_;
    const TJetTable& table_;
    const TTableDef& def_;
    const TPhysicalIndex& index_;
    TRowDecoder decoder_;
    std::u16string name_;
    bool unique_ = false;
    bool required_ = false;
    std::unordered_map<std::uint32_t, TNode> nodes_;  // references stay valid on insertion
    std::uint32_t distinct_ = 0;
};

}  // namespace qm::jet
