#include "targets/jet/jet_text_key.h"

#include <algorithm>
#include <vector>

#include "targets/jet/jet_text_key_tables.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

using namespace text_key;

constexpr std::size_t kMaxCharacters = 255;
// Kana beyond this count change the length of the kana section in ways no key has shown yet.
constexpr std::size_t kMaxKana = 14;
// Under General the kana section is known only where it matches General legacy's for any rule:
// up to seven kana (one 80 filler byte either way).
constexpr std::size_t kMaxKanaGeneral = 7;
// Largest position of an unprintable character written: its position byte 7 + 4 × 62 = 0xFF is
// the largest one byte holds, and Access's General keys show positions up to there (General
// legacy's, with the same layout, up to 21). Beyond it the position takes two bytes in a way no
// key has shown.
constexpr std::size_t kMaxUnprintablePosition = 62;

constexpr char16_t kProlongedMark = 0x30FC;            // ー
constexpr char16_t kHalfWidthProlongedMark = 0xFF70;   // ｰ
constexpr char16_t kHalfWidthVoicedMark = 0xFF9E;      // ﾞ
constexpr char16_t kHalfWidthSemiVoicedMark = 0xFF9F;  // ﾟ
constexpr char16_t kIterationMark = 0x3005;            // 々
constexpr char16_t kLetterN = 0x30F3;                  // ン
constexpr char16_t kHiraganaN = 0x3093;                // ん
constexpr char16_t kHalfWidthN = 0xFF9D;               // ﾝ

// Marks that repeat the character before them (々 〻 ゝ ゞ ヽ ヾ, the vertical kana repeat marks
// and the Yi repeater): Windows weighs them by that character, and Access does so for 々 under
// 1041. The code lists give each one fixed code, read from a key holding the mark alone ("a" with a
// diacritic weight); what Access writes after another character is not known.
bool IsRepeatMark(char16_t c) {
    return c == 0x3005 || c == 0x303B || c == 0x309D || c == 0x309E || c == 0x30FD || c == 0x30FE ||
           (c >= 0x3031 && c <= 0x3035) || c == 0xA015;
}

// One character's codes, expanded from the runs of the generated tables.
struct TCharCode {
    bool known = false;  // false for the surrogates
    TCodeKind kind = TCodeKind::Ignore;
    std::uint8_t primaryLength = 0;
    std::uint8_t extraLength = 0;
    std::uint8_t kanaFlag = 0;
    std::uint8_t bytes[kMaxCodeBytes] = {};
};
using TCodeTable = std::vector<TCharCode>;

// The primary code after this one: the last byte counts through 02..FF and carries.
void Increment(std::uint8_t* code, std::size_t length) {
    for (std::size_t i = length; i-- > 0;) {
        if (code[i] < 0xFF) {
            ++code[i];
            return;
        }
        code[i] = 0x02;
    }
}

TCodeTable Expand(const TCodeRun* runs, std::size_t count) {
    TCodeTable table(0x10000);
    for (const TCodeRun* run = runs; run != runs + count; ++run) {
        TCharCode code;
        code.known = true;
        code.kind = run->kind;
        code.primaryLength = run->primaryLength;
        code.extraLength = run->extraLength;
        code.kanaFlag = run->kanaFlag;
        std::copy(std::begin(run->bytes), std::end(run->bytes), code.bytes);
        for (std::size_t i = 0; i < run->count && run->first + i < table.size(); ++i) {
            table[run->first + i] = code;
            if (run->step == 1) Increment(code.bytes, code.primaryLength);
        }
    }
    return table;
}

// Each sort order's table is built the first time a key of that order is made.
const TCharCode& CodeOf(char16_t c, TTextSortOrder order) {
    if (order.version == 1) {
        static const TCodeTable general = Expand(kGeneralRuns, kGeneralRunsCount);
        return general[c];
    }
    static const TCodeTable legacy = Expand(kLegacyRuns, kLegacyRunsCount);
    return legacy[c];
}

