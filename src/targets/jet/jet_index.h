// Index pages (0x03 intermediate, 0x04 leaf) and the walk over one physical index's B-tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "targets/jet/jet_page_file.h"

namespace qm::jet {

inline constexpr std::size_t kIndexEntriesStart = 480;
inline constexpr std::size_t kIndexBitmapStart = 27;

struct TIndexEntry {
    std::string key;         // the key bytes (without the row pointer)
    std::uint32_t page = 0;  // row the entry stands for
    std::uint8_t row = 0;
    std::uint32_t child = 0;  // intermediate pages: the child page
    // The bytes the tree is ordered by: key, page (3 bytes big-endian), row.
    std::string SortKey() const;
};

// Puts the sort key of an entry with these key bytes and row pointer into `out`, reusing its
// storage: walks over millions of entries build one per entry.
void SortKeyInto(std::string& out, std::string_view key, std::uint32_t page, std::uint8_t row);

struct TIndexPage {
    std::uint32_t number = 0;
    bool leaf = true;
    std::uint32_t owner = 0;
    std::uint32_t previous = 0;
    std::uint32_t next = 0;
    std::uint32_t tail = 0;  // intermediate pages: the last child, which has no entry
    std::vector<TIndexEntry> entries;
};

// Decodes one index page: the entry boundaries from the bitmap, the shared prefix, and each
// entry's key and pointers. Throws a damage error when they do not fit the page.
TIndexPage ReadIndexPage(const TJetPageFile& file, std::uint32_t number);

// The whole tree below `root`, visited depth first.
struct TIndexTree {
    std::vector<TIndexPage> pages;         // every page reached, each after those below it
    std::vector<TIndexEntry> leafEntries;  // leaf entries in tree order (kEntries only)
    std::vector<std::uint32_t> leafPages;  // leaves in tree order
    std::vector<std::u16string> problems;  // structural faults found on the way
    std::size_t leafEntryCount = 0;
    // Position in tree order of the first leaf entry not greater than the one before it.
    std::optional<std::size_t> firstDisorder;
};
// What a walk keeps: every entry, or only the pages' headers (their entries dropped once
// checked), which is all a look at the tree's shape, pages and order needs and keeps the
// memory of a walk over millions of rows to its pages.
enum class TIndexWalk { kEntries, kShape };
TIndexTree WalkIndexTree(const TJetPageFile& file, std::uint32_t root,
                         TIndexWalk keep = TIndexWalk::kEntries);

}  // namespace qm::jet
