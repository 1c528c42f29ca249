#include "targets/jet/jet_import_volume.h"

#include <algorithm>

#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_usage_map.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::uint64_t DivideUp(std::uint64_t a, std::uint64_t b) {
    return (a + b - 1) / b;
}

// A page count less the one page already partly filled, which may take the first of the new
// bytes.
std::uint64_t LessOne(std::uint64_t pages) {
    return pages > 0 ? pages - 1 : 0;
}

}  // namespace

std::uint64_t MinimumPagesAdded(const TJetTable& table, const TImportVolume& volume) {
    const TTableDef& def = table.Def();
    if (volume.Rows == 0) return 0;
    // Every row: its column count, its fixed area, its null mask, the variable-offset table
    // when the table has variable columns, and its slot in the page's offset table.
    std::uint64_t fixedArea = 0;
    for (const auto& column : def.columns)
        if (column.IsFixed() && column.type != kTypeBoolean)
            fixedArea = std::max<std::uint64_t>(fixedArea, column.fixedOffset + FixedSize(column));
    const std::uint64_t columns = def.columns.size();
    std::uint64_t perRow = 2 + fixedArea + (columns + 7) / 8 + 2;
    if (def.varColumns > 0) perRow += 2 + 2 * (static_cast<std::uint64_t>(def.varColumns) + 1);
    // Text takes at least a byte a character (the compressed form), two where the column does
    // not compress; long texts the same, in the row or on long-value pages.
    std::uint64_t textBytes = 0;
    const auto& fields = table.Fields();
    for (const auto& field : volume.Fields) {
        if (field.Field >= fields.size()) continue;
        const TColumnDef& column = *fields[field.Field].column;
        if (column.type != kTypeText && column.type != kTypeMemo) continue;
        const bool compressible = (column.extFlags & kColumnCompressible) != 0;
        textBytes += field.Characters * (compressible ? 1 : 2);
    }
    const std::uint64_t usable = kPageSize - kDataPageHeader;
    std::uint64_t pages = LessOne(
        std::max(DivideUp(volume.Rows * perRow + textBytes, usable), DivideUp(volume.Rows, 255)));
    // Every index that keeps an entry for every row: at least the 4-byte row pointer of each
    // entry (prefix compression may share all of the key) on leaves of 3616 bytes.
    for (const auto& index : def.physicalIndexes)
        if ((index.flags & kIndexIgnoreNulls) == 0)
            pages += LessOne(DivideUp(volume.Rows * 4, kIndexEntryArea));
    return pages;
}

void RefuseOversizedImport(const TJetDatabase& database, const TJetTable& table,
                           const TImportVolume& volume) {
    const TJetPageFile& file = database.File();
    const std::uint64_t added = MinimumPagesAdded(table, volume);
    std::uint64_t free = 0;
    for (const std::uint32_t page : ReadUsageMap(file, kGlobalMapPointer).pages)
        if (page > 2 && page < file.PageCount()) ++free;
    const std::uint64_t total = file.PageCount() + (added > free ? added - free : 0);
    if (total <= DatabasePageLimit()) return;
    auto megabytes = [](std::uint64_t pages) {
        return Utf8ToUtf16(std::to_string(DivideUp(pages * kPageSize, 1u << 20)));
    };
    FailWithFile(std::u16string(kDatabaseTooLargeMessage) + u"（追加する " +
                     Utf8ToUtf16(std::to_string(volume.Rows)) + u" 行に少なくとも " +
                     megabytes(added) + u" MB が必要で、ファイルは " + megabytes(file.PageCount()) +
                     u" MB、上限は " + megabytes(DatabasePageLimit()) + u" MB です）",
                 file.Path());
}

}  // namespace qm::jet
