// Rows appended to a table that holds the foreign key of an enforced relationship: each must
// find its parent row through the referenced table's unique index, rows with an empty key part
// are not checked, a table referencing itself takes the rows added before (and the row itself)
// as parents, and a missing parent rolls the whole import back with a message naming the
// relationship, the fields, the values and the CSV line.
#include <gtest/gtest.h>

#include "jet_independent_readers.h"
#include "platform/error.h"
#include "targets/engine.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_relationship_check.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/jet/jet_text_key.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

std::unique_ptr<TEngine> Open(const fs::path& file) {
    return OpenEngine(GetConnectionString(Utf8ToUtf16(file.string())));
}

void ExpectConsistent(const fs::path& file) {
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    for (const auto& problem : CheckDatabase(*db, {true}).problems)
        ADD_FAILURE() << Utf16ToUtf8(problem);
}

std::size_t RowCount(const fs::path& file, const std::u16string& table) {
    auto engine = Open(file);
    auto t = engine->OpenTable(table);
    std::vector<TValue> values;
    std::size_t n = 0;
    while (t->ReadRow(static_cast<std::int64_t>(n), values))
        ++n;
    return n;
}

TValue N(std::int64_t v) {
    return v;
}

// 部門 (ID primary key), 区分 (A, B: a two-column primary key) and 社員, whose 部門ID
// references 部門, whose 上司ID references 社員 itself, and whose (区分A, 区分B) reference 区分.
// The parents are appended by the engine, as the builder adds no rows to indexed tables.
fs::path CompanyDatabase(const test::TempDir& dir) {
    TJetBuilder builder({{u"部門",
                          {{u"ID", kTypeLong}, {u"名前", kTypeText, 20}},
                          {{u"PrimaryKey", {0}, true, true}}},
                         {u"区分",
                          {{u"A", kTypeLong}, {u"B", kTypeInteger}},
                          {{u"PrimaryKey", {0, 1}, true, true}}},
                         {u"社員",
                          {{u"ID", kTypeLong},
                           {u"部門ID", kTypeLong},
                           {u"上司ID", kTypeLong},
                           {u"区分A", kTypeLong},
                           {u"区分B", kTypeInteger}},
                          {{u"PrimaryKey", {0}, true, true}}}});
    builder.AddRelationship({u"部門社員", 2, {1}, 0, 0});
    builder.AddRelationship({u"社員社員", 2, {2}, 2, 0});
    builder.AddRelationship({u"区分社員", 2, {3, 4}, 1, 0});
    const fs::path file = dir.Write("会社.mdb", builder.Finish());
    auto engine = Open(file);
    auto departments = engine->OpenTable(u"部門");
    auto kinds = engine->OpenTable(u"区分");
    engine->BeginTransaction();
    for (std::int64_t id : {1, 2, 3})
        departments->AppendRow({N(id), u"部" + Utf8ToUtf16(std::to_string(id))});
    kinds->AppendRow({N(1), N(2)});
    kinds->AppendRow({N(-5), N(-32768)});
    engine->CommitTransaction(nullptr);
    return file;
}

