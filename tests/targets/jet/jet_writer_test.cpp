// Appending rows to Access tables: what is written reads back, through our reader and the two
// independent ones, the database stays consistent for the checker, tables not written keep
// every page they own, and whatever fails (a refused table, a duplicate key, a value too long,
// a cancel) leaves the file byte for byte as it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "jet_independent_readers.h"
#include "jet_sample_db.h"
#include "platform/error.h"
#include "platform/little_endian.h"
#include "platform/yield.h"
#include "targets/engine.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_index.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/jet/jet_text.h"
#include "targets/jet/jet_usage_map.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

std::string Narrow(const std::u16string& text) {
    return Utf16ToUtf8(text);
}

// A writable copy of a sample database.
fs::path CopyFixture(const test::TempDir& dir, const std::string& name) {
    const fs::path target = dir.Path() / name;
    fs::copy_file(test::FixturesDir() / "access" / name, target);
    fs::permissions(target, fs::perms::owner_write, fs::perm_options::add);
    return target;
}

std::unique_ptr<TEngine> Open(const fs::path& file) {
    return OpenEngine(GetConnectionString(Utf8ToUtf16(file.string())));
}

// Appends `rows` in one transaction and commits it.
void Append(const fs::path& file, const std::u16string& table,
            const std::vector<std::vector<TValue>>& rows) {
    auto engine = Open(file);
    auto t = engine->OpenTable(table);
    engine->BeginTransaction();
    try {
        for (const auto& row : rows)
            t->AppendRow(row);
        engine->CommitTransaction(nullptr);
    } catch (...) {
        engine->RollbackTransaction();
        throw;
    }
}

std::vector<std::vector<TValue>> ReadAll(const fs::path& file, const std::u16string& table) {
    auto engine = Open(file);
    auto t = engine->OpenTable(table);
    std::vector<std::vector<TValue>> rows;
    std::vector<TValue> values;
    for (std::int64_t i = 0; t->ReadRow(i, values); ++i)
        rows.push_back(values);
    return rows;
}

// Every value as the preview shows it, decimals without trailing zeros: what was written and
// what is read compare equal when the value survived.
std::string Shown(const TValue& value) {
    std::string text = Narrow(ValueToDisplayText(value));
    if (std::holds_alternative<TDecimal>(value) || std::holds_alternative<TCurrency>(value))
        return readers::StripZeros(text);
    return text;
}

void ExpectConsistent(const fs::path& file, bool strict = true) {
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    const TCheckReport report = CheckDatabase(*db, {strict});
    for (const auto& problem : report.problems)
        ADD_FAILURE() << Narrow(problem);
}

// The pages a table owns: its definition, its data pages, its index trees and its long-value
// pages, with their bytes.
std::map<std::uint32_t, std::string> PagesOf(const TJetDatabase& db, std::uint32_t tdef) {
    const TJetPageFile& file = db.File();
    const TTableDef def = ReadTableDef(file, tdef);
    std::vector<std::uint32_t> pages = def.pages;
    for (const std::uint32_t map : {def.ownedMap, def.freeMap}) {
        const auto used = ReadUsageMap(file, map).pages;
        pages.insert(pages.end(), used.begin(), used.end());
    }
    for (const auto& index : def.physicalIndexes)
        for (const auto& page : WalkIndexTree(file, index.rootPage).pages)
            pages.push_back(page.number);
    for (const auto& maps : def.longValueMaps) {
        const auto used = ReadUsageMap(file, maps.owned).pages;
        pages.insert(pages.end(), used.begin(), used.end());
    }
    std::map<std::uint32_t, std::string> bytes;
    for (const std::uint32_t page : pages)
        if (page < file.PageCount())
            bytes[page].assign(reinterpret_cast<const char*>(file.Page(page)), kPageSize);
    return bytes;
}

// Every table but `written` owns the same pages with the same bytes in both files.
void ExpectOtherTablesUntouched(const fs::path& before, const fs::path& after,
                                const std::u16string& written) {
    const auto a = TJetDatabase::Open(Utf8ToUtf16(before.string()));
    const auto b = TJetDatabase::Open(Utf8ToUtf16(after.string()));
    for (const auto& table : a->Catalog().AllLocalTables()) {
        if (NamesEqual(table.name, written) || table.name == u"MSysObjects") continue;
        SCOPED_TRACE(Narrow(table.name));
        EXPECT_TRUE(PagesOf(*a, table.tdefPage) == PagesOf(*b, table.tdefPage));
    }
}