const TKanjiWeight* FindKanji(char16_t c) {
    const TKanjiWeight* end = kJapaneseKanji + kJapaneseKanjiCount;
    const TKanjiWeight* it = std::lower_bound(
        kJapaneseKanji, end, c, [](const TKanjiWeight& k, char16_t v) { return k.codePoint < v; });
    return it != end && it->codePoint == c ? it : nullptr;
}

// Under 1041 a character above U+00FF is keyed only when keys Access wrote show it; under the
// General sort orders the code lists read from Access are the proof.
bool Proven(char16_t c, TTextSortOrder order) {
    if (order.lcid != 1041 || c < 0x100) return true;
    return std::binary_search(kProvenJapanese, kProvenJapanese + kProvenJapaneseCount, c);
}

bool IsHalfWidthKana(char16_t c) {
    return c >= 0xFF66 && c <= 0xFF9D;
}

// The hiragana, katakana and half-width katakana letters: a prolonged sound mark after one of
// them takes its vowel. (Other characters the lists code as kana — ヷ, circled katakana — are
// not shown followed by one.)
bool IsKanaLetter(char16_t c) {
    return (c >= 0x3041 && c <= 0x30F6) || IsHalfWidthKana(c);
}

// Packs 2-bit values three to a byte behind the bits 10, the last byte padded with zeros.
void PackTwoBitValues(const std::vector<std::uint8_t>& values, std::string& out) {
    for (std::size_t i = 0; i < values.size(); i += 3) {
        std::uint8_t byte = 0x80;
        for (std::size_t j = 0; j < 3; ++j) {
            const std::uint8_t v = i + j < values.size() ? values[i + j] : 0;
            byte = static_cast<std::uint8_t>(byte | (v << (4 - 2 * j)));
        }
        out.push_back(static_cast<char>(byte));
    }
}

template <typename T>
void DropTrailing(std::vector<T>& values, T value) {
    while (!values.empty() && values.back() == value)
        values.pop_back();
}

class TEncoder {
  public:
    explicit TEncoder(TTextSortOrder order) : order_(order) {}

    TTextKey Run(std::u16string_view value) {
        // Whether General drops trailing spaces as General legacy does is not established: no key
        // Access wrote under General shows a value with one.
        if (order_.version == 1 && !value.empty() && value.back() == u' ') {
            Refuse(value.size() - 1, u' ', u"末尾の空白のキーは確かめられていません");
            return Result();
        }
        while (!value.empty() && value.back() == u' ')
            value.remove_suffix(1);
        if (value.size() > kMaxCharacters) {
            Refuse(kMaxCharacters, value[kMaxCharacters],
                   u"255 文字を超える値のキーは確かめられていません");
            return Result();
        }
        for (std::size_t i = 0; i < value.size() && !key_.refusal; ++i)
            Character(value, i);
        return Result();
    }

  private:
    void Refuse(std::size_t position, char32_t c, std::u16string reason) {
        if (key_.refusal) return;
        key_.refusal = TTextKeyRefusal{position, c, std::move(reason)};
    }

    void RefuseUnproven(std::size_t i, char32_t c) {
        Refuse(i, c, u"この文字のキーは確かめられていません");
    }

    // A character with a primary code: the code goes inline, its diacritic bytes (if any) to
    // the diacritic section at the character's place, the characters before it without
    // diacritic bytes holding the default 02 there.
    void Primary(const std::uint8_t* bytes, std::size_t length, const std::uint8_t* extra,
                 std::size_t extraLength) {
        const std::size_t place = characters_++;
        primary_.append(reinterpret_cast<const char*>(bytes), length);
        if (extraLength > 0) {
            FillDiacritics(place);
            diacritics_.append(reinterpret_cast<const char*>(extra), extraLength);
            ++diacriticCharacters_;
        }
        lastKana_ = 0;
        lastKanji_ = 0;
    }

    void Primary(std::initializer_list<std::uint8_t> bytes, std::uint8_t diacritic) {
        Primary(bytes.begin(), bytes.size(), &diacritic, diacritic != 2 ? 1 : 0);
    }

    void FillDiacritics(std::size_t upTo) {
        for (; diacriticCharacters_ < upTo; ++diacriticCharacters_)
            diacritics_.push_back('\x02');
    }

