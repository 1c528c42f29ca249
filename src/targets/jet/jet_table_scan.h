// A lazy scan over the live rows of one table: the pages of its owned-pages map in page order,
// each page's slots in slot order, skipping deleted rows and following moved ("lookup") rows to
// where their bytes are. Nothing is read before it is asked for, so the first rows of a large
// table are available at once.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "targets/jet/jet_page_file.h"
#include "targets/jet/jet_table_def.h"

namespace qm::jet {

struct TLiveRow {
    std::uint32_t page = 0;  // where the row's slot is (what index entries point to)
    std::uint16_t slot = 0;
    std::span<const std::uint8_t> bytes;  // the row's data, after following a move
    bool moved = false;
};

class TTableScan {
  public:
    TTableScan(const TJetPageFile& file, const TTableDef& def);

    // Fills `row` with the next live row; false at the end.
    bool Next(TLiveRow& row);

    // Where the scan stands, to come back to it later (random access to rows by number).
    struct TPosition {
        std::size_t pageIndex = 0;  // pages consumed from the owned map
        std::uint16_t slot = 0;     // next slot on the last page consumed
        bool onPage = false;        // false: before the first page or past the last one
    };
    TPosition Position() const;
    void Seek(TPosition position);

  private:
    bool LoadPage();

    const TJetPageFile& file_;
    const TTableDef& def_;
    std::vector<std::uint32_t> pages_;
    std::size_t pageIndex_ = 0;
    const std::uint8_t* page_ = nullptr;
    std::uint32_t pageNumber_ = 0;
    std::uint16_t slot_ = 0;
    std::uint16_t slotCount_ = 0;
};

}  // namespace qm::jet