TValue Decimal(const char* text) {
    return TDecimal{text};
}

TEST(JetWriter, EveryColumnTypeReadsBackThroughEveryReader) {
    test::TempDir dir;
    const auto file = dir.Write("型.mdb", sample::SampleDatabase(3));
    // The builder's table: ID Long, 名前 Text(50), 価格 Currency, 数量 Integer, 比率 Double,
    // 日付 DateTime, 済 Yes/No, 区分 Byte, 大きな数 BigInt, 単精度 Single.
    const std::vector<std::vector<TValue>> rows = {
        {std::int64_t{2147483647}, std::u16string(50, u'長'), Decimal("922337203685477.5807"),
         std::int64_t{32767}, 1.7976931348623157e308, TDateTime{2958465.999988426}, true,
         std::int64_t{255}, std::int64_t{9223372036854775807}, 3.4028234663852886e38},
        {std::int64_t{-2147483647 - 1}, std::u16string(u"a"), Decimal("-922337203685477.5808"),
         std::int64_t{-32768}, -2.2250738585072014e-308, TDateTime{-1.25}, false, std::int64_t{0},
         std::int64_t{-9223372036854775807 - 1}, -1.5},
        // Empty cells: NULL everywhere, No for the Yes/No field.
        {TValue{}, TValue{}, TValue{}, TValue{}, TValue{}, TValue{}, TValue{}, TValue{}, TValue{},
         TValue{}},
        {std::int64_t{0}, std::u16string(u"日本語と ASCII"), Decimal("0.0001"), std::int64_t{0},
         0.1, TDateTime{45322.5}, true, std::int64_t{1}, std::int64_t{0}, 0.0},
    };
    const auto before = ReadAll(file, u"商品");
    Append(file, u"商品", rows);
    ExpectConsistent(file);

    const auto after = ReadAll(file, u"商品");
    ASSERT_EQ(after.size(), before.size() + rows.size());
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (std::size_t c = 0; c < rows[r].size(); ++c) {
            SCOPED_TRACE(std::to_string(r) + "/" + std::to_string(c));
            const TValue& read = after[before.size() + r][c];
            if (c == 6 && IsNull(rows[r][c]))
                EXPECT_EQ(Shown(read), "False");
            else
                EXPECT_EQ(Shown(read), Shown(rows[r][c]));
        }
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    if (missing.empty()) {
        EXPECT_GT(readers::ExpectReadersAgree(file.string(), "型.mdb"), 0u);
    } else {
        std::printf("independent readers skipped: %s\n", missing.c_str());
    }
}

// A text that starts with U+FEFF looks like the mark of compressed text when stored plainly.
TEST(JetWriter, ATextStartingWithAByteOrderMarkKeepsIt) {
    TColumnDef compressible;
    compressible.name = u"a";
    compressible.type = kTypeText;
    compressible.length = 40;
    compressible.extFlags = kColumnCompressible;
    const std::u16string text = u"\uFEFFabc日本";
    const std::string bytes = EncodeJetText(compressible, text);
    EXPECT_EQ(DecodeJetText({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}),
              text);
    TColumnDef plain = compressible;
    plain.extFlags = 0;
    EXPECT_NE(test::ErrorOf([&] { EncodeColumnValue(plain, TValue{text}); }).find("U+FEFF"),
              std::string::npos);
}

// Date/Time Extended is stored as text: days since 0001-01-01, seconds of the day and 100-ns
// units, as mdb-reader and Jackcess lay it out.
TEST(JetWriter, DateTimeExtendedValuesTakeTheirTextForm) {
    TColumnDef column;
    column.name = u"記録";
    column.type = kTypeDateTimeExtended;
    column.flags = kColumnFixed;
    column.length = 42;
    const std::string expected =
        std::string("0000000000000738915:000000045296") + "1234567" + ":7" + std::string(1, '\0');
    EXPECT_EQ(
        EncodeColumnValue(column, TValue{std::u16string(u"2024-01-31 12:34:56.1234567")}).bytes,
        expected);
    EXPECT_EQ(EncodeColumnValue(column, TValue{std::u16string(u"0001/01/01")}).bytes,
              std::string(19, '0') + ":" + std::string(19, '0') + ":7" + std::string(1, '\0'));
    for (const char16_t* bad :
         {u"2023-02-29", u"2024-01-31 24:00:00", u"31/01/2024", u"2024-01-31 1:2:3.12345678"})
        EXPECT_NE(test::ErrorOf([&] { EncodeColumnValue(column, TValue{std::u16string(bad)}); }),
                  "(no error)")
            << Narrow(bad);
}

