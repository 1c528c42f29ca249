// Encoding detection and decoding over arbitrary bytes: never crashes, never reads out of
// bounds, and the table decoders agree with glibc iconv, whose mapping they cache.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/iconv_converter.h"
#include "platform/memory_stream.h"
#include "text/encode_detect.h"
#include "text/japanese_decoder.h"
#include "text/mecs_utils.h"
#include "text/string_utility.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qm;
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto n = static_cast<std::int64_t>(size);

    TDetectedEncoding verdict = CheckEncoding(data, n, 0);
    if (verdict < deNone || verdict > deUTF7) std::abort();
    if (size > 0) {
        // Any ignore set, and every sample length, must be safe.
        auto ignore = static_cast<TIgnoreEncodes>(data[0] & 0x3F);
        CheckEncoding(data, n, ignore);
        CheckEncoding(data + 1, n - 1, 0);
    }

    TMemoryStream stream{std::string(bytes)};
    TStreamText read = ReadStreamTextDetailed(stream);
    if (read.codePage != EncodingToCodePage(read.encoding)) std::abort();

    static constexpr TCodePage kCodePages[] = {932,   20932, 51932, 50220, 50221, 50222, 1200, 1201,
                                               65001, 12000, 12001, 65535, 1252,  28591, 0};
    for (TCodePage codePage : kCodePages) {
        std::u16string text = DecodeBytes(bytes, codePage);
        // Byte-oriented decoders give at most one unit per byte.
        if (codePage != 12000 && codePage != 12001 && text.size() > size) std::abort();
    }
    if (DecodeBytes(bytes, 932) != IconvDecode(bytes, "CP932", Cp932BadSequenceLength))
        std::abort();
    if (AnsiToUTF16(bytes, 20932) != IconvDecode(bytes, "EUC-JP-MS", EucJpBadSequenceLength))
        std::abort();

    // The encoding direction: whatever text came out can be written back without failing.
    IconvEncode(read.text, "CP932");
    IconvEncode(read.text, "ISO-2022-JP");
    return 0;
}
