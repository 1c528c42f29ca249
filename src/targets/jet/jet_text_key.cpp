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
// Largest position of an unprintable character seen in Access's keys: 7 + 4 × 21 = 0x5B under
// General legacy and Japanese, 7 + 4 × 62 = 0xFF (the largest one byte holds) under General.
constexpr std::size_t kMaxUnprintablePosition = 21;
constexpr std::size_t kMaxUnprintablePositionGeneral = 62;

constexpr char16_t kProlongedMark = 0x30FC;            // ー
constexpr char16_t kHalfWidthProlongedMark = 0xFF70;   // ｰ
constexpr char16_t kHalfWidthVoicedMark = 0xFF9E;      // ﾞ
constexpr char16_t kHalfWidthSemiVoicedMark = 0xFF9F;  // ﾟ
constexpr char16_t kIterationMark = 0x3005;            // 々
constexpr char16_t kLetterN = 0x30F3;                  // ン
constexpr char16_t kHiraganaN = 0x3093;                // ん
constexpr char16_t kHalfWidthN = 0xFF9D;               // ﾝ

const TKanaWeight* FindKana(char16_t c) {
    const TKanaWeight* end = kKana + kKanaCount;
    const TKanaWeight* it = std::lower_bound(
        kKana, end, c, [](const TKanaWeight& k, char16_t v) { return k.codePoint < v; });
    return it != end && it->codePoint == c ? it : nullptr;
}

const TWideCode* FindPunctuation(char16_t c) {
    const TWideCode* end = kPunctuation + kPunctuationCount;
    const TWideCode* it = std::lower_bound(
        kPunctuation, end, c, [](const TWideCode& k, char16_t v) { return k.codePoint < v; });
    return it != end && it->codePoint == c ? it : nullptr;
}

const TKanjiWeight* FindKanji(char16_t c) {
    const TKanjiWeight* end = kJapaneseKanji + kJapaneseKanjiCount;
    const TKanjiWeight* it = std::lower_bound(
        kJapaneseKanji, end, c, [](const TKanjiWeight& k, char16_t v) { return k.codePoint < v; });
    return it != end && it->codePoint == c ? it : nullptr;
}

const TLatinCode* FindGeneralDerived(char16_t c) {
    const TGeneralCode* end = kGeneralDerived + kGeneralDerivedCount;
    const TGeneralCode* it = std::lower_bound(
        kGeneralDerived, end, c, [](const TGeneralCode& k, char16_t v) { return k.codePoint < v; });
    return it != end && it->codePoint == c ? &it->code : nullptr;
}

bool InList(const char16_t* list, std::size_t count, char16_t c) {
    return std::binary_search(list, list + count, c);
}

// Kana are coded alike under both sort orders, so a kana proven under one is proven for both;
// kanji and other characters only under the sort order whose keys showed them.
bool Proven(char16_t c, TTextSortOrder order, bool kana) {
    const bool japanese = InList(kProvenJapanese, kProvenJapaneseCount, c);
    const bool general = InList(kProvenGeneralLegacy, kProvenGeneralLegacyCount, c);
    if (kana) return japanese || general;
    return order.lcid == 1041 ? japanese : general;
}

