// Character tables of the text-index key encoder, generated from public data by
// scripts/generate_jet_text_key_tables.py (sources and licences in jet_text_key_tables.md).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::jet::text_key {

enum class TLatinKind : std::uint8_t {
    Ignore,       // no trace in the key
    Simple,       // primary bytes only
    Diacritic,    // primary bytes and a diacritic weight
    Unprintable,  // only in the "unprintable" section, with its position
};

// Codes of U+0000..U+00FF as Access indexes them: kLatin under General legacy (and Japanese),
// kGeneralLatin under General (1033, version 1), whose primary codes are two bytes per letter
// and four for a letter that sorts as two (Æ as "ae").
struct TLatinCode {
    TLatinKind kind;
    std::uint8_t length;  // primary bytes used
    std::uint8_t primary[4];
    std::uint8_t extra;  // diacritic weight, or the unprintable code
};
extern const TLatinCode kLatin[256];
extern const TLatinCode kGeneralLatin[256];

// General codes above U+00FF: Latin Extended-A but ı and ĸ (derived from the Windows default
// table) and the full-width forms of Latin-1 (coded as the character they are a form of), sorted.
struct TGeneralCode {
    char16_t codePoint;
    TLatinCode code;
};
extern const TGeneralCode kGeneralDerived[];
extern const std::size_t kGeneralDerivedCount;

// General (legacy) two-byte codes of punctuation above U+00FF (、 ・), sorted.
struct TWideCode {
    char16_t codePoint;
    std::uint8_t primary[2];
};
extern const TWideCode kPunctuation[];
extern const std::size_t kPunctuationCount;

// Kana of the Windows default table: alphabetic weight, diacritic weight, small form.
struct TKanaWeight {
    char16_t codePoint;
    std::uint8_t alphabetic;
    std::uint8_t diacritic;
    bool small;
};
extern const TKanaWeight kKana[];
extern const std::size_t kKanaCount;

// Kanji of the ja-JP table, their weight already shifted into Jet's range (first byte − 0x43).
struct TKanjiWeight {
    char16_t codePoint;
    std::uint16_t weight;
};
extern const TKanjiWeight kJapaneseKanji[];
extern const std::size_t kJapaneseKanjiCount;

// Characters above U+00FF seen in keys Access wrote, per sort order (sorted).
extern const char16_t kProvenJapanese[];
extern const std::size_t kProvenJapaneseCount;
extern const char16_t kProvenGeneralLegacy[];
extern const std::size_t kProvenGeneralLegacyCount;

}  // namespace qm::jet::text_key
