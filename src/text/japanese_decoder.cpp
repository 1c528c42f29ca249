#include "text/japanese_decoder.h"

#include <array>
#include <vector>

#include "platform/iconv_converter.h"
#include "text/ascii_run.h"
#include "text/large_buffer.h"

namespace qm {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) {
    return c >= lo && c <= hi;
}

bool IsCp932Lead(unsigned char c) {
    return InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC);
}
bool IsCp932Trail(unsigned char c) {
    return InRange(c, 0x40, 0x7E) || InRange(c, 0x80, 0xFC);
}
bool IsEucByte(unsigned char c) {
    return InRange(c, 0xA1, 0xFE);
}

// One legacy code page as lookup tables. A zero entry means "no character here" (U+0000 is
// only ever the byte 00, which is a single-byte character).
struct TLegacyTable {
    std::array<char16_t, 256> single{};  // bytes that stand alone
    std::array<bool, 256> lead{};        // bytes that start a two-byte character
    std::array<bool, 256> trail{};       // bytes that may follow such a lead
    std::vector<char16_t> pairs;         // (lead << 8) | trail
    std::vector<char16_t> triples;       // EUC-JP 8F b1 b2 at (b1 - A1) * 94 + (b2 - A1)
    bool asciiIsIdentity = true;         // bytes 00-7F decode to U+0000-U+007F

    char16_t Single(unsigned char c, TIconvSequenceDecoder& decoder) {
        if (c == 0) return 0;
        char16_t unit = decoder.DecodeUnit(&c, 1);
        return unit != 0 ? unit : kReplacement;
    }
    void FinishAscii() {
        for (int c = 0; c < 0x80; ++c)
            if (single[c] != c) asciiIsIdentity = false;
    }
};

TLegacyTable BuildCp932Table() {
    TIconvSequenceDecoder decoder("CP932");
    TLegacyTable table;
    table.pairs.assign(65536, 0);
    for (int c = 0; c < 256; ++c) {
        auto byte = static_cast<unsigned char>(c);
        table.lead[c] = IsCp932Lead(byte);
        table.trail[c] = IsCp932Trail(byte);
        if (!table.lead[c]) table.single[c] = table.Single(byte, decoder);
    }
    for (int l = 0x81; l <= 0xFC; ++l) {
        if (!table.lead[l]) continue;
        for (int t = 0x40; t <= 0xFC; ++t) {
            if (!table.trail[t]) continue;
            const unsigned char pair[2] = {static_cast<unsigned char>(l),
                                           static_cast<unsigned char>(t)};
            table.pairs[(l << 8) | t] = decoder.DecodeUnit(pair, 2);
        }
    }
    table.FinishAscii();
    return table;
}

TLegacyTable BuildEucJpTable() {
    TIconvSequenceDecoder decoder("EUC-JP-MS");
    TLegacyTable table;
    table.pairs.assign(65536, 0);
    table.triples.assign(94 * 94, 0);
    for (int c = 0; c < 256; ++c) {
        auto byte = static_cast<unsigned char>(c);
        table.lead[c] = byte == 0x8E || IsEucByte(byte);
        table.trail[c] = IsEucByte(byte);
        if (!table.lead[c] && byte != 0x8F) table.single[c] = table.Single(byte, decoder);
    }
    for (int l = 0x8E; l <= 0xFE; ++l) {
        if (!table.lead[l]) continue;
        for (int t = 0xA1; t <= 0xFE; ++t) {
            const unsigned char pair[2] = {static_cast<unsigned char>(l),
                                           static_cast<unsigned char>(t)};
            table.pairs[(l << 8) | t] = decoder.DecodeUnit(pair, 2);
        }
    }
    for (int b1 = 0xA1; b1 <= 0xFE; ++b1) {
        for (int b2 = 0xA1; b2 <= 0xFE; ++b2) {
            const unsigned char triple[3] = {0x8F, static_cast<unsigned char>(b1),
                                             static_cast<unsigned char>(b2)};
            table.triples[(b1 - 0xA1) * 94 + (b2 - 0xA1)] = decoder.DecodeUnit(triple, 3);
        }
    }
    table.FinishAscii();
    return table;
}

