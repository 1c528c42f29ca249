#include "text/unicode.h"

#include <cstdint>

namespace qm {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Length of the well-formed sequence starting at s[i], or 0 when the bytes there do not start
// one; 'consumed' is then the length of the maximal subpart to replace by one U+FFFD.
std::size_t DecodeOne(const unsigned char* s, std::size_t n, std::size_t i, char32_t& cp,
                      std::size_t& consumed) {
    unsigned char b0 = s[i];
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 < 0x80) {
        cp = b0;
        consumed = 1;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        consumed = 1;
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        if (i + k >= n) {
            consumed = k;
            return 0;
        }
        unsigned char b = s[i + k];
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) {
            consumed = k;
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    consumed = len;
    return len;
}

}  // namespace

std::u16string Utf8ToUtf16(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t n = bytes.size();
    std::u16string out;
    out.reserve(n);
    std::size_t i = 0;
    while (i < n) {
        char32_t cp = 0;
        std::size_t consumed = 0;
        if (DecodeOne(s, n, i, cp, consumed) == 0) {
            out.push_back(kReplacement);
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += consumed;
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

}  // namespace qm
