#include "text/utf_decoder.h"

#include <bit>
#include <cstdint>
#include <cstring>

namespace qm {

std::u16string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    const std::size_t units = bytes.size() / 2;
    std::u16string out(units, u'\0');
    std::memcpy(out.data(), bytes.data(), units * 2);
    if (bigEndian != (std::endian::native == std::endian::big)) {
        for (char16_t& unit : out)
            unit = static_cast<char16_t>(static_cast<std::uint16_t>(unit << 8) | (unit >> 8));
    }
    return out;
}

std::u16string DecodeUtf32(std::string_view bytes, bool bigEndian) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t count = bytes.size() / 4;
    const bool cut = bytes.size() % 4 != 0;
    // At most two units per code point, plus one for a cut last unit.
    std::u16string out(count * 2 + (cut ? 1 : 0), u'\0');
    char16_t* o = out.data();
    for (std::size_t k = 0; k < count; ++k, s += 4) {
        std::uint32_t cp = bigEndian ? (std::uint32_t{s[0]} << 24) | (std::uint32_t{s[1]} << 16) |
                                           (std::uint32_t{s[2]} << 8) | s[3]
                                     : (std::uint32_t{s[3]} << 24) | (std::uint32_t{s[2]} << 16) |
                                           (std::uint32_t{s[1]} << 8) | s[0];
        if (cp < 0xD800 || (cp >= 0xE000 && cp < 0x10000)) {
            *o++ = static_cast<char16_t>(cp);
        } else if (cp >= 0x10000 && cp <= 0x10FFFF) {
            cp -= 0x10000;
            *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
            *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            *o++ = 0xFFFD;
        }
    }
    if (cut) *o++ = 0xFFFD;
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

}  // namespace qm
