// Opening a workbook package and reading every worksheet's rows and cell values: any bytes end
// in values or an Error.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/error.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/sheet_reader.h"
#include "targets/xlsx/xlsx_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        qm::xlsx::TPackage package(std::make_shared<qm::xlsx::TMemoryByteSource>(bytes));
        for (const auto& sheet : package.Sheets()) {
            if (!sheet.Worksheet) continue;
            try {
                qm::xlsx::TSheetReader reader(package, sheet.PartName);
                qm::xlsx::TRow row;
                while (reader.NextRow(row)) {
                    for (std::size_t i = 0; i < row.CellCount; ++i) {
                        (void)qm::xlsx::CellHoldsValue(package, row.Cells[i]);
                        qm::TValue value = qm::xlsx::CellValue(package, row.Cells[i]);
                        (void)qm::ValueToDisplayText(value);
                    }
                }
                reader.Finish();
            } catch (const qm::Error&) {
            }
        }
    } catch (const qm::Error&) {
    }
    return 0;
}
