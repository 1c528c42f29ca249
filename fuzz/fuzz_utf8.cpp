// UTF-8 to UTF-16 and back: never crashes, and well-formed output survives a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "text/unicode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::u16string text = qm::Utf8ToUtf16(bytes);
    std::string again = qm::Utf16ToUtf8(text);
    if (qm::Utf8ToUtf16(again) != text) std::abort();
    return 0;
}
