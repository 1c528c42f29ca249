// Opening a workbook package and reading every worksheet's rows and cell values: any bytes end
// in values or an Error. The quick scan of row shapes (with the inflate that maps the deflate
// stream for an append) must find exactly the rows and cells the full reading finds.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/sheet_reader.h"
#include "targets/xlsx/xlsx_internal.h"

namespace {

// Row numbers, cell columns and styles, and the layout; false on an Error.
bool Shapes(const qm::xlsx::TPackage& package, const std::string& part, bool quick,
            std::string& out) {
    try {
        std::unique_ptr<qm::xlsx::TSheetReader> reader;
        qm::xlsx::TStreamMap map;
        const qm::xlsx::TZipEntry* entry = package.FindPart(part);
        if (quick && entry && entry->Method == 8) {
            reader = std::make_unique<qm::xlsx::TSheetReader>(
                package, part,
                std::make_unique<qm::xlsx::TMappingZipInput>(package.Archive(), *entry, map));
        } else {
            reader = std::make_unique<qm::xlsx::TSheetReader>(package, part);
        }
        if (quick) reader->ShapesOnly();
        qm::xlsx::TRow row;
        while (reader->NextRow(row)) {
            out += std::to_string(row.Number) + ":";
            for (std::size_t i = 0; i < row.CellCount; ++i)
                out += std::to_string(row.Cells[i].Column) + "/" +
                       std::to_string(row.Cells[i].Style) + " ";
        }
        reader->Finish();
        out += std::to_string(reader->Layout().SheetDataClose) + " " +
               std::to_string(reader->Layout().AutoFilterEnd);
        return true;
    } catch (const qm::Error&) {
        return false;
    }
}

}  // namespace

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
            std::string full, quick;
            bool fullRead = Shapes(package, sheet.PartName, false, full);
            bool quickRead = Shapes(package, sheet.PartName, true, quick);
            if (fullRead != quickRead || full != quick) __builtin_trap();
        }
    } catch (const qm::Error&) {
    }
    return 0;
}
