#include "text/mecs_utils.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/iconv_converter.h"
#include "text/japanese_decoder.h"
#include "text/large_buffer.h"
#include "text/unicode.h"
#include "text/utf_decoder.h"

namespace qm {

std::u16string MecsStretchElement(std::string_view bytes) {
    auto text = MakeLargeString<std::u16string>(bytes.size());
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    for (std::size_t start = 0; start < bytes.size(); start += kTurnBytes) {
        const std::size_t end = std::min(bytes.size(), start + kTurnBytes);
        for (std::size_t i = start; i < end; ++i)
            text[i] = s[i];
        ProcessMessages();
    }
    return text;
}

std::u16string AnsiToUTF16(std::string_view bytes, TCodePage codePage) {
    if (bytes.empty()) return {};
    switch (codePage) {
        case 932:
            return DecodeCp932(bytes);
        case 20932:
        case 51932:
            return DecodeEucJp(bytes);
        case 50220:
        case 50221:
        case 50222:
            return DecodeIso2022Jp(bytes);
        case 65001:
            return Utf8ToUtf16(bytes);
        case 1200:
            return DecodeUtf16(bytes, false);
        case 1201:
            return DecodeUtf16(bytes, true);
        case 12000:
            return DecodeUtf32(bytes, false);
        case 12001:
            return DecodeUtf32(bytes, true);
        default:
            break;
    }
    if (const char* charset = CodePageCharset(codePage)) return IconvDecode(bytes, charset);
    // A code page no converter knows: keep every byte visible rather than lose the text.
    return MecsStretchElement(bytes);
}

std::u16string MecsMappingFix_CP932ToUnicode(std::u16string text) {
    return text;
}

namespace {

// The eight JIS X 0208 characters that converters map differently, moved to the code points
// CP932 gives them.
void FixJisX0208Units(char16_t* units, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        char16_t& unit = units[i];
        if (unit < 0xA2) continue;
        switch (unit) {
            case 0x00A2:
                unit = 0xFFE0;
                break;
            case 0x00A3:
                unit = 0xFFE1;
                break;
            case 0x00AC:
                unit = 0xFFE2;
                break;
            case 0x2014:
                unit = 0x2015;
                break;
            case 0x2016:
                unit = 0x2225;
                break;
            case 0x203E:
                unit = 0xFFE3;
                break;
            case 0x2212:
                unit = 0xFF0D;
                break;
            case 0x301C:
                unit = 0xFF5E;
                break;
            default:
                break;
        }
    }
}

}  // namespace

std::u16string MecsMappingFix_JISX0208ToUnicode(std::u16string text) {
    FixJisX0208Units(text.data(), text.size());
    return text;
}

TDecodedPiece WidenLatin1Piece(const unsigned char* s, std::size_t n, bool, char16_t* o) {
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), _mm_unpacklo_epi8(chunk, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i + 8), _mm_unpackhi_epi8(chunk, zero));
    }
#endif
    for (; i < n; ++i)
        o[i] = s[i];
    return {n, n};
}

TDecodedPiece DecodeEucJpFixedPiece(const unsigned char* s, std::size_t n, bool last, char16_t* o) {
    const TDecodedPiece done = DecodeEucJpPiece(s, n, last, o);
    FixJisX0208Units(o, done.written);
    return done;
}

}  // namespace qm
