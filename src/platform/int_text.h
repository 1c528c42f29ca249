// Reading a whole text as a signed 32-bit integer, the way the platform's runtime library does
// for relation indexes and INI values: optional leading spaces, an optional sign, then decimal
// digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X"; nothing may follow.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qm {

// The value, or nothing for an empty text, a stray character or a value outside the range of
// a signed 32-bit integer.
std::optional<std::int32_t> TryStrToInt(std::u16string_view text) noexcept;

inline std::int32_t StrToIntDef(std::u16string_view text, std::int32_t fallback) noexcept {
    return TryStrToInt(text).value_or(fallback);
}

}  // namespace qm
