// The Access engine behind the connection/table layer: connection strings of both providers,
// table lists, fields and preview rows by index.
#include <gtest/gtest.h>

#include "jet_sample_db.h"
#include "platform/error.h"
#include "targets/connection.h"
#include "targets/jet/jet_database.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

std::u16string Path(const std::filesystem::path& path) {
    return Utf8ToUtf16(path.string());
}

TEST(JetEngine, ServesTablesFieldsAndRowsThroughTheLayer) {
    qm::test::TempDir dir;
    const auto file = dir.Write("販売.mdb", sample::SampleDatabase(1000));
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(Path(file)));
    std::vector<std::u16string> names;
    connection.GetTableNames(names);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"Empty", u"商品"}));
    std::vector<std::u16string> withSystem;
    connection.GetTableNames(withSystem, true);
    EXPECT_NE(std::find(withSystem.begin(), withSystem.end(), u"MSysObjects"), withSystem.end());

    TTable table(connection);
    table.SetTableName(u"[商品]");
    table.Open();
    const auto fields = GetFieldList(table);
    ASSERT_EQ(fields.size(), 10u);
    EXPECT_EQ(fields[1].Name, u"名前");
    EXPECT_EQ(fields[1].DataType, ftWideString);
    EXPECT_EQ(table.FieldByName(u"名前").Def().Size, 50);
    EXPECT_EQ(table.RecordCount(), 1000);

    // Rows by index, in any order: forwards, back, far ahead, past the end.
    std::vector<TValue> values;
    for (const std::int64_t index : {0, 1, 999, 300, 2, 700, 699, 0}) {
        SCOPED_TRACE(index);
        ASSERT_TRUE(table.ReadRow(index, values));
        EXPECT_EQ(std::get<std::int64_t>(values[0]), index);
    }
    EXPECT_FALSE(table.ReadRow(1000, values));
    EXPECT_TRUE(table.ReadRow(5, values));
    EXPECT_EQ(std::get<TCurrency>(values[2]).Scaled, 5 * 12500);
    EXPECT_TRUE(std::holds_alternative<TDateTime>(values[5]));
    EXPECT_EQ(std::get<bool>(values[6]), false);
    EXPECT_TRUE(table.ReadRow(1, values));
    EXPECT_TRUE(IsNull(values[1]));
}

TEST(JetEngine, RefusesWhatTheProvidersRefuse) {
    QM_REQUIRE_FIXTURES();
    const auto dir = qm::test::FixturesDir() / "access";
    qm::test::TempDir temp;
    // An .accdb renamed to .mdb reaches the Jet 4.0 provider, which cannot read it.
    std::filesystem::copy_file(dir / "testV2010.accdb", temp.Path() / "renamed.mdb");
    const struct {
        std::filesystem::path file;
        const char16_t* reason;
    } cases[] = {
        {temp.Path() / "renamed.mdb", u".accdb"},
        {dir / "testV1997.mdb", u"Jet 3"},
        {dir / "V2003_with-password.mdb", u"パスワード"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        TConnection connection;
        connection.SetConnectionString(GetConnectionString(Path(c.file)));
        std::vector<std::u16string> names;
        try {
            connection.GetTableNames(names);
            ADD_FAILURE() << "opened";
        } catch (const Error& e) {
            EXPECT_NE(e.Message().find(c.reason), std::u16string::npos) << e.what();
        }
    }
    // The same database under its own extension opens, and a .mdb opens under ACE too.
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(Path(dir / "testV2010.accdb")));
    std::vector<std::u16string> names;
    connection.GetTableNames(names);
    EXPECT_EQ(names.size(), 4u);
}

TEST(JetEngine, APostOutsideATransactionIsCommittedAtOnce) {
    qm::test::TempDir dir;
    const auto file = dir.Write("a.mdb", sample::SampleDatabase(1));
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(Path(file)));
    TTable table(connection);
    table.SetTableName(u"[商品]");
    table.Open();
    table.Insert();
    table.FieldByName(u"ID").AssignText(u"5");
    table.Post();
    // The open table shows the committed row at once.
    EXPECT_EQ(table.RecordCount(), 2);
    std::vector<TValue> row;
    ASSERT_TRUE(table.ReadRow(1, row));
    EXPECT_EQ(std::get<std::int64_t>(row[0]), 5);
    const auto db = TJetDatabase::Open(Path(file));
    std::vector<TJetValue> values;
    const auto written = db->OpenTable(u"商品");
    auto cursor = written->Rows();
    ASSERT_TRUE(cursor.Next(values));
    ASSERT_TRUE(cursor.Next(values));
    EXPECT_EQ(values[0].integer, 5);
    EXPECT_FALSE(cursor.Next(values));
}

}  // namespace
}  // namespace qm::jet
