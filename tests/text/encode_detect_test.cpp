#include "text/encode_detect.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/memory_stream.h"

namespace qm {
namespace {

const std::uint8_t* Bytes(const std::string& s) {
    return reinterpret_cast<const std::uint8_t*>(s.data());
}
std::int64_t Size(const std::string& s) {
    return static_cast<std::int64_t>(s.size());
}

TDetectedEncoding Check(const std::string& s, TIgnoreEncodes ignore = 0) {
    return CheckEncoding(Bytes(s), Size(s), ignore);
}

TEST(EncodeDetect, VerdictOverSample) {
    struct Case {
        const char* name;
        std::string bytes;
        TDetectedEncoding verdict;
    } cases[] = {
        {"empty", "", deNone},
        {"UTF-8 mark then anything", "\xEF\xBB\xBF\x82\xFF", deUTF8BOM},
        {"UTF-8 mark alone", "\xEF\xBB\xBF", deUTF8BOM},
        {"UTF-16LE mark then text",
         std::string("\xFF\xFE"
                     "a\0b\0",
                     6),
         de16LE},
        {"UTF-16BE mark then text", std::string("\xFE\xFF\0a", 4), de16BE},
        {"UTF-32LE mark wins over UTF-16LE", std::string("\xFF\xFE\0\0", 4), de32LE},
        {"UTF-32BE mark", std::string("\0\0\xFE\xFF", 4), de32BE},
        {"cut UTF-8 mark", "\xEF\xBB", deNone},
        {"7-bit CSV", "a,b,c\r\n", deNone},
        {"UTF-7 run", "1+1", deUTF7},
        {"UTF-7 run then a quote", "1+1\"", deNone},
        {"quote before the run", "\"1+1", deNone},
        {"JIS escape after text",
         "abc\x1B$B"
         "0B",
         deJIS},
        {"JIS escape followed by 8-bit bytes", "\x1B$B\x82\xA0", deJIS},
        {"8-bit byte before the JIS escape", "\x82\xA0\x1B$B", deSJIS},
        {"cut JIS escape", "abc\x1B$", deNone},
        {"Shift_JIS hiragana", "\x82\xA0", deSJIS},
        {"EUC-JP hiragana", "\xA4\xA2", deEUC},
        {"UTF-8 hiragana beats Shift_JIS", "\xE3\x81\x82", deUTF8},
        {"Shift_JIS and EUC-JP tie", "\xE0\xA1", deNone},
        {"half-width katakana read as EUC-JP", "\xB1\xB2", deEUC},
        {"Shift_JIS lead cut by the end", "\x82\xA0\x82", deSJIS},
        {"binary", std::string("\x00\x01\x80\xFF", 4), deNone},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Check(c.bytes), c.verdict);
    }
}

// Two hiragana in UTF-8 count 6 for UTF-8 and 6 for Shift_JIS; the shared highest count goes to
// UTF-8 because its test passed.
TEST(EncodeDetect, SharedHighestCountGoesToPassingUtf8) {
    std::string text = "\xE3\x81\x82\xE3\x81\x84";
    std::int32_t utf8 = 0, sjis = 0;
    EXPECT_TRUE(IsUTF8(Bytes(text), Size(text), utf8, 0));
    EXPECT_TRUE(IsSJIS(Bytes(text), Size(text), sjis, 0));
    EXPECT_EQ(utf8, 6);
    EXPECT_EQ(sjis, 6);
    EXPECT_EQ(Check(text), deUTF8);
    // Without UTF-8 among the holders a tie is still no decision, and a failed UTF-8 test
    // does not win a tie either.
    EXPECT_EQ(Check(text, IgnoreSet(ieUTF8)), deSJIS);
    EXPECT_EQ(Check("\xE0\xA1"), deNone);
}

// A UTF-8 character cut by the end of the sample is accepted and not counted wherever it is cut.
TEST(EncodeDetect, Utf8CharacterCutBySampleEndIsAccepted) {
    struct Case {
        const char* name;
        std::string bytes;
        std::int32_t count;
    } cases[] = {
        {"cut after the lead", "\xE3\x81\x82\xE3", 3},
        {"cut after one continuation", "\xE3\x81\x82\xE3\x81", 3},
        {"four-byte cut after two continuations", "\xE3\x81\x82\xF0\x9F\x98", 3},
        {"two-byte cut after the lead", "a\xC3", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t counter = 0;
        EXPECT_TRUE(IsUTF8(Bytes(c.bytes), Size(c.bytes), counter, 0));
        EXPECT_EQ(counter, c.count);
    }
    // A sample the size that files are judged by, of ordinary UTF-8 CSV text, stays UTF-8
    // whichever byte of a character the end of the sample falls on.
    std::string text;
    while (text.size() < 102400 + 16)
        text += "1,\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E,\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\r\n";
    int tested = 0;
    for (std::size_t cut = 102400; tested < 4; ++cut) {
        // Only ends that fall inside a character: after its lead or after a continuation byte.
        if ((static_cast<std::uint8_t>(text[cut]) & 0xC0) != 0x80) continue;
        ++tested;
        SCOPED_TRACE(cut);
        EXPECT_EQ(CheckEncoding(Bytes(text), static_cast<std::int64_t>(cut), 0), deUTF8);
    }
    // A continuation byte that does not fit still fails, cut or not.
    std::int32_t counter = 0;
    std::string bad = "\xE3\x81\x82\xE3\x41";
    EXPECT_FALSE(IsUTF8(Bytes(bad), Size(bad), counter, 0));
    EXPECT_EQ(counter, 3);
}

TEST(EncodeDetect, ScoringTestsCountAndFail) {
    using ScoringTest = bool (*)(const std::uint8_t*, std::int64_t, std::int32_t&, TIgnoreEncodes);
    struct Case {
        const char* name;
        ScoringTest test;
        std::string bytes;
        bool passes;
        std::int32_t count;
    } cases[] = {
        {"SJIS pair", IsSJIS, "\x82\xA0", true, 2},
        {"SJIS katakana counts nothing", IsSJIS, "\xB1\xB2", true, 0},
        {"SJIS 80 invalid", IsSJIS, "\x82\xA0\x80", false, 2},
        {"SJIS A0 invalid", IsSJIS, "\xA0", false, 0},
        {"SJIS FD invalid", IsSJIS, "\xFD", false, 0},
        {"SJIS bad trail", IsSJIS, "\x82\x20", false, 0},
        {"SJIS trail 7F invalid", IsSJIS, "\x82\x7F", false, 0},
        {"SJIS lead at the end", IsSJIS, "\x82\xA0\x82", true, 2},
        {"EUC pair", IsEUC, "\xA4\xA2", true, 2},
        {"EUC katakana", IsEUC, "\x8E\xB1", true, 2},
        {"EUC katakana trail E0 invalid", IsEUC, "\x8E\xE0", false, 0},
        {"EUC JIS X 0212", IsEUC, "\x8F\xB0\xA1", true, 3},
        {"EUC 8F cut after second byte", IsEUC, "\xA4\xA2\x8F\xB0", true, 2},
        {"EUC 8F cut after itself", IsEUC, "\x8F", true, 0},
        {"EUC 8F bad second byte", IsEUC, "\x8F\x41", false, 0},
        {"EUC 90 invalid", IsEUC, "\x90", false, 0},
        {"EUC FF invalid", IsEUC, "\xA4\xA2\xFF", false, 2},
        {"UTF-8 three bytes", IsUTF8, "\xE3\x81\x82", true, 3},
        {"UTF-8 four bytes", IsUTF8, "\xF0\x9F\x98\x80", true, 4},
        {"UTF-8 overlong passes", IsUTF8, "\xC0\xAF", true, 2},
        {"UTF-8 F5 lead passes", IsUTF8, "\xF5\x80\x80\x80", true, 4},
        {"UTF-8 lone continuation", IsUTF8, "a\x80", false, 0},
        {"UTF-8 F8 invalid", IsUTF8, "\xF8", false, 0},
        {"UTF-8 bad continuation", IsUTF8, "\xC3\x28", false, 0},
        {"UTF-7 run", IsUTF7, "1+1", true, 4},
        {"UTF-7 closed run", IsUTF7, "+-", true, 2},
        {"UTF-7 run closed then text", IsUTF7, "a+AGE-b", true, 8},
        {"UTF-7 space inside a run", IsUTF7, "+A b", false, 4},
        {"UTF-7 comma outside a run", IsUTF7, "a,b\r\n", true, 0},
        {"UTF-7 forbidden outside a run", IsUTF7, "+A-@", false, 4},
        {"UTF-7 8-bit", IsUTF7, "\x82", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t counter = 100;  // tests add to the counter and never reset it
        EXPECT_EQ(c.test(Bytes(c.bytes), Size(c.bytes), counter, 0), c.passes);
        EXPECT_EQ(counter, 100 + c.count);
    }
}

TEST(EncodeDetect, IgnoreSetSwitchesTestsOff) {
    std::string sjis = "\x82\xA0";
    std::int32_t counter = 0;
    EXPECT_FALSE(IsSJIS(Bytes(sjis), 2, counter, IgnoreSet(ieSJIS)));
    EXPECT_EQ(counter, 0);
    EXPECT_EQ(Check(sjis, IgnoreSet(ieSJIS)), deNone);
    EXPECT_EQ(Check("\xEF\xBB\xBF\xE3\x81\x82", IgnoreSet(ieBOM)), deUTF8);
    EXPECT_EQ(BOMCheck(Bytes("\xFF\xFE"), 2, IgnoreSet(ieBOM)), btNone);
    EXPECT_FALSE(IsJIS(Bytes("\x1B$B"), 3, IgnoreSet(ieJIS)));
    EXPECT_EQ(Check("1+1", IgnoreSet(ieUTF7)), deNone);
    EXPECT_EQ(Check("\xA4\xA2", IgnoreSet(ieEUC)), deNone);  // SJIS reads katakana: 0
    EXPECT_EQ(IgnoreSet(ieUTF7), 0x20);
}

TEST(EncodeDetect, JisEscapes) {
    const char* escapes[] = {"\x1B(B", "\x1B(J",  "\x1B(I",      "\x1B$@",
                             "\x1B$B", "\x1B$(D", "\x1B&@\x1B$B"};
    for (const char* e : escapes) {
        std::string text = std::string("abc") + e;
        SCOPED_TRACE(text);
        EXPECT_TRUE(IsJIS(Bytes(text), Size(text), 0));
        // Cut by the end of the sample, the escape is not recognised.
        EXPECT_FALSE(IsJIS(Bytes(text), Size(text) - 1, 0));
    }
    std::string other = "abc\x1B(Z";
    EXPECT_FALSE(IsJIS(Bytes(other), Size(other), 0));
    std::string late = std::string(40, 'x') + "\x1B$B";
    EXPECT_TRUE(IsJIS(Bytes(late), Size(late), 0));
    std::string high = std::string(40, 'x') + "\xA4\x1B$B";
    EXPECT_FALSE(IsJIS(Bytes(high), Size(high), 0));
}

TEST(EncodeDetect, AsciiByte) {
    EXPECT_TRUE(IsASCII(0x00));
    EXPECT_TRUE(IsASCII(0x7F));
    EXPECT_FALSE(IsASCII(0x80));
}

TEST(EncodeDetect, StreamForm) {
    TMemoryStream empty;
    EXPECT_EQ(CheckEncoding(empty, 0, 0), deNone);

    // Only the requested sample is judged, and the stream is left just after it.
    TMemoryStream stream(std::string("abc\x82\xA0"));
    EXPECT_EQ(CheckEncoding(stream, 3, 0), deNone);
    EXPECT_EQ(stream.GetPosition(), 3);
    // A requested size of 0 or beyond the stream means the whole stream.
    EXPECT_EQ(CheckEncoding(stream, 0, 0), deSJIS);
    EXPECT_EQ(CheckEncoding(stream, 99, 0), deSJIS);
    EXPECT_EQ(stream.GetPosition(), 5);
}

TEST(EncodeDetect, VerdictNames) {
    EXPECT_STREQ(DetectedEncodingName(deNone), "deNone");
    EXPECT_STREQ(DetectedEncodingName(deSJIS), "deSJIS");
    EXPECT_STREQ(DetectedEncodingName(deUTF8BOM), "deUTF8BOM");
    EXPECT_STREQ(DetectedEncodingName(deUTF7), "deUTF7");
    EXPECT_STREQ(DetectedEncodingName(de32BE), "de32BE");
}

TEST(EncodeDetect, ScoresReportCounters) {
    std::string text = "\xE3\x81\x82";
    TEncodingScores scores;
    EXPECT_EQ(CheckEncodingScored(Bytes(text), Size(text), 0, scores), deUTF8);
    EXPECT_EQ(scores.utf8, 3);
    EXPECT_EQ(scores.sjis, 2);
    EXPECT_EQ(scores.euc, 0);
    EXPECT_EQ(scores.utf7, 0);
}

}  // namespace
}  // namespace qm
