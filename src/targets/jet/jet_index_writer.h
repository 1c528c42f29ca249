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
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

    // One page of the tree in memory. Its entries' sort keys (key, page as 3 bytes big-endian,
    // row) lie one after another in one buffer, so that an insertion moves bytes, not
    // objects; child pages (intermediate pages only) are kept beside them. While every key has
    // the same size (numeric keys always do) no table of where each key ends is needed.
    struct TNode {
        bool leaf = true;
        std::uint32_t previous = 0, next = 0, tail = 0;
        bool dirty = false;

        std::size_t Size() const { return count; }
        bool Empty() const { return count == 0; }
        std::string_view Key(std::size_t i) const {
            if (width != 0) return std::string_view(keys.data() + i * width, width);
            const std::size_t start = i == 0 ? 0 : ends[i - 1];
            return std::string_view(keys.data() + start, ends[i] - start);
        }
        std::string_view Front() const { return Key(0); }
        std::string_view Back() const { return Key(Size() - 1); }
        std::uint32_t Child(std::size_t i) const { return leaf ? 0 : children[i]; }
        // The bytes of all entries before prefix compression.
        std::size_t FullBytes() const { return keys.size() + (leaf ? 0 : 4 * Size()); }
        // The position of the first entry not less than `sortKey`.
        std::size_t LowerBound(std::string_view sortKey) const;
        void Insert(std::size_t i, std::string_view sortKey, std::uint32_t child = 0);
        void Append(std::string_view sortKey, std::uint32_t child = 0) {
            Insert(Size(), sortKey, child);
        }
        void SetKey(std::size_t i, std::string_view sortKey);
        // Keeps the first `kept` entries; returns a node (same kind, no links) with the rest.
        TNode SplitOff(std::size_t kept);
        void Clear();

      private:
        // From equal sizes to sizes of their own: fills `ends`.
        void Vary();
        std::string keys;
        std::size_t count = 0;
        std::size_t width = 0;                // every key's size, or 0: see `ends`
        std::vector<std::uint32_t> ends;      // where each key ends in `keys` (width 0)
        std::vector<std::uint32_t> children;  // beside the entries of an intermediate page
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
    // The pages from the root down to the leaf where `sortKey` belongs, into `path`.
    void Descend(std::string_view sortKey, std::vector<TStep>& path);
    std::uint32_t NewPage();
    // The sort key of the greatest entry below `page` (nullopt: its last leaf is empty).
    std::optional<std::string> MaxBelow(std::uint32_t page);
    void PropagateMax(const std::vector<TStep>& path, std::size_t level);
    void Split(std::vector<TStep>& path, std::size_t level, bool appendAtEnd);
    // The sort key of the entry before / at `position` of a leaf, looking into the leaves
    // beside it when the position is at its edge; nullopt at the ends of the index.
    std::optional<std::string_view> Before(std::uint32_t leaf, std::size_t position);
    std::optional<std::string_view> After(std::uint32_t leaf, std::size_t position);
    // The sort key of the first entry not less than `sortKey`, or nullopt.
    std::optional<std::string_view> AtOrAfter(std::string_view sortKey);
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
    std::vector<std::unique_ptr<TNode>> nodes_;  // by page number; read when first needed
    std::vector<TStep> path_;                    // reused by every insertion
    std::uint32_t distinct_ = 0;
};

}  // namespace qm::jet
