// Text decoding (plain and compressed) and the text form of values.
#include <gtest/gtest.h>

#include "targets/jet/jet_text.h"
#include "targets/jet/jet_value.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::u16string Decode(std::initializer_list<std::uint8_t> bytes) {
    const std::vector<std::uint8_t> v(bytes);
    return DecodeJetText(v);
}

TEST(JetText, DecodesPlainAndCompressedForms) {
    EXPECT_EQ(Decode({'a', 0, 'b', 0}), u"ab");
    EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 'b', 'c'}), u"abc");
    // 0x00 switches to two-byte characters and back.
    EXPECT_EQ(Decode({0xFF, 0xFE, 'a', 0x00, 0x42, 0x30, 0x00, 'z'}), u"aあz");
    EXPECT_EQ(Decode({0xFF, 0xFE}), u"");
    // A dangling half character at the end is dropped, never read past.
    EXPECT_EQ(Decode({0xFF, 0xFE, 0x00, 0x42}), u"");
    EXPECT_EQ(Decode({'a', 0, 'b'}), u"a");
}

TJetValue Date(double v) {
    TJetValue x;
    x.kind = TJetValue::Kind::DateTime;
    x.real = v;
    return x;
}

TEST(JetValue, FormatsDatesIncludingBeforeTheBaseDate) {
    const struct {
        double value;
        const char16_t* text;
    } cases[] = {
        {0.0, u"1899/12/30"},
        {-1.25, u"1899/12/29 6:00:00"},  // the fraction is a time of day, also before 1899
        {-115858.0, u"1582/10/15"},      // proleptic Gregorian calendar
        {-115859.0, u"1582/10/14"},
        {0.5, u"12:00:00"},
        {40000.999999, u"2009/07/07"},  // rounds to the next midnight
        {2958465.0, u"9999/12/31"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(FormatJetValue(Date(c.value)), c.text);
    }
}

TEST(JetValue, FormatsNumbers) {
    TJetValue money;
    money.kind = TJetValue::Kind::Currency;
    money.integer = -12345678;
    EXPECT_EQ(FormatJetValue(money), u"-1234.5678");
    money.integer = 35000;
    EXPECT_EQ(FormatJetValue(money), u"3.5");
    const std::uint32_t big[4] = {0, 0x17, 0x5BBEB7E3, 0x3A8B4B77};  // 0x175BBEB7E33A8B4B77
    EXPECT_EQ(FormatDecimal(false, big, 6), u"430886037184913.820535");
    const std::uint32_t small[4] = {0, 0, 0, 123};
    EXPECT_EQ(FormatDecimal(true, small, 4), u"-0.0123");
    const std::uint32_t zero[4] = {0, 0, 0, 0};
    EXPECT_EQ(FormatDecimal(true, zero, 2), u"0");
    TJetValue single;
    single.kind = TJetValue::Kind::Float;
    single.single = true;
    single.real = 0.1f;
    EXPECT_EQ(FormatJetValue(single), u"0.1");
    TJetValue flag;
    flag.kind = TJetValue::Kind::Boolean;
    EXPECT_EQ(FormatJetValue(flag), u"False");
    EXPECT_EQ(FormatJetValue(TJetValue{}), u"");
}

}  // namespace
}  // namespace qm::jet
