// Tables, fields and rows of databases made by our builder, and damaged input.
#include "targets/jet/jet_database.h"

#include <gtest/gtest.h>

#include <random>

#include "jet_sample_db.h"
#include "platform/error.h"
#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_check.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::vector<std::vector<std::u16string>> ReadAll(const TJetTable& table) {
    std::vector<std::vector<std::u16string>> rows;
    std::vector<TJetValue> values;
    for (auto cursor = table.Rows(); cursor.Next(values);) {
        rows.emplace_back();
        for (const auto& v : values)
            rows.back().push_back(FormatJetValue(v));
    }
    return rows;
}

TEST(JetDatabase, ListsTablesAndReportsFieldTypes) {
    const auto db = TJetDatabase::FromBytes(sample::SampleDatabase(), u"x.mdb");
    EXPECT_EQ(db->TableNames(), (std::vector<std::u16string>{u"Empty", u"商品"}));
    const auto table = db->OpenTable(u"商品");
    std::vector<std::pair<std::u16string, TFieldType>> fields;
    for (const auto& f : table->Fields())
        fields.emplace_back(f.name, f.type);
    const std::vector<std::pair<std::u16string, TFieldType>> expected = {
        {u"ID", ftInteger},    {u"名前", ftWideString}, {u"価格", ftBCD},
        {u"数量", ftSmallint}, {u"比率", ftFloat},      {u"日付", ftDateTime},
        {u"済", ftBoolean},    {u"区分", ftWord},       {u"大きな数", ftLargeint},
        {u"単精度", ftFloat}};
    EXPECT_EQ(fields, expected);
    EXPECT_TRUE(db->OpenTable(u"empty")->Fields().size() == 1);  // names match without case
}

TEST(JetDatabase, ReadsRowsBackAsWritten) {
    const auto db = TJetDatabase::FromBytes(sample::SampleDatabase(), u"x.mdb");
    const auto rows = ReadAll(*db->OpenTable(u"商品"));
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0],
              (std::vector<std::u16string>{u"0", u"品目A", u"0", u"0", u"0", u"1899/12/29 6:00:00",
                                           u"True", u"0", u"1099511627776", u"1.5"}));
    EXPECT_EQ(rows[1][1], u"");  // NULL text
    EXPECT_EQ(rows[1][2], u"1.25");
    EXPECT_EQ(rows[2][5], u"18:00:00");  // the base day shows as a time alone
    EXPECT_TRUE(ReadAll(*db->OpenTable(u"Empty")).empty());
}

TEST(JetDatabase, ReadsRowsLazilyAcrossManyPages) {
    const auto db = TJetDatabase::FromBytes(sample::SampleDatabase(3000), u"x.mdb");
    const auto table = db->OpenTable(u"商品");
    std::vector<TJetValue> values;
    auto cursor = table->Rows();
    ASSERT_TRUE(cursor.Next(values));
    EXPECT_EQ(values[0].integer, 0);
    std::int64_t n = 1, last = 0;
    while (cursor.Next(values))
        last = values[0].integer, ++n;
    EXPECT_EQ(n, 3000);
    EXPECT_EQ(last, 2999);  // rows come back in the order they were placed
}

TEST(JetDatabase, RefusesNamesItDoesNotHave) {
    const auto db = TJetDatabase::FromBytes(sample::SampleDatabase(), u"x.mdb");
    try {
        db->OpenTable(u"ない");
        FAIL();
    } catch (const Error& e) {
        EXPECT_NE(e.Message().find(u"「ない」"), std::u16string::npos);
    }
    EXPECT_THROW(db->OpenTable(u"MSysObjects"), Error);  // system tables are not offered
}

// Damaged files must fail with Error, never crash or read out of bounds (ASan watches).
TEST(JetDatabase, DamagedBytesGiveErrorsNotCrashes) {
    const std::string good = sample::SampleDatabase(600);
    std::mt19937 random(7);
    int errors = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = good;
        for (int k = 0; k < 4; ++k) {
            // Hit the structures: definitions, map rows, slot tables and row trailers.
            const std::size_t page = 1 + random() % (bytes.size() / kPageSize - 1);
            const std::size_t offset = random() % 2 ? random() % 96 : kPageSize - 1 - random() % 64;
            bytes[page * kPageSize + offset] = static_cast<char>(random());
        }
        try {
            const auto db = TJetDatabase::FromBytes(bytes, u"x.mdb");
            for (const auto& name : db->TableNames())
                ReadAll(*db->OpenTable(name));
            CheckDatabase(*db);
        } catch (const Error&) {
            ++errors;
        }
    }
    EXPECT_GT(errors, 0);
}

TEST(JetDatabase, LoopsInPageChainsAreDamageNotHangs) {
    std::string bytes = sample::SampleDatabase();
    // Point the catalogue's definition at itself as its continuation.
    bytes[2 * kPageSize + 4] = 2;
    EXPECT_THROW(TJetDatabase::FromBytes(bytes, u"x.mdb"), Error);
}

}  // namespace
}  // namespace qm::jet
