// Opening a compound file and reading every stream in its root storage: any bytes end in
// stream contents or an Error.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/error.h"
#include "targets/xls/cfb_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        qm::xls::TCompoundFile file(std::make_shared<qm::xlsx::TMemoryByteSource>(bytes));
        for (std::uint32_t entry : file.RootChildren()) {
            try {
                (void)file.ReadStream(entry);
            } catch (const qm::Error&) {
            }
        }
        (void)file.FindRootStream(u"Workbook");
    } catch (const qm::Error&) {
    }
    return 0;
}