TEST(JetWriter, RowsFillNewPagesAndTheMapsFollowThem) {
    test::TempDir dir;
    const auto file = dir.Write("多い.mdb", sample::SampleDatabase(10));
    // Enough rows for several hundred pages: the table's inline map must move or turn into a
    // reference map, and the global map must give up pages.
    std::vector<std::vector<TValue>> rows;
    for (int i = 0; i < 40000; ++i)
        rows.push_back({std::int64_t{i}, std::u16string(20 + i % 30, u'x'), TValue{},
                        std::int64_t{i % 1000}, TValue{}, TValue{}, i % 3 == 0,
                        std::int64_t{i % 256}, TValue{}, TValue{}});
    Append(file, u"商品", rows);
    ExpectConsistent(file);
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    const auto table = db->OpenTable(u"商品");
    EXPECT_EQ(table->Def().rowCount, 40010u);
    EXPECT_GT(db->File().PageCount(), 600u);
    const auto read = ReadAll(file, u"商品");
    ASSERT_EQ(read.size(), 40010u);
    EXPECT_EQ(Shown(read[40009][1]), std::string(20 + 39999 % 30, 'x'));
}

// Values made from a field's type, different in every row.
TValue Generated(const TFieldDef& field, int row) {
    if (field.ReadOnly) return {};
    const std::string n = std::to_string(row);
    switch (field.DataType) {
        case ftWideString:
        case ftFixedWideChar: {
            std::u16string text = u"行" + Utf8ToUtf16(n) + u" テキスト";
            if (field.Size > 0 && text.size() > static_cast<std::size_t>(field.Size))
                text.resize(static_cast<std::size_t>(field.Size));
            return text;
        }
        case ftWideMemo:
            // Inline, one LVAL row, and chains, compressed (ASCII) and not (Japanese).
            switch (row % 4) {
                case 0:
                    return u"short " + Utf8ToUtf16(n);
                case 1:
                    return std::u16string(1500, u'長') + Utf8ToUtf16(n);
                case 2:
                    return std::u16string(3000, u'a') + Utf8ToUtf16(n);
                default:
                    return std::u16string(9000, u'字') + Utf8ToUtf16(n);
            }
        case ftSmallint:
            return std::int64_t{30000 - row};
        case ftWord:
            return std::int64_t{row % 256};
        case ftInteger:
            return std::int64_t{1000000000 + row};
        case ftLargeint:
            return std::int64_t{1000000000000000 + row};
        case ftFloat:
            return row + 0.5;
        case ftBCD:
            return TDecimal{n + ".25"};
        case ftFMTBcd:
            return TDecimal{std::to_string(row % 10)};
        case ftDateTime:
            return TDateTime{45000.0 + row + 0.25};
        case ftBoolean:
            return row % 2 == 0;
        case ftGuid: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "{%08X-1234-5678-9ABC-DEF012345678}", row);
            return Utf8ToUtf16(buffer);
        }
        default:
            return {};
    }
}

struct TFixtureTable {
    const char* file;
    const char16_t* table;
    int rows;
    bool strict;  // the sample itself passes the strict check
};

