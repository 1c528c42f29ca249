// UTF-16 and UTF-32 bytes to the program's UTF-16 text. Byte-order marks are not touched here:
// whoever knows the code page decides whether to drop one.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// Two bytes per unit, taken as they are (unpaired surrogates included); an odd last byte is
// dropped.
std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian);
// Four bytes per code point. Values above U+10FFFF and surrogate values become U+FFFD, and so
// does a last unit cut short by the end of the bytes.
std::u16string DecodeUtf32(std::string_view bytes, bool bigEndian);

}  // namespace qm
