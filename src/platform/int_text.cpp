#include "platform/int_text.h"

namespace qm {

namespace {

int DigitValue(char16_t c, bool hex) noexcept {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (!hex) return -1;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::int32_t> TryStrToInt(std::u16string_view text) noexcept {
    std::size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    bool hex = false;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hex = true;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0' &&
               (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == text.size()) return std::nullopt;
    // The magnitude may reach 2^31 only for a negative value.
    const std::uint64_t limit = negative ? 0x80000000ull : 0x7FFFFFFFull;
    const unsigned base = hex ? 16 : 10;
    std::uint64_t magnitude = 0;
    for (; i < text.size(); ++i) {
        int digit = DigitValue(text[i], hex);
        if (digit < 0) return std::nullopt;
        magnitude = magnitude * base + static_cast<unsigned>(digit);
        if (magnitude > limit) return std::nullopt;
    }
    std::int64_t value =
        negative ? -static_cast<std::int64_t>(magnitude) : static_cast<std::int64_t>(magnitude);
    return static_cast<std::int32_t>(value);
}

}  // namespace qm
