// What an import into an Access table refuses before its first row, through the command line
// as a user runs it: a mapped field that can never take a value from text.
#include <gtest/gtest.h>

#include "targets/jet/jet_builder.h"
#include "test_util.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;

// Every mapped cell is empty, so a refusal can only come from the mapping itself; the dry run
// reports it in place of any row.
TEST(JetImportChecks, FieldsThatTakeNoTextAreRefusedWhenMapped) {
    test::TempDir dir;
    TJetBuilder builder({{u"受注",
                          {{u"番号", kTypeLong, 0, true},
                           {u"数量", kTypeLong},
                           {u"写真", kTypeOle},
                           {u"合計", kTypeLong, 0, false, true, {{u"Expression", u"[数量]*2"}}}}}});
    const fs::path file = dir.Write("受注.mdb", builder.Finish());
    const std::string bytes = test::ReadBytes(file);
    const auto csv = dir.Write("in.csv", "a,b\n,1\n,2\n");
    struct TCase {
        const char* field;
        const char* kind;
    };
    for (const TCase& c : {TCase{"番号", "オートナンバー型"}, TCase{"写真", "OLEオブジェクト型"},
                           TCase{"合計", "集計型"}}) {
        SCOPED_TRACE(c.field);
        const std::string import = "import '-e=" + file.string() + "' -w=受注 '-c=" + csv.string() +
                                   "' -f=-1 '-r=" + c.field + "=0,数量=1'";
        const std::string expected = "テーブル「受注」のフィールド「" + std::string(c.field) +
                                     "」は" + c.kind + "のフィールドのため";
        for (const char* mode : {"", " --dry-run"}) {
            const auto run = test::RunCli(import + mode);
            EXPECT_NE(run.status, 0) << mode;
            EXPECT_NE(run.out.find(expected), std::string::npos) << mode << "\n" << run.out;
            EXPECT_EQ(run.out.find("行目"), std::string::npos) << mode << "\n" << run.out;
            EXPECT_TRUE(test::ReadBytes(file) == bytes);
        }
    }
    // An entry naming no column of the file fills nothing and is no reason to refuse.
    const auto run = test::RunCli("import '-e=" + file.string() + "' -w=受注 '-c=" + csv.string() +
                                  "' -f=-1 '-r=番号=7,数量=1'");
    EXPECT_EQ(run.status, 0) << run.out;
}

}  // namespace
}  // namespace qm::jet
