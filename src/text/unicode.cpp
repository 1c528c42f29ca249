#include "text/unicode.h"

#include <cstdint>

#include "text/ascii_run.h"
#include "text/large_buffer.h"

namespace qm {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// Decodes the one sequence at s[i] (s[i] >= 0x80). Returns the number of bytes it spans; cp is
// the code point, or U+FFFD when the bytes there are ill-formed, in which case the span is the
// maximal subpart that one U+FFFD replaces (Unicode's recommended practice): an invalid lead
// alone, or a valid lead with the continuation bytes that fit it before the first one that
// does not.
std::size_t DecodeMultiByte(const unsigned char* s, std::size_t n, std::size_t i, char32_t& cp) {
    unsigned char b0 = s[i];
    std::size_t length;
    unsigned char lo = 0x80, hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
        if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
        if (b0 == 0xED) hi = 0x9F;  // no encoded surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;  // nothing beyond U+10FFFF
    } else {
        cp = kReplacement;
        return 1;
    }
    for (std::size_t k = 1; k < length; ++k) {
        unsigned char b = i + k < n ? s[i + k] : 0;
        bool fits = k == 1 ? (b >= lo && b <= hi) : (b >= 0x80 && b <= 0xBF);
        if (i + k >= n || !fits) {
            cp = kReplacement;
            return k;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    return length;
}

}  // namespace

TDecodedPiece DecodeUtf8Piece(const unsigned char* s, std::size_t n, bool last, char16_t* o) {
    char16_t* const start = o;
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80) {
            std::size_t run = CopyAsciiRun(s, i, n, o);
            i += run;
            o += run;
            continue;
        }
        // Non-ASCII text usually continues with more of it, broken by single ASCII bytes such
        // as commas and spaces; stay in this loop until two ASCII bytes come in a row.
        do {
            unsigned char b0 = s[i];
            if (b0 < 0x80) {
                if (i + 1 < n && s[i + 1] < 0x80) break;
                *o++ = b0;
                ++i;
                continue;
            }
            // A sequence spans at most four bytes: one that might reach past the piece waits
            // for the next piece, where the bytes after it are known.
            if (!last && n - i < 4) return {i, static_cast<std::size_t>(o - start)};
            // The common case for Japanese: a well-formed three-byte character.
            if (b0 >= 0xE1 && b0 <= 0xEF && b0 != 0xED && i + 2 < n) {
                unsigned char b1 = s[i + 1], b2 = s[i + 2];
                if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80) {
                    *o++ = static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) |
                                                 (b2 & 0x3F));
                    i += 3;
                    continue;
                }
            }
            char32_t cp = 0;
            i += DecodeMultiByte(s, n, i, cp);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                *o++ = static_cast<char16_t>(0xD800 + (cp >> 10));
                *o++ = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
            } else {
                *o++ = static_cast<char16_t>(cp);
            }
        } while (i < n);
    }
    return {i, static_cast<std::size_t>(o - start)};
}

std::u16string Utf8ToUtf16(std::string_view bytes) {
    // UTF-8 never needs more UTF-16 units than bytes (a four-byte character gives two units,
    // a replacement stands for at least one byte), so the text is allocated once.
    std::u16string out = MakeLargeString<std::u16string>(bytes.size());
    std::size_t written = DecodeInTurns(bytes, out.data(), DecodeUtf8Piece);
    out.resize(written);
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