// The sample tables this engine writes (the others are refused: see the next test).
constexpr TFixtureTable kWritable[] = {
    {"V2016_bigint.accdb", u"Table", 3000, true},  // AutoNumber key, Large Number index
    {"V2016_longtext.accdb", u"Table1", 40, true},
    {"DateTestDatabase.mdb", u"DateTest", 600, true},
    {"compIndexTestV2003.mdb", u"Table1", 600, true},
    {"delColTestV2003.mdb", u"Table1", 100, true},
    {"fixedNumericTestV2003.mdb", u"test", 100, true},
    {"binIdxTestV2010.accdb", u"Test", 600, true},
    {"hanbai-kanri_jp1041.accdb", u"入金予定データ", 200, true},
    {"hanbai-kanri_jpdata_general.mdb", u"郵便番号マスタ", 200, true},
    {"indexTestV2003.mdb", u"Table3", 100, true},
    {"oldDatesV2007.accdb", u"Table1", 100, true},
    {"linkeeTest.accdb", u"Table2", 100, true},
    {"testV2010.accdb", u"Table4", 100, true},
    {"testV2003.mdb", u"Table3", 100, false},
};

TEST(JetWriter, SampleTablesTakeRowsOfEveryFieldType) {
    QM_REQUIRE_FIXTURES();
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    if (!missing.empty()) std::printf("independent readers skipped: %s\n", missing.c_str());
    for (const auto& sample : kWritable) {
        SCOPED_TRACE(std::string(sample.file) + " " + Narrow(sample.table));
        test::TempDir dir;
        const auto file = CopyFixture(dir, sample.file);
        const auto original = test::FixturesDir() / "access" / sample.file;
        std::vector<TFieldDef> fields;
        {
            auto engine = Open(file);
            fields = engine->OpenTable(sample.table)->Fields();
        }
        std::vector<std::vector<TValue>> rows;
        for (int r = 0; r < sample.rows; ++r) {
            rows.emplace_back();
            for (const auto& field : fields)
                rows.back().push_back(Generated(field, r));
        }
        const auto before = ReadAll(file, sample.table);
        ASSERT_EQ(test::ErrorOf([&] { Append(file, sample.table, rows); }), "(no error)");
        ExpectConsistent(file, sample.strict);
        ExpectOtherTablesUntouched(original, file, sample.table);

        // Rows are read in page order, and new rows may fill free pages before the old ones:
        // the old rows and the written ones, as a whole, are what the table now holds.
        const auto after = ReadAll(file, sample.table);
        ASSERT_EQ(after.size(), before.size() + rows.size());
        // Fields the engine fills (auto-numbers) are left out of the comparison.
        auto line = [&](const std::vector<TValue>& row) {
            std::string text;
            for (std::size_t c = 0; c < fields.size(); ++c)
                text += (fields[c].ReadOnly ? "*" : Shown(row[c])) + "\t";
            return text;
        };
        std::vector<std::string> expected, actual;
        for (const auto* set :
             std::initializer_list<const std::vector<std::vector<TValue>>*>{&before, &rows, &after})
            for (const auto& row : *set)
                (set == &after ? actual : expected).push_back(line(row));
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        EXPECT_TRUE(expected == actual);
        if (missing.empty()) readers::ExpectReadersAgree(file.string(), sample.file);
    }
}

TEST(JetWriter, AutoNumbersContinueTheTablesSequence) {
    QM_REQUIRE_FIXTURES();
    test::TempDir dir;
    const auto file = CopyFixture(dir, "V2016_bigint.accdb");
    const auto before = ReadAll(file, u"Table");
    std::int64_t last = 0;
    for (const auto& row : before)
        last = std::max(last, std::get<std::int64_t>(row[0]));
    Append(file, u"Table", {{TValue{}, std::int64_t{5}}, {TValue{}, std::int64_t{6}}});
    Append(file, u"Table", {{TValue{}, std::int64_t{7}}});
    const auto after = ReadAll(file, u"Table");
    ASSERT_EQ(after.size(), before.size() + 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::get<std::int64_t>(after[before.size() + i][0]), last + 1 + i);
    ExpectConsistent(file);
}

