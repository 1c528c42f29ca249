// The engine on the Access-made sample databases: every readable file opens, every row of
// every table decodes, the checker finds them consistent, and the cases each file was chosen
// for read as Access shows them.
#include <gtest/gtest.h>

#include "jet_readable_fixtures.h"
#include "platform/error.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_database.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::unique_ptr<TJetDatabase> OpenFixture(const char* name) {
    return TJetDatabase::Open(Utf8ToUtf16((test::FixturesDir() / "access" / name).string()));
}

std::vector<std::vector<std::u16string>> Rows(const TJetDatabase& db, std::u16string_view table) {
    std::vector<std::vector<std::u16string>> rows;
    std::vector<TJetValue> values;
    const auto t = db.OpenTable(table);
    for (auto cursor = t->Rows(); cursor.Next(values);) {
        rows.emplace_back();
        for (const auto& v : values)
            rows.back().push_back(FormatJetValue(v));
    }
    return rows;
}

TEST(JetFixtures, EveryTableReadsAndEveryFileIsConsistent) {
    QM_REQUIRE_FIXTURES();
    for (const char* name : test::kReadableFixtures) {
        SCOPED_TRACE(name);
        try {
            const auto db = OpenFixture(name);
            for (const auto& object : db->Catalog().Objects())
                if (object.kind == TObjectKind::Table) Rows(*db, object.name);
            const TCheckReport report = CheckDatabase(*db);
            std::string problems;
            for (const auto& p : report.problems)
                problems += Utf16ToUtf8(p) + "\n";
            EXPECT_TRUE(report.Consistent()) << problems;
            EXPECT_FALSE(report.tables.empty());
        } catch (const Error& e) {
            ADD_FAILURE() << e.what();
        }
    }
}

TEST(JetFixtures, ListsUserTablesButNoQueries) {
    QM_REQUIRE_FIXTURES();
    using Names = std::vector<std::u16string>;
    // Saved queries are left out, select queries included; asked for by name, a select query
    // is refused as a query.
    EXPECT_EQ(OpenFixture("queryTestV2003.mdb")->TableNames(),
              (Names{u"Table1", u"Table2", u"Table3"}));
    // Linked tables are not listed; hidden and system tables neither.
    EXPECT_EQ(OpenFixture("linkerTestV2007.accdb")->TableNames(), (Names{u"Table1"}));
    EXPECT_TRUE(OpenFixture("sqlite3-links_jp1041.accdb")->TableNames().empty());
    EXPECT_TRUE(OpenFixture("empty2019.accdb")->TableNames().empty());
    const Names japanese = OpenFixture("hanbai-kanri_jp1041.accdb")->TableNames();
    ASSERT_EQ(japanese.size(), 13u);  // and four select queries V_…
    EXPECT_EQ(japanese.front(), u"コントロールマスタ");
    EXPECT_EQ(japanese.back(), u"郵便番号マスタ");
    const auto linker = OpenFixture("linkerTestV2007.accdb");
    for (const auto& entry : linker->Catalog().Entries())
        if (entry.type == kObjectLinkedTable) {
            EXPECT_THROW(linker->OpenTable(entry.name), Error);
        }
    try {
        OpenFixture("queryTestV2003.mdb")->OpenTable(u"SelectQuery");
        ADD_FAILURE() << "a select query opened";
    } catch (const Error& e) {
        EXPECT_NE(e.Message().find(u"クエリ「SelectQuery」"), std::u16string::npos);
    }
}