const TLegacyTable& Cp932Table() {
    static const TLegacyTable table = BuildCp932Table();
    return table;
}

const TLegacyTable& EucJpTable() {
    static const TLegacyTable table = BuildEucJpTable();
    return table;
}

char16_t OrReplacement(char16_t unit) {
    return unit != 0 ? unit : kReplacement;
}

// The shared decoding loop over one piece. Every supported code page yields at most one UTF-16
// unit per byte. An unmapped character of valid shape becomes one U+FFFD as a whole; a lead
// byte not followed by a byte that fits becomes U+FFFD alone and the next byte is read afresh.
TDecodedPiece DecodePieceWithTable(const TLegacyTable& table, const unsigned char* s, std::size_t n,
                                   bool last, char16_t* o) {
    char16_t* const start = o;
    const char16_t* pairs = table.pairs.data();
    const bool hasTriples = !table.triples.empty();
    std::size_t i = 0;
    while (i < n) {
        if (s[i] < 0x80 && table.asciiIsIdentity) {
            std::size_t run = CopyAsciiRun(s, i, n, o);
            i += run;
            o += run;
            continue;
        }
        // Japanese text comes in runs; stay here until the next ASCII byte.
        do {
            unsigned char c = s[i];
            // A character of two or three bytes that might reach past the piece waits for the
            // next piece.
            if (!last && n - i < 3 && (table.lead[c] || c == 0x8F))
                return {i, static_cast<std::size_t>(o - start)};
            if (table.lead[c]) {
                if (i + 1 < n && table.trail[s[i + 1]]) {
                    *o++ = OrReplacement(pairs[(c << 8) | s[i + 1]]);
                    i += 2;
                } else {
                    *o++ = kReplacement;
                    ++i;
                }
            } else if (c == 0x8F && hasTriples) {
                if (i + 2 < n && table.trail[s[i + 1]] && table.trail[s[i + 2]]) {
                    *o++ = OrReplacement(table.triples[(s[i + 1] - 0xA1) * 94 + (s[i + 2] - 0xA1)]);
                    i += 3;
                } else {
                    *o++ = kReplacement;
                    i += i + 1 < n && table.trail[s[i + 1]] ? 2 : 1;
                }
            } else {
                *o++ = table.single[c];
                ++i;
            }
        } while (i < n && (s[i] >= 0x80 || !table.asciiIsIdentity));
    }
    return {i, static_cast<std::size_t>(o - start)};
}

std::u16string DecodeWithTable(TPieceDecoder decode, std::string_view bytes) {
    std::u16string out = MakeLargeString<std::u16string>(bytes.size());
    out.resize(DecodeInTurns(bytes, out.data(), decode));
    return out;
}

}  // namespace

TDecodedPiece DecodeCp932Piece(const unsigned char* s, std::size_t n, bool last, char16_t* o) {
    return DecodePieceWithTable(Cp932Table(), s, n, last, o);
}

TDecodedPiece DecodeEucJpPiece(const unsigned char* s, std::size_t n, bool last, char16_t* o) {
    return DecodePieceWithTable(EucJpTable(), s, n, last, o);
}

std::u16string DecodeCp932(std::string_view bytes) {
    return DecodeWithTable(DecodeCp932Piece, bytes);
}

std::u16string DecodeEucJp(std::string_view bytes) {
    return DecodeWithTable(DecodeEucJpPiece, bytes);
}

namespace {

// The Shift_JIS pair of the JIS X 0208 row/cell bytes j1 j2 (both 21-7E).
unsigned ShiftJisPair(unsigned char j1, unsigned char j2) {
    unsigned s1 = ((j1 + 1u) >> 1) + (j1 <= 0x5E ? 0x70u : 0xB0u);
    unsigned s2 = j2 + ((j1 & 1) != 0 ? (j2 < 0x60 ? 0x1Fu : 0x20u) : 0x7Eu);
    return (s1 << 8) | s2;
}

}  // namespace

