#include "targets/jet/jet_long_value.h"

#include "targets/jet/jet_data_page.h"

namespace qm::jet {
namespace {

constexpr std::uint8_t kInline = 0x80;
constexpr std::uint8_t kSingleRow = 0x40;
constexpr std::uint32_t kLengthMask = 0x3FFFFFFF;

std::span<const std::uint8_t> LongValueRow(const TJetPageFile& file, std::uint32_t raw,
                                           std::vector<std::uint32_t>* pagesVisited) {
    const TRowPointer pointer = TRowPointer::FromRaw(raw);
    const TDataPage page(file, pointer.page);
    if (!page.IsLongValuePage()) file.FailDamaged(u"長いデータがLVALページ以外を指しています");
    if (pagesVisited != nullptr) pagesVisited->push_back(pointer.page);
    return page.Row(pointer.row);
}

}  // namespace

std::string ReadLongValue(const TJetPageFile& file, std::span<const std::uint8_t> reference,
                          std::vector<std::uint32_t>* pagesVisited) {
    if (reference.size() < kLongValueReferenceSize)
        file.FailDamaged(u"長いデータの参照が短すぎます");
    const std::uint32_t length = ReadU32(reference.data()) & kLengthMask;
    const std::uint8_t kind = reference[3];
    if (kind & kInline) {
        if (length > reference.size() - kLongValueReferenceSize)
            file.FailDamaged(u"行内の長いデータの長さが不正です");
        return std::string(reinterpret_cast<const char*>(reference.data()) + 12, length);
    }
    // No value can be longer than the file that holds it.
    if (length > static_cast<std::uint64_t>(file.PageCount()) * kPageSize)
        file.FailDamaged(u"長いデータの長さが不正です");
    std::uint32_t next = ReadU32(reference.data() + 4);
    if (kind & kSingleRow) {
        const auto row = LongValueRow(file, next, pagesVisited);
        if (length > row.size()) file.FailDamaged(u"長いデータの長さが不正です");
        return std::string(reinterpret_cast<const char*>(row.data()), length);
    }
    std::string value;
    value.reserve(length);
    // Every part carries at least one byte, so a chain longer than the value loops.
    for (std::uint32_t parts = 0; value.size() < length; ++parts) {
        if (next == 0 || parts > length) file.FailDamaged(u"長いデータの連鎖が不正です");
        const auto row = LongValueRow(file, next, pagesVisited);
        if (row.size() <= 4) file.FailDamaged(u"長いデータの連鎖が不正です");
        next = ReadU32(row.data());
        const std::size_t take = std::min<std::size_t>(row.size() - 4, length - value.size());
        value.append(reinterpret_cast<const char*>(row.data()) + 4, take);
    }
    return value;
}

}  // namespace qm::jet
