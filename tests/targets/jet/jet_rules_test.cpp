// What the writer does on each new row as Access does on saving it: defaults of empty fields,
// Required, Allow Zero Length, field and table validation rules with their validation texts,
// and calculated columns computed into their wrappers. Rows that pass read back through the
// independent readers; a row that fails rolls the whole import back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>

#include "jet_independent_readers.h"
#include "platform/error.h"
#include "targets/engine.h"
#include "targets/jet/access_table_rules.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_row.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/jet/jet_table_scan.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

TBuildProperty Text(std::u16string name, std::u16string text) {
    return {std::move(name), std::move(text)};
}

TBuildProperty Flag(std::u16string name, bool value) {
    return {std::move(name), u"", true, value};
}

// 受注: a > 0 (with its own message), b required, d defaults to Date(), note defaults to
// "なし" and refuses "", c = [a]+[b] calculated, and the table's rule [a]<[b].
std::string OrdersDatabase(std::vector<TBuildProperty> extraOnA = {}) {
    std::vector<TBuildProperty> a = {Text(u"ValidationRule", u">0"),
                                     Text(u"ValidationText", u"a は正の数にしてください。")};
    a.insert(a.end(), extraOnA.begin(), extraOnA.end());
    TBuildTable orders{u"受注",
                       {{u"id", kTypeLong},
                        {u"a", kTypeLong, 0, false, false, a},
                        {u"b", kTypeLong, 0, false, false, {Flag(u"Required", true)}},
                        {u"d", kTypeDateTime, 0, false, false, {Text(u"DefaultValue", u"Date()")}},
                        {u"note",
                         kTypeText,
                         20,
                         false,
                         false,
                         {Text(u"DefaultValue", u"\"なし\""), Flag(u"AllowZeroLength", false)}},
                        {u"c", kTypeLong, 0, false, true, {Text(u"Expression", u"[a]+[b]")}}},
                       {},
                       {Text(u"ValidationRule", u"[a]<[b]"),
                        Text(u"ValidationText", u"a は b より小さくしてください。")}};
    TJetBuilder builder({orders}, TBuildFormat::Ace12);
    return builder.Finish();
}

std::string Hex(const std::string& bytes) {
    std::string out;
    char buffer[4];
    for (const unsigned char b : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x ", b);
        out += buffer;
    }
    return out;
}

std::unique_ptr<TEngine> Open(const fs::path& file) {
    return OpenEngine(GetConnectionString(Utf8ToUtf16(file.string())));
}

void Append(const fs::path& file, const std::vector<std::vector<TValue>>& rows) {
    auto engine = Open(file);
    auto table = engine->OpenTable(u"受注");
    engine->BeginTransaction();
    try {
        for (const auto& row : rows)
            table->AppendRow(row);
        engine->CommitTransaction(nullptr);
    } catch (...) {
        engine->RollbackTransaction();
        throw;
    }
}

double Today() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

TEST(JetRules, DefaultsAndCalculatedColumnsAreStoredAndReadBack) {
    test::TempDir dir;
    const auto file = dir.Write("受注.accdb", OrdersDatabase());
    const TValue null;
    const double before = Today();
    Append(file, {{std::int64_t{1}, std::int64_t{2}, std::int64_t{5}, null, null, null},
                  {std::int64_t{2}, std::int64_t{10}, std::int64_t{11}, TDateTime{45000.5},
                   std::u16string(u"メモ"), null},
                  {std::int64_t{3}, null, std::int64_t{4}, null, null, null}});
    const double after = Today();

    auto engine = Open(file);
    auto table = engine->OpenTable(u"受注");
    std::vector<std::vector<TValue>> rows;
    std::vector<TValue> values;
    for (std::int64_t i = 0; table->ReadRow(i, values); ++i)
        rows.push_back(values);
    ASSERT_EQ(rows.size(), 3u);
    const auto* day = std::get_if<TDateTime>(&rows[0][3]);
    ASSERT_NE(day, nullptr);
    EXPECT_TRUE(day->Days == before || day->Days == after) << day->Days;  // Date(): no time
    EXPECT_EQ(rows[0][4], TValue(std::u16string(u"なし")));
    EXPECT_EQ(rows[0][5], TValue(std::int64_t{7}));
    EXPECT_EQ(rows[1][3], TValue(TDateTime{45000.5}));  // given values win over defaults
    EXPECT_EQ(rows[1][4], TValue(std::u16string(u"メモ")));
    EXPECT_EQ(rows[1][5], TValue(std::int64_t{21}));
    // An empty a passes its rule (Null is not False) and the table's; the sum is Null.
    EXPECT_TRUE(IsNull(rows[2][1]));
    EXPECT_TRUE(IsNull(rows[2][5]));

    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    for (const auto& problem : CheckDatabase(*db, {true}).problems)
        ADD_FAILURE() << Utf16ToUtf8(problem);
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    EXPECT_GT(readers::ExpectReadersAgree(file.string(), "受注.accdb"), 0u);
    // The stored defaults as mdb-export prints them, not only as our reader agrees.
    const auto tools = readers::ReadWithMdbTools(file.string());
    const auto& exported = tools.at("受注");
    ASSERT_EQ(exported.rows.size(), 3u);
    EXPECT_EQ(exported.rows[0][4], readers::Cell("なし"));
    EXPECT_EQ(exported.rows[0][3]->substr(11), "00:00:00");
}