    // A combining mark adds its byte to the diacritic weight of the character before it; with
    // no character before, the byte opens the section on its own.
    void Modify(std::uint8_t modifier) {
        FillDiacritics(characters_);
        if (!diacritics_.empty()) {
            diacritics_.back() = static_cast<char>(diacritics_.back() + modifier);
        } else {
            diacritics_.push_back(static_cast<char>(modifier));
            diacriticPrefix_ = 1;
        }
    }

    // The position recorded for an unprintable character counts the diacritic bytes written so
    // far (a byte opening the section aside) and the characters after them.
    std::size_t UnprintablePosition() const {
        return diacritics_.size() + (characters_ - diacriticCharacters_) - diacriticPrefix_;
    }

    void Character(std::u16string_view value, std::size_t i) {
        const char16_t c = value[i];
        if (c >= 0xD800 && c <= 0xDFFF) {
            const char32_t full = (c <= 0xDBFF && i + 1 < value.size() && value[i + 1] >= 0xDC00 &&
                                   value[i + 1] <= 0xDFFF)
                                      ? 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00)
                                      : c;
            return RefuseUnproven(i, full);
        }
        if (order_.version == 1) return GeneralCharacter(i, c);
        if (c < 0x100) return Coded(i, c, CodeOf(c, order_));
        if (c == kProlongedMark || c == kHalfWidthProlongedMark) return Prolonged(i, c);
        if (c == kHalfWidthVoicedMark || c == kHalfWidthSemiVoicedMark) return VoicedMark(i, c);
        if (order_.lcid == 1041) {
            if (c == kIterationMark) {
                // Repeats the kanji before it, with diacritic weight 5.
                if (lastKanji_ == 0 || !Proven(c, order_))
                    return Refuse(i, c, u"この位置の「々」のキーは確かめられていません");
                const std::uint16_t w = lastKanji_;
                Primary({static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)}, 5);
                return;
            }
            if (const TKanjiWeight* kanji = FindKanji(c)) {
                if (!Proven(c, order_)) return RefuseUnproven(i, c);
                Primary({static_cast<std::uint8_t>(kanji->weight >> 8),
                         static_cast<std::uint8_t>(kanji->weight)},
                        2);
                lastKanji_ = kanji->weight;
                return;
            }
            if (!Proven(c, order_)) return RefuseUnproven(i, c);
        }
        if (IsRepeatMark(c))
            return Refuse(i, c, u"この位置の繰り返し記号のキーは確かめられていません");
        Coded(i, c, CodeOf(c, order_));
    }

    // General (1033/1) keys every character by its line in the General code list, but for the
    // prolonged sound marks and the iteration marks, whose keys depend on the character before
    // them (General legacy shows it for ー) in a way no General key has shown.
    void GeneralCharacter(std::size_t i, char16_t c) {
        if (c == kProlongedMark || c == kHalfWidthProlongedMark)
            return Refuse(i, c, u"この位置の長音記号のキーは確かめられていません");
        if (IsRepeatMark(c))
            return Refuse(i, c, u"この位置の繰り返し記号のキーは確かめられていません");
        Coded(i, c, CodeOf(c, order_));
    }

    void Coded(std::size_t i, char16_t c, const TCharCode& code) {
        if (!code.known) return RefuseUnproven(i, c);
        const std::uint8_t* extra = code.bytes + code.primaryLength;
        switch (code.kind) {
            case TCodeKind::Ignore:
                return;
            case TCodeKind::Simple:
                return Primary(code.bytes, code.primaryLength, nullptr, 0);
            case TCodeKind::International:
                return Primary(code.bytes, code.primaryLength, extra, code.extraLength);
            case TCodeKind::Modifier:
                return Modify(extra[0]);
            case TCodeKind::Kana:
                Primary(code.bytes, code.primaryLength, extra, code.extraLength);
                if (IsKanaLetter(c)) {
                    lastKana_ = code.bytes[code.primaryLength - 1];
                    lastKanaIsHalfWidth_ = IsHalfWidthKana(c);
                    lastKanaIsN_ = c == kLetterN || c == kHiraganaN || c == kHalfWidthN;
                }
                kanaSmall_.push_back(code.kanaFlag);
                kanaProlonged_.push_back(1);
                return CheckKanaCount(i, c);
            case TCodeKind::Unprintable: {
                const std::size_t position = UnprintablePosition();
                if (position > kMaxUnprintablePosition)
                    return Refuse(i, c, u"この位置の記号のキーは確かめられていません");
                unprintable_ += '\x80';
                unprintable_ += static_cast<char>(7 + 4 * position);
                unprintable_ += '\x06';
                unprintable_.append(reinterpret_cast<const char*>(extra), code.extraLength);
                return;
            }
        }
    }

    // ー after a kana takes that kana's vowel: kana codes come in rows of eight with the
    // vowels あいうえお at 02..06.
    void Prolonged(std::size_t i, char16_t c) {
        if (lastKana_ == 0 || lastKanaIsN_ || !Proven(c, order_))
            return Refuse(i, c, u"この位置の長音記号のキーは確かめられていません");
        const std::uint8_t vowel = static_cast<std::uint8_t>(0x02 + (lastKana_ - 0x02) % 8);
        if (vowel > 0x06) return Refuse(i, c, u"この位置の長音記号のキーは確かめられていません");
        const std::uint8_t previous = lastKana_;
        const bool halfWidth = lastKanaIsHalfWidth_;
        Primary({0x7F, vowel}, 2);
        // Another ー may follow and takes the same vowel.
        lastKana_ = previous;
        lastKanaIsHalfWidth_ = halfWidth;
        // The mark takes the small-kana flag of the kana it prolongs (ュー is flagged twice).
        kanaSmall_.push_back(kanaSmall_.back());
        kanaProlonged_.push_back(3);
        CheckKanaCount(i, c);
    }

    void CheckKanaCount(std::size_t i, char16_t c) {
        const std::size_t limit = order_.version == 1 ? kMaxKanaGeneral : kMaxKana;
        if (kanaSmall_.size() > limit)
            Refuse(i, c,
                   u"カナが " + Utf8ToUtf16(std::to_string(limit + 1)) +
                       u" 文字以上の値のキーは確かめられていません");
    }

    // ﾞ and ﾟ after a half-width kana voice it: the kana's diacritic weight becomes 3 or 4,
    // as for the full-width voiced kana.
    void VoicedMark(std::size_t i, char16_t c) {
        const bool kanaHasDiacritic = diacriticCharacters_ == characters_;
        if (lastKana_ == 0 || !lastKanaIsHalfWidth_ || kanaHasDiacritic || !Proven(c, order_))
            return Refuse(i, c, u"この位置の濁点・半濁点のキーは確かめられていません");
        Modify(c == kHalfWidthVoicedMark ? 1 : 2);
    }

    TTextKey Result() {
        if (key_.refusal) return std::move(key_);
        std::string& k = key_.bytes;
        k.push_back('\x7F');
        k += primary_;
        k.push_back('\x01');
        while (!diacritics_.empty() && static_cast<std::uint8_t>(diacritics_.back()) <= 2)
            diacritics_.pop_back();
        k += diacritics_;
        if (!kanaSmall_.empty() || !unprintable_.empty()) {
            k += "\x01\x01";
            const std::size_t kana = kanaSmall_.size();
            if (kana > 0) {
                DropTrailing<std::uint8_t>(kanaSmall_, 3);
                DropTrailing<std::uint8_t>(kanaProlonged_, 1);
                PackTwoBitValues(kanaSmall_, k);
                k.push_back('\xFF');
                PackTwoBitValues(kanaProlonged_, k);
                const std::size_t fillers = (kana + 6) / 7;
                k.push_back('\x02');
                k.append(fillers, '\x80');
                k.push_back('\xFF');
                k.append(fillers, '\x80');
            }
            if (!unprintable_.empty()) {
                // After a kana section the unprintable section is introduced by FF 01.
                if (kana > 0) k.push_back('\xFF');
                k.push_back('\x01');
                k += unprintable_;
            }
        }
        k.push_back('\0');
        return std::move(key_);
    }

    TTextSortOrder order_;
    TTextKey key_;
    std::string primary_;
    std::size_t characters_ = 0;  // characters with a primary code so far
    std::string diacritics_;
    std::size_t diacriticCharacters_ = 0;      // characters the diacritic bytes account for
    std::size_t diacriticPrefix_ = 0;          // a modifier byte that opened the section
    std::vector<std::uint8_t> kanaSmall_;      // 3 ordinary, 2 small
    std::vector<std::uint8_t> kanaProlonged_;  // 1 ordinary, 3 prolonged mark
    std::string unprintable_;
    std::uint8_t lastKana_ = 0;  // alphabetic weight of a kana letter just before, or 0
    bool lastKanaIsHalfWidth_ = false;
    bool lastKanaIsN_ = false;
    std::uint16_t lastKanji_ = 0;
};

}  // namespace

