// Character tables of the text-index key encoder, generated from public data by
// scripts/generate_jet_text_key_tables.py (sources and licences in jet_text_key_tables.md).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::jet::text_key {

// How a character enters a key, as the code lists read from Access describe it.
enum class TCodeKind : std::uint8_t {
    Ignore,         // no trace in the key
    Simple,         // primary bytes only
    International,  // primary bytes and diacritic bytes
    Unprintable,    // only in the "unprintable" section, with its position
    Modifier,       // no primary code: its byte is added to the diacritic weight before it
    Kana,           // primary and diacritic bytes, and a flag in the kana section
};

// The codes of consecutive characters: [first, first + count). With step 1 the primary code of
// each next character is the one before plus one, its last byte counting through 02..FF and
// carrying into the byte before it; with step 0 they share the code.
inline constexpr std::size_t kMaxCodeBytes = 12;
struct TCodeRun {
    char16_t first;
    std::uint16_t count;
    TCodeKind kind;
    std::uint8_t step;
    std::uint8_t primaryLength;
    std::uint8_t extraLength;           // diacritic bytes, the unprintable code, or the modifier
    std::uint8_t kanaFlag;              // Kana: 2 small form, 3 ordinary
    std::uint8_t bytes[kMaxCodeBytes];  // primary bytes, then the extra bytes
};
// Every character of U+0000..U+FFFF but the surrogates, in order: kLegacyRuns under General
// legacy (and Japanese, but for kanji), kGeneralRuns under General (1033, version 1).
extern const TCodeRun kLegacyRuns[];
extern const std::size_t kLegacyRunsCount;
extern const TCodeRun kGeneralRuns[];
extern const std::size_t kGeneralRunsCount;

// Kanji of the ja-JP table, their weight already shifted into Jet's range (first byte − 0x43).
struct TKanjiWeight {
    char16_t codePoint;
    std::uint16_t weight;
};
extern const TKanjiWeight kJapaneseKanji[];
extern const std::size_t kJapaneseKanjiCount;

// Characters above U+00FF that keys Access wrote under 1041 show (sorted).
extern const char16_t kProvenJapanese[];
extern const std::size_t kProvenJapaneseCount;

}  // namespace qm::jet::text_key
