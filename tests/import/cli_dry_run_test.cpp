// quillomat-cli import --dry-run on Access and .xls targets: every check of a real import is
// made (the engine's own included: duplicate keys, field sizes, the sheet's row limit), every
// failing row is listed, and the file stays byte-identical.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "targets/jet/jet_builder.h"
#include "test_util.h"
#include "xls_builder.h"

namespace qm {
namespace {

using test::RunCli;
using test::TCliRun;
using test::TempDir;

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The lines "N行目: ..." of a dry run, as their line numbers.
std::vector<int> FailingLines(const std::string& out) {
    std::vector<int> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits > 0 && digits != std::string::npos &&
            line.compare(digits, std::string("行目: ").size(), "行目: ") == 0)
            lines.push_back(std::stoi(line.substr(0, digits)));
    }
    return lines;
}

std::string Import(const std::string& target, const std::string& table, const std::string& csv,
                   const std::string& relation) {
    return "import '-e=" + target + "' '-w=" + table + "' '-c=" + csv + "' -f=-1 '-r=" + relation +
           "'";
}

TEST(CliDryRun, AccessKeysAndSizesAreCheckedByTheEngine) {
    using namespace jet;
    TempDir dir;
    const std::string database =
        dir.Write("社員.accdb", TJetBuilder({{u"社員",
                                              {{u"番号", kTypeLong}, {u"名前", kTypeText, 5}},
                                              {{u"PrimaryKey", {0}, true, true}}}},
                                            TBuildFormat::Ace12)
                                    .Finish())
            .string();
    const std::string relation = "番号=0,名前=1";
    const std::string first = dir.Write("first.csv", "番号,名前\n1,既存\n").string();
    TCliRun imported = RunCli(Import(database, "社員", first, relation));
    ASSERT_EQ(imported.status, 0) << imported.out;
    const std::string before = Bytes(database);

    // Line 2 repeats a key of the table, line 4 one of line 3, line 5 is too long for the
    // field, line 6 does not convert, line 8 leaves the key empty; line 7 would pass.
    const std::string csv = dir.Write("dry.csv",
                                      "番号,名前\n1,重複\n2,山田\n2,田中\n3,長すぎる名前\n"
                                      "x,型\n4,佐藤\n,名無し\n")
                                .string();
    TCliRun dry = RunCli(Import(database, "社員", csv, relation) + " --dry-run");
    EXPECT_EQ(dry.status, 1) << dry.out;
    EXPECT_EQ(FailingLines(dry.out), (std::vector<int>{2, 4, 5, 6, 8})) << dry.out;
    EXPECT_NE(dry.out.find("7 行を確認しました。登録できない行: 5 行"), std::string::npos)
        << dry.out;
    EXPECT_EQ(Bytes(database), before);

    // The real import refuses what the dry run listed first, and writes nothing either.
    TCliRun refused = RunCli(Import(database, "社員", csv, relation));
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.out.find("2行目"), std::string::npos) << refused.out;
    EXPECT_EQ(Bytes(database), before);

    const std::string clean = dir.Write("clean.csv", "番号,名前\n2,山田\n3,田中\n").string();
    TCliRun passes = RunCli(Import(database, "社員", clean, relation) + " --dry-run");
    EXPECT_EQ(passes.status, 0) << passes.out;
    EXPECT_TRUE(FailingLines(passes.out).empty()) << passes.out;
    EXPECT_EQ(Bytes(database), before);
    // The dry run left no lock behind: the import it vouched for goes through.
    EXPECT_EQ(RunCli(Import(database, "社員", clean, relation)).status, 0);
    EXPECT_NE(Bytes(database), before);
}

// A sheet whose last row is two rows short of the format's 65,536: the first two CSV rows fit,
// every later one is listed.
TEST(CliDryRun, XlsRowsPastTheSheetsLastRowAreListed) {
    using namespace test;
    TBiffWorkbook book;
    book.Strings = {u"名前", u"数"};
    book.Sheets = {{u"台帳", LabelSstCell(0, 0, 15, 0) + LabelSstCell(0, 1, 15, 1) +
                                 NumberCell(65533, 1, 15, 7)}};
    TempDir dir;
    const std::string path = dir.Write("台帳.xls", BuildXls(book)).string();
    const std::string before = Bytes(path);
    const std::string csv = dir.Write("rows.csv", "名前,数\na,1\nb,2\nc,3\nd,4\n").string();
    TCliRun dry = RunCli(Import(path, "台帳$", csv, "名前=0,数=1") + " --dry-run");
    EXPECT_EQ(dry.status, 1) << dry.out;
    EXPECT_EQ(FailingLines(dry.out), (std::vector<int>{4, 5})) << dry.out;
    EXPECT_NE(dry.out.find("65,536"), std::string::npos) << dry.out;
    EXPECT_EQ(Bytes(path), before);

    const std::string two = dir.Write("two.csv", "名前,数\na,1\nb,2\n").string();
    TCliRun passes = RunCli(Import(path, "台帳$", two, "名前=0,数=1") + " --dry-run");
    EXPECT_EQ(passes.status, 0) << passes.out;
    EXPECT_EQ(Bytes(path), before);
}

}  // namespace
}  // namespace qm
