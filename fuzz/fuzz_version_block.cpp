// The version-information reader on arbitrary blocks: never read outside the block, and a
// value found always lies inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "about/app_version_info.h"
#include "about/version_block.h"
#include "platform/error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string block(reinterpret_cast<const char*>(data), size);
    for (std::u16string_view path : {u"\\", u"\\VarFileInfo\\Translation",
                                     u"\\StringFileInfo\\041103A4\\FileVersion", u"\\\\a\\"}) {
        if (auto value = qm::QueryVersionValue(block, path)) {
            if (value->data() < block.data() || value->data() + value->size() > block.data() + size)
                std::abort();
        }
    }
    try {
        const qm::TAppVersionInfo info(block);
        for (int key = 0; key <= static_cast<int>(qm::TVersionInfoKey::ProductVersion); ++key)
            (void)info.GetValue(static_cast<qm::TVersionInfoKey>(key));
    } catch (const qm::Error&) {
    }
    return 0;
}
