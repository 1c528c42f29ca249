// Reading a text file whole: detection glue, code pages, decoding; and LastPos.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/stream.h"
#include "text/encode_detect.h"
#include "text/piece_decode.h"

namespace qm {

// Code pages in the Windows numbering; 65535 means none (bytes widened one to one).
using TCodePage = std::uint16_t;
constexpr TCodePage kNoCodePage = 65535;
constexpr std::int64_t kDetectionSampleSize = 102400;

// A stream decoded to text, with how it was decoded.
struct TStreamText {
    std::u16string text;
    TDetectedEncoding encoding = deNone;
    TCodePage codePage = kNoCodePage;
};

// The whole stream, decoded. Never fails on bad bytes; stream errors propagate.
std::u16string ReadStreamText(TStream& stream);
TStreamText ReadStreamTextDetailed(TStream& stream);

TCodePage DetectStreamCodePage(TStream& stream);
TDetectedEncoding DetectStreamEncoding(TStream& stream, std::int64_t limit);
TCodePage EncodingToCodePage(TDetectedEncoding encoding);
std::string ReadStreamBytes(TStream& stream);
std::u16string DecodeBytes(std::string_view bytes, TCodePage codePage);
// For the code pages whose decoding needs no state beyond one character (UTF-8, CP932, EUC-JP
// and none): the piece decoder that gives what DecodeBytes gives, and how many bytes of a
// mark DecodeBytes drops at the start of bytes. nullptr for the other code pages.
TPieceDecoder PieceDecoderFor(TCodePage codePage);
std::size_t DroppedMarkLength(std::string_view bytes, TCodePage codePage);
// The verdict for a whole file held in memory: the sample's, or the whole file's when the
// sample shows no multi-byte text (see NeedsWholeFileCheck).
TDetectedEncoding DetectBytesEncoding(std::string_view bytes);
// True when a verdict over the first sampleLength bytes of a file of size bytes must be made
// again over all of it.
bool NeedsWholeFileCheck(TDetectedEncoding verdict, const TEncodingScores& scores,
                         std::int64_t sampleLength, std::int64_t size);
bool HasUTF8BOM(std::string_view bytes);
bool HasUTF16LEBOM(std::string_view bytes);
bool HasUTF16BEBOM(std::string_view bytes);
bool HasUTF32LEBOM(std::string_view bytes);
bool HasUTF32BEBOM(std::string_view bytes);

// 1-based start of the last occurrence of sub in text; 0 when there is none or sub is empty.
std::size_t LastPos(std::u16string_view text, std::u16string_view sub);

}  // namespace qm
