// The text-index key encoder over arbitrary UTF-16 text under each supported sort order: a key
// or a refusal, never a crash; a refusal names a position inside the value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "targets/jet/jet_text_key.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > 4096) return 0;
    static constexpr qm::jet::TTextSortOrder kOrders[] = {{1033, 0}, {1041, 0}, {1033, 1}};
    const qm::jet::TTextSortOrder order = kOrders[data[0] % 3];
    std::u16string text;
    for (std::size_t i = 1; i + 1 < size; i += 2)
        text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    const qm::jet::TTextKey key = qm::jet::EncodeTextKey(text, order);
    if (key.refusal ? key.refusal->position >= text.size() && key.refusal->character != 0
                    : key.bytes.size() < 3)
        std::abort();
    return 0;
}
