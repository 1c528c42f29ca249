// quillomat-cli tables, fields and rows on a workbook the test makes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

struct TRun {
    int status = -1;
    std::string out;
};

TRun Cli(const std::string& arguments) {
    const char* build = std::getenv("QM_BUILD_DIR");
    std::string command =
        std::string(build ? build : ".") + "/src/cli/quillomat-cli " + arguments + " 2>&1";
    TRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        run.out.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

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

    EXPECT_EQ(Cli("tables '" + path + "'").out, "'My Sheet$'\nTwo$\n");
    TRun fields = Cli("fields '" + path + "' \"'My Sheet\\$'\"");
    EXPECT_EQ(fields.status, 0);
    EXPECT_EQ(fields.out,
              "名前\t24\tテキスト型\n数\t6\t倍精度浮動小数点数型\n日\t11\t日付時刻型\n金\t8\t通貨型"
              "\n可\t5\tブール値型\n");
    TRun rows = Cli("rows '" + path + "' \"'My Sheet\\$'\" --json");
    EXPECT_EQ(
        rows.out,
        "{\"fields\": [\"名前\", \"数\", \"日\", \"金\", \"可\"], \"rows\": [[\"a\\\"b\", 1.5, "
        "\"2024-01-31T12:00:00\", \"12.3\", true], [null, 2, null, null, null]]}\n");
    EXPECT_EQ(Cli("rows '" + path + "' \"'My Sheet\\$'\" --limit 1").out,
              "a\"b\t1.5\t2024/01/31 12:00:00\t12.3\tTrue\n");

    TRun missing = Cli("tables '" + path + ".none.xlsx'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("見つかりません"), std::string::npos) << missing.out;
    TRun noTable = Cli("fields '" + path + "' Nope");
    EXPECT_EQ(noTable.status, 1);
    EXPECT_NE(noTable.out.find("Nope"), std::string::npos) << noTable.out;
}

}  // namespace
}  // namespace qm
