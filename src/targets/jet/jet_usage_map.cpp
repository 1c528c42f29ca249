#include "targets/jet/jet_usage_map.h"

#include <algorithm>

#include "targets/jet/jet_data_page.h"

namespace qm::jet {
namespace {

// A map never covers more pages than a 2 GiB file can have (plus one bitmap page of slack).
constexpr std::uint64_t kMaxMappedPage = (2ull << 30) / kPageSize + 4092 * 8;

void AddBits(const std::uint8_t* bits, std::size_t bytes, std::uint64_t firstPage,
             std::vector<std::uint32_t>& out) {
    for (std::size_t i = 0; i < bytes; ++i) {
        if (bits[i] == 0) continue;
        for (int b = 0; b < 8; ++b)
            if (bits[i] & (1u << b)) {
                const std::uint64_t page = firstPage + i * 8 + b;
                if (page < kMaxMappedPage) out.push_back(static_cast<std::uint32_t>(page));
            }
    }
}

}  // namespace

bool TUsageMap::Contains(std::uint32_t page) const {
    return std::binary_search(pages.begin(), pages.end(), page);
}

TUsageMap ReadUsageMap(const TJetPageFile& file, std::uint32_t rawPointer) {
    // Page 0 is the header, so a zero pointer means the map does not exist (yet); Access leaves
    // the free-space map of a long-value column at zero until the column needs one.
    if (rawPointer == 0) return {};
    const auto row = RowAt(file, TRowPointer::FromRaw(rawPointer));
    if (row.empty()) file.FailDamaged(u"使用状況マップが空です");
    TUsageMap map;
    if (row[0] == 0) {
        if (row.size() < 5) file.FailDamaged(u"使用状況マップが短すぎます");
        AddBits(row.data() + 5, row.size() - 5, ReadU32(row.data() + 1), map.pages);
    } else if (row[0] == 1) {
        map.reference = true;
        constexpr std::uint64_t kPagesPerBitmapPage = (kPageSize - 4) * 8;
        for (std::size_t i = 0; 1 + 4 * (i + 1) <= row.size(); ++i) {
            const std::uint32_t bitmapPage = ReadU32(row.data() + 1 + 4 * i);
            if (bitmapPage == 0) continue;
            const std::uint8_t* page = file.PageOfType(bitmapPage, kPageUsageMap);
            map.bitmapPages.push_back(bitmapPage);
            AddBits(page + 4, kPageSize - 4, i * kPagesPerBitmapPage, map.pages);
        }
        std::sort(map.pages.begin(), map.pages.end());
        map.pages.erase(std::unique(map.pages.begin(), map.pages.end()), map.pages.end());
    } else {
        file.FailDamaged(u"使用状況マップの種類が不明です");
    }
    return map;
}

}  // namespace qm::jet
