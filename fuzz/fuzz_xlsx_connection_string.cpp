// Reading connection strings and converting text to field types: any input gives a result or
// an Error, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/error.h"
#include "targets/connection_string.h"
#include "targets/field_conversion.h"
#include "text/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string text =
        qm::Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(data), size));
    try {
        qm::ParseConnectionString(text);
    } catch (const qm::Error&) {
    }
    for (int type = 0; type <= 51; ++type) {
        qm::TFieldDef field;
        field.Name = u"f";
        field.DataType = static_cast<qm::TFieldType>(type);
        field.Precision = 10;
        field.Scale = 2;
        try {
            qm::ConvertFieldText(field, text);
        } catch (const qm::Error&) {
        }
    }
    return 0;
}
