// Opening a .xls workbook and reading every worksheet as the engine does: the table layout
// from its first rows and the columns of the rows below, then every row's cells. Any bytes end in
// values or an Error.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/error.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xls/xls_sheet.h"
#include "targets/xls/xls_workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        qm::xls::TXlsWorkbook book(std::make_shared<qm::xlsx::TMemoryByteSource>(bytes));
        for (std::size_t i = 0; i < book.Sheets().size(); ++i) {
            if (!book.Sheets()[i].Worksheet()) continue;
            try {
                qm::xls::TXlsSheet sheet(book, i);
                std::vector<qm::xls::TXlsCell> cells;
                std::uint32_t next = 0, row = 0;
                qm::sheet::TLayoutRowSource rows = [&](std::uint32_t& number,
                                                       std::vector<qm::sheet::TLayoutCell>& out) {
                    if (!sheet.NextRowWithCells(next, row)) return false;
                    next = row + 1;
                    number = row + 1;
                    sheet.ReadRow(row, cells);
                    out.clear();
                    for (auto& cell : cells)
                        out.push_back({cell.Column + 1u, std::move(cell.Value), false});
                    return true;
                };
                // The rows below the sampled ones are looked at as the engine does.
                qm::sheet::TLayoutColumnScan scan = [&](std::uint32_t, std::uint32_t,
                                                        std::vector<bool>& used) {
                    sheet.MarkColumnsWithValues(next, used);
                };
                (void)qm::sheet::ReadTableLayout(rows, nullptr, u"t", book.FileName(), scan);
                for (std::uint32_t r = 0; r < sheet.RowEnd(); ++r) {
                    sheet.ReadRow(r, cells);
                    for (const auto& cell : cells)
                        (void)qm::ValueToDisplayText(cell.Value);
                }
            } catch (const qm::Error&) {
            }
        }
    } catch (const qm::Error&) {
    }
    return 0;
}