// An .accdb table with an AutoNumber primary key and a numeric index, as the benchmark uses:
// one hundred thousand rows fill the key's tree at its right edge and split the other's leaves
// everywhere, three levels deep, and the checker finds every row once, in key order.
TEST(JetWriter, IndexTreesGrowLevelsAndStayInOrder) {
    test::TempDir dir;
    TJetBuilder builder(
        {{u"売上",
          {{u"ID", kTypeLong, 0, true}, {u"番号", kTypeBigInt}, {u"名前", kTypeText, 20}},
          {{u"PrimaryKey", {0}, true, true}, {u"番号", {1}}}}},
        TBuildFormat::Ace12);
    const auto file = dir.Write("索引.accdb", builder.Finish());
    std::mt19937 random(7);  // duplicates are rare but allowed
    std::vector<std::vector<TValue>> rows;
    for (int i = 0; i < 100000; ++i)
        rows.push_back({TValue{},
                        static_cast<std::int64_t>((std::uint64_t{random()} << 32) ^ random()),
                        u"名" + Utf8ToUtf16(std::to_string(i))});
    Append(file, u"売上", rows);
    Append(file, u"売上", {{TValue{}, std::int64_t{0}, TValue{}}});

    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    const TCheckReport report = CheckDatabase(*db, {true});
    for (const auto& problem : report.problems)
        ADD_FAILURE() << Narrow(problem);
    const auto table = db->OpenTable(u"売上");
    for (const auto& check : report.tables)
        if (check.table == u"売上") {
            EXPECT_EQ(check.liveRows, 100001u);
            EXPECT_EQ(check.keysCompared, 2 * 100001u);
        }
    std::vector<std::size_t> pagesAboveLeaves;
    for (const auto& index : table->Def().physicalIndexes) {
        const TIndexTree tree = WalkIndexTree(db->File(), index.rootPage);
        EXPECT_EQ(tree.leafEntries.size(), 100001u);
        pagesAboveLeaves.push_back(tree.pages.size() - tree.leafPages.size());
    }
    // The key's leaves are filled whole (one level above them); the Large Number's are split
    // in halves, which takes a level more.
    EXPECT_EQ(pagesAboveLeaves, (std::vector<std::size_t>{1, pagesAboveLeaves[1]}));
    EXPECT_GT(pagesAboveLeaves[1], 2u);
    // The auto-numbers run on from the first transaction into the second.
    const auto read = ReadAll(file, u"売上");
    std::vector<std::int64_t> ids;
    for (const auto& row : read)
        ids.push_back(std::get<std::int64_t>(row[0]));
    std::sort(ids.begin(), ids.end());
    for (std::size_t i = 0; i < ids.size(); ++i)
        ASSERT_EQ(ids[i], static_cast<std::int64_t>(i + 1));
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    if (missing.empty()) readers::ExpectReadersAgree(file.string(), "索引.accdb");
}