std::u16string DecodeIso2022Jp(std::string_view bytes) {
    // Windows decodes the JIS X 0208 set by way of Shift_JIS and its CP932 table, which is what
    // gives the NEC row 13 and the NEC-selected IBM rows 89-92 their characters; the same is
    // done here. JIS X 0212, which CP932 lacks, goes through the EUC-JP table.
    const TLegacyTable& cp932 = Cp932Table();
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    enum class Mode { Ascii, Katakana, Jis0208, Jis0212 };
    Mode mode = Mode::Ascii;
    bool shiftedOut = false;  // SO ... SI: half-width katakana whatever the mode
    std::u16string out = MakeLargeString<std::u16string>(n);
    char16_t* o = out.data();
    auto escapeAt = [&](std::size_t i, std::string_view sequence) {
        return n - i >= sequence.size() &&
               std::string_view(bytes.data() + i, sequence.size()) == sequence;
    };
    std::size_t i = 0;
    while (i < n) {
        unsigned char c = s[i];
        if (c == 0x1B) {
            struct Designation {
                std::string_view sequence;
                Mode mode;
            };
            static constexpr Designation kDesignations[] = {
                {"\x1B(B", Mode::Ascii},    {"\x1B(J", Mode::Ascii},    {"\x1B(I", Mode::Katakana},
                {"\x1B$@", Mode::Jis0208},  {"\x1B$B", Mode::Jis0208},  {"\x1B$(D", Mode::Jis0212},
                {"\x1B$(@", Mode::Jis0208}, {"\x1B$(B", Mode::Jis0208},
            };
            bool designated = false;
            for (const auto& d : kDesignations) {
                if (escapeAt(i, d.sequence)) {
                    mode = d.mode;
                    i += d.sequence.size();
                    designated = true;
                    break;
                }
            }
            if (designated) continue;
            if (escapeAt(i, "\x1B&@")) {  // announces a JIS X 0208 revision; no effect
                i += 3;
                continue;
            }
            *o++ = c;  // an escape we do not know stays visible as it is
            ++i;
            continue;
        }
        if (c == 0x0E || c == 0x0F) {
            shiftedOut = c == 0x0E;
            ++i;
            continue;
        }
        if (c >= 0x80) {
            *o++ = kReplacement;
            ++i;
            continue;
        }
        Mode effective = shiftedOut ? Mode::Katakana : mode;
        if (effective == Mode::Ascii || c <= 0x20 || c == 0x7F) {
            // Controls, line ends and spaces keep their meaning in every mode.
            *o++ = c;
            ++i;
        } else if (effective == Mode::Katakana) {
            *o++ = c <= 0x5F ? cp932.single[c | 0x80] : kReplacement;
            ++i;
        } else if (i + 1 < n && InRange(s[i + 1], 0x21, 0x7E)) {
            if (effective == Mode::Jis0208) {
                *o++ = OrReplacement(cp932.pairs[ShiftJisPair(c, s[i + 1])]);
            } else {
                const TLegacyTable& euc = EucJpTable();
                *o++ = OrReplacement(euc.triples[(c - 0x21) * 94 + (s[i + 1] - 0x21)]);
            }
            i += 2;
        } else {
            *o++ = kReplacement;
            ++i;
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

std::size_t Cp932BadSequenceLength(const unsigned char* p, std::size_t available) {
    return available >= 2 && IsCp932Lead(p[0]) && IsCp932Trail(p[1]) ? 2 : 1;
}

std::size_t EucJpBadSequenceLength(const unsigned char* p, std::size_t available) {
    if (p[0] == 0x8F) {
        if (available >= 3 && IsEucByte(p[1]) && IsEucByte(p[2])) return 3;
        return available >= 2 && IsEucByte(p[1]) ? 2 : 1;
    }
    bool lead = p[0] == 0x8E || IsEucByte(p[0]);
    return lead && available >= 2 && IsEucByte(p[1]) ? 2 : 1;
}

}  // namespace qm