// The characters besides digits and "-" that the General keys in the fixture databases show (a–y
// in either case, space, "." and "_"): the rebuild test checks that each is in a key rebuilt
// equal to Access's, confirming these lines of Jackcess's General list against Access itself.
const char16_t kGeneralProven[] = u" ._abcdefghijklmnopqrstuvwxy";

bool IsTextKeySortOrderSupported(TTextSortOrder order) {
    return (order.version == 0 && (order.lcid == 1033 || order.lcid == 1041)) ||
           (order.version == 1 && order.lcid == 1033);
}

std::u16string SortOrderName(TTextSortOrder order) {
    return Utf8ToUtf16(std::to_string(order.lcid) + "/" + std::to_string(order.version));
}

std::u16string TextKeyRefusalMessage(const TTextKeyRefusal& refusal, std::u16string_view index,
                                     std::u16string_view field, std::u16string_view value) {
    std::u16string message = u"インデックス「" + std::u16string(index) + u"」のフィールド「" +
                             std::u16string(field) + u"」の値「" + std::u16string(value) +
                             u"」のキーを作れません";
    if (refusal.character != 0) {
        std::u16string character;
        if (refusal.character > 0xFFFF) {
            character.push_back(
                static_cast<char16_t>(0xD800 + ((refusal.character - 0x10000) >> 10)));
            character.push_back(
                static_cast<char16_t>(0xDC00 + ((refusal.character - 0x10000) & 0x3FF)));
        } else {
            character.push_back(static_cast<char16_t>(refusal.character));
        }
        message += u"（" + Utf8ToUtf16(std::to_string(refusal.position + 1)) + u" 文字目の「" +
                   character + u"」: " + refusal.reason + u"）。";
    } else {
        message += u"（" + refusal.reason + u"）。";
    }
    return message;
}

TTextKey EncodeTextKey(std::u16string_view value, TTextSortOrder order) {
    return EncodeTextKey(value, order, true);
}

std::u16string LongKeyReason() {
    return u"キーが " + Utf8ToUtf16(std::to_string(kMaxTextKeyBytes)) +
           u" バイトを超えます。Accessがこの長さのキーをどう縮めて書くかは確かめられていません";
}

TTextKey EncodeTextKey(std::u16string_view value, TTextSortOrder order, bool ascending) {
    TTextKey key;
    if (!IsTextKeySortOrderSupported(order)) {
        key.refusal = TTextKeyRefusal{
            0, 0,
            u"並べ替え順序 " + SortOrderName(order) + u" のテキストのキーには対応していません"};
        return key;
    }
    key = TEncoder(order).Run(value);
    if (key.refusal) return key;
    std::string& bytes = key.bytes;
    if (!ascending) {
        bytes[0] = static_cast<char>(0x80);
        for (std::size_t i = 1; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(~bytes[i]);
        bytes.push_back('\0');
    }
    if (bytes.size() > kMaxTextKeyBytes) {
        key.refusal = TTextKeyRefusal{0, 0, LongKeyReason()};
        bytes.clear();
    }
    return key;
}

}  // namespace qm::jet
