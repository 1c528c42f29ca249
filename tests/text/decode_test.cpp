#include <gtest/gtest.h>

#include <string>

#include "platform/iconv_converter.h"
#include "text/japanese_decoder.h"
#include "text/mecs_utils.h"
#include "text/string_utility.h"

namespace qm {
namespace {

std::u16string Units(std::initializer_list<char16_t> units) {
    return std::u16string(units);
}

TEST(DecodeBytes, ByCodePage) {
    struct Case {
        const char* name;
        std::string bytes;
        TCodePage codePage;
        std::u16string text;
    } cases[] = {
        {"UTF-8 mark dropped", "\xEF\xBB\xBF\xE3\x81\x82", 65001, u"\u3042"},
        {"UTF-8 mark only once", "\xEF\xBB\xBF\xEF\xBB\xBF", 65001, u"\uFEFF"},
        {"UTF-8 without mark", "a\xE3\x81\x82", 65001, u"a\u3042"},
        {"UTF-8 ill-formed",
         "a\xE3\x81"
         "b\xFF",
         65001, u"a\uFFFDb\uFFFD"},
        {"UTF-16LE mark and odd byte dropped",
         std::string("\xFF\xFE"
                     "a\0B0x",
                     7),
         1200, u"a\u3042"},
        {"UTF-16LE without mark", std::string("a\0", 2), 1200, u"a"},
        {"UTF-16LE keeps a big-endian mark",
         std::string("\xFE\xFF"
                     "a\0",
                     4),
         1200, u"\uFFFEa"},
        {"UTF-16LE lone surrogates kept",
         std::string("\x00\xD8"
                     "a\0\x00\xDC",
                     6),
         1200, Units({0xD800, u'a', 0xDC00})},
        {"UTF-16BE mark dropped", std::string("\xFE\xFF\x30\x42\0a", 6), 1201, u"\u3042a"},
        {"UTF-16BE keeps a little-endian mark", std::string("\xFF\xFE\0a", 4), 1201, u"\uFFFEa"},
        {"UTF-32LE mark dropped", std::string("\xFF\xFE\0\0\x00\xF6\x01\0", 8), 12000,
         u"\U0001F600"},
        {"UTF-32LE mark only once", std::string("\xFF\xFE\0\0\xFF\xFE\0\0", 8), 12000, u"\uFEFF"},
        {"UTF-32BE mark dropped", std::string("\0\0\xFE\xFF\0\0\x30\x42", 8), 12001, u"\u3042"},
        {"UTF-32BE keeps a little-endian mark", std::string("\xFF\xFE\0\0", 4), 12001, u"\uFFFD"},
        {"UTF-32BE", std::string("\0\0\x30\x42", 4), 12001, u"\u3042"},
        {"UTF-32 invalid values", std::string("\0\xD8\0\0\0\0\x11\0", 8), 12000, u"\uFFFD\uFFFD"},
        {"UTF-32 cut last unit", std::string("a\0\0\0b\0", 6), 12000, u"a\uFFFD"},
        {"widened", "a\x82\xFF", 65535, Units({u'a', 0x82, 0xFF})},
        {"CP932", "a\x82\xA0\xB1\x81\x60\x87\x40\xFA\x40", 932, u"a\u3042\uFF71\uFF5E\u2460\u2170"},
        {"CP932 invalid bytes", "\x80\x82,\xFD", 932, u"\uFFFD\uFFFD,\uFFFD"},
        {"CP932 unmapped pair",
         "\x85\x40"
         "a",
         932, u"\uFFFDa"},
        {"EUC-JP", "\xA4\xA2\x8E\xB1\x8F\xB0\xA1\xA1\xC1", 20932, u"\u3042\uFF71\u4E02\uFF5E"},
        {"EUC-JP cut", "a\xA4", 20932, u"a\uFFFD"},
        {"EUC-JP 8F cut", "a\x8F\xB0", 20932, u"a\uFFFD"},
        {"EUC-JP 51932", "\xA1\xDD", 51932, u"\uFF0D"},
        {"ISO-2022-JP", "a\x1B$B$\"!A\x1B(Bb", 50220, u"a\u3042\uFF5Eb"},
        {"ISO-2022-JP half-width katakana", "\x1B(I\x31\x32\x1B(B", 50220, u"\uFF71\uFF72"},
        {"ISO-2022-JP shift out",
         "a\x0E\x31\x0F"
         "a",
         50222, u"a\uFF71a"},
        {"ISO-2022-JP NEC row 13", "\x1B$B-!\x1B(B", 50221, u"\u2460"},
        {"ISO-2022-JP NEC-selected IBM row 89", "\x1B$By!\x1B(B", 50220, u"\u7E8A"},
        {"ISO-2022-JP unassigned row", "\x1B$B)!\x1B(B", 50220, u"\uFFFD"},
        {"ISO-2022-JP X 0212", "\x1B$(D0!\x1B(B", 50220, u"\u4E02"},
        {"ISO-2022-JP line ends inside kanji", "\x1B$B$\"\r\n$$", 50220, u"\u3042\r\n\u3044"},
        {"ISO-2022-JP cut pair and 8-bit byte", "\x1B$B$\x82", 50220, u"\uFFFD\uFFFD"},
        {"ISO-2022-JP unknown escape", "\x1B(Za", 50220, u"\x1B(Za"},
        {"single-byte code page", "\xE9", 1252, u"\u00E9"},
        {"unknown code page widened", "\xE9", 1, u"\u00E9"},
        {"empty", "", 932, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeBytes(c.bytes, c.codePage), c.text);
    }
}

// The lookup tables hold glibc's CP932 mapping: decoding every byte pair, valid or not, gives
// what iconv itself gives.
TEST(DecodeBytes, Cp932IsExactlyTheConvertersResult) {
    std::string all;
    for (int lead = 0; lead < 256; ++lead) {
        for (int trail = 0x3F; trail < 256; trail += 3) {
            all += static_cast<char>(lead);
            all += static_cast<char>(trail);
            all += ',';
        }
    }
    EXPECT_EQ(DecodeBytes(all, 932), IconvDecode(all, "CP932", Cp932BadSequenceLength));
    EXPECT_EQ(DecodeBytes(all, 20932), MecsMappingFix_JISX0208ToUnicode(
                                           IconvDecode(all, "EUC-JP-MS", EucJpBadSequenceLength)));
}

TEST(DecodeBytes, JisX0208CharactersTakeTheirCp932CodePoints) {
    std::u16string from = u"\u00A2\u00A3\u00AC\u2014\u2016\u203E\u2212\u301Cx\u00A1\u3042";
    std::u16string to = u"\uFFE0\uFFE1\uFFE2\u2015\u2225\uFFE3\uFF0D\uFF5Ex\u00A1\u3042";
    EXPECT_EQ(MecsMappingFix_JISX0208ToUnicode(from), to);
    EXPECT_EQ(MecsMappingFix_CP932ToUnicode(from), from);
    // Applied after EUC-JP and ISO-2022-JP decoding, not after CP932 or UTF-8.
    EXPECT_EQ(DecodeBytes("\xE3\x80\x9C", 65001), u"\u301C");
    EXPECT_EQ(DecodeBytes("\x1B$B!A\x1B(B", 50220), u"\uFF5E");
}

TEST(DecodeBytes, StretchAndAnsi) {
    std::string bytes;
    for (int b = 0; b < 256; ++b)
        bytes += static_cast<char>(b);
    std::u16string widened = MecsStretchElement(bytes);
    ASSERT_EQ(widened.size(), 256u);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(widened[static_cast<std::size_t>(b)], b);
    EXPECT_EQ(AnsiToUTF16("", 932), u"");
    // AnsiToUTF16 removes no mark; DecodeBytes does.
    EXPECT_EQ(AnsiToUTF16("\xEF\xBB\xBF"
                          "a",
                          65001),
              u"\uFEFFa");
}

}  // namespace
}  // namespace qm
