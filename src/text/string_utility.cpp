#include "text/string_utility.h"

#include <algorithm>

#include "text/japanese_decoder.h"
#include "text/large_buffer.h"
#include "text/mecs_utils.h"
#include "text/unicode.h"
#include "text/utf_decoder.h"

namespace qm {

namespace {

const std::uint8_t* AsBytes(std::string_view bytes) {
    return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// A file without any multi-byte text in its sample is judged again over all of it, so that a
// long ASCII prefix (common in exported data) does not hide the Japanese text that follows it
// and get the file widened byte by byte. A tie or a failed test in the sample is a decision
// about real multi-byte bytes and stands.
}  // namespace

bool NeedsWholeFileCheck(TDetectedEncoding verdict, const TEncodingScores& scores,
                         std::int64_t sampleLength, std::int64_t size) {
    return verdict == deNone && scores.sjis == 0 && scores.euc == 0 && scores.utf8 == 0 &&
           size > sampleLength;
}

TDetectedEncoding DetectBytesEncoding(std::string_view bytes) {
    const auto size = static_cast<std::int64_t>(bytes.size());
    const std::int64_t sampleLength = std::min(size, kDetectionSampleSize);
    TEncodingScores scores;
    TDetectedEncoding verdict = CheckEncodingScored(AsBytes(bytes), sampleLength, 0, scores);
    if (NeedsWholeFileCheck(verdict, scores, sampleLength, size))
        verdict = CheckEncoding(AsBytes(bytes), size, 0);
    return verdict;
}

TCodePage EncodingToCodePage(TDetectedEncoding encoding) {
    switch (encoding) {
        case deSJIS:
            return 932;
        case deEUC:
            return 20932;
        case deJIS:
            return 50220;
        case de16LE:
            return 1200;
        case de16BE:
            return 1201;
        case deUTF8:
        case deUTF8BOM:
            return 65001;
        case de32LE:
            return 12000;
        case de32BE:
            return 12001;
        default:
            return kNoCodePage;
    }
}

std::string ReadStreamBytes(TStream& stream) {
    stream.SetPosition(0);
    const std::int64_t size = stream.GetSize();
    auto bytes =
        MakeLargeString<std::string>(static_cast<std::size_t>(std::max<std::int64_t>(size, 0)));
    for (std::size_t done = 0; done < bytes.size();) {
        const std::size_t n = std::min(bytes.size() - done, kTurnBytes);
        stream.ReadBuffer(bytes.data() + done, n);
        done += n;
        ProcessMessages();
    }
    return bytes;
}

bool HasUTF8BOM(std::string_view bytes) {
    return bytes.starts_with("\xEF\xBB\xBF");
}
bool HasUTF16LEBOM(std::string_view bytes) {
    return bytes.starts_with("\xFF\xFE");
}
bool HasUTF16BEBOM(std::string_view bytes) {
    return bytes.starts_with("\xFE\xFF");
}
bool HasUTF32LEBOM(std::string_view bytes) {
    return bytes.starts_with(std::string_view("\xFF\xFE\0\0", 4));
}
bool HasUTF32BEBOM(std::string_view bytes) {
    return bytes.starts_with(std::string_view("\0\0\xFE\xFF", 4));
}

std::u16string DecodeBytes(std::string_view bytes, TCodePage codePage) {
    switch (codePage) {
        case 65001:
            if (HasUTF8BOM(bytes)) bytes.remove_prefix(3);
            return AnsiToUTF16(bytes, codePage);
        case 1200:
            if (HasUTF16LEBOM(bytes)) bytes.remove_prefix(2);
            return DecodeUtf16(bytes, false);
        case 1201:
            if (HasUTF16BEBOM(bytes)) bytes.remove_prefix(2);
            return DecodeUtf16(bytes, true);
        case 12000:
            // The mark of UTF-32 goes like those of UTF-8 and UTF-16: it is no part of the
            // text, and left in place it would start the first cell of a CSV file.
            if (HasUTF32LEBOM(bytes)) bytes.remove_prefix(4);
            return AnsiToUTF16(bytes, codePage);
        case 12001:
            if (HasUTF32BEBOM(bytes)) bytes.remove_prefix(4);
            return AnsiToUTF16(bytes, codePage);
        case kNoCodePage:
            return MecsStretchElement(bytes);
        case 932:
            return MecsMappingFix_CP932ToUnicode(AnsiToUTF16(bytes, codePage));
        case 20932:
        case 50220:
        case 50221:
        case 50222:
        case 51932:
            return MecsMappingFix_JISX0208ToUnicode(AnsiToUTF16(bytes, codePage));
        default:
            return AnsiToUTF16(bytes, codePage);
    }
}

TPieceDecoder PieceDecoderFor(TCodePage codePage) {
    switch (codePage) {
        case 65001:
            return DecodeUtf8Piece;
        case 932:
            return DecodeCp932Piece;
        case 20932:
        case 51932:
            return DecodeEucJpFixedPiece;
        case kNoCodePage:
            return WidenLatin1Piece;
        default:
            return nullptr;
    }
}

std::size_t DroppedMarkLength(std::string_view bytes, TCodePage codePage) {
    return codePage == 65001 && HasUTF8BOM(bytes) ? 3 : 0;
}

TDetectedEncoding DetectStreamEncoding(TStream& stream, std::int64_t limit) {
    const std::int64_t size = stream.GetSize();
    const std::int64_t n = size < limit ? size : limit;
    stream.SetPosition(0);
    return CheckEncoding(stream, n, 0);
}

TCodePage DetectStreamCodePage(TStream& stream) {
    const std::int64_t size = stream.GetSize();
    if (size <= 0) return EncodingToCodePage(deNone);
    const std::int64_t sampleLength = std::min(size, kDetectionSampleSize);
    std::string sample(static_cast<std::size_t>(sampleLength), '\0');
    stream.SetPosition(0);
    stream.ReadBuffer(sample.data(), sample.size());
    TEncodingScores scores;
    TDetectedEncoding verdict = CheckEncodingScored(AsBytes(sample), sampleLength, 0, scores);
    if (NeedsWholeFileCheck(verdict, scores, sampleLength, size)) {
        sample.clear();
        sample.shrink_to_fit();
        verdict = DetectBytesEncoding(ReadStreamBytes(stream));
    }
    return EncodingToCodePage(verdict);
}

TStreamText ReadStreamTextDetailed(TStream& stream) {
    TStreamText result;
    {
        // The bytes are read once; detection looks at them in memory, and they are released as
        // soon as the text exists.
        std::string bytes = ReadStreamBytes(stream);
        result.encoding = DetectBytesEncoding(bytes);
        result.codePage = EncodingToCodePage(result.encoding);
        result.text = result.codePage == kNoCodePage ? MecsStretchElement(bytes)
                                                     : DecodeBytes(bytes, result.codePage);
    }
    return result;
}

std::u16string ReadStreamText(TStream& stream) {
    return ReadStreamTextDetailed(stream).text;
}

std::size_t LastPos(std::u16string_view text, std::u16string_view sub) {
    if (sub.empty()) return 0;
    // The start of the last occurrence, overlapping ones included ("aa" in "aaa" starts at 2).
    std::size_t at = text.rfind(sub);
    return at == std::u16string_view::npos ? 0 : at + 1;
}

}  // namespace qm
