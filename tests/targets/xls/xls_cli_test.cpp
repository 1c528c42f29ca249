// quillomat-cli tables, fields and rows on a .xls workbook the test makes: the same output as
// for the same workbook saved as .xlsx.
#include <gtest/gtest.h>

#include "test_util.h"
#include "xls_builder.h"

namespace qm {
namespace {

using test::RunCli;
using test::TCliRun;

TEST(XlsCli, TablesFieldsAndRows) {
    if (!std::getenv("QM_BUILD_DIR")) GTEST_SKIP() << "QM_BUILD_DIR is not set";
    using namespace test;
    TBiffWorkbook book;
    book.XfFormats.assign(16, 0);
    book.XfFormats.insert(book.XfFormats.end(), {22, 7});  // XF 16: date and time, 17: currency
    book.Strings = {u"名前", u"数", u"日", u"金", u"可", u"a\"b"};
    std::string cells;
    for (std::uint16_t c = 0; c < 5; ++c)
        cells += LabelSstCell(0, c, 15, c);
    cells += LabelSstCell(1, 0, 15, 5) + NumberCell(1, 1, 15, 1.5) + NumberCell(1, 2, 16, 45322.5) +
             NumberCell(1, 3, 17, 12.3) + BoolErrCell(1, 4, 15, 1, false) +
             RkCell(2, 1, 15, 2 << 2 | 2);
    book.Sheets = {{u"My Sheet", cells}, {u"Two", ""}};
    TempDir dir;
    std::string path = dir.Write("book.xls", BuildXls(book)).string();

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
    TCliRun noTable = RunCli("fields '" + path + "' Nope");
    EXPECT_EQ(noTable.status, 1);
    EXPECT_NE(noTable.out.find("Nope"), std::string::npos) << noTable.out;
}

// `quillomat-cli import` appends a CSV file's rows to a .xls worksheet and commits them.
TEST(XlsCli, ImportAppendsTheRows) {
    if (!std::getenv("QM_BUILD_DIR")) GTEST_SKIP() << "QM_BUILD_DIR is not set";
    using namespace test;
    TBiffWorkbook book;
    book.Strings = {u"名前", u"数", u"既存"};
    book.Sheets = {{u"台帳", LabelSstCell(0, 0, 15, 0) + LabelSstCell(0, 1, 15, 1) +
                                 LabelSstCell(1, 0, 15, 2) + NumberCell(1, 1, 15, 1)}};
    TempDir dir;
    std::string path = dir.Write("book.xls", BuildXls(book)).string();
    std::string csv = dir.Write("rows.csv", "名前,数\r\nみかん,3\r\nりんご,4.5\r\n").string();
    TCliRun import =
        RunCli("import '-e=" + path + "' '-w=台帳$' '-c=" + csv + "' -f=-1 '-r=名前=0,数=1'");
    EXPECT_EQ(import.status, 0) << import.out;
    TCliRun rows = RunCli("rows '" + path + "' '台帳$' --json");
    EXPECT_EQ(rows.out,
              "{\"fields\": [\"名前\", \"数\"], \"rows\": [[\"既存\", 1], [\"みかん\", 3], "
              "[\"りんご\", 4.5]]}\n");
}

}  // namespace
}  // namespace qm
