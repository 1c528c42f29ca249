// Index keys of text values (Short Text, Long Text) under the sort orders whose encoding is
// established: General legacy (1033, version 0), General (1033, version 1) and Japanese (1041,
// version 0). The General sort orders key every character of the Basic Multilingual Plane by the
// code lists Jackcess's authors read from Access, with the corrections that keys Access wrote
// show (the prolonged sound mark, the length of the kana section); Japanese keys kanji by the
// published ja-JP weights and the rest as General legacy, but only characters that keys Access
// wrote under 1041 show. Whatever is not established (characters beyond the BMP, repeat
// marks such as 々, and under General the prolonged sound mark, trailing spaces and more than seven
// kana) is refused, naming the first character that cannot be keyed, because a wrong key silently
// corrupts the index.
//
// Layout of an ascending key: 7F, the primary codes, 01, the diacritic bytes (trailing
// defaults dropped), then — when the value has kana or "unprintable" characters — 01 01 and
// the kana section, then 01 and the unprintable section; finally 00.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::jet {

struct TTextSortOrder {
    std::uint16_t lcid = 1033;
    std::uint8_t version = 0;
};

// The longest text key written. Access writes keys of long values in ways not established
// here: under General (2010 and later) an entry is cut to 510 bytes and its last two bytes
// replaced by a value nobody has explained; keys of long values in other sort orders have not
// been seen beyond about 300 bytes. A longer key is refused rather than guessed.
inline constexpr std::size_t kMaxTextKeyBytes = 508;
// The reason given for such a refusal.
std::u16string LongKeyReason();

struct TTextKeyRefusal {
    std::size_t position = 0;  // index of the first character that cannot be keyed
    char32_t character = 0;    // 0 when no one character is at fault (sort order, length)
    std::u16string reason;     // Japanese, for messages
};

struct TTextKey {
    std::string bytes;  // flag byte through the final 00, as stored in an ascending index
    std::optional<TTextKeyRefusal> refusal;
};

// Values are keyed without their trailing spaces (under General a trailing space is refused: no
// key shows what Access does with it). Longer than 255 characters is refused: index
// keys cover only a value's first 255 characters, which EncodeRowIndexKey cuts off first.
TTextKey EncodeTextKey(std::u16string_view value, TTextSortOrder order);

// The key of the value in an index column of either direction. A descending key is the
// ascending one with the flag 80 for 7F, every byte after the flag complemented (the final 00
// becoming FF) and one more 00 behind them: "a" is 80 B5 FE FF 00 for 7F 4A 01 00.
// Complemented bytes compare the other way round, so "ab" (80 B5 B3 FE FF 00) sorts before
// "a", and keys equal in one direction are equal in the other.
TTextKey EncodeTextKey(std::u16string_view value, TTextSortOrder order, bool ascending);

// The message for a row whose value cannot be keyed: names the index, the field, the value and
// the first character that cannot be keyed (or the sort order).
std::u16string TextKeyRefusalMessage(const TTextKeyRefusal& refusal, std::u16string_view index,
                                     std::u16string_view field, std::u16string_view value);

// "1033/0"-style name of a sort order, and whether EncodeTextKey supports it at all.
std::u16string SortOrderName(TTextSortOrder order);
// The characters other than digits and "-" whose General (1033/1) codes keys in the fixture
// databases confirm (lower case stands for both cases); General keys more (see EncodeTextKey).
extern const char16_t kGeneralProven[];
bool IsTextKeySortOrderSupported(TTextSortOrder order);

}  // namespace qm::jet