TEST(JetRules, ARowThatBreaksARuleRollsTheImportBack) {
    struct TCase {
        const char* what;
        std::vector<TValue> row;
        std::vector<const char*> message;
    };
    const TValue null;
    const TCase cases[] = {
        {"field rule",
         {std::int64_t{2}, std::int64_t{0}, std::int64_t{5}, null, null, null},
         {"a は正の数にしてください。", "フィールド「a」", "値「0」"}},
        {"required",
         {std::int64_t{2}, std::int64_t{1}, null, null, null, null},
         {"フィールド「b」は値が必須"}},
        {"table rule",
         {std::int64_t{2}, std::int64_t{5}, std::int64_t{3}, null, null, null},
         {"a は b より小さくしてください。", "[a]<[b]", "フィールド「a」フィールド「b」"}},
        {"zero length",
         {std::int64_t{2}, std::int64_t{1}, std::int64_t{3}, null, std::u16string(), null},
         {"フィールド「note」", "長さ 0 の文字列"}},
        {"calculated",
         {std::int64_t{2}, std::int64_t{1}, std::int64_t{3}, null, null, std::int64_t{4}},
         {"集計フィールド「c」には値を書き込めません"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const auto file = dir.Write("受注.accdb", OrdersDatabase());
        const std::string bytes = test::ReadBytes(file);
        const std::string error = test::ErrorOf([&] {
            Append(file,
                   {{std::int64_t{1}, std::int64_t{1}, std::int64_t{2}, null, null, null}, c.row});
        });
        for (const char* part : c.message)
            EXPECT_NE(error.find(part), std::string::npos) << part << " in " << error;
        EXPECT_TRUE(test::ReadBytes(file) == bytes);
    }
}

// Through the command line, the message names the CSV line as well as the rule's text.
TEST(JetRules, AnImportNamesTheLineOfTheRowARuleRefuses) {
    test::TempDir dir;
    const auto file = dir.Write("受注.accdb", OrdersDatabase());
    const auto csv = dir.Write("in.csv", "a,b\n1,2\n3,9\n-1,2\n");
    const std::string bytes = test::ReadBytes(file);
    const auto run = test::RunCli("import '-e=" + file.string() +
                                  "' '-w=受注' '-c=" + csv.string() + "' -f=-1 '-r=a=0,b=1'");
    EXPECT_NE(run.status, 0) << run.out;
    for (const char* part : {"a は正の数にしてください。", "フィールド「a」", "4行目"})
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// A rule the evaluator cannot take refuses the table before any row, quoting the rule.
TEST(JetRules, ARuleOutsideTheEvaluatorRefusesTheImportUpFront) {
    test::TempDir dir;
    const auto file =
        dir.Write("受注.accdb", OrdersDatabase({Text(u"DefaultValue", u"DLookUp(\"x\", \"y\")")}));
    const std::string bytes = test::ReadBytes(file);
    const TValue null;
    const std::string error = test::ErrorOf([&] {
        Append(file, {{std::int64_t{1}, std::int64_t{1}, std::int64_t{2}, null, null, null}});
    });
    EXPECT_NE(error.find("テーブル「受注」には行を追加できません"), std::string::npos) << error;
    EXPECT_NE(error.find("DLookUp(\"x\", \"y\")"), std::string::npos) << error;
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
}

// The wrappers Access wrote for calculated columns in a real database: each is rebuilt byte
// for byte from the row's own values and the column's expression.
TEST(JetRules, CalculatedValuesAreWrappedAsAccessWrapsThem) {
    QM_REQUIRE_FIXTURES();
    const auto path = test::FixturesDir() / "access" / "calcFieldTestV2010.accdb";
    const auto db = TJetDatabase::Open(Utf8ToUtf16(path.string()));
    const auto table = db->OpenTable(u"Table1");
    const TTableDef& def = table->Def();
    const TTableRules rules = ParseTableRules(db->TableProperties(def.page), u"Table1");
    auto engine = Open(path);
    auto rows = engine->OpenTable(u"Table1");
    std::map<std::u16string, std::size_t> fieldOf;
    for (std::size_t f = 0; f < rows->Fields().size(); ++f)
        fieldOf[rows->Fields()[f].Name] = f;

    std::size_t compared = 0;
    std::vector<TValue> values;
    TTableScan scan(db->File(), def);
    TLiveRow live;
    for (std::int64_t r = 0; scan.Next(live); ++r) {
        ASSERT_TRUE(rows->ReadRow(r, values));
        const TRowLayout layout(db->File(), def, live.bytes);
        TExpressionContext context;
        context.field = [&](std::u16string_view name) -> const TValue* {
            const auto found = fieldOf.find(std::u16string(name));
            return found == fieldOf.end() ? nullptr : &values[found->second];
        };
        // The numeric, Yes/No and short-text results; Decimal and long-text results are
        // refused by the writer.
        for (const char16_t* name : {u"LastFirst", u"LastFirstLen", u"MonthlySalary", u"IsRich",
                                     u"SalaryTest", u"BoolTest"}) {
            SCOPED_TRACE(Utf16ToUtf8(name) + " row " + std::to_string(r));
            const TColumnDef& column =
                *std::find_if(def.columns.begin(), def.columns.end(),
                              [&](const TColumnDef& c) { return c.name == name; });
            const TValue result = rules.fields.at(name).expression->Evaluate(context);
            const TCellBytes stored = layout.Cell(column);
            const std::string expected(reinterpret_cast<const char*>(stored.bytes.data()),
                                       stored.bytes.size());
            EXPECT_EQ(Hex(EncodeCalculatedValue(column, result).bytes), Hex(expected));
            ++compared;
        }
    }
    EXPECT_GE(compared, 12u);
}

}  // namespace
}  // namespace qm::jet