TEST(JetWriter, RefusedTablesNameTheReasonAndLeaveTheFileAlone) {
    QM_REQUIRE_FIXTURES();
    struct TCase {
        const char* file;
        const char16_t* table;
        const char* reason;
    };
    const TCase cases[] = {
        {"calcFieldTestV2010.accdb", u"Table1", "集計フィールド「AllNames」の式"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        test::TempDir dir;
        const auto file = CopyFixture(dir, c.file);
        const std::string bytes = test::ReadBytes(file);
        auto engine = Open(file);
        auto table = engine->OpenTable(c.table);
        engine->BeginTransaction();
        std::vector<TValue> row(table->Fields().size());
        const std::string error = test::ErrorOf([&] { table->AppendRow(row); });
        EXPECT_NE(error.find("テーブル「" + Narrow(c.table) + "」には行を追加できません"),
                  std::string::npos)
            << error;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        engine->RollbackTransaction();
        EXPECT_TRUE(test::ReadBytes(file) == bytes);
    }
}

// A database whose bookkeeping already disagrees with itself (here: the global map calls the
// table's definition page free, so Access could hand it out again) is never written.
TEST(JetWriter, AnInconsistentDatabaseIsRefused) {
    test::TempDir dir;
    std::string bytes = sample::SampleDatabase(2);
    const auto* page1 = reinterpret_cast<const std::uint8_t*>(bytes.data()) + kPageSize;
    const std::size_t globalMap = kPageSize + (ReadU16(page1 + 14) & 0x1FFF);
    ASSERT_EQ(ReadU32(page1 + (globalMap - kPageSize) + 1), 0u);  // the map starts at page 0
    bytes[globalMap + 5] = static_cast<char>(bytes[globalMap + 5] | (1 << 4));  // page 4 "free"
    const auto file = dir.Write("壊れ.mdb", bytes);
    auto engine = Open(file);
    auto table = engine->OpenTable(u"商品");
    engine->BeginTransaction();
    std::vector<TValue> row(table->Fields().size());
    const std::string error = test::ErrorOf([&] { table->AppendRow(row); });
    EXPECT_NE(error.find("不整合"), std::string::npos) << error;
    EXPECT_NE(error.find("ページ 4"), std::string::npos) << error;
    engine->RollbackTransaction();
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// A broken index tree is found by the full check and by the lighter one before writing, and
// the engine then refuses to write: entries out of order inside a leaf, and a leaf chain that
// stops early.
TEST(JetWriter, ABrokenIndexTreeIsRefused) {
    test::TempDir dir;
    TJetBuilder builder({{u"売上",
                          {{u"ID", kTypeLong, 0, true}, {u"番号", kTypeLong}},
                          {{u"PrimaryKey", {0}, true, true}}}},
                        TBuildFormat::Ace12);
    const auto built = dir.Write("索引.accdb", builder.Finish());
    std::vector<std::vector<TValue>> rows;
    for (int i = 0; i < 3000; ++i)
        rows.push_back({TValue{}, std::int64_t{i}});
    Append(built, u"売上", rows);
    const std::string good = test::ReadBytes(built);

    const auto db = TJetDatabase::FromBytes(good, u"索引.accdb");
    const TTableDef def = db->OpenTable(u"売上")->Def();
    const TIndexTree tree = WalkIndexTree(db->File(), def.physicalIndexes[0].rootPage);
    ASSERT_GE(tree.leafPages.size(), 2u);
    const std::size_t leaf = std::size_t{tree.leafPages[0]} * kPageSize;

    struct TCase {
        const char* name;
        std::string bytes;
        const char* expected;
    };
    std::vector<TCase> cases;
    {
        // The sixth entry's key ends where its row pointer (4 bytes) begins; its last key byte
        // set to zero puts it below the fifth (keys 1, 2, … differ in that byte).
        std::string b = good;
        std::size_t ends = 0;
        std::size_t end = 0;
        for (std::size_t bit = 0; ends < 6; ++bit)
            if (b[leaf + kIndexBitmapStart + bit / 8] & (1 << (bit % 8))) {
                ++ends;
                end = kIndexEntriesStart + bit;
            }
        b[leaf + end - 5] = 0;
        cases.push_back({"order", b, "昇順"});
    }
    {
        std::string b = good;  // the first leaf no longer leads to the second
        for (std::size_t i = 0; i < 4; ++i)
            b[leaf + 16 + i] = 0;
        cases.push_back({"leaf chain", b, "リンク"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto broken = TJetDatabase::FromBytes(c.bytes, u"索引.accdb");
        const auto found = [&](const TCheckReport& report) {
            for (const auto& problem : report.problems)
                if (Narrow(problem).find(c.expected) != std::string::npos) return true;
            return false;
        };
        EXPECT_TRUE(found(CheckDatabase(*broken, {false})));
        EXPECT_TRUE(found(CheckDatabaseForWriting(*broken, {def.page})));

        const auto file = dir.Write("壊れ.accdb", c.bytes);
        auto engine = Open(file);
        auto table = engine->OpenTable(u"売上");
        engine->BeginTransaction();
        const std::string error = test::ErrorOf([&] {
            table->AppendRow({TValue{}, std::int64_t{5000}});
        });
        EXPECT_NE(error.find("不整合"), std::string::npos) << error;
        engine->RollbackTransaction();
        EXPECT_TRUE(test::ReadBytes(file) == c.bytes);
    }
}

// The command line's import, so that messages carry the CSV line as users see them.
struct TImportCase {
    const char* name;
    const char* csv;
    const char* relation;
    std::vector<const char*> expected;  // parts of the message
};

TEST(JetWriter, AFailingRowRollsTheWholeImportBack) {
    QM_REQUIRE_FIXTURES();
    const TImportCase cases[] = {
        // indexTestV2003 Table2: Integer primary key "id", holding 0 to 2 already.
        {"duplicate of a row in the table",
         "id\n100\n1\n",
         "id=0",
         {"索引「PrimaryKey」", "フィールド「id」の値「1」", "3行目"}},
        {"the same key twice in the file",
         "id\n100\n101\n100\n",
         "id=0",
         {"フィールド「id」の値「100」", "4行目"}},
        // The field's default (0) fills the empty cell, as Access does, and 0 is taken.
        {"an empty key takes its default",
         "id,x\n100,a\n,b\n",
         "id=0",
         {"フィールド「id」の値「0」", "3行目"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto file = CopyFixture(dir, "indexTestV2003.mdb");
        const auto csv = dir.Write("in.csv", c.csv);
        const std::string bytes = test::ReadBytes(file);
        const auto run =
            test::RunCli("import '-e=" + file.string() + "' -w=Table2 '-c=" + csv.string() +
                         "' -f=-1 '-r=" + c.relation + "'");
        EXPECT_NE(run.status, 0) << run.out;
        for (const char* part : c.expected)
            EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
        EXPECT_TRUE(test::ReadBytes(file) == bytes);
        // Nothing but the database is left in the folder.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator{}), 2);
    }
}

TEST(JetWriter, ATextLongerThanItsFieldRollsBack) {
    test::TempDir dir;
    const auto file = dir.Write("長い.mdb", sample::SampleDatabase(2));
    const std::string bytes = test::ReadBytes(file);
    auto engine = Open(file);
    auto table = engine->OpenTable(u"商品");
    engine->BeginTransaction();
    std::vector<TValue> row(table->Fields().size());
    table->AppendRow(row);
    row[1] = std::u16string(51, u'あ');
    const std::string error = test::ErrorOf([&] { table->AppendRow(row); });
    EXPECT_NE(error.find("フィールド「名前」"), std::string::npos) << error;
    EXPECT_NE(error.find("50 文字"), std::string::npos) << error;
    engine->RollbackTransaction();
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

TEST(JetWriter, ACancelledCommitLeavesTheFileAsItWas) {
    test::TempDir dir;
    const auto file = dir.Write("取消.mdb", sample::SampleDatabase(2));
    const std::string bytes = test::ReadBytes(file);
    auto engine = Open(file);
    auto table = engine->OpenTable(u"商品");
    engine->BeginTransaction();
    std::vector<TValue> row(table->Fields().size());
    for (int i = 0; i < 1000; ++i)
        table->AppendRow(row);
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(test::ErrorOf([&] { engine->CommitTransaction(&cancel); }),
              Narrow(kCancelledMessage));
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator{}), 1);
    // The engine stays usable: the next transaction commits.
    engine->BeginTransaction();
    table->AppendRow(row);
    engine->CommitTransaction(nullptr);
    EXPECT_EQ(ReadAll(file, u"商品").size(), 3u);
}

// Seen from the commit's turns for the user interface: whether Access's lock file is there.
fs::path gLockFile;
bool gLockSeen = false;

TEST(JetWriter, TheCommitHoldsAccesssLockFileWhileItWrites) {
    test::TempDir dir;
    const auto file = dir.Write(
        "共有.accdb", TJetBuilder({{u"T", {{u"A", kTypeLong}}}}, TBuildFormat::Ace12).Finish());
    gLockFile = dir.Path() / "共有.laccdb";
    gLockSeen = false;
    Append(file, u"T", {});  // nothing to write: no lock file either
    const TYieldHook previous =
        SetYieldHook([] { gLockSeen = gLockSeen || fs::exists(gLockFile); });
    Append(file, u"T", {{std::int64_t{1}}});
    SetYieldHook(previous);
    EXPECT_TRUE(gLockSeen);
    EXPECT_FALSE(fs::exists(gLockFile));
    EXPECT_EQ(ReadAll(file, u"T").size(), 1u);
}

TEST(JetWriter, ADatabaseLockedByAccessIsNotWritten) {
    test::TempDir dir;
    const auto file = dir.Write("共有.mdb", sample::SampleDatabase(2));
    dir.Write("共有.ldb", std::string(64, '\0'));
    const std::string bytes = test::ReadBytes(file);
    auto engine = Open(file);
    auto table = engine->OpenTable(u"商品");
    std::vector<TValue> row(table->Fields().size());
    engine->BeginTransaction();
    table->AppendRow(row);
    EXPECT_NE(test::ErrorOf([&] { engine->CommitTransaction(nullptr); }).find("他のプログラム"),
              std::string::npos);
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

}  // namespace
}  // namespace qm::jet
