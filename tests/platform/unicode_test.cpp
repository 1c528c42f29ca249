#include "text/unicode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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

// A plain one-character-at-a-time decoder written straight from the Unicode rules (Table 3-7
// and the maximal-subpart practice), against which the block-wise decoder is checked.
std::u16string ReferenceUtf8ToUtf16(const std::string& bytes) {
    std::u16string out;
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    while (i < bytes.size()) {
        unsigned char b0 = at(i);
        std::size_t length = b0 < 0x80                  ? 1
                             : b0 >= 0xC2 && b0 <= 0xDF ? 2
                             : b0 >= 0xE0 && b0 <= 0xEF ? 3
                             : b0 >= 0xF0 && b0 <= 0xF4 ? 4
                                                        : 0;
        if (length == 0) {
            out += u'\uFFFD';
            ++i;
            continue;
        }
        char32_t cp = length == 1 ? b0 : b0 & (0x7F >> length);
        std::size_t k = 1;
        for (; k < length && i + k < bytes.size(); ++k) {
            unsigned char b = at(i + k);
            unsigned char lo = 0x80, hi = 0xBF;
            if (k == 1 && b0 == 0xE0) lo = 0xA0;
            if (k == 1 && b0 == 0xED) hi = 0x9F;
            if (k == 1 && b0 == 0xF0) lo = 0x90;
            if (k == 1 && b0 == 0xF4) hi = 0x8F;
            if (b < lo || b > hi) break;
            cp = (cp << 6) | (b & 0x3F);
        }
        if (k < length) {
            out += u'\uFFFD';
            i += k;
            continue;
        }
        if (cp >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += length;
    }
    return out;
}

// ASCII runs are taken sixteen bytes at a time: every run length around the block size, then a
// character or an ill-formed sequence, must decode as one character at a time would.
TEST(Unicode, BlockwiseDecodingMatchesTheReference) {
    const std::string tails[] = {"\xE3\x81\x82", "\xC3\xA9",     "\xF0\x9F\x98\x80", "\xE3\x81",
                                 "\x80",         "\xED\xA0\x80", "\xE0\x80\x80",     "\xEF\xBF\xBF",
                                 "\xF4\x90",     "\xFF",         "\xE1\x80\x80,"};
    for (std::size_t run = 0; run <= 40; ++run) {
        for (const auto& tail : tails) {
            for (const std::string& after : {std::string(), std::string(run, 'b'), tail}) {
                std::string bytes = std::string(run, 'a') + tail + after;
                SCOPED_TRACE(testing::Message() << "run " << run << " bytes " << bytes.size());
                EXPECT_EQ(Utf8ToUtf16(bytes), ReferenceUtf8ToUtf16(bytes));
            }
        }
    }
    // A pseudo-random mixture of every kind of byte.
    std::uint32_t seed = 7;
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        for (int k = 0; k < 97; ++k) {
            seed = seed * 1664525u + 1013904223u;
            unsigned pick = seed >> 24;
            bytes += static_cast<char>(pick < 128 ? pick & 0x7F : pick);
        }
        EXPECT_EQ(Utf8ToUtf16(bytes), ReferenceUtf8ToUtf16(bytes));
    }
}

TEST(Unicode, LoneSurrogatesBecomeReplacementCharactersInUtf8) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'a', char16_t(0xDC00)}), "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace qm
