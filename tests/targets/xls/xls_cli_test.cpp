// quillomat-cli import into a .xls workbook the test makes (the contract suite covers tables,
// fields and rows on every engine).
#include <gtest/gtest.h>

#include "test_util.h"
#include "xls_builder.h"

namespace qm {
namespace {

using test::RunCli;
using test::TCliRun;

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
