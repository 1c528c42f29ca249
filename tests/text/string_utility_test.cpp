#include "text/string_utility.h"

#include <gtest/gtest.h>

#include "platform/memory_stream.h"

namespace qm {
namespace {

TEST(StringUtility, LastPos) {
    struct Case {
        std::u16string text, sub;
        std::size_t pos;
    } cases[] = {
        {u"abcab", u"ab", 4}, {u"aaa", u"aa", 2},
        {u"abc", u"x", 0},    {u"abc", u"", 0},
        {u"", u"a", 0},       {u"", u"", 0},
        {u"abc", u"abc", 1},  {u"ab", u"abc", 0},
        {u"a,b,c", u",", 4},  {u"\u3042\u3044\u3042", u"\u3042", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pos);
        EXPECT_EQ(LastPos(c.text, c.sub), c.pos);
    }
}

TEST(StringUtility, EncodingToCodePage) {
    struct Case {
        TDetectedEncoding encoding;
        TCodePage codePage;
    } cases[] = {
        {deSJIS, 932},      {deEUC, 20932},  {deJIS, 50220},
        {de16LE, 1200},     {de16BE, 1201},  {deUTF8, 65001},
        {deUTF8BOM, 65001}, {de32LE, 12000}, {de32BE, 12001},
        {deNone, 65535},    {deUTF7, 65535}, {static_cast<TDetectedEncoding>(42), 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(DetectedEncodingName(c.encoding));
        EXPECT_EQ(EncodingToCodePage(c.encoding), c.codePage);
    }
}

TEST(StringUtility, ByteOrderMarks) {
    EXPECT_TRUE(HasUTF8BOM("\xEF\xBB\xBF"));
    EXPECT_FALSE(HasUTF8BOM("\xEF\xBB"));
    EXPECT_FALSE(HasUTF8BOM("a\xEF\xBB\xBF"));
    EXPECT_TRUE(HasUTF16LEBOM("\xFF\xFE"));
    EXPECT_FALSE(HasUTF16LEBOM("\xFF"));
    EXPECT_FALSE(HasUTF16LEBOM("\xFE\xFF"));
    EXPECT_TRUE(HasUTF16BEBOM("\xFE\xFFz"));
    EXPECT_FALSE(HasUTF16BEBOM(""));
}

TEST(StringUtility, ReadStreamBytesReadsAllFromTheStart) {
    TMemoryStream stream(std::string("ab\0c", 4));
    stream.SetPosition(3);
    EXPECT_EQ(ReadStreamBytes(stream), std::string("ab\0c", 4));
    TMemoryStream empty;
    EXPECT_EQ(ReadStreamBytes(empty), "");
}

TEST(StringUtility, DetectStreamEncodingLooksAtTheLimitOnly) {
    TMemoryStream stream(std::string("abc\x82\xA0"));
    EXPECT_EQ(DetectStreamEncoding(stream, 3), deNone);
    EXPECT_EQ(DetectStreamEncoding(stream, 102400), deSJIS);
    TMemoryStream empty;
    EXPECT_EQ(DetectStreamEncoding(empty, 102400), deNone);
    EXPECT_EQ(DetectStreamCodePage(empty), 65535);
    TMemoryStream eucStream(std::string("a,\xA4\xA2"));
    EXPECT_EQ(DetectStreamCodePage(eucStream), 20932);
}

}  // namespace
}  // namespace qm
