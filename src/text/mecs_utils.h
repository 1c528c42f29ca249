// Multi-byte character-set helpers used by the decoder.
#pragma once

#include <string>
#include <string_view>

#include "text/piece_decode.h"
#include "text/string_utility.h"

namespace qm {

// Each byte becomes the UTF-16 unit of the same value (ISO-8859-1).
std::u16string MecsStretchElement(std::string_view bytes);
// Code-page conversion; never fails: invalid input becomes U+FFFD.
std::u16string AnsiToUTF16(std::string_view bytes, TCodePage codePage);
// CP932 text needs no change.
std::u16string MecsMappingFix_CP932ToUnicode(std::u16string text);
// EUC-JP and ISO-2022-JP text: the eight JIS X 0208 characters that converters map
// differently take the code points CP932 gives them.
std::u16string MecsMappingFix_JISX0208ToUnicode(std::u16string text);

// Piece decoders (text/piece_decode.h): MecsStretchElement, and EUC-JP decoding followed by
// the JIS X 0208 fix.
TDecodedPiece WidenLatin1Piece(const unsigned char* s, std::size_t n, bool last, char16_t* o);
TDecodedPiece DecodeEucJpFixedPiece(const unsigned char* s, std::size_t n, bool last, char16_t* o);

}  // namespace qm
