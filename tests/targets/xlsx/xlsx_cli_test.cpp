// quillomat-cli tables, fields and rows on a workbook the test makes.
#include <gtest/gtest.h>

#include "test_util.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

using test::RunCli;
using test::TCliRun;

TEST(XlsxCli, TablesFieldsAndRows) {
    if (!std::getenv("QM_BUILD_DIR")) GTEST_SKIP() << "QM_BUILD_DIR is not set";
    test::TTestWorkbook book;
    book.Sheets = {
        {"My Sheet", "<row r=\"1\">" + test::InlineCell("A1", "名前") +
                         test::InlineCell("B1", "数") + test::InlineCell("C1", "日") +
                         test::InlineCell("D1", "金") + test::InlineCell("E1", "可") +
                         "</row><row r=\"2\">" + test::InlineCell("A2", "a\"b") +
                         test::NumberCell("B2", "1.5") + test::NumberCell("C2", "45322.5", 2) +
                         test::NumberCell("D2", "12.3", 3) +
                         "<c r=\"E2\" t=\"b\"><v>1</v></c></row><row r=\"3\">" +
                         test::NumberCell("B3", "2") + "</row>"},
        {"Two"}};
    test::TempDir dir;
    std::string path = dir.Write("book.xlsx", test::BuildWorkbook(book)).string();

    EXPECT_EQ(RunCli("tables '" + path + "'").out, "'My Sheet$'\nTwo$\n");
    TCliRun fields = RunCli("fields '" + path + "' \"'My Sheet\\$'\"");
    EXPECT_EQ(fields.status, 0);
    EXPECT_EQ(fields.out,
              "名前\t24\tテキスト型\n数\t6\t倍精度浮動小数点数型\n日\t11\t日付時刻型\n金\t8\t通貨型"
              "\n可\t5\tブール値型\n");
    TCliRun rows = RunCli("rows '" + path + "' \"'My Sheet\\$'\" --json");
    EXPECT_EQ(
        rows.out,
        "{\"fields\": [\"名前\", \"数\", \"日\", \"金\", \"可\"], \"rows\": [[\"a\\\"b\", 1.5, "
        "\"2024-01-31T12:00:00\", \"12.3\", true], [null, 2, null, null, null]]}\n");
    EXPECT_EQ(RunCli("rows '" + path + "' \"'My Sheet\\$'\" --limit 1").out,
              "a\"b\t1.5\t2024/01/31 12:00:00\t12.3\tTrue\n");

    TCliRun missing = RunCli("tables '" + path + ".none.xlsx'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("見つかりません"), std::string::npos) << missing.out;
    TCliRun noTable = RunCli("fields '" + path + "' Nope");
    EXPECT_EQ(noTable.status, 1);
    EXPECT_NE(noTable.out.find("Nope"), std::string::npos) << noTable.out;
}

TEST(XlsxCli, FieldNamesWithControlCharactersStayOnOneLine) {
    if (!std::getenv("QM_BUILD_DIR")) GTEST_SKIP() << "QM_BUILD_DIR is not set";
    // Header cells with a line break, a CR, a tab and a backslash, and a control character
    // that Excel writes as "_x0001_".
    test::TTestWorkbook book;
    book.Sheets = {{"S", "<row r=\"1\">" + test::InlineCell("A1", "単価\n(税込)") +
                             test::InlineCell("B1", "a&#13;b\tc\\d") +
                             test::InlineCell("C1", "x_x0001_y") + "</row>"}};
    test::TempDir dir;
    std::string path = dir.Write("book.xlsx", test::BuildWorkbook(book)).string();
    TCliRun plain = RunCli("fields '" + path + "' 'S$'");
    EXPECT_EQ(plain.status, 0);
    EXPECT_EQ(plain.out,
              "単価\\n(税込)\t24\tテキスト型\na\\rb\\tc\\\\d\t24\tテキスト型\nx\\u0001y\t24\t"
              "テキスト型\n");
    TCliRun json = RunCli("fields '" + path + "' 'S$' --json");
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(json.out,
              "{\"fields\": [{\"name\": \"単価\\n(税込)\", \"type\": 24, \"typeName\": "
              "\"テキスト型\"}, {\"name\": \"a\\rb\\tc\\\\d\", \"type\": 24, \"typeName\": "
              "\"テキスト型\"}, {\"name\": \"x\\u0001y\", \"type\": 24, \"typeName\": "
              "\"テキスト型\"}]}\n");
    if (std::system("/usr/bin/python3 -c 'import json' 2>/dev/null") == 0) {
        // An independent JSON reader gives the names back exactly.
        auto file = dir.Write("fields.json", json.out);
        std::string check =
            "/usr/bin/python3 -c 'import json,sys; "
            "names = [f[\"name\"] for f in json.load(open(sys.argv[1]))[\"fields\"]]; "
            "sys.exit(names != [\"単価\\n(税込)\", \"a\\rb\\tc\\\\d\", \"x\\x01y\"])' '" +
            file.string() + "'";
        EXPECT_EQ(std::system(check.c_str()), 0);
    }
}

}  // namespace
}  // namespace qm
