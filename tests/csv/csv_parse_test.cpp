// The CSV state machine on decoded text: the edge cases, padding, and the turn given to the
// user interface inside quoted fields.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "csv/csv.h"
#include "csv_test_util.h"
#include "platform/yield.h"

namespace qm {
namespace {

using namespace std::string_literals;
using test::Rows;
using test::TableOf;

struct TParseCase {
    const char* name;
    std::u16string input;
    std::uint32_t rows;
    std::uint32_t fields;
    Rows cells;
};

TEST(CsvParse, EdgeCases) {
    const std::vector<TParseCase> cases = {
        {"empty text", u"", 0, 0, {}},
        {"line feeds alone", u"\n\n", 0, 0, {}},
        {"commas alone", u",,,\n", 0, 0, {}},
        {"quoted comma", u"a,\"b,c\"", 1, 2, {{u"a", u"b,c"}}},
        {"doubled quote", u"\"x\"\"y\"", 1, 1, {{u"x\"y"}}},
        {"only a doubled quote", u"\"\"\"\"", 1, 1, {{u"\""}}},
        {"trailing LF", u"a,b\n", 1, 2, {{u"a", u"b"}}},
        {"trailing CRLF", u"a,b\r\n", 1, 2, {{u"a", u"b"}}},
        {"empty middle line", u"a,b\n\nc", 3, 2, {{u"a", u"b"}, {u"", u""}, {u"c", u""}}},
        {"empty fields",
         u"a,,c\n,,\nd",
         3,
         3,
         {{u"a", u"", u"c"}, {u"", u"", u""}, {u"d", u"", u""}}},
        {"empty fields at line end", u"a,,", 1, 1, {{u"a"}}},
        {"empty quoted first field", u"\"\",b", 1, 2, {{u"", u"b"}}},
        {"empty quoted middle field", u"a,\"\",c", 1, 3, {{u"a", u"", u"c"}}},
        {"quoted field then comma", u"\"a\",\n", 1, 1, {{u"a"}}},
        {"quote inside plain field", u"ab\"c,d", 1, 2, {{u"ab\"c", u"d"}}},
        {"text after closing quote", u"\"ab\"cd,e", 1, 2, {{u"abcd", u"e"}}},
        {"quote after closing quote", u"\"a\"b\"c\"", 1, 1, {{u"ab\"c"}}},
        {"leading space makes a plain field", u" \"a,b\"", 1, 2, {{u" \"a", u"b\""}}},
        {"CR dropped inside quotes", u"\"a\r\nb\",c", 1, 2, {{u"a\nb", u"c"}}},
        {"unclosed quote", u"\"abc\nd,e", 1, 1, {{u"abc\nd,e"}}},
        {"lone CR ends a line", u"a\rb", 2, 1, {{u"a"}, {u"b"}}},
        {"vertical tab is a line feed", u"a\vb", 2, 1, {{u"a"}, {u"b"}}},
        {"control filter", u"a\tb\u000Cc\u007Fd\u0080e\u0081f", 1, 1, {{u"a\tbcde\u0081f"}}},
        {"separator-only middle line", u"x\n,,,\ny", 3, 1, {{u"x"}, {u""}, {u"y"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCsv csv;
        ASSERT_TRUE(csv.Parse(c.input));
        EXPECT_EQ(csv.GetRowCount(), c.rows);
        EXPECT_EQ(csv.GetFieldCount(), c.fields);
        EXPECT_EQ(TableOf(csv), c.cells);
        EXPECT_EQ(csv.IsEmpty(), c.rows == 0);
    }
}

// Cases beyond the basic table, where the in-place compaction and the run copying have
// their own paths: characters dropped before, inside and after runs, separators after a
// compaction has started, quoted runs with line feeds, and a vertical tab inside quotes.
TEST(CsvParse, CompactionAndRuns) {
    const std::vector<TParseCase> cases = {
        {"CRLF rows", u"ab,cd\r\nef,gh\r\n", 2, 2, {{u"ab", u"cd"}, {u"ef", u"gh"}}},
        {"CR-only rows", u"ab,cd\ref,gh\r", 2, 2, {{u"ab", u"cd"}, {u"ef", u"gh"}}},
        {"CR-only rows after quoted fields",
         u"\"a\",\"b\"\r\"c\"\rd",
         3,
         2,
         {{u"a", u"b"}, {u"c", u""}, {u"d", u""}}},
        {"lone CR inside quotes is a line break of the cell",
         u"\"a\rb\",c\r\"d\r\ne\"",
         2,
         2,
         {{u"a\nb", u"c"}, {u"d\ne", u""}}},
        {"CR then CR LF leaves an empty line", u"a\r\r\nb", 3, 1, {{u"a"}, {u""}, {u"b"}}},
        {"CR at a field start", u"a,\rb", 2, 1, {{u"a"}, {u"b"}}},
        {"vertical tab inside quotes", u"\"a\vb\"", 1, 1, {{u"a\nb"}}},
        {"dropped units before the opening quote", u"\u0001\u0002\"a,b\"", 1, 1, {{u"a,b"}}},
        {"dropped units in a quoted run", u"\"a\u0000b\u0007c\",d"s, 1, 2, {{u"abc", u"d"}}},
        {"long quoted run with separators",
         u"\"first line,\nsecond line\"\r\nnext,row",
         2,
         2,
         {{u"first line,\nsecond line", u""}, {u"next", u"row"}}},
        {"surrogates kept in order", u"\U0001F600,\xD800x", 1, 2, {{u"\U0001F600", u"\xD800x"}}},
        {"NUL units dropped", u"a\0b,\0c"s, 1, 2, {{u"ab", u"c"}}},
        {"byte-order mark stays in the first cell",
         u"\uFEFF\"a\",b",
         1,
         2,
         {{u"\uFEFF\"a\"", u"b"}}},
        {"ragged rows padded",
         u"a\nb,c,d\ne,f",
         3,
         3,
         {{u"a", u"", u""}, {u"b", u"c", u"d"}, {u"e", u"f", u""}}},
        {"a lone quote", u"\"", 0, 0, {}},
        {"empty quoted field alone", u"\"\"\n\"\"", 0, 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCsv csv;
        ASSERT_TRUE(csv.Parse(c.input));
        EXPECT_EQ(csv.GetRowCount(), c.rows);
        EXPECT_EQ(csv.GetFieldCount(), c.fields);
        EXPECT_EQ(TableOf(csv), c.cells);
    }
}

TEST(CsvParse, OutsideTheTableIsEmpty) {
    TCsv csv;
    ASSERT_TRUE(csv.Parse(u"a,b\nc"));
    EXPECT_EQ(csv.GetCell(2, 0), u"");
    EXPECT_EQ(csv.GetCell(0, 2), u"");
    EXPECT_EQ(csv.GetCell(static_cast<std::uint32_t>(-1), 0), u"");
    EXPECT_EQ(csv.GetCell(0, static_cast<std::uint32_t>(-1)), u"");
    EXPECT_EQ(csv.GetCellView(1, 1), u"");  // padding
    EXPECT_EQ(csv.GetCellView(1, 0), u"c");

    TCsv empty;
    EXPECT_EQ(empty.GetCell(0, 0), u"");
    EXPECT_TRUE(empty.IsEmpty());
}

TEST(CsvParse, SecondParseIsRefusedAndKeepsTheTable) {
    TCsv csv;
    ASSERT_TRUE(csv.Parse(u"a,b"));
    EXPECT_FALSE(csv.Parse(u"x\ny\nz"));
    EXPECT_EQ(TableOf(csv), (Rows{{u"a", u"b"}}));

    csv.Clear();
    EXPECT_TRUE(csv.IsEmpty());
    EXPECT_EQ(csv.GetRowCount(), 0u);
    EXPECT_EQ(csv.GetFieldCount(), 0u);
    ASSERT_TRUE(csv.Parse(u"x\ny"));
    EXPECT_EQ(TableOf(csv), (Rows{{u"x"}, {u"y"}}));
}

TEST(CsvParse, TextWithoutCellsLeavesTheTableOpenForAParse) {
    TCsv csv;
    ASSERT_TRUE(csv.Parse(u",,\n\n"));
    EXPECT_TRUE(csv.IsEmpty());
    EXPECT_TRUE(csv.Parse(u"a"));
    EXPECT_EQ(csv.GetCell(0, 0), u"a");
}

// Every row holds exactly the field count and the widest row sets it, on a table large
// enough to span several blocks of cell offsets.
TEST(CsvParse, ManyCellsAcrossOffsetBlocks) {
    std::u16string text;
    const std::uint32_t rows = 30000;
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::u16string number(std::u16string_view(u"0123456789").substr(r % 10, 1));
        text += number + u"," + (r % 3 == 0 ? u"\"q,\"\"\"" : u"p") + (r % 7 == 0 ? u",x" : u"");
        text += u"\r\n";
    }
    TCsv csv;
    ASSERT_TRUE(csv.Parse(std::move(text)));
    ASSERT_EQ(csv.GetRowCount(), rows);
    ASSERT_EQ(csv.GetFieldCount(), 3u);
    for (std::uint32_t r = 0; r < rows; ++r) {
        ASSERT_EQ(csv.GetCellView(r, 0), std::u16string_view(u"0123456789").substr(r % 10, 1));
        ASSERT_EQ(csv.GetCellView(r, 1), r % 3 == 0 ? u"q,\"" : u"p");
        ASSERT_EQ(csv.GetCellView(r, 2), r % 7 == 0 ? u"x" : u"");
    }
}

int gYields = 0;
void CountYield() {
    ++gYields;
}

class YieldCounter {
  public:
    YieldCounter() : previous_(SetYieldHook(&CountYield)) { gYields = 0; }
    ~YieldCounter() { SetYieldHook(previous_); }
    YieldCounter(const YieldCounter&) = delete;
    YieldCounter& operator=(const YieldCounter&) = delete;

  private:
    TYieldHook previous_;
};

// The hook runs once for every character handled while a field is quoted (its quotes and
// the separator that ends it included, dropped characters not) and never in plain fields.
TEST(CsvParse, YieldsOncePerCharacterOfQuotedFields) {
    struct TYieldCase {
        const char* name;
        std::u16string input;
        int yields;
    } const cases[] = {
        {"plain file", u"abc,def\r\nghi,jkl\r\n", 0},
        {"quote inside a plain field", u"ab\"c,d", 0},
        {"one quoted field", u"\"a,b\",c", 6},                   // " a , b " ,
        {"doubled quotes and a CR", u"\"x\"\"y\"\r\nz", 7},      // " x " " y " LF
        {"lone CR inside and after quotes", u"\"a\rb\"\rc", 6},  // " a CR b " CR
        {"text after the closing quote", u"\"ab\"cd", 6},
        {"unclosed quote", u"\"abc\nd,e", 8},
        {"dropped units inside quotes", u"\"a\u0001\u0002b\"", 4},
        // Longer than the slices a quoted run is moved in.
        {"long quoted field", u"\"" + std::u16string(10000, u'x') + u"\",y", 10003},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        YieldCounter counter;
        TCsv csv;
        ASSERT_TRUE(csv.Parse(c.input));
        EXPECT_EQ(gYields, c.yields);
    }
}

// Without a hook the quoted path copies whole runs; the table must be the same as with one.
TEST(CsvParse, QuotedRunsGiveTheSameTableWithAndWithoutAHook) {
    const std::u16string input =
        u"\"long, quoted\ntext "
        u"\"\"here\"\"\",plain\r\n\"\u3042\u3044\r\n\u3046\",\"\"\n\"x\ry\"\rz";
    TCsv withoutHook;
    ASSERT_TRUE(withoutHook.Parse(input));
    TCsv withHook;
    {
        YieldCounter counter;
        ASSERT_TRUE(withHook.Parse(input));
    }
    EXPECT_EQ(TableOf(withoutHook), TableOf(withHook));
    EXPECT_EQ(TableOf(withoutHook), (Rows{{u"long, quoted\ntext \"here\"", u"plain"},
                                          {u"\u3042\u3044\n\u3046", u""},
                                          {u"x\ny", u""},
                                          {u"z", u""}}));
}

// A quoted field longer than the slices it is moved in while a hook waits: the slices join
// into one cell, with the doubled quote and the line break across a slice boundary.
TEST(CsvParse, LongQuotedFieldsAreWholeWithAHook) {
    const std::u16string head(4095, u'a');
    const std::u16string tail(9000, u'b');
    const std::u16string input = u"\"" + head + u"\"\"" + tail + u"\r\n" + tail + u"\",z\n";
    TCsv csv;
    {
        YieldCounter counter;
        ASSERT_TRUE(csv.Parse(input));
    }
    EXPECT_EQ(TableOf(csv), (Rows{{head + u"\"" + tail + u"\n" + tail, u"z"}}));
}

}  // namespace
}  // namespace qm
