// Writing long values (Long Text, Hyperlink): the 12-byte reference a row holds, with the
// value inline when it is short, else as one row of an LVAL page or a chain of LVAL rows on
// pages that belong to the column's own usage maps.
#pragma once

#include <cstdint>
#include <string>

#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_table_def.h"

namespace qm::jet {

// Values up to this many bytes stay inside the row.
inline constexpr std::size_t kInlineLongValueMax = 64;

class TLongValueWriter {
  public:
    // `maps` may be null for a column whose definition has no maps (older Jet 4 files); its
    // pages are then tracked by nothing but the references, as Access leaves them.
    TLongValueWriter(TJetPageAllocator& allocator, const TLongValueMaps* maps);

    // Stores `value` and returns the reference for the row (12 bytes, plus the value when
    // inline).
    std::string Store(const std::string& value);

    // The reference as it will be for `value`, only its size: what the row will hold.
    static std::size_t ReferenceSize(std::size_t valueSize);

  private:
    std::uint32_t AddRow(std::string_view row);

    TJetPageAllocator& allocator_;
    TLongValueMaps maps_;
    bool hasMaps_;
    std::uint32_t current_ = 0;  // the LVAL page being filled, 0 before the first
};

}  // namespace qm::jet