TEST(JetFixtures, FieldsComeInColumnOrderWithProviderTypes) {
    QM_REQUIRE_FIXTURES();
    const auto db = OpenFixture("testV2003.mdb");
    const auto table = db->OpenTable(u"Table1");
    std::vector<TFieldType> types;
    for (const auto& f : table->Fields())
        types.push_back(f.type);
    EXPECT_EQ(types, (std::vector<TFieldType>{ftWideString, ftWideString, ftWord, ftSmallint,
                                              ftInteger, ftFloat, ftDateTime, ftBCD, ftBoolean}));
    // A column inserted in design view takes its place by column number.
    const auto inserted = OpenFixture("V2016_withinsertedcol.accdb")->OpenTable(u"Table1");
    ASSERT_EQ(inserted->Fields().size(), 3u);
    EXPECT_EQ(inserted->Fields()[1].name, u"col2");
    const auto bigint = OpenFixture("V2016_bigint.accdb")->OpenTable(u"Table");
    EXPECT_EQ(bigint->Fields()[0].type, ftAutoInc);
    EXPECT_EQ(bigint->Fields()[1].type, ftLargeint);
    const auto numeric = OpenFixture("fixedNumericTestV2003.mdb")->OpenTable(u"test");
    EXPECT_EQ(numeric->Fields()[0].type, ftWideMemo);
    EXPECT_EQ(numeric->Fields()[1].type, ftFMTBcd);
    const auto guid = OpenFixture("testV2010.accdb")->OpenTable(u"Table4");
    EXPECT_EQ(guid->Fields()[1].type, ftGuid);
}

TEST(JetFixtures, ValuesReadAsAccessShowsThem) {
    QM_REQUIRE_FIXTURES();
    using Row = std::vector<std::u16string>;
    EXPECT_EQ(Rows(*OpenFixture("testV2003.mdb"), u"Table1")[0],
              (Row{u"abcdefg", u"hijklmnop", u"2", u"222", u"333333333", u"444.555", u"1974/09/21",
                   u"3.5", u"True"}));
    // Dates before 1900 and before the Gregorian reform.
    const auto old = Rows(*OpenFixture("oldDatesV2007.accdb"), u"Table1");
    EXPECT_EQ(old[0][1], u"1582/10/15");
    EXPECT_EQ(old[1][1], u"1582/10/14");
    EXPECT_EQ(old[2][1], u"1492/01/10");
    // Compressed Unicode text.
    const auto unicode = Rows(*OpenFixture("testUnicodeCompV2003.mdb"), u"Table");
    EXPECT_EQ(unicode[1][1], u"ääkkösiä");
    EXPECT_EQ(unicode[2][1], u"Мир");
    // Rows written before a column was inserted, and overflow rows.
    EXPECT_EQ(Rows(*OpenFixture("V2016_withinsertedcol.accdb"), u"Table1")[0],
              (Row{u"True", u"True", u"False"}));
    const auto overflow = Rows(*OpenFixture("overflowTestV2003.mdb"), u"Table1");
    ASSERT_EQ(overflow.size(), 7u);
    EXPECT_EQ(overflow[2][7], u"row3col9");
    // Decimals, fixed and variable.
    EXPECT_EQ(Rows(*OpenFixture("fixedNumericTestV2003.mdb"), u"test")[0],
              (Row{u"some data", u"1", u"0", u"0", u"4", u"-1", u"1"}));
    // Long text on LVAL pages (single rows and chains) and inline.
    const auto memo = Rows(*OpenFixture("V2016_longtext.accdb"), u"Table1");
    EXPECT_GT(memo[0][1].size(), 2000u);
    EXPECT_EQ(memo[0][1].substr(0, 11), u"Lorem ipsum");
    // Attachments and multi-value fields show their items.
    const auto complex = Rows(*OpenFixture("complexDataTestV2010.accdb"), u"Table1");
    EXPECT_EQ(complex[1][4], u"value1; value4");
    EXPECT_EQ(complex[1][5], u"test_data.txt; test_data2.txt");
    // Calculated columns show their stored results.
    const auto calc = Rows(*OpenFixture("calcFieldTestV2010.accdb"), u"Table1");
    EXPECT_EQ(calc[0][3], u"Wayne, Bruce");
    EXPECT_EQ(calc[0][5], u"12");
    EXPECT_EQ(calc[0][9], u"Wayne, Bruce=Wayne, Bruce");
    // ... typed by their ResultType property where the definition's type byte differs.
    EXPECT_EQ(calc[0][7], u"83333.3333");
    EXPECT_EQ(calc[1][7], u"-0.0833");
    // Japanese text.
    EXPECT_EQ(Rows(*OpenFixture("hanbai-kanri_jp1041.accdb"), u"コード名称マスタ")[2][2],
              u"営業部第一");
}

}  // namespace
}  // namespace qm::jet
