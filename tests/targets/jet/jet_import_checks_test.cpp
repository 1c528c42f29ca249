// What an import into an Access table refuses before its first row: a mapped field that can
// never take a value from text, and an import that would pass the database's 2 GB.
#include <gtest/gtest.h>

#include "csv/csv.h"
#include "targets/connection.h"
#include "targets/import_run.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_import_volume.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

// Every mapped cell is empty, so a refusal can only come from the mapping itself; the dry run
// reports it in place of any row.
TEST(JetImportChecks, FieldsThatTakeNoTextAreRefusedWhenMapped) {
    test::TempDir dir;
    TJetBuilder builder({{u"受注",
                          {{u"番号", kTypeLong, 0, true},
                           {u"数量", kTypeLong},
                           {u"写真", kTypeOle},
                           {u"合計", kTypeLong, 0, false, true, {{u"Expression", u"[数量]*2"}}}}}});
    const fs::path file = dir.Write("受注.mdb", builder.Finish());
    const std::string bytes = test::ReadBytes(file);
    const auto csv = dir.Write("in.csv", "a,b\n,1\n,2\n");
    struct TCase {
        const char* field;
        const char* kind;
    };
    for (const TCase& c : {TCase{"番号", "オートナンバー型"}, TCase{"写真", "OLEオブジェクト型"},
                           TCase{"合計", "集計型"}}) {
        SCOPED_TRACE(c.field);
        const std::string import = "import '-e=" + file.string() + "' -w=受注 '-c=" + csv.string() +
                                   "' -f=-1 '-r=" + c.field + "=0,数量=1'";
        const std::string expected = "テーブル「受注」のフィールド「" + std::string(c.field) +
                                     "」は" + c.kind + "のフィールドのため";
        for (const char* mode : {"", " --dry-run"}) {
            const auto run = test::RunCli(import + mode);
            EXPECT_NE(run.status, 0) << mode;
            EXPECT_NE(run.out.find(expected), std::string::npos) << mode << "\n" << run.out;
            EXPECT_EQ(run.out.find("行目"), std::string::npos) << mode << "\n" << run.out;
            EXPECT_TRUE(test::ReadBytes(file) == bytes);
        }
    }
    // An entry naming no column of the file fills nothing and is no reason to refuse.
    const auto run = test::RunCli("import '-e=" + file.string() + "' -w=受注 '-c=" + csv.string() +
                                  "' -f=-1 '-r=番号=7,数量=1'");
    EXPECT_EQ(run.status, 0) << run.out;
}

// A CSV file of `rows` rows under a header: a number and a text of `characters` characters,
// Japanese (two bytes each in the row) or ASCII (one, compressed).
std::u16string CsvText(int rows, std::size_t characters, char16_t letter) {
    std::u16string text = u"n,t\n";
    for (int r = 0; r < rows; ++r)
        text += Utf8ToUtf16(std::to_string(r)) + u"," + std::u16string(characters, letter) + u"\n";
    return text;
}

std::uint64_t PagesOf(const fs::path& file) {
    return fs::file_size(file) / kPageSize;
}

// The floor the up-front check counts never exceeds the pages a real import adds, and is not
// far below them (else it would refuse nothing); with the limit lowered just below it, the run
// and the dry run refuse the import before the first row, naming the file and the limit, and
// the file stays as it was.
TEST(JetImportChecks, AnImportPastTheSizeLimitIsRefusedUpFront) {
    struct TLimitGuard {
        ~TLimitGuard() { SetDatabasePageLimit(0); }
    } guard;
    test::TempDir dir;
    TJetBuilder builder({{u"記録",
                          {{u"ID", kTypeLong, 0, true}, {u"n", kTypeLong}, {u"t", kTypeText, 255}},
                          {{u"PrimaryKey", {0}, true, true}, {u"n", {1}}}}},
                        TBuildFormat::Ace12);
    const std::string empty = builder.Finish();
    const TRelation relation = {{u"n", 0}, {u"t", 1}};
    for (const char16_t letter : {u'漢', u'a'}) {
        SCOPED_TRACE(Utf16ToUtf8(std::u16string(1, letter)));
        const fs::path file = dir.Write("記録.accdb", empty);
        TCsv csv;
        ASSERT_TRUE(csv.Parse(CsvText(4000, 200, letter)));
        TConnection connection;
        connection.SetConnectionString(GetConnectionString(Utf8ToUtf16(file.string())));
        TTable table(connection);
        table.SetTableName(u"[記録]");
        table.Open();

        std::uint64_t floor = 0;
        {
            const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
            TImportVolume volume{4000, {{1, 4000, 4000}, {2, 4000, 4000 * 200}}};
            floor = MinimumPagesAdded(*db->OpenTable(u"記録"), volume);
        }
        const std::uint64_t before = PagesOf(file);
        const std::string bytes = test::ReadBytes(file);

        SetDatabasePageLimit(static_cast<std::uint32_t>(before + floor - 1));
        TImportRun run(connection, table);
        const TImportResult refused = run.Run(&csv, relation, true);
        EXPECT_FALSE(refused.Committed);
        EXPECT_EQ(refused.RowsInserted, 0u);
        const std::string message = Utf16ToUtf8(refused.Message);
        EXPECT_NE(message.find("上限（2 GB）を超える"), std::string::npos) << message;
        EXPECT_NE(message.find(file.string()), std::string::npos) << message;
        EXPECT_EQ(message.find("行目"), std::string::npos) << message;
        const TDryRunResult dry =
            DryRunImport(connection, table, &csv, relation, true, [](const TDryRunFailure&) {});
        EXPECT_NE(Utf16ToUtf8(dry.CheckMessage).find("上限（2 GB）"), std::string::npos);
        EXPECT_EQ(dry.RowsChecked, 0u);
        EXPECT_TRUE(test::ReadBytes(file) == bytes);

        SetDatabasePageLimit(0);
        const TImportResult written = run.Run(&csv, relation, true);
        ASSERT_TRUE(written.Committed) << Utf16ToUtf8(written.Message);
        const std::uint64_t added = PagesOf(file) - before;
        EXPECT_LE(floor, added);
        EXPECT_GE(floor * 3, added * 2) << floor << " of " << added;
    }
}

}  // namespace
}  // namespace qm::jet
