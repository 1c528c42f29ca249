// quillomat-cli fields on names that hold control characters (the contract suite covers the
// commands on every engine).
#include <gtest/gtest.h>

#include "test_util.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

using test::RunCli;
using test::TCliRun;

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
