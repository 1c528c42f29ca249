// Decoding bytes to UTF-16 piece by piece, for text too large to hold twice.
//
// A piece decoder turns s[0..n) into UTF-16 at o. Unless the piece is the last one, it stops
// before a character whose bytes might continue beyond n and reports where it stopped: the
// next piece starts there, so that pieces decode to exactly the units of the whole. Every
// decoder here writes at most one unit per byte read, never writes a unit before it has read
// the bytes that make it, and reads at most 16 bytes ahead of what it writes in blocks of
// 16. Decoding may therefore run in place: o may point into the same memory as s as long as
// o's bytes end no later than s's bytes begin plus the number of bytes already consumed,
// which holds when the bytes lie in the upper half of a buffer of twice their size and o
// starts at the buffer's beginning (see DecodeInPlace).
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#include "platform/yield.h"
#include "text/large_buffer.h"

namespace qm {

struct TDecodedPiece {
    std::size_t read = 0;     // bytes consumed; the next piece starts here
    std::size_t written = 0;  // UTF-16 units written
};

using TPieceDecoder = TDecodedPiece (*)(const unsigned char* s, std::size_t n, bool last,
                                        char16_t* o);

// The smallest piece that always makes progress: a character of up to four bytes fits in it.
inline constexpr std::size_t kMinDecodePiece = 16;

// Decodes all of bytes into out with pieces of kTurnBytes, giving the user interface a turn
// between them; returns the number of units written.
inline std::size_t DecodeInTurns(std::string_view bytes, char16_t* out, TPieceDecoder decode) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t read = 0;
    std::size_t written = 0;
    while (read < n) {
        const std::size_t piece = std::min(n - read, kTurnBytes);
        const bool last = read + piece == n;
        const TDecodedPiece done = decode(s + read, piece, last, out + written);
        read += done.read;
        written += done.written;
        if (!last) ProcessMessages();
    }
    return written;
}

}  // namespace qm
