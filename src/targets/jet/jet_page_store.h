// The pages of a database as a transaction sees them: the file's own pages, with the ones the
// transaction changed or added held in memory until the commit writes them. Nothing reaches
// the file before the commit, so dropping the store is the roll-back.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string_view>
#include <vector>

#include "targets/jet/jet_page_file.h"

namespace qm::jet {

class TJetPageStore {
  public:
    explicit TJetPageStore(const TJetPageFile& file) : file_(file), pageCount_(file.PageCount()) {}

    const TJetPageFile& File() const { return file_; }
    // Pages of the file plus the pages the transaction added.
    std::uint32_t PageCount() const { return pageCount_; }

    // The current bytes of a page; a damage error for pages that do not exist.
    const std::uint8_t* Read(std::uint32_t page) const;
    // The page made writable: its first write copies it into memory.
    std::uint8_t* Write(std::uint32_t page);
    // A new zeroed page at the end of the file.
    std::uint32_t Grow();

    using TPages = std::map<std::uint32_t, std::unique_ptr<std::uint8_t[]>>;
    // Every page written or added, by number.
    const TPages& Changed() const { return changed_; }
    bool Empty() const { return changed_.empty(); }

  private:
    // The changed page `page`, or nullptr.
    std::uint8_t* Held(std::uint32_t page) const {
        return page < byNumber_.size() ? byNumber_[page] : nullptr;
    }
    std::uint8_t* Keep(std::uint32_t page, std::unique_ptr<std::uint8_t[]> bytes);

    const TJetPageFile& file_;
    std::uint32_t pageCount_;
    TPages changed_;
    std::vector<std::uint8_t*> byNumber_;  // changed_'s pages found without a tree search
};

// The bytes of row `slot` of a data page held in `page` (a writable copy or not); throws a
// damage error naming `number` when the slot table does not fit.
struct TRowSpan {
    std::size_t start = 0;
    std::size_t size = 0;
};
TRowSpan RowSpanOf(const TJetPageFile& file, const std::uint8_t* page, std::uint32_t number,
                   std::uint16_t slot);

// An empty data page (type 1) owned by `owner` (a definition page, or kLongValueOwner).
inline constexpr std::uint32_t kLongValueOwner = 0x4C41564C;  // "LVAL"
void InitDataPage(std::uint8_t* page, std::uint32_t owner);
// Adds a row below the page's lowest row; returns its slot, or -1 when it does not fit (the
// row and its slot entry, or the 255 slots a row pointer can name).
int AddRowToPage(std::uint8_t* page, std::string_view row);
// Whether AddRowToPage would take a row of `size` bytes.
bool RowFits(const std::uint8_t* page, std::size_t size);

}  // namespace qm::jet
