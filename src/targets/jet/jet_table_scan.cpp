#include "targets/jet/jet_table_scan.h"

#include <algorithm>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_usage_map.h"

namespace qm::jet {
namespace {

// A moved row's target is not moved again by Access; a few hops of slack, then it is damage.
constexpr int kMaxLookupHops = 4;

}  // namespace

TTableScan::TTableScan(const TJetPageFile& file, const TTableDef& def) : file_(file), def_(def) {
    pages_ = ReadUsageMap(file, def.ownedMap).pages;
}

TTableScan::TPosition TTableScan::Position() const {
    if (page_ == nullptr) return {pageIndex_, 0, false};
    return {pageIndex_, slot_, true};
}

void TTableScan::Seek(TPosition position) {
    page_ = nullptr;
    if (!position.onPage || position.pageIndex == 0 || position.pageIndex > pages_.size()) {
        pageIndex_ = std::min(position.pageIndex, pages_.size());
        return;
    }
    // Reload the page the position is on (the one consumed last) and continue at its slot.
    pageIndex_ = position.pageIndex - 1;
    if (LoadPage() && pageIndex_ == position.pageIndex) slot_ = position.slot;
}

bool TTableScan::LoadPage() {
    while (pageIndex_ < pages_.size()) {
        const std::uint32_t number = pages_[pageIndex_++];
        // The owned map may name pages past the end or pages since given to others; only this
        // table's data pages hold its rows (the consistency checker reports the rest).
        if (number >= file_.PageCount()) continue;
        const std::uint8_t* page = file_.Page(number);
        if (page[0] != kPageData || ReadU32(page + 4) != def_.page) continue;
        const TDataPage checked(file_, number);
        page_ = page;
        pageNumber_ = number;
        slot_ = 0;
        slotCount_ = checked.SlotCount();
        return true;
    }
    return false;
}

bool TTableScan::Next(TLiveRow& row) {
    for (;;) {
        if (page_ == nullptr || slot_ >= slotCount_) {
            page_ = nullptr;
            if (!LoadPage()) return false;
            continue;
        }
        const std::uint16_t slot = slot_++;
        const std::uint16_t entry = ReadU16(page_ + kDataPageHeader + 2u * slot);
        // Deleted rows carry 0x8000 (with or without 0x4000); the target of a moved row carries
        // 0x8000 alone so that a scan meets its data only through the pointer.
        if (entry & kRowDeleted) continue;
        const TDataPage page(file_, pageNumber_);
        row.page = pageNumber_;
        row.slot = slot;
        row.bytes = page.Row(slot);
        row.moved = false;
        for (int hop = 0; entry & kRowLookup; ++hop) {
            if (hop >= kMaxLookupHops || row.bytes.size() < 4)
                file_.FailDamaged(u"移動された行の参照が不正です");
            const TRowPointer target = TRowPointer::FromRaw(ReadU32(row.bytes.data()));
            const TDataPage targetPage(file_, target.page);
            row.bytes = targetPage.Row(target.row);
            row.moved = true;
            if (!(targetPage.SlotFlags(target.row) & kRowLookup) ||
                (targetPage.SlotFlags(target.row) & kRowDeleted))
                break;
        }
        return true;
    }
}

}  // namespace qm::jet
