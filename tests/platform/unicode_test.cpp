#include "text/unicode.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Unicode, Utf8RoundTripsEveryPlane) {
    std::u16string text = u"a\u00e9\u3042\U0001F600z";
    EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
    EXPECT_EQ(Utf16ToUtf8(u"\u3042"), "\xE3\x81\x82");
}

TEST(Unicode, IllFormedInputBecomesReplacementCharacters) {
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string text;
    } cases[] = {
        {"lone continuation", "a\x80z", u"a\uFFFDz"},
        {"cut three-byte character", "\xE3\x81", u"\uFFFD"},
        {"cut character before ASCII", "\xE3\x81z", u"\uFFFDz"},
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead", "\xFF", u"\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Utf8ToUtf16(c.bytes), c.text);
    }
}

TEST(Unicode, LoneSurrogatesBecomeReplacementCharactersInUtf8) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xDC00)}), "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qm
