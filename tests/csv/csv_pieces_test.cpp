// Loading a file piece by piece, serially or with the decoding on a second thread, gives the
// very table that decoding the whole text and parsing it at once gives. Small pieces put the
// seams between pieces on quotes, line ends, marks and multi-byte characters.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "csv_test_util.h"
#include "platform/memory_stream.h"
#include "text/string_utility.h"

namespace qm {
namespace {

using test::Rows;
using test::TableOf;

struct TLoaded {
    bool loaded = false;
    TDetectedEncoding encoding = deNone;
    TCodePage codePage = kNoCodePage;
    Rows cells;
};

// The reference: the whole text decoded at once, then parsed at once.
TLoaded LoadWhole(const std::string& bytes) {
    TMemoryStream stream(bytes);
    TStreamText decoded = ReadStreamTextDetailed(stream);
    TCsv csv;
    TLoaded result;
    result.loaded = csv.Parse(std::move(decoded.text));
    result.encoding = decoded.encoding;
    result.codePage = decoded.codePage;
    result.cells = TableOf(csv);
    return result;
}

TLoaded LoadInPieces(const std::string& bytes, std::size_t pieceBytes, bool parallel) {
    TMemoryStream stream(bytes);
    TCsv csv;
    TCsvLoadInfo info;
    TLoaded result;
    result.loaded = csv.LoadFromStream(stream, &info, TCsvLoadPieces{pieceBytes, parallel});
    result.encoding = info.encoding;
    result.codePage = info.codePage;
    result.cells = TableOf(csv);
    return result;
}

// Every piece size from the smallest up to maxPiece, in both modes, against the reference.
void ExpectSameInPieces(const std::string& bytes, const TLoaded& whole, std::size_t maxPiece) {
    for (std::size_t piece = 1; piece <= maxPiece; ++piece) {
        for (bool parallel : {false, true}) {
            SCOPED_TRACE(testing::Message() << "piece " << piece << (parallel ? " parallel" : ""));
            const TLoaded pieces = LoadInPieces(bytes, piece, parallel);
            ASSERT_TRUE(pieces.loaded);
            EXPECT_EQ(pieces.encoding, whole.encoding);
            EXPECT_EQ(pieces.codePage, whole.codePage);
            ASSERT_EQ(pieces.cells, whole.cells);
        }
    }
}

std::string Repeat(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += text;
    return out;
}

TEST(CsvLoadPieces, SeamsInTrickyPlacesGiveTheWholeLoadsTable) {
    const std::u16string yoshinoya = u"\U00020BB7\u91CE\u5BB6";
    const struct {
        const char* name;
        std::string bytes;
        TCodePage codePage;
        Rows cells;  // the table expected, where it is spelled out
    } cases[] = {
        {"quoted fields with separators, doubled quotes and line breaks",
         Repeat("id,\"a,b\"\"c\r\nd\",e\r\n", 3), kNoCodePage,
         Rows(3, {u"id", u"a,b\"c\nd", u"e"})},
        {"CR LF at every offset", Repeat("1234567890123\r\n", 9), kNoCodePage,
         Rows(9, {u"1234567890123"})},
        {"lone CRs and vertical tabs", Repeat("ab,c\rd\v\"e\rf\"\r", 2), kNoCodePage,
         Rows{{u"ab", u"c"},
              {u"d", u""},
              {u"e\nf", u""},
              {u"ab", u"c"},
              {u"d", u""},
              {u"e\nf", u""}}},
        {"UTF-8 characters of three and four bytes",
         Repeat("\xE3\x81\x82\xE3\x81\x84,\xF0\xA0\xAE\xB7\xE9\x87\x8E\xE5\xAE\xB6\r\n", 6), 65001,
         Rows(6, {u"あい", yoshinoya})},
        {"UTF-8 mark then a quoted field",
         "\xEF\xBB\xBF\"\xE5\x90\x8D\",x\r\n" + Repeat("\xE5\x90\x8D,y\r\n", 5), 65001,
         Rows{{u"名", u"x"},
              {u"名", u"y"},
              {u"名", u"y"},
              {u"名", u"y"},
              {u"名", u"y"},
              {u"名", u"y"}}},
        {"empty lines and lines of separators", "a\r\n\r\n\r\n,,\r\nb\n\n\"\"\n", kNoCodePage,
         Rows{}},
        {"Shift_JIS pairs whose second byte is a backslash or a letter",
         Repeat("\x95\x5C,\x83\x41\x82\xA0,\"\x88\xEA\r\n\x93\xF1\"\r\n", 5), 932,
         Rows(5, {u"表", u"アあ", u"一\n二"})},
        {"a quote left open at the end", Repeat("a,b\r\n", 4) + "c,\"d\r\ne,f", kNoCodePage,
         Rows{{u"a", u"b"}, {u"a", u"b"}, {u"a", u"b"}, {u"a", u"b"}, {u"c", u"d\ne,f"}}},
        {"controls dropped next to seams", Repeat("a\x01\x7F,\x1F\"b\x02\"\r\n", 5), kNoCodePage,
         Rows(5, {u"a", u"b"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TLoaded whole = LoadWhole(c.bytes);
        ASSERT_TRUE(whole.loaded);
        EXPECT_EQ(whole.codePage, c.codePage);
        if (!c.cells.empty()) {
            EXPECT_EQ(whole.cells, c.cells);
        }
        ExpectSameInPieces(c.bytes, whole, 40);
    }
}

// Random files of the pieces that matter to the seams: quotes, separators, every line end,
// dropped controls, and characters of several bytes, whole, cut or ill-formed.
TEST(CsvLoadPieces, RandomFilesGiveTheWholeLoadsTable) {
    const std::vector<std::string> utf8Tokens = {
        "a",
        "1",
        "\"",
        "\"\"",
        ",",
        "\r\n",
        "\r",
        "\n",
        "\v",
        "\x01",
        " ",
        "\xE3\x81\x82",
        "\xF0\xA0\xAE\xB7",
        "\xC3\xA9",
        "\xE3\x81",
        "\xFF",
        "\xED\xA0\x80",
    };
    const std::vector<std::string> cp932Tokens = {
        "a",
        "\"",
        ",",
        "\r\n",
        "\r",
        "\n",
        "\x82\xA0",
        "\x95\x5C",
        "\x83\x41",
        "\xB1",
        "\x82",
        "\xFD",
        "\x88\xEA\x93\xF1",
    };
    std::mt19937 random(20261210);
    for (const auto* tokens : {&utf8Tokens, &cp932Tokens}) {
        for (int file = 0; file < 60; ++file) {
            std::string bytes = file % 7 == 0 && tokens == &utf8Tokens ? "\xEF\xBB\xBF" : "";
            const int count = static_cast<int>(random() % 120);
            for (int t = 0; t < count; ++t)
                bytes += (*tokens)[random() % tokens->size()];
            SCOPED_TRACE(testing::Message() << "file " << file << " of " << bytes.size());
            ExpectSameInPieces(bytes, LoadWhole(bytes), 24);
        }
    }
}

// Files beyond the detection sample: the bytes after it are read while earlier pieces are
// decoded and split. UTF-8 that turns ill-formed after the sample (cut and overlong sequences,
// one cut by the end of the file); Japanese text only after a long ASCII start, which the
// verdict on the whole file decides; ASCII alone.
TEST(CsvLoadPieces, FilesLongerThanTheSampleGiveTheWholeLoadsTable) {
    const std::string utf8 = Repeat("12345,\"ab\r\nc\",\xE3\x81\x82\xE3\x81\x84\r\n", 9000) +
                             "\xE3\x81,\xF0\x9F\x98\x80\xC0\xAF,\xE3\x81";
    const std::string lateJapanese =
        Repeat("12345,abcde,\"x,y\"\r\n", 7000) + Repeat("\x88\xEA,\x93\xF1\r\n", 50);
    const std::string ascii = Repeat("12345,abcde,\"x,y\"\r\n", 7000);
    for (const std::string* bytes : {&utf8, &lateJapanese, &ascii}) {
        const TLoaded whole = LoadWhole(*bytes);
        for (std::size_t piece : {4093u, 65536u, 1u << 20}) {
            for (bool parallel : {false, true}) {
                const TLoaded pieces = LoadInPieces(*bytes, piece, parallel);
                ASSERT_TRUE(pieces.loaded);
                EXPECT_EQ(pieces.codePage, whole.codePage);
                ASSERT_EQ(pieces.cells, whole.cells) << piece << (parallel ? " parallel" : "");
            }
        }
    }
    const TLoaded badTail = LoadWhole(utf8);
    EXPECT_EQ(badTail.codePage, 65001);
    EXPECT_EQ(badTail.cells.back(),
              (std::vector<std::u16string>{u"\uFFFD", u"\U0001F600\uFFFD\uFFFD", u"\uFFFD"}));
    EXPECT_EQ(LoadWhole(lateJapanese).codePage, 932);
    EXPECT_EQ(LoadWhole(ascii).codePage, kNoCodePage);
}

}  // namespace
}  // namespace qm
