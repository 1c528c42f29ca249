// Appending to a .xls workbook as the engine does, entirely in memory: open the workbook,
// append a row of text, a number, a date and a boolean to every worksheet, build the new
// Workbook stream and write the compound file, then read the result again. Any bytes end in
// a written workbook or an Error.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/error.h"
#include "targets/xls/cfb_writer.h"
#include "targets/xls/xls_append.h"
#include "targets/xls/xls_workbook.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::string written;
    try {
        qm::xls::TXlsWorkbook book(std::make_shared<qm::xlsx::TMemoryByteSource>(bytes));
        qm::xls::TXlsAppender appender(book);
        std::vector<qm::TFieldDef> fields(4);
        for (std::size_t i = 0; i < book.Sheets().size(); ++i) {
            if (!book.Sheets()[i].Worksheet()) continue;
            try {
                qm::xls::TAppendTarget target{u"t", static_cast<int>(i), -1, {}};
                appender.AppendRow(
                    target, {1, 2, 3, 256}, fields,
                    {std::u16string(u"文字 text"), 12.5, qm::TDateTime{45322.5}, true});
                appender.AppendRow(target, {2, 1}, fields, {std::int64_t{-7}, std::u16string()});
            } catch (const qm::Error&) {
            }
        }
        std::string stream = appender.BuildStream([] {});
        qm::xls::WriteCompoundFile(
            book.Compound(), book.WorkbookEntry(), stream,
            [&written](std::string_view piece) { written.append(piece); }, [] {});
    } catch (const qm::Error&) {
        return 0;
    }
    try {
        qm::xls::TXlsWorkbook again(std::make_shared<qm::xlsx::TMemoryByteSource>(written));
    } catch (const qm::Error&) {
    }
    return 0;
}
