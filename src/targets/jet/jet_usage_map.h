// Usage maps: bitmaps, stored as rows, that say which pages belong to a table, an index or a
// long-value column, and (page 1) which pages of the file are free.
#pragma once

#include <cstdint>
#include <vector>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_page_file.h"

namespace qm::jet {

struct TUsageMap {
    // Page numbers whose bit is set, ascending. Pages beyond the end of the file are kept:
    // the global map marks them free, and for other maps the checker reports them.
    std::vector<std::uint32_t> pages;
    bool reference = false;                  // type 1: the bitmap lives on separate usage-map pages
    std::vector<std::uint32_t> bitmapPages;  // those pages

    bool Contains(std::uint32_t page) const;
};

// Reads the map stored in the row at `pointer` (raw 4-byte form: row in the low byte); a zero
// pointer is an empty map.
TUsageMap ReadUsageMap(const TJetPageFile& file, std::uint32_t rawPointer);

}  // namespace qm::jet
