#include "platform/iconv_converter.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "text/japanese_decoder.h"

namespace qm {
namespace {

TEST(IconvConverter, DecodesAndReplacesBadSequences) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* charset;
        TBadSequenceLength badLength;
        std::u16string text;
    } cases[] = {
        {"CP932 text", "a\x82\xA0\xB1", "CP932", nullptr, u"a\u3042\uFF71"},
        {"CP932 NEC row 13", "\x87\x40", "CP932", nullptr, u"\u2460"},
        {"invalid single byte",
         "a\x80"
         "b",
         "CP932", nullptr, u"a\uFFFDb"},
        {"unmapped pair skipped whole", "\x85\x40z", "CP932", Cp932BadSequenceLength, u"\uFFFDz"},
        {"lead before a byte that cannot trail", "\x82,", "CP932", Cp932BadSequenceLength,
         u"\uFFFD,"},
        {"lead cut by the end", "a\x82", "CP932", nullptr, u"a\uFFFD"},
        {"EUC-JP-MS", "\xA4\xA2\x8E\xB1\x8F\xB0\xA1", "EUC-JP-MS", nullptr, u"\u3042\uFF71\u4E02"},
        {"UTF-8 through iconv", "\xE3\x81\x82", "UTF-8", nullptr, u"\u3042"},
        {"empty", "", "CP932", nullptr, u""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IconvDecode(c.bytes, c.charset, c.badLength), c.text);
    }
}

TEST(IconvConverter, EncodesAndReplacesUnmappableCharacters) {
    struct Case {
        const char* name;
        std::u16string text;
        const char* charset;
        std::string bytes;
    } cases[] = {
        {"CP932", u"a\u3042\uFF5E", "CP932", "a\x82\xA0\x81\x60"},
        {"unmappable", u"a\u00E9\U0001F600b", "CP932", "a??b"},
        {"lone surrogates", std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}, "UTF-8",
         "a?b?"},
        {"lone high surrogate at the end", std::u16string{u'a', char16_t(0xD800)}, "CP932", "a?"},
        {"ISO-2022-JP returns to ASCII around replacements", u"\u3042\u00E9\u3044", "ISO-2022-JP",
         "\x1B$B$\"\x1B(B?\x1B$B$$\x1B(B"},
        {"UTF-8", u"\u3042", "UTF-8", "\xE3\x81\x82"},
        {"empty", u"", "CP932", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IconvEncode(c.text, c.charset), c.bytes);
    }
    EXPECT_EQ(EncodeToCodePage(u"\u3042", 932), "\x82\xA0");
    EXPECT_EQ(EncodeToCodePage(u"\u3042", 20932), "\xA4\xA2");
}

TEST(IconvConverter, CodePageNames) {
    EXPECT_STREQ(CodePageCharset(932), "CP932");
    EXPECT_STREQ(CodePageCharset(20932), "EUC-JP-MS");
    EXPECT_STREQ(CodePageCharset(65001), "UTF-8");
    EXPECT_STREQ(CodePageCharset(1252), "CP1252");
    EXPECT_EQ(CodePageCharset(65535), nullptr);
    EXPECT_EQ(CodePageCharset(12345), nullptr);
}

TEST(IconvConverter, UnknownCharsetOrCodePageIsAnError) {
    EXPECT_THROW(IconvDecode("a", "NO-SUCH-CHARSET"), Error);
    EXPECT_THROW(IconvEncode(u"a", "NO-SUCH-CHARSET"), Error);
    EXPECT_THROW(EncodeToCodePage(u"a", 12345), Error);
}

TEST(IconvConverter, SequenceDecoder) {
    TIconvSequenceDecoder decoder("CP932");
    const unsigned char pair[] = {0x82, 0xA0};
    EXPECT_EQ(decoder.DecodeUnit(pair, 2), u'\u3042');
    EXPECT_EQ(decoder.DecodeUnit(pair, 1), 0);  // incomplete
    const unsigned char two[] = {'a', 'b'};
    EXPECT_EQ(decoder.DecodeUnit(two, 2), 0);  // two characters
    const unsigned char bad[] = {0x80};
    EXPECT_EQ(decoder.DecodeUnit(bad, 1), 0);
}

}  // namespace
}  // namespace qm
