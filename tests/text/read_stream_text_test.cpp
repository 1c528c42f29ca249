#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/error.h"
#include "platform/file_stream.h"
#include "platform/memory_stream.h"
#include "test_util.h"
#include "text/string_utility.h"
#include "text/unicode.h"

namespace qm {
namespace {

TStreamText Read(const std::string& bytes) {
    TMemoryStream stream(bytes);
    return ReadStreamTextDetailed(stream);
}

// ASCII CSV lines, at least `size` bytes, ending on a line end.
std::string AsciiLines(std::size_t size) {
    std::string text;
    while (text.size() < size)
        text += "12345,abcde,XYZ\r\n";
    return text;
}

TEST(ReadStreamText, DecodesByTheDetectedEncoding) {
    struct Case {
        const char* name;
        std::string bytes;
        TDetectedEncoding encoding;
        TCodePage codePage;
        std::u16string text;
    } cases[] = {
        {"empty", "", deNone, 65535, u""},
        {"7-bit is widened as it is", "a,b\r\n", deNone, 65535, u"a,b\r\n"},
        {"binary is widened", std::string("\0\x80\xFF", 3), deNone, 65535,
         std::u16string{0, 0x80, 0xFF}},
        {"UTF-8 mark",
         "\xEF\xBB\xBF"
         "a,\xE3\x81\x82",
         deUTF8BOM, 65001, u"a,\u3042"},
        {"UTF-8 by content", "a,\xE6\x97\xA5\xE6\x9C\xAC", deUTF8, 65001, u"a,\u65E5\u672C"},
        {"UTF-16LE mark and odd byte",
         std::string("\xFF\xFE"
                     "a\0,\0x",
                     7),
         de16LE, 1200, u"a,"},
        {"UTF-16BE mark", std::string("\xFE\xFF\0a", 4), de16BE, 1201, u"a"},
        {"UTF-32LE mark dropped",
         std::string("\xFF\xFE\0\0"
                     "a\0\0\0",
                     8),
         de32LE, 12000, u"a"},
        {"UTF-32BE mark dropped", std::string("\0\0\xFE\xFF\0\0\0a", 8), de32BE, 12001, u"a"},
        {"UTF-7 keeps its form", "1+1-,2", deUTF7, 65535, u"1+1-,2"},
        {"Shift_JIS wave dash", "a,\x81\x60", deSJIS, 932, u"a,\uFF5E"},
        {"EUC-JP wave dash", "a,\xA4\xA2\xA1\xC1", deEUC, 20932, u"a,\u3042\uFF5E"},
        {"ISO-2022-JP", "\x1B$B$\"\x1B(B,a", deJIS, 50220, u"\u3042,a"},
        // Two hiragana count the same for UTF-8 and Shift_JIS; UTF-8 takes the tie.
        {"short UTF-8 tie", "\xE3\x81\x82\xE3\x81\x84", deUTF8, 65001, u"\u3042\u3044"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TStreamText result = Read(c.bytes);
        EXPECT_EQ(result.encoding, c.encoding);
        EXPECT_EQ(result.codePage, c.codePage);
        EXPECT_EQ(result.text, c.text);
        TMemoryStream stream(c.bytes);
        stream.SetPosition(static_cast<std::int64_t>(c.bytes.size()));
        EXPECT_EQ(ReadStreamText(stream), c.text);
        TMemoryStream again(c.bytes);
        EXPECT_EQ(DetectStreamCodePage(again), c.codePage);
    }
}

// Japanese text after a long ASCII prefix: the sample holds no multi-byte text, so the whole
// file decides instead of the text being widened byte by byte.
TEST(ReadStreamText, JapaneseAfterLongAsciiPrefixIsDecoded) {
    const std::string prefix = AsciiLines(150000);
    struct Case {
        const char* name;
        std::string tail;
        TDetectedEncoding encoding;
        std::u16string text;
    } cases[] = {
        {"Shift_JIS", "\x93\xFA\x96\x7B,\x83\x65\x83\x58\x83\x67\r\n", deSJIS,
         u"\u65E5\u672C,\u30C6\u30B9\u30C8\r\n"},
        {"EUC-JP", "\xC6\xFC\xCB\xDC,\xA5\xC6\xA5\xB9\xA5\xC8\r\n", deEUC,
         u"\u65E5\u672C,\u30C6\u30B9\u30C8\r\n"},
        {"UTF-8", "\xE6\x97\xA5\xE6\x9C\xAC,\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88\r\n", deUTF8,
         u"\u65E5\u672C,\u30C6\u30B9\u30C8\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TStreamText result = Read(prefix + c.tail);
        EXPECT_EQ(result.encoding, c.encoding);
        EXPECT_EQ(result.text, Utf8ToUtf16(prefix) + c.text);
        TMemoryStream stream(prefix + c.tail);
        EXPECT_EQ(DetectStreamCodePage(stream), EncodingToCodePage(c.encoding));
        // The limited detection itself still judges the sample only.
        EXPECT_EQ(DetectStreamEncoding(stream, kDetectionSampleSize), deNone);
    }
}

// Only a sample without any counted byte is judged again: a tie in the sample stands, and so
// does a file no longer than the sample.
TEST(ReadStreamText, SampleDecisionsAboutMultiByteTextStand) {
    std::string tie = "\xE0\xA1" + AsciiLines(150000) + "\x82\xA0";
    EXPECT_EQ(Read(tie).encoding, deNone);
    std::string exact = AsciiLines(kDetectionSampleSize);
    exact.resize(static_cast<std::size_t>(kDetectionSampleSize));
    EXPECT_EQ(Read(exact).encoding, deNone);
    EXPECT_EQ(Read(exact + "\x82\xA0").encoding, deSJIS);
}

// A UTF-8 file longer than the sample whose sample ends inside a character.
TEST(ReadStreamText, Utf8CutAtTheSampleEndStaysUtf8) {
    const std::string line = "1,\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E,\xE3\x83\x86\r\n";
    for (std::size_t shift = 0; shift < 3; ++shift) {
        std::string bytes(shift, 'x');
        while (bytes.size() < 200000)
            bytes += line;
        SCOPED_TRACE(shift);
        TStreamText result = Read(bytes);
        EXPECT_EQ(result.encoding, deUTF8);
        EXPECT_EQ(result.text, Utf8ToUtf16(bytes));
    }
}

// A stream that claims more bytes than it gives (a file shrinking while it is read), or whose
// reads fail outright.
class TFailingStream : public TStream {
  public:
    TFailingStream(std::string bytes, std::int64_t claimedSize, bool throws)
        : bytes_(std::move(bytes)), claimedSize_(claimedSize), throws_(throws) {}
    std::int64_t GetSize() override { return claimedSize_; }
    std::int64_t GetPosition() override { return position_; }
    void SetPosition(std::int64_t position) override { position_ = position; }
    std::size_t Read(void* buffer, std::size_t count) override {
        if (throws_) throw Error(u"読み込みエラー");
        auto available = static_cast<std::size_t>(
            std::max<std::int64_t>(0, static_cast<std::int64_t>(bytes_.size()) - position_));
        std::size_t n = std::min(count, available);
        std::memcpy(buffer, bytes_.data() + position_, n);
        position_ += static_cast<std::int64_t>(n);
        return n;
    }

  private:
    std::string bytes_;
    std::int64_t claimedSize_;
    bool throws_;
    std::int64_t position_ = 0;
};

TEST(ReadStreamText, StreamFailuresPropagate) {
    TFailingStream shrunk("a,b\r\n", 200000, false);
    EXPECT_THROW(ReadStreamText(shrunk), Error);
    EXPECT_THROW(DetectStreamCodePage(shrunk), Error);
    EXPECT_THROW(CheckEncoding(shrunk, 0, 0), Error);
    TFailingStream broken("a,b\r\n", 5, true);
    EXPECT_THROW(ReadStreamText(broken), Error);
    EXPECT_THROW(DetectStreamEncoding(broken, kDetectionSampleSize), Error);
}

TEST(ReadStreamText, FileStreams) {
    test::TempDir dir;
    auto path = dir.Write("sjis.csv", "a,\x82\xA0\r\n");
    TFileStream stream(path.u16string());
    TStreamText result = ReadStreamTextDetailed(stream);
    EXPECT_EQ(result.encoding, deSJIS);
    EXPECT_EQ(result.text, u"a,\u3042\r\n");
    EXPECT_EQ(CheckEncoding(stream, 0, 0), deSJIS);
    EXPECT_THROW(TFileStream((dir.Path() / "missing.csv").u16string()), Error);
}

}  // namespace
}  // namespace qm
