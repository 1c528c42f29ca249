#include <gtest/gtest.h>

#include "import/import_test_util.h"
#include "platform/error.h"
#include "targets/ado_excel_inserter.h"

namespace qm {
namespace {

using test::CsvOf;
using test::Integer;
using test::RecordingTarget;
using test::Text;

// Runs the inserter over the whole table, as the import run drives it, outside a transaction.
void InsertAll(TTable& table, const TCsv& csv, const TRelation& relation, bool header) {
    TAdoExcelInserter inserter(&table, &csv, relation, header);
    while (inserter.HasRow()) {
        inserter.InsertRow();
        inserter.NextRow();
    }
}

TEST(AdoExcelInserter, RowCountAndStartRow) {
    struct Case {
        const char16_t* csv;
        bool header;
        std::uint32_t rowCount, firstRow;
        bool hasRow;
    } cases[] = {
        {u"", false, 0, 0, false},           {u"", true, 0, 1, false},
        {u"only,header", true, 1, 1, false}, {u"only,data", false, 1, 0, true},
        {u"h\n1\n2", true, 3, 1, true},
    };
    RecordingTarget target({Text(u"a")});
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.csv));
        auto csv = CsvOf(c.csv);
        TAdoExcelInserter inserter(&target.table, csv.get(), {{u"a", 0}}, c.header);
        EXPECT_EQ(inserter.RowCount(), c.rowCount);
        EXPECT_EQ(inserter.CurrentRow(), c.firstRow);
        EXPECT_EQ(inserter.HasRow(), c.hasRow);
    }
    EXPECT_EQ(target.store->Appends, 0);  // constructing touches nothing
}

TEST(AdoExcelInserter, CellsReachTheirFields) {
    RecordingTarget target({Text(u"名前"), Integer(u"数"), Text(u"写し"), Text(u"空き")});
    // Row 0 is a header; row 1 full; row 2 short (padded with empty cells); row 3 has a quoted
    // cell over two lines and a cell of spaces; row 4 is all empty.
    auto csv = CsvOf(u"name,n,x\n山田,\"1,234\",z\n鈴木\n\"a\r\nb\",  ,q\n,,\n後");
    TRelation relation = {{u"名前", 0}, {u"数", 1}, {u"写し", 0}, {u"空き", 7}, {u"無効", -1}};
    // "無効" names no field, but its column is -1, so it never needs looking up.
    InsertAll(target.table, *csv, relation, true);

    using V = std::vector<TValue>;
    TValue null;
    std::vector<V> expected = {
        {u"山田", std::int64_t{1234}, u"山田", null},
        {u"鈴木", null, u"鈴木", null},
        // LF inside a quoted field reaches the target as CR LF; spaces are not empty.
        {u"a\r\nb", null, u"a\r\nb", null},
        {null, null, null, null},  // every row is inserted, even with all cells empty
        {u"後", null, u"後", null},
    };
    // Row 3's spaces go to an integer field, which reads them as null.
    ASSERT_EQ(target.store->Committed.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(target.store->Committed[i], expected[i]);
    }
}

TEST(AdoExcelInserter, SpacesAreWrittenToTextFields) {
    RecordingTarget target({Text(u"a")});
    auto csv = CsvOf(u"  ,x\n\"\",y");
    InsertAll(target.table, *csv, {{u"a", 0}}, false);
    ASSERT_EQ(target.store->Committed.size(), 2u);
    EXPECT_EQ(target.store->Committed[0][0], TValue(u"  "));
    EXPECT_EQ(target.store->Committed[1][0], TValue());  // an empty quoted cell stays untouched
}

TEST(AdoExcelInserter, FieldNamesMatchExactlyFirstThenIgnoringCase) {
    RecordingTarget target({Text(u"Name"), Text(u"name"), Text(u"Other")});
    auto csv = CsvOf(u"1,2,3");
    InsertAll(target.table, *csv, {{u"name", 0}, {u"OTHER", 2}}, false);
    ASSERT_EQ(target.store->Committed.size(), 1u);
    EXPECT_EQ(target.store->Committed[0], (std::vector<TValue>{TValue(), u"1", u"3"}));
}

TEST(AdoExcelInserter, MissingFieldFailsOnlyWhenACellMustGoThere) {
    RecordingTarget target({Text(u"a")});
    auto csv = CsvOf(u"x,\ny,oops");
    TAdoExcelInserter inserter(&target.table, csv.get(), {{u"a", 0}, {u"ghost", 1}}, false);
    inserter.InsertRow();  // row 0's cell for "ghost" is empty: nothing to look up
    inserter.NextRow();
    try {
        inserter.InsertRow();
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_NE(e.Message().find(u"ghost"), std::u16string::npos);
    }
    EXPECT_EQ(inserter.CurrentRow(), 1u);  // not advanced
    EXPECT_EQ(inserter.FailedFieldName(), u"ghost");
    EXPECT_EQ(target.store->Committed.size(), 1u);
}

TEST(AdoExcelInserter, FirstFailingFieldInKeyOrderIsReported) {
    RecordingTarget target({Integer(u"b"), Integer(u"a"), Text(u"c", 2)});
    auto csv = CsvOf(u"x,y,long");
    TAdoExcelInserter inserter(&target.table, csv.get(), {{u"b", 0}, {u"a", 1}, {u"c", 2}}, false);
    EXPECT_THROW(inserter.InsertRow(), Error);
    EXPECT_EQ(inserter.FailedFieldName(), u"a");  // "a" sorts before "b"
    EXPECT_TRUE(target.table.Inserting());        // the unposted row stays for the caller
    EXPECT_EQ(target.store->Appends, 0);
}

TEST(AdoExcelInserter, PostAndClosedTableErrorsNameNoField) {
    RecordingTarget target({Text(u"a")});
    target.store->RefuseAppend = 0;
    auto csv = CsvOf(u"x");
    TAdoExcelInserter inserter(&target.table, csv.get(), {{u"a", 0}}, false);
    EXPECT_THROW(inserter.InsertRow(), Error);
    EXPECT_EQ(inserter.FailedFieldName(), u"");

    target.table.Close();
    TAdoExcelInserter closed(&target.table, csv.get(), {{u"a", 0}}, false);
    EXPECT_THROW(closed.InsertRow(), Error);
    EXPECT_EQ(closed.FailedFieldName(), u"");
}

TEST(CellTextForField, LineFeedsBecomeCrLf) {
    struct Case {
        const char16_t* cell;
        const char16_t* expected;
    } cases[] = {
        {u"", u""},
        {u"abc", u"abc"},
        {u"\n", u"\r\n"},
        {u"a\nb\n\nc\n", u"a\r\nb\r\n\r\nc\r\n"},
    };
    std::u16string scratch;
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.cell));
        EXPECT_EQ(CellTextForField(c.cell, scratch), c.expected);
    }
}

}  // namespace
}  // namespace qm
