// Handing out pages to a transaction and keeping usage maps (section rows of type 0 "inline"
// and type 1 "reference") up to date in the page store.
//
// A page comes from the free pages the global map (page 1, row 0) marks inside the file, the
// lowest first, and otherwise from growing the file. Either way its free bit is cleared. Pages
// beyond the window of an inline global map are outside any map, which every reader takes as
// "in use".
#pragma once

#include <cstdint>
#include <vector>

#include "targets/jet/jet_page_store.h"

namespace qm::jet {

inline constexpr std::uint32_t kGlobalMapPointer = 1u << 8;  // page 1, row 0

// The most pages a database may have: 2 GiB of 4096-byte pages, for Jet 4 and ACE alike.
inline constexpr std::uint32_t kMaxDatabasePages = (1u << 31) / kPageSize;
// The limit in force: kMaxDatabasePages, unless a test lowered it (0 restores it) to reach the
// limit without a file of that size.
std::uint32_t DatabasePageLimit();
void SetDatabasePageLimit(std::uint32_t pages);
// The message for an import that would pass the limit.
inline constexpr char16_t kDatabaseTooLargeMessage[] =
    u"Accessデータベースの大きさの上限（2 GB）を超えるため、行を追加できません。";

class TJetPageAllocator {
  public:
    explicit TJetPageAllocator(TJetPageStore& store);

    // A page for the caller to fill, zeroed, marked used in the global map.
    std::uint32_t Allocate();

    // Sets or clears the bit of `page` in the usage map stored at `rawPointer` (row in the low
    // byte). An inline map whose window does not reach the page moves its window when all its
    // pages still fit, and otherwise becomes a reference map with bitmap pages of its own.
    void SetBit(std::uint32_t rawPointer, std::uint32_t page, bool value);

    TJetPageStore& Store() { return store_; }

  private:
    void SetInline(std::uint8_t* row, std::size_t size, std::uint32_t page, bool value);
    void SetReference(std::uint8_t* row, std::size_t size, std::uint32_t page, bool value);

    TJetPageStore& store_;
    std::vector<std::uint32_t> reusable_;  // free pages inside the file, highest first
};

}  // namespace qm::jet
