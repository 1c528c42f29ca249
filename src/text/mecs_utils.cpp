#include "text/mecs_utils.h"

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

std::u16string MecsMappingFix_JISX0208ToUnicode(std::u16string text) {
    for (char16_t& unit : text) {
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
    return text;
}

}  // namespace qm
