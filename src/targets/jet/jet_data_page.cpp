#include "targets/jet/jet_data_page.h"

#include <string>

#include "text/unicode.h"

namespace qm::jet {

TDataPage::TDataPage(const TJetPageFile& file, std::uint32_t number)
    : file_(file), page_(file.PageOfType(number, kPageData)), number_(number) {
    slots_ = ReadU16(page_ + 12);
    if (kDataPageHeader + 2u * slots_ > kPageSize)
        file.FailDamaged(u"データページ " + Utf8ToUtf16(std::to_string(number)) +
                         u" の行数が大きすぎます");
}

std::uint16_t TDataPage::SlotFlags(std::uint16_t slot) const {
    return ReadU16(page_ + kDataPageHeader + 2u * slot) & ~kRowOffsetMask;
}

std::span<const std::uint8_t> TDataPage::Row(std::uint16_t slot) const {
    if (slot >= slots_)
        file_.FailDamaged(u"データページ " + Utf8ToUtf16(std::to_string(number_)) +
                          u" にない行を指しています");
    // Rows are packed downward from the page end: each row ends where the previous slot's
    // row begins.
    const std::size_t start = ReadU16(page_ + kDataPageHeader + 2u * slot) & kRowOffsetMask;
    const std::size_t end =
        slot == 0 ? kPageSize
                  : (ReadU16(page_ + kDataPageHeader + 2u * (slot - 1)) & kRowOffsetMask);
    if (start < kDataPageHeader + 2u * slots_ || end > kPageSize || start > end)
        file_.FailDamaged(u"データページ " + Utf8ToUtf16(std::to_string(number_)) +
                          u" の行の位置が不正です");
    return {page_ + start, end - start};
}

std::span<const std::uint8_t> RowAt(const TJetPageFile& file, TRowPointer pointer) {
    return TDataPage(file, pointer.page).Row(pointer.row);
}

}  // namespace qm::jet
