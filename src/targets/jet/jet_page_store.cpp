#include "targets/jet/jet_page_store.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "targets/jet/jet_data_page.h"
#include "text/unicode.h"

namespace qm::jet {

const std::uint8_t* TJetPageStore::Read(std::uint32_t page) const {
    if (const std::uint8_t* bytes = Held(page)) return bytes;
    return file_.Page(page);
}

std::uint8_t* TJetPageStore::Keep(std::uint32_t page, std::unique_ptr<std::uint8_t[]> bytes) {
    std::uint8_t* kept = bytes.get();
    changed_[page] = std::move(bytes);
    if (page >= byNumber_.size())
        byNumber_.resize(std::max<std::size_t>(page + 1, 2 * byNumber_.size()));
    byNumber_[page] = kept;
    return kept;
}

std::uint8_t* TJetPageStore::Write(std::uint32_t page) {
    if (std::uint8_t* bytes = Held(page)) return bytes;
    auto copy = std::make_unique_for_overwrite<std::uint8_t[]>(kPageSize);
    std::memcpy(copy.get(), file_.Page(page), kPageSize);
    return Keep(page, std::move(copy));
}

std::uint32_t TJetPageStore::Grow() {
    const std::uint32_t page = pageCount_++;
    Keep(page, std::make_unique<std::uint8_t[]>(kPageSize));  // zeroed
    return page;
}

TRowSpan RowSpanOf(const TJetPageFile& file, const std::uint8_t* page, std::uint32_t number,
                   std::uint16_t slot) {
    const std::uint16_t slots = ReadU16(page + 12);
    auto fail = [&] {
        file.FailDamaged(u"データページ " + Utf8ToUtf16(std::to_string(number)) +
                         u" の行の位置が不正です");
    };
    if (page[0] != kPageData || slot >= slots || kDataPageHeader + 2u * slots > kPageSize) fail();
    const std::size_t start = ReadU16(page + kDataPageHeader + 2u * slot) & kRowOffsetMask;
    const std::size_t end =
        slot == 0 ? kPageSize
                  : (ReadU16(page + kDataPageHeader + 2u * (slot - 1)) & kRowOffsetMask);
    if (start < kDataPageHeader + 2u * slots || end > kPageSize || start > end) fail();
    return {start, end - start};
}

namespace {
constexpr std::uint16_t kMaxSlots = 255;  // a row pointer has one byte for the slot
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
}  // namespace

void InitDataPage(std::uint8_t* page, std::uint32_t owner) {
    std::memset(page, 0, kPageSize);
    page[0] = kPageData;
    page[1] = 1;
    Put16(page + 2, kPageSize - kDataPageHeader);
    Put16(page + 4, owner & 0xFFFF);
    Put16(page + 6, owner >> 16);
}

bool RowFits(const std::uint8_t* page, std::size_t size) {
    return size + 2 <= ReadU16(page + 2) && ReadU16(page + 12) < kMaxSlots;
}

int AddRowToPage(std::uint8_t* page, std::string_view row) {
    if (!RowFits(page, row.size())) return -1;
    const std::uint16_t free = ReadU16(page + 2);
    const std::uint16_t count = ReadU16(page + 12);
    const std::size_t top =
        count == 0 ? kPageSize
                   : (ReadU16(page + kDataPageHeader + 2u * (count - 1)) & kRowOffsetMask);
    // The free-space field is trusted only as far as the page's own geometry agrees.
    if (top < row.size() || top - row.size() < kDataPageHeader + 2u * (count + 1u)) return -1;
    const std::size_t start = top - row.size();
    std::memcpy(page + start, row.data(), row.size());
    Put16(page + kDataPageHeader + 2u * count, static_cast<std::uint32_t>(start));
    Put16(page + 12, count + 1u);
    Put16(page + 2, static_cast<std::uint32_t>(free - row.size() - 2));
    return count;
}

}  // namespace qm::jet
