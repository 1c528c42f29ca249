// Tables, fields and rows of databases made by our builder, and damaged input.
#include "targets/jet/jet_database.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "jet_sample_db.h"
#include "platform/error.h"
#include "platform/little_endian.h"
#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_data_page.h"
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

// What each kind of damage gives: the error that says what is broken (naming the file), or,
// where the damage is in bytes no structure uses, the rows as they were.
TEST(JetDatabase, EachDamageGivesItsErrorOrTheRowsAsTheyWere) {
    const std::string good = sample::SampleDatabase(600);
    const auto goodRows = ReadAll(*TJetDatabase::FromBytes(good, u"x.mdb")->OpenTable(u"商品"));
    // Page 4 is the definition of 商品; its rows start on the first data page it owns.
    constexpr std::size_t kDef = 4 * kPageSize;
    const auto u8 = [](const std::string& b, std::size_t at) {
        return static_cast<std::uint8_t>(b[at]);
    };
    const auto firstRowPage = [&](const std::string& b) {
        for (std::size_t page = 5; page < b.size() / kPageSize; ++page)
            if (u8(b, page * kPageSize) == kPageData &&
                ReadU32(b.data() + page * kPageSize + 4) == 4)
                return page * kPageSize;
        return std::size_t{0};
    };
    const auto rowAt = [&](const std::string& b, std::size_t page, int slot) {
        return page + (ReadU16(b.data() + page + kDataPageHeader + 2 * slot) & 0x1FFF);
    };
    const auto ownedMapRow = [&](const std::string& b) {
        const std::uint32_t raw = ReadU32(b.data() + kDef + 55);
        return rowAt(b, (raw >> 8) * kPageSize, static_cast<int>(raw & 0xFF));
    };
    const struct {
        const char* what;
        std::function<void(std::string&)> damage;
        const char* error;  // nullptr: the rows read as they were
    } cases[] = {
        {"the catalogue's definition page has another type",
         [](std::string& b) { b[2 * kPageSize] = 1; }, "ページ 2 の種類が想定と異なります"},
        {"a definition continues past the end of the file",
         [](std::string& b) { SetU32(b, kDef + 4, 0x00FFFFFF); }, "がファイルの外を指しています"},
        {"the owned-page map has an unknown kind", [&](std::string& b) { b[ownedMapRow(b)] = 7; },
         "使用状況マップの種類が不明です"},
        {"a row claims more columns than its table has",
         [&](std::string& b) { SetU16(b, rowAt(b, firstRowPage(b), 0), 0x7FFF); },
         "行の列数が不正です"},
        {"a slot points into the page header",
         [&](std::string& b) { SetU16(b, firstRowPage(b) + kDataPageHeader, 2); }, "データページ"},
        {"the free space between slots and rows is scribbled on",
         [&](std::string& b) {
             // The last page of 商品 is the one with room left.
             std::size_t page = b.size() - kPageSize;
             while (u8(b, page) != kPageData || ReadU32(b.data() + page + 4) != 4)
                 page -= kPageSize;
             const std::uint16_t free = ReadU16(b.data() + page + 2);
             const std::uint16_t slots = ReadU16(b.data() + page + 12);
             ASSERT_GE(free, 16);
             b[page + kDataPageHeader + 2 * slots + free / 2] = '\x5A';
         },
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string bytes = good;
        c.damage(bytes);
        ASSERT_NE(bytes, good);
        std::vector<std::vector<std::u16string>> rows;
        const std::string message = qm::test::ErrorOf([&] {
            const auto db = TJetDatabase::FromBytes(bytes, u"x.mdb");
            for (const auto& name : db->TableNames())
                if (name == u"商品") rows = ReadAll(*db->OpenTable(name));
        });
        if (c.error == nullptr) {
            EXPECT_EQ(message, "(no error)");
            EXPECT_EQ(rows, goodRows);
        } else {
            EXPECT_NE(message.find("Accessデータベースが壊れているため読み込めません"),
                      std::string::npos)
                << message;
            EXPECT_NE(message.find(c.error), std::string::npos) << message;
            EXPECT_NE(message.find("x.mdb"), std::string::npos) << message;
        }
    }
}

// Random damage to the structures (definitions, map rows, slot tables, row trailers): every
// outcome is the damaged-file error naming the file, or rows of the table's shape; never a
// crash or a read out of bounds (ASan watches).
TEST(JetDatabase, RandomDamageGivesTheDamagedFileErrorOrWellFormedRows) {
    const std::string good = sample::SampleDatabase(600);
    std::mt19937 random(7);
    int errors = 0;
    for (int round = 0; round < 400; ++round) {
        std::string bytes = good;
        for (int k = 0; k < 4; ++k) {
            const std::size_t page = 1 + random() % (bytes.size() / kPageSize - 1);
            const std::size_t offset = random() % 2 ? random() % 96 : kPageSize - 1 - random() % 64;
            bytes[page * kPageSize + offset] = static_cast<char>(random());
        }
        try {
            const auto db = TJetDatabase::FromBytes(bytes, u"x.mdb");
            for (const auto& name : db->TableNames()) {
                const auto table = db->OpenTable(name);
                for (const auto& row : ReadAll(*table))
                    ASSERT_EQ(row.size(), table->Fields().size());
            }
            CheckDatabase(*db);
        } catch (const Error& e) {
            ++errors;
            const std::string message = e.what();
            EXPECT_NE(message.find("x.mdb"), std::string::npos) << message;
        }
    }
    EXPECT_GT(errors, 0);
}

TEST(JetDatabase, LoopsInPageChainsAreDamageNotHangs) {
    std::string bytes = sample::SampleDatabase();
    // Point the catalogue's definition at itself as its continuation.
    bytes[2 * kPageSize + 4] = 2;
    EXPECT_EQ(
        qm::test::ErrorOf([&] { TJetDatabase::FromBytes(bytes, u"x.mdb"); }),
        "Accessデータベースが壊れているため読み込めません（テーブル定義のページの連鎖が循環して"
        "います）。\nx.mdb");
}

}  // namespace
}  // namespace qm::jet
