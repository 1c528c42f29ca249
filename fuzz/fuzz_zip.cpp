// The zip reader: any bytes give an archive or an Error, never a crash; entries that read
// back are checked against their declared size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "platform/error.h"
#include "targets/xlsx/zip_archive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    try {
        qm::xlsx::TZipArchive archive(std::make_shared<qm::xlsx::TMemoryByteSource>(bytes));
        for (const auto& entry : archive.Entries()) {
            try {
                std::string content = archive.ReadAll(entry, 1u << 20);
                if (content.size() != entry.UncompressedSize) std::abort();
            } catch (const qm::Error&) {
            }
        }
    } catch (const qm::Error&) {
    }
    return 0;
}
