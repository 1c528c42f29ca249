// Decoders for the Japanese legacy code pages. The character mapping is glibc iconv's (CP932
// for 932, EUC-JP-MS for 20932 and 51932), read once into lookup tables so that decoding runs
// at memory speed; undecodable sequences become U+FFFD and decoding never fails.
#pragma once

#include <string>
#include <string_view>

#include "text/piece_decode.h"

namespace qm {

// Code page 932 (Shift_JIS with the Microsoft extensions).
std::u16string DecodeCp932(std::string_view bytes);
// Code pages 20932 and 51932 (EUC-JP with JIS X 0212 and the Microsoft extensions).
std::u16string DecodeEucJp(std::string_view bytes);
// The same for one piece of the bytes (text/piece_decode.h).
TDecodedPiece DecodeCp932Piece(const unsigned char* s, std::size_t n, bool last, char16_t* o);
TDecodedPiece DecodeEucJpPiece(const unsigned char* s, std::size_t n, bool last, char16_t* o);
// Code pages 50220, 50221 and 50222 (ISO-2022-JP). Accepts what Windows accepts when decoding
// any of the three: JIS X 0208 (ESC $ @, ESC $ B) read through the CP932 table, so with the NEC
// row 13 and the NEC-selected IBM rows; half-width katakana by ESC ( I or SO/SI; ASCII and
// JIS-Roman (read as ASCII); and JIS X 0212 (ESC $ ( D) through the EUC-JP table.
std::u16string DecodeIso2022Jp(std::string_view bytes);

// How many bytes the undecodable sequence at p spans in CP932 and in EUC-JP, for
// IconvDecode's resynchronisation (the same rule the table decoders follow).
std::size_t Cp932BadSequenceLength(const unsigned char* p, std::size_t available);
std::size_t EucJpBadSequenceLength(const unsigned char* p, std::size_t available);

}  // namespace qm
