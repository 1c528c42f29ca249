#include "targets/target_access.h"

#include <gtest/gtest.h>

#include "targets/connection.h"
#include "text/unicode.h"

namespace qm {
namespace {

TEST(GetTargetKind, ExtensionsAfterUpperCasing) {
    struct Case {
        const char16_t* name;
        int kind;
    } cases[] = {
        {u"/data/book.xls", 0}, {u"/data/BOOK.XLS", 0}, {u"/data/book.XlsX", 1},
        {u"売上.xlsx", 1},      {u"db.mdb", 2},         {u"/x/y/db.AccDb", 3},
        {u"db.accdb.bak", -1},  {u"/data/noext", -1},   {u"/data/folder.xls/file", -1},
        {u"book.xlsm", -1},     {u"book.xlsb", -1},     {u"", -1},
        {u".xls", 0},           {u"book.", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        EXPECT_EQ(GetTargetKind(c.name), c.kind);
    }
}

TEST(GetConnectionString, FourExactForms) {
    EXPECT_EQ(GetConnectionString(u"/d/a b.xls"),
              u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=/d/a b.xls;Extended "
              u"Properties=\"EXCEL 8.0;HDR=Yes;\"");
    EXPECT_EQ(GetConnectionString(u"/d/売上.xlsx"),
              u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/d/売上.xlsx;Extended "
              u"Properties=\"EXCEL 12.0;HDR=Yes\"");
    EXPECT_EQ(GetConnectionString(u"db.MDB"),
              u"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=db.MDB;Persist Security Info=False");
    EXPECT_EQ(GetConnectionString(u"db.accdb"),
              u"Provider=Microsoft.ACE.OLEDB.12.0;Data Source=db.accdb;Persist Security "
              u"Info=False");
    EXPECT_EQ(GetConnectionString(u"book.xlsm"), u"");
}

TEST(GetFieldTypeName, JapaneseNamesEnumeratorsAndOutOfRange) {
    const std::pair<int, const char16_t*> cases[] = {
        {1, u"テキスト型"},
        {24, u"テキスト型"},
        {2, u"数値型"},
        {3, u"数値型"},
        {5, u"ブール値型"},
        {6, u"倍精度浮動小数点数型"},
        {7, u"通貨型"},
        {8, u"通貨型"},
        {9, u"日付型"},
        {10, u"時刻型"},
        {11, u"日付時刻型"},
        {14, u"オートナンバー型"},
        {16, u"メモ型"},
        {39, u"メモ型"},
        {0, u"ftUnknown"},
        {4, u"ftWord"},
        {37, u"ftFMTBcd"},
        {38, u"ftFixedWideChar"},
        {49, u"ftTimeStampOffset"},
        {51, u"ftSingle"},
        {52, u""},
        {-1, u""},
        {255, u""},
    };
    for (auto [code, name] : cases) {
        SCOPED_TRACE(code);
        EXPECT_EQ(GetFieldTypeName(code), name);
    }
    // Every code of the enumeration has a name.
    for (int code = 0; code <= 51; ++code)
        EXPECT_FALSE(GetFieldTypeName(code).empty()) << code;
}

TEST(GetFieldList, ClosedTableHasNoFields) {
    TConnection connection;
    TTable table(connection);
    EXPECT_TRUE(GetFieldList(table).empty());
}

}  // namespace
}  // namespace qm