TEST(JetRelationships, RowsFindTheirParentsOrRollBack) {
    test::TempDir dir;
    const fs::path file = CompanyDatabase(dir);
    const TValue null;
    struct TCase {
        const char* name;
        std::vector<std::vector<TValue>> rows;
        const char* error;  // empty: the rows are written
    };
    const TCase cases[] = {
        {"parents that exist, empty keys and a composite key",
         {{N(10), N(1), null, N(1), N(2)},
          {N(11), null, null, null, null},
          {N(12), N(3), null, N(-5), N(-32768)},
          // A key with one part empty is not checked at all.
          {N(13), N(2), null, N(99), null}},
         ""},
        {"a row added before is a parent, and so is the row itself",
         {{N(20), N(1), N(20), null, null}, {N(21), N(1), N(20), null, null}},
         ""},
        {"a missing parent",
         {{N(30), N(1), null, null, null}, {N(31), N(4), null, null, null}},
         "リレーションシップ「部門社員」で参照整合性が設定されているため、フィールド「部門ID」の値"
         "「4」の行は追加できません（テーブル「部門」のフィールド「ID」にこの値のレコードがありませ"
         "ん）"},
        {"a parent that comes later in the file",
         {{N(40), N(1), N(41), null, null}, {N(41), N(1), null, null, null}},
         "リレーションシップ「社員社員」"},
        {"a composite key matches by position, not by parts",
         {{N(50), null, null, N(2), N(1)}},
         "フィールド「区分A」「区分B」の値「2」「1」の行は追加できません（テーブル「区分」のフィー"
         "ルド「A」「B」"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string before = test::ReadBytes(file);
        const std::size_t rowsBefore = RowCount(file, u"社員");
        auto engine = Open(file);
        auto employees = engine->OpenTable(u"社員");
        engine->BeginTransaction();
        const std::string error = test::ErrorOf([&] {
            for (const auto& row : c.rows)
                employees->AppendRow(row);
            engine->CommitTransaction(nullptr);
        });
        if (*c.error == '\0') {
            EXPECT_EQ(error, "(no error)");
            EXPECT_EQ(RowCount(file, u"社員"), rowsBefore + c.rows.size());
            ExpectConsistent(file);
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            engine->RollbackTransaction();
            EXPECT_TRUE(test::ReadBytes(file) == before);
        }
    }
    const std::string missing = readers::MissingReaders();
    if (missing.empty()) readers::ExpectReadersAgree(file.string(), "会社.mdb");
}

// Two tables written in one transaction: the parent's new rows count, and appending to the
// referenced table is never refused (new parents cannot break a relationship).
TEST(JetRelationships, ParentsAddedInTheSameTransactionCount) {
    test::TempDir dir;
    const fs::path file = CompanyDatabase(dir);
    auto engine = Open(file);
    auto departments = engine->OpenTable(u"部門");
    auto employees = engine->OpenTable(u"社員");
    engine->BeginTransaction();
    EXPECT_NE(test::ErrorOf([&] {
                  employees->AppendRow({N(60), N(7), {}, {}, {}});
              }).find("部門社員"),
              std::string::npos);
    departments->AppendRow({N(7), TValue{u"新部門"}});
    employees->AppendRow({N(60), N(7), {}, {}, {}});
    engine->CommitTransaction(nullptr);
    EXPECT_EQ(RowCount(file, u"部門"), 4u);
    EXPECT_EQ(RowCount(file, u"社員"), 1u);
    ExpectConsistent(file);
}

// The dry run lists every row the import would refuse; a refused row is not kept, so a later
// row that takes it as its parent is refused too.
TEST(JetRelationships, TheDryRunListsEveryRowWithoutItsParent) {
    test::TempDir dir;
    const fs::path file = CompanyDatabase(dir);
    const std::string bytes = test::ReadBytes(file);
    const auto csv =
        dir.Write("社員.csv", "ID,部門,上司\n100,1,\n101,9,\n102,1,101\n100,2,\n103,2,100\n");
    const auto dry = test::RunCli("import '-e=" + file.string() + "' -w=社員 '-c=" + csv.string() +
                                  "' -f=-1 '-r=ID=0,部門ID=1,上司ID=2' --dry-run");
    EXPECT_EQ(dry.status, 1) << dry.out;
    for (const char* part :
         {"3行目: リレーションシップ「部門社員」", "4行目: リレーションシップ「社員社員」",
          "5行目: 索引「PrimaryKey」", "登録できない行: 3 行"})
        EXPECT_NE(dry.out.find(part), std::string::npos) << part << "\n" << dry.out;
    EXPECT_EQ(dry.out.find("2行目:"), std::string::npos) << dry.out;
    EXPECT_EQ(dry.out.find("6行目:"), std::string::npos) << dry.out;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// Text keys of a relationship are looked up as the sort order's encoder keys them, in the
// direction of the referenced index, and a value it cannot key fails its row naming the
// character, never a guessed key. (The check is driven directly here.)
TEST(JetRelationships, TextKeysAreLookedUpAsTheEncoderKeysThem) {
    for (const bool descending : {false, true}) {
        SCOPED_TRACE(descending ? "descending" : "ascending");
        TJetBuilder builder({{u"地域",
                              {{u"コード", kTypeText, 10}},
                              {{u"PrimaryKey", {0}, true, true, descending}}},
                             {u"店", {{u"番号", kTypeLong}, {u"地域", kTypeText, 10}}}});
        builder.AddRelationship({u"地域店", 1, {1}, 0, 0});
        const auto db = TJetDatabase::FromBytes(builder.Finish(), u"店.mdb");
        const auto table = db->OpenTable(u"店");
        const TRelationshipCheck check(*db, *table);
        struct TParents : TParentIndexes {
            std::string tokyo;
            std::vector<std::string> asked;
            bool HasKey(std::uint32_t, std::size_t, const std::string& key) override {
                asked.push_back(key);
                return key == tokyo;
            }
        } parents;
        parents.tokyo = EncodeTextKey(u"TOKYO", {1033, 0}, !descending).bytes;
        const TTableDef& def = table->Def();
        auto verdict = [&](const char16_t* region) {
            std::vector<TCellValue> cells = {
                EncodeColumnValue(def.columns[0], TValue{std::int64_t{1}}),
                EncodeColumnValue(def.columns[1], TValue{std::u16string(region)})};
            const std::string row = EncodeRow(def, cells);
            const TRowLayout layout(
                db->File(), def, {reinterpret_cast<const std::uint8_t*>(row.data()), row.size()});
            return test::ErrorOf([&] { check.Check(layout, {}, parents); });
        };
        // Case and trailing spaces do not count in General legacy keys, as Access compares them.
        EXPECT_EQ(verdict(u"tokyo  "), "(no error)");
        EXPECT_NE(verdict(u"OSAKA").find("フィールド「地域」の値「OSAKA」"), std::string::npos);
        const std::string refused = verdict(u"東京😀");
        EXPECT_NE(refused.find("リレーションシップ「地域店」の値を照合できません"),
                  std::string::npos)
            << refused;
        EXPECT_NE(refused.find("😀"), std::string::npos) << refused;
        EXPECT_EQ(parents.asked.size(), 2u);
    }
}

// indexTestV2003's Table1 references Table2 (otherfk1) and Table3 (otherfk2), as Access made
// them; through the command line, so that messages carry the CSV line, and with --dry-run,
// which lists every row a missing parent refuses.
TEST(JetRelationships, AccessMadeRelationshipsThroughTheCommandLine) {
    QM_REQUIRE_FIXTURES();
    test::TempDir dir;
    const fs::path file = dir.Path() / "indexTestV2003.mdb";
    fs::copy_file(test::FixturesDir() / "access" / "indexTestV2003.mdb", file);
    fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
    const std::string bytes = test::ReadBytes(file);
    const std::string import = "import '-e=" + file.string() + "' -w=Table1 -f=-1 " +
                               "-r=id=0,otherfk1=1,otherfk2=2,data=3 ";

    // Table2 holds ids 0-2, Table3 ids 10-13.
    const auto bad = dir.Write("bad.csv", "id,fk1,fk2,data\n10,2,12,ok\n11,5,10,x\n12,1,99,y\n");
    const auto run = test::RunCli(import + "'-c=" + bad.string() + "'");
    EXPECT_NE(run.status, 0);
    for (const char* part : {"リレーションシップ「Table2Table1」",
                             "フィールド「otherfk1」の値「5」", "テーブル「Table2」", "3行目"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);

    const auto dry = test::RunCli(import + "'-c=" + bad.string() + "' --dry-run");
    EXPECT_NE(dry.status, 0);
    for (const char* part : {"3行目: リレーションシップ「Table2Table1」",
                             "4行目: リレーションシップ「Table3Table1」", "「99」"})
        EXPECT_NE(dry.out.find(part), std::string::npos) << part << "\n" << dry.out;
    EXPECT_EQ(dry.out.find("2行目"), std::string::npos) << dry.out;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);

    const auto good = dir.Write("good.csv", "id,fk1,fk2,data\n10,2,12,ok\n11,0,13,z\n");
    const auto written = test::RunCli(import + "'-c=" + good.string() + "'");
    EXPECT_EQ(written.status, 0) << written.out;
    EXPECT_EQ(RowCount(file, u"Table1"), 6u);
    ExpectConsistent(file);
    const std::string missing = readers::MissingReaders();
    if (missing.empty()) readers::ExpectReadersAgree(file.string(), "indexTestV2003.mdb");
}

}  // namespace
}  // namespace qm::jet
