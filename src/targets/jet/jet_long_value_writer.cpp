#include "targets/jet/jet_long_value_writer.h"

#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_usage_map.h"

namespace qm::jet {
namespace {

constexpr std::uint8_t kInline = 0x80;
constexpr std::uint8_t kSingleRow = 0x40;
// The most a single LVAL row takes, and the data of one part of a chain (after its pointer).
constexpr std::size_t kSingleRowMax = 4076;
constexpr std::size_t kChainPartMax = kSingleRowMax - 4;

void Put32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}

}  // namespace

TLongValueWriter::TLongValueWriter(TJetPageAllocator& allocator, const TLongValueMaps* maps)
    : allocator_(allocator), maps_(maps ? *maps : TLongValueMaps{}), hasMaps_(maps != nullptr) {
    // Continue filling the page the column's free-space map names, as Access does.
    if (!hasMaps_ || maps_.free == 0) return;
    const TJetPageStore& store = allocator_.Store();
    const TUsageMap free = ReadUsageMap(store.File(), maps_.free);
    const TUsageMap owned = ReadUsageMap(store.File(), maps_.owned);
    for (auto it = free.pages.rbegin(); it != free.pages.rend(); ++it) {
        if (*it >= store.PageCount() || !owned.Contains(*it)) continue;
        const std::uint8_t* page = store.Read(*it);
        if (page[0] == kPageData && ReadU32(page + 4) == kLongValueOwner) {
            current_ = *it;
            break;
        }
    }
}

std::size_t TLongValueWriter::ReferenceSize(std::size_t valueSize) {
    return valueSize <= kInlineLongValueMax ? 12 + valueSize : 12;
}

std::uint32_t TLongValueWriter::AddRow(std::string_view row) {
    TJetPageStore& store = allocator_.Store();
    if (current_ != 0) {
        const int slot = AddRowToPage(store.Write(current_), row);
        if (slot >= 0) return (current_ << 8) | static_cast<std::uint32_t>(slot);
    }
    const std::uint32_t previous = current_;
    current_ = allocator_.Allocate();
    InitDataPage(store.Write(current_), kLongValueOwner);
    if (hasMaps_) {
        if (maps_.owned != 0) allocator_.SetBit(maps_.owned, current_, true);
        if (maps_.free != 0) {
            if (previous != 0) allocator_.SetBit(maps_.free, previous, false);
            allocator_.SetBit(maps_.free, current_, true);
        }
    }
    const int slot = AddRowToPage(store.Write(current_), row);
    return (current_ << 8) | static_cast<std::uint32_t>(slot);
}

std::string TLongValueWriter::Store(const std::string& value) {
    std::string reference(12, '\0');
    const auto length = static_cast<std::uint32_t>(value.size());
    Put32(reference, 0, length);
    if (value.size() <= kInlineLongValueMax) {
        reference[3] = static_cast<char>(kInline);
        return reference + value;
    }
    if (value.size() <= kSingleRowMax) {
        reference[3] = static_cast<char>(kSingleRow);
        Put32(reference, 4, AddRow(value));
        return reference;
    }
    // A chain: the parts are written last to first, so that each knows where the next is.
    std::uint32_t next = 0;
    std::size_t end = value.size();
    const std::size_t parts = (value.size() + kChainPartMax - 1) / kChainPartMax;
    for (std::size_t part = parts; part-- > 0;) {
        const std::size_t start = part * kChainPartMax;
        std::string row(4, '\0');
        Put32(row, 0, next);
        row.append(value, start, end - start);
        next = AddRow(row);
        end = start;
    }
    Put32(reference, 4, next);
    return reference;
}

}  // namespace qm::jet
