// Rows on data pages (type 0x01): the slot table, the row flags and each row's byte range.
#pragma once

#include <cstdint>
#include <span>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_page_file.h"

namespace qm::jet {

inline constexpr std::uint16_t kRowDeleted = 0x8000;
inline constexpr std::uint16_t kRowLookup = 0x4000;  // the row bytes point to where it moved
inline constexpr std::uint16_t kRowOffsetMask = 0x1FFF;
inline constexpr std::size_t kDataPageHeader = 14;

class TDataPage {
  public:
    // Checks the page's type and its slot table.
    TDataPage(const TJetPageFile& file, std::uint32_t number);

    std::uint32_t Number() const { return number_; }
    std::uint32_t Owner() const { return ReadU32(page_ + 4); }
    bool IsLongValuePage() const { return Owner() == 0x4C41564C; }  // "LVAL"
    std::uint16_t FreeSpace() const { return ReadU16(page_ + 2); }
    std::uint16_t SlotCount() const { return slots_; }
    std::uint16_t SlotFlags(std::uint16_t slot) const;
    // The bytes of one row (validated to lie inside the page, below the slot table).
    std::span<const std::uint8_t> Row(std::uint16_t slot) const;

  private:
    const TJetPageFile& file_;
    const std::uint8_t* page_;
    std::uint32_t number_;
    std::uint16_t slots_;
};

// The bytes of the row a pointer names (usage maps, long values, moved rows).
std::span<const std::uint8_t> RowAt(const TJetPageFile& file, TRowPointer pointer);

}  // namespace qm::jet
