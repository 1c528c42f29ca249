#include "targets/connection.h"

#include <gtest/gtest.h>

#include "platform/error.h"
#include "targets/connection_string.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm {
namespace {

std::u16string U(const std::filesystem::path& path) {
    return Utf8ToUtf16(path.string());
}

std::u16string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& e) {
        return e.Message();
    }
    return u"(no error)";
}

TEST(ParseConnectionString, FieldsOfTheFourForms) {
    TConnectionInfo xls = ParseConnectionString(GetConnectionString(u"/d/a;b.xls"));
    EXPECT_EQ(xls.Provider, u"Microsoft.Jet.OLEDB.4.0");
    // The file name goes in unquoted; a ";" in it cuts the data source as the providers do.
    EXPECT_EQ(xls.DataSource, u"/d/a");
    TConnectionInfo xlsx = ParseConnectionString(GetConnectionString(u"/d/売上 1.xlsx"));
    EXPECT_EQ(xlsx.DataSource, u"/d/売上 1.xlsx");
    EXPECT_EQ(xlsx.ExcelVersion, u"12.0");
    EXPECT_TRUE(xlsx.FirstRowHasNames);
    EXPECT_EQ(
        ParseConnectionString(u"Provider=X;Data Source=f;Extended Properties='Excel 8.0;HDR=NO'")
            .FirstRowHasNames,
        false);
    TConnectionInfo mdb = ParseConnectionString(GetConnectionString(u"/d/db.mdb"));
    EXPECT_EQ(mdb.ExcelVersion, u"");
    EXPECT_THROW(ParseConnectionString(u""), Error);
}

TEST(Connection, FailuresAreClearAndLeaveItClosed) {
    test::TempDir dir;
    auto xls = dir.Write(
        "old.xls", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, '\0'));
    auto mdb =
        dir.Write("db.mdb", std::string(4, '\0') + "Standard Jet DB" + std::string(600, '\0'));
    auto text = dir.Write("fake.xlsx", "just some text");
    auto empty = dir.Write("empty.xlsx", "");
    std::filesystem::create_directory(dir.Path() / "folder.xlsx");
    struct Case {
        std::u16string connection;
        const char16_t* expected;
    } cases[] = {
        {GetConnectionString(U(dir.Path() / "missing.xlsx")), u"見つかりません"},
        {GetConnectionString(U(xls)), u".xls"},
        {GetConnectionString(U(mdb)), u"Access"},
        {GetConnectionString(U(text)), u"Excel ブックではない"},
        {GetConnectionString(U(empty)), u"空です"},
        {GetConnectionString(u"book.xlsm"), u"接続文字列が空"},
        {GetConnectionString(U(dir.Path() / "folder.xlsx")), u"通常のファイルではありません"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.connection));
        TConnection connection;
        connection.SetConnectionString(c.connection);
        std::vector<std::u16string> names{u"stale"};
        std::u16string message = MessageOf([&] { connection.GetTableNames(names, false); });
        EXPECT_NE(message.find(c.expected), std::u16string::npos) << Utf16ToUtf8(message);
        EXPECT_FALSE(connection.Connected());
    }
}

TEST(Connection, TransactionsNeedAnOpenConnection) {
    TConnection connection;
    EXPECT_THROW(connection.BeginTrans(), Error);
    EXPECT_THROW(connection.CommitTrans(), Error);
    EXPECT_THROW(connection.RollbackTrans(), Error);
    connection.Close();  // closing a closed connection is harmless
    TTable table(connection);
    table.SetTableName(u"[Sheet1$]");
    EXPECT_EQ(table.TableName(), u"Sheet1$");
    table.SetTableName(u"[a]b]");
    EXPECT_EQ(table.TableName(), u"a]b");
    EXPECT_THROW(table.Insert(), Error);
    EXPECT_THROW(table.FieldByName(u"x"), Error);
    table.Close();
}

}  // namespace
}  // namespace qm
