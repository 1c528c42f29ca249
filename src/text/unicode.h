// Conversions between the program's UTF-16 text and UTF-8 bytes.
//
// Neither conversion fails: an ill-formed UTF-8 sequence becomes one U+FFFD per maximal
// subpart (the Unicode recommendation), and a lone surrogate in UTF-16 becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

#include "text/piece_decode.h"

namespace qm {

std::u16string Utf8ToUtf16(std::string_view bytes);
// The same for one piece of the bytes (text/piece_decode.h).
TDecodedPiece DecodeUtf8Piece(const unsigned char* s, std::size_t n, bool last, char16_t* o);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace qm