bool IsHalfWidthKana(char16_t c) {
    return c >= 0xFF66 && c <= 0xFF9D;
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

    void Primary(std::initializer_list<std::uint8_t> bytes, std::uint8_t diacritic) {
        Primary(bytes.begin(), bytes.size(), diacritic);
    }

    // One character's primary code (one to four bytes) and its single diacritic weight.
    void Primary(const std::uint8_t* bytes, std::size_t length, std::uint8_t diacritic) {
        primary_.append(reinterpret_cast<const char*>(bytes), length);
        diacritics_.push_back(diacritic);
        lastKana_ = nullptr;
        lastKanji_ = 0;
    }

    // General (1033/1) keys U+0000..U+00FF from the codes Access gives them (kGeneralLatin) and
    // the characters above whose codes are derived and checked (kGeneralDerived);
    // everything else is refused.
    void GeneralCharacter(std::size_t i, char16_t c) {
        if (c < 0x100) return Latin(i, c);
        if (const TLatinCode* code = FindGeneralDerived(c)) return Coded(i, c, *code);
        Refuse(i, c, u"この文字のキーは確かめられていません");
    }

    void Character(std::u16string_view value, std::size_t i) {
        const char16_t c = value[i];
        if (c >= 0xD800 && c <= 0xDFFF) {
            const char32_t full = (c <= 0xDBFF && i + 1 < value.size() && value[i + 1] >= 0xDC00 &&
                                   value[i + 1] <= 0xDFFF)
                                      ? 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00)
                                      : c;
            return Refuse(i, full, u"この文字のキーは確かめられていません");
        }
        if (order_.version == 1) return GeneralCharacter(i, c);
        if (c < 0x100) return Latin(i, c);
        if (c == kProlongedMark || c == kHalfWidthProlongedMark) return Prolonged(i, c);
        if (c == kHalfWidthVoicedMark || c == kHalfWidthSemiVoicedMark) return VoicedMark(i, c);
        if (const TWideCode* mark = FindPunctuation(c)) {
            if (!Proven(c, order_, false))
                return Refuse(i, c, u"この文字のキーは確かめられていません");
            return Primary({mark->primary[0], mark->primary[1]}, 2);
        }
        if (const TKanaWeight* kana = FindKana(c)) {
            if (!Proven(c, order_, true))
                return Refuse(i, c, u"この文字のキーは確かめられていません");
            Primary({0x7F, kana->alphabetic}, kana->diacritic);
            lastKana_ = kana;
            lastKanaIsHalfWidth_ = IsHalfWidthKana(c);
            lastKanaIsN_ = c == kLetterN || c == kHiraganaN || c == kHalfWidthN;
            kanaSmall_.push_back(kana->small ? 2 : 3);
            kanaProlonged_.push_back(1);
            return CheckKanaCount(i, c);
        }
        if (order_.lcid == 1041) {
            if (c == kIterationMark) {
                // Repeats the kanji before it, with diacritic weight 5.
                if (lastKanji_ == 0 || !Proven(c, order_, false))
                    return Refuse(i, c, u"この位置の「々」のキーは確かめられていません");
                const std::uint16_t w = lastKanji_;
                Primary({static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w)}, 5);
                return;
            }
            if (const TKanjiWeight* kanji = FindKanji(c); kanji && Proven(c, order_, false)) {
                Primary({static_cast<std::uint8_t>(kanji->weight >> 8),
                         static_cast<std::uint8_t>(kanji->weight)},
                        2);
                lastKanji_ = kanji->weight;
                return;
            }
        }
        Refuse(i, c, u"この文字のキーは確かめられていません");
    }

    void Latin(std::size_t i, char16_t c) {
        Coded(i, c, order_.version == 1 ? kGeneralLatin[c] : kLatin[c]);
    }

    void Coded(std::size_t i, char16_t c, const TLatinCode& code) {
        switch (code.kind) {
            case TLatinKind::Ignore:
                return;
            case TLatinKind::Simple:
            case TLatinKind::Diacritic:
                Primary(code.primary, code.length,
                        code.kind == TLatinKind::Simple ? 2 : code.extra);
                return;
            case TLatinKind::Unprintable: {
                const std::size_t position = diacritics_.size();
                if (position > (order_.version == 1 ? kMaxUnprintablePositionGeneral
                                                    : kMaxUnprintablePosition))
                    return Refuse(i, c, u"この位置の記号のキーは確かめられていません");
                unprintable_ += '\x80';
                unprintable_ += static_cast<char>(7 + 4 * position);
                unprintable_ += '\x06';
                unprintable_ += static_cast<char>(code.extra);
                return;
            }
        }
    }

    // ー after a kana takes that kana's vowel: kana codes come in rows of eight with the
    // vowels あいうえお at 02..06.
    void Prolonged(std::size_t i, char16_t c) {
        if (lastKana_ == nullptr || lastKanaIsN_ || !Proven(c, order_, true))
            return Refuse(i, c, u"この位置の長音記号のキーは確かめられていません");
        const std::uint8_t vowel =
            static_cast<std::uint8_t>(0x02 + (lastKana_->alphabetic - 0x02) % 8);
        if (vowel > 0x06) return Refuse(i, c, u"この位置の長音記号のキーは確かめられていません");
        const TKanaWeight* previous = lastKana_;
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
        if (kanaSmall_.size() > kMaxKana)
            Refuse(i, c, u"カナが 15 文字以上の値のキーは確かめられていません");
    }

    // ﾞ and ﾟ after a half-width kana voice it: the kana's diacritic weight becomes 3 or 4,
    // as for the full-width voiced kana.
    void VoicedMark(std::size_t i, char16_t c) {
        if (lastKana_ == nullptr || !lastKanaIsHalfWidth_ || diacritics_.back() != 2 ||
            !Proven(c, order_, true))
            return Refuse(i, c, u"この位置の濁点・半濁点のキーは確かめられていません");
        diacritics_.back() = c == kHalfWidthVoicedMark ? 3 : 4;
    }

    TTextKey Result() {
        if (key_.refusal) return std::move(key_);
        std::string& k = key_.bytes;
        k.push_back('\x7F');
        k += primary_;
        k.push_back('\x01');
        DropTrailing<std::uint8_t>(diacritics_, 2);
        for (const std::uint8_t d : diacritics_)
            k.push_back(static_cast<char>(d));
        if (!kanaSmall_.empty() || !unprintable_.empty()) {
            k += "\x01\x01";
            kanaCount_ = kanaSmall_.size();
            if (kanaCount_ > 0) {
                const std::size_t kana = kanaCount_;
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
                if (kanaCount_ > 0) k.push_back('\xFF');
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
    std::vector<std::uint8_t> diacritics_;     // one per character with a primary code
    std::vector<std::uint8_t> kanaSmall_;      // 3 ordinary, 2 small
    std::vector<std::uint8_t> kanaProlonged_;  // 1 ordinary, 3 prolonged mark
    std::string unprintable_;
    std::size_t kanaCount_ = 0;
    const TKanaWeight* lastKana_ = nullptr;
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
