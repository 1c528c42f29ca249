#include "targets/field_conversion.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "targets/value.h"
#include "text/unicode.h"

namespace qm {
namespace {

TFieldDef Field(TFieldType type, std::int32_t size = 0) {
    TFieldDef def;
    def.Name = u"列A";
    def.DataType = type;
    def.Size = size;
    return def;
}

struct Good {
    TFieldType type;
    const char16_t* text;
    TValue expected;
};

TEST(ConvertFieldText, AcceptedForms) {
    const Good cases[] = {
        {ftInteger, u"42", std::int64_t{42}},
        {ftInteger, u" -1,234 ", std::int64_t{-1234}},
        {ftInteger, u"＋１２", std::int64_t{12}},
        {ftInteger, u"7.00", std::int64_t{7}},
        {ftLargeint, u"-9223372036854775808", std::int64_t(-9223372036854775807LL - 1)},
        {ftSmallint, u"32767", std::int64_t{32767}},
        {ftFloat, u"1.5e3", 1500.0},
        {ftFloat, u"−0.25", -0.25},
        {ftFloat, u"1,000.5", 1000.5},
        {ftCurrency, u"¥1,234.56789", TCurrency{12345679}},
        {ftCurrency, u"-0.00005", TCurrency{-1}},
        {ftBCD, u"0012.3400", TDecimal{"12.34"}},
        {ftBoolean, u"yes", true},
        {ftBoolean, u"OFF", false},
        {ftBoolean, u"-1", true},
        {ftBoolean, u"0", false},
        {ftDateTime, u"2024/01/31", TDateTime{45322}},
        {ftDateTime, u"2024-1-31 12:00", TDateTime{45322.5}},
        {ftDate, u"２０２４年１月３１日", TDateTime{45322}},
        {ftDateTime, u"2024-01-31T06:00:00", TDateTime{45322.25}},
        {ftTime, u"18:00", TDateTime{0.75}},
        {ftDateTime, u"1899/12/30", TDateTime{0}},
        {ftGuid, u"0123abcd-0000-1111-2222-333344445555",
         std::u16string(u"{0123ABCD-0000-1111-2222-333344445555}")},
        {ftWideString, u"  spaces kept  ", std::u16string(u"  spaces kept  ")},
        {ftWideMemo, u"a\r\nb", std::u16string(u"a\r\nb")},
        {ftInteger, u"   ", std::monostate{}},
        {ftWideString, u"", std::monostate{}},
    };
    for (const Good& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.text));
        EXPECT_EQ(ConvertFieldText(Field(c.type), c.text), c.expected);
    }
}

TEST(ConvertFieldText, RejectionsNameFieldValueAndType) {
    const std::pair<TFieldType, const char16_t*> cases[] = {
        {ftInteger, u"abc"},         {ftInteger, u"1.5"},    {ftInteger, u"2147483648"},
        {ftSmallint, u"-32769"},     {ftByte, u"-1"},        {ftInteger, u"1,,000"},
        {ftInteger, u"1e3"},         {ftFloat, u"1e400"},    {ftFloat, u"12abc"},
        {ftCurrency, u"1e3"},        {ftBoolean, u"maybe"},  {ftDateTime, u"2023/02/29"},
        {ftDateTime, u"2024/13/01"}, {ftDateTime, u"24:00"}, {ftDateTime, u"2024/01/31 x"},
        {ftGuid, u"{1234}"},         {ftBlob, u"data"},
    };
    for (auto [type, text] : cases) {
        SCOPED_TRACE(Utf16ToUtf8(text));
        try {
            ConvertFieldText(Field(type), text);
            ADD_FAILURE() << "accepted";
        } catch (const Error& e) {
            std::u16string message = e.Message();
            EXPECT_NE(message.find(u"列A"), std::u16string::npos);
            EXPECT_NE(message.find(text), std::u16string::npos);
        }
    }
}

TEST(ConvertFieldText, TextLongerThanFieldSizeIsRefused) {
    EXPECT_EQ(ConvertFieldText(Field(ftWideString, 3), u"abc"), TValue(std::u16string(u"abc")));
    EXPECT_THROW(ConvertFieldText(Field(ftWideString, 3), u"abcd"), Error);
}

TEST(ValueToDisplayText, Forms) {
    EXPECT_EQ(ValueToDisplayText(TDateTime{45322.5}), u"2024/01/31 12:00:00");
    EXPECT_EQ(ValueToDisplayText(TDateTime{45322}), u"2024/01/31");
    EXPECT_EQ(ValueToDisplayText(TDateTime{0.75}), u"18:00:00");
    EXPECT_EQ(ValueToDisplayText(TCurrency{-12345}), u"-1.2345");
    EXPECT_EQ(ValueToDisplayText(0.1), u"0.1");
    EXPECT_EQ(ValueToDisplayText(true), u"True");
    EXPECT_EQ(ValueToDisplayText(TValue{}), u"");
}

}  // namespace
}  // namespace qm
