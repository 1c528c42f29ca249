#include "targets/import_run.h"

#include <gtest/gtest.h>

#include "import/import_test_util.h"
#include "platform/error.h"
#include "platform/yield.h"

namespace qm {
namespace {

using test::CsvOf;
using test::Integer;
using test::RecordingTarget;
using test::Text;

using Positions = std::vector<std::uint32_t>;

TEST(CheckConvertSettings, Messages) {
    auto csv = CsvOf(u"a");
    EXPECT_EQ(CheckConvertSettings(nullptr, {}), u"CSVファイルを選択してください。");
    EXPECT_EQ(CheckConvertSettings(nullptr, {{u"a", 0}}), u"CSVファイルを選択してください。");
    EXPECT_EQ(CheckConvertSettings(csv.get(), {}),
              u"ExcelワークシートにCSVデータを登録する設定を行ってください。");
    EXPECT_EQ(CheckConvertSettings(csv.get(), {{u"a", -1}}), u"");
}

TEST(ImportRun, RefusedChecksBeginNoTransaction) {
    RecordingTarget target({Text(u"a")});
    auto csv = CsvOf(u"x");
    TImportRun run(target.connection, target.table);
    TImportResult noCsv = run.Run(nullptr, {{u"a", 0}}, false);
    EXPECT_FALSE(noCsv.Started);
    EXPECT_EQ(noCsv.Message, kImportNoCsvMessage);
    TImportResult noRelation = run.Run(csv.get(), {}, false);
    EXPECT_FALSE(noRelation.Committed);
    EXPECT_EQ(noRelation.Message, kImportNoRelationMessage);
    EXPECT_EQ(target.store->Begins, 0);
}

TEST(ImportRun, CommitsAllRowsAndReportsProgress) {
    struct Case {
        const char16_t* csv;
        bool header;
        Positions positions;  // every OnProgress position; the maximum is the row count
        std::size_t rows;
    } cases[] = {
        // Header only: begun and committed with nothing inserted; the bar stays at 0 of 1.
        {u"h", true, {0}, 0},
        {u"1\n2\n3", false, {0, 2, 3, 3}, 3},
        {u"h\n1\n2\n3", true, {0, 3, 4, 4}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.csv));
        RecordingTarget target({Integer(u"n")});
        auto csv = CsvOf(c.csv);
        TImportRun run(target.connection, target.table);
        Positions positions;
        run.OnProgress = [&](std::uint32_t position, std::uint32_t maximum) {
            EXPECT_EQ(maximum, csv->GetRowCount());
            positions.push_back(position);
        };
        TImportResult result = run.Run(csv.get(), {{u"n", 0}}, c.header);
        EXPECT_TRUE(result.Committed);
        EXPECT_EQ(result.Message, u"登録しました。");
        EXPECT_EQ(result.RowsInserted, c.rows);
        EXPECT_EQ(positions, c.positions);
        EXPECT_EQ(target.store->Begins, 1);
        EXPECT_EQ(target.store->Commits, 1);
        EXPECT_EQ(target.store->Committed.size(), c.rows);
        if (c.rows == 3) {
            EXPECT_EQ(target.store->Committed[2][0], TValue(std::int64_t{3}));  // CSV order
        }
    }
}

// The cancel command runs inside the user interface's turn after a row.
std::atomic<bool>* gCancelFlag = nullptr;
int gTurns = 0;
int gCancelAtTurn = 0;
void CancelAtTurn() {
    if (++gTurns == gCancelAtTurn) gCancelFlag->store(true);
}

TEST(ImportRun, CancelRollsEveryRowBack) {
    RecordingTarget target({Integer(u"n")});
    auto csv = CsvOf(u"1\n2\n3\n4");
    TImportRun run(target.connection, target.table);
    // A cancel given while no run is in progress does not reach the next run.
    run.CancelRequested = true;
    gCancelFlag = &run.CancelRequested;
    gTurns = 0;
    gCancelAtTurn = 2;  // during the second row's turn
    TYieldHook previous = SetYieldHook(&CancelAtTurn);
    TImportResult result = run.Run(csv.get(), {{u"n", 0}}, false);
    SetYieldHook(previous);
    EXPECT_FALSE(result.Committed);
    EXPECT_EQ(result.Message, u"キャンセルされました。");
    EXPECT_EQ(result.RowsInserted, 2u);  // the third row was never inserted
    EXPECT_EQ(target.store->Appends, 2);
    EXPECT_EQ(target.store->Rollbacks, 1);
    EXPECT_TRUE(target.store->Committed.empty());
    EXPECT_FALSE(target.connection.InTransaction());

    // A new run can start at once and proceeds normally.
    TImportResult again = run.Run(csv.get(), {{u"n", 0}}, false);
    EXPECT_TRUE(again.Committed);
    EXPECT_EQ(target.store->Committed.size(), 4u);
}

TEST(ImportRun, ErrorsRollBackAndNameTheCsvLineAndField) {
    struct Case {
        const char16_t* name;
        const char16_t* csv;
        bool header;
        int refuseAppend;
        bool failCommit;
        std::u16string expectedTail;  // the end of the message
    } cases[] = {
        // The last row fails: every earlier row is rolled back. Line 4 counts the header.
        {u"conversion", u"n,t\n1,a\n2,b\nx,c", true, -1, false,
         u"\n（CSVファイルの4行目、フィールド「n」）"},
        // A quoted field over three lines makes rows and lines differ.
        {u"multi-line", u"n,t\n1,\"a\nb\nc\"\n2,d\nbad,e", true, -1, false,
         u"\n（CSVファイルの6行目、フィールド「n」）"},
        {u"too long", u"1,abcdefghi", false, -1, false,
         u"\n（CSVファイルの1行目、フィールド「t」）"},
        {u"refused by the target", u"1,a\n2,b", false, 1, false,
         u"この行は書き込めません。\n（CSVファイルの2行目）"},
        {u"commit", u"1,a", false, -1, true, u"保存できませんでした。"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.name));
        RecordingTarget target({Integer(u"n"), Text(u"t", 8)});
        target.store->RefuseAppend = c.refuseAppend;
        target.store->FailCommit = c.failCommit;
        auto csv = CsvOf(c.csv);
        TImportRun run(target.connection, target.table);
        TImportResult result = run.Run(csv.get(), {{u"n", 0}, {u"t", 1}}, c.header);
        EXPECT_TRUE(result.Started);
        EXPECT_FALSE(result.Committed);
        ASSERT_GE(result.Message.size(), c.expectedTail.size());
        EXPECT_EQ(result.Message.substr(result.Message.size() - c.expectedTail.size()),
                  c.expectedTail)
            << Utf16ToUtf8(result.Message);
        EXPECT_TRUE(target.store->Committed.empty());
        EXPECT_TRUE(target.store->Pending.empty());
        EXPECT_FALSE(target.connection.InTransaction());
        // The failed row is not left pending in the table, where a later Insert would post it.
        EXPECT_FALSE(target.table.Inserting());
    }
}

TEST(ImportRun, ClosedTableAndMissingFieldAreRolledBack) {
    RecordingTarget target({Integer(u"n")});
    auto csv = CsvOf(u"1\n2");
    TImportRun run(target.connection, target.table);
    TImportResult missing = run.Run(csv.get(), {{u"n", 0}, {u"無い", 0}}, false);
    EXPECT_FALSE(missing.Committed);
    EXPECT_NE(missing.Message.find(u"無い"), std::u16string::npos);
    target.table.Close();
    TImportResult closed = run.Run(csv.get(), {{u"n", 0}}, false);
    EXPECT_FALSE(closed.Committed);
    EXPECT_NE(closed.Message.find(u"開いていません"), std::u16string::npos);
    EXPECT_EQ(target.store->Rollbacks, 2);
    EXPECT_TRUE(target.store->Committed.empty());
}

// A target that takes no rows at all: the run and the dry run both refuse it before any row,
// with the target's own message and no CSV line in it.
TEST(ImportRun, TargetThatTakesNoRowsIsRefusedBeforeAnyRow) {
    RecordingTarget target({Integer(u"n")});
    target.store->TakesNoRows = true;
    auto csv = CsvOf(u"n\n1\n2");
    TImportRun run(target.connection, target.table);
    TImportResult result = run.Run(csv.get(), {{u"n", 0}}, true);
    EXPECT_FALSE(result.Committed);
    EXPECT_EQ(result.Message, u"このファイルには行を追加できません。");
    EXPECT_EQ(result.RowsInserted, 0u);
    EXPECT_EQ(target.store->Rollbacks, 1);
    EXPECT_FALSE(target.table.Inserting());

    bool reported = false;
    TDryRunResult dry = DryRunImport(target.connection, target.table, csv.get(), {{u"n", 0}}, true,
                                     [&](const TDryRunFailure&) { reported = true; });
    EXPECT_EQ(dry.CheckMessage, u"このファイルには行を追加できません。");
    EXPECT_EQ(dry.RowsChecked, 0u);
    EXPECT_FALSE(reported);

    target.table.Close();
    TDryRunResult closed =
        DryRunImport(target.connection, target.table, csv.get(), {{u"n", 0}}, true, {});
    EXPECT_NE(closed.CheckMessage.find(u"開いていません"), std::u16string::npos);
}

TEST(CsvLineOfRow, CountsLineFeedsInsideCells) {
    auto csv = CsvOf(u"a,\"x\ny\"\n\"1\n2\n3\",b\n\nc\n\"d\ne\"");
    // Rows: 0 on line 1 (two lines), 1 on line 3 (three lines), 2 blank on line 6, 3 on 7,
    // 4 on 8; a row past the end counts every line.
    std::uint64_t expected[] = {1, 3, 6, 7, 8, 10};
    for (std::uint32_t row = 0; row < 6; ++row) {
        SCOPED_TRACE(row);
        EXPECT_EQ(CsvLineOfRow(*csv, row), expected[row]);
    }
}

TEST(DryRunImport, ListsEveryFailingCellAndWritesNothing) {
    RecordingTarget target({Integer(u"n"), Text(u"t", 3)});
    auto csv = CsvOf(u"n,t\n1,ok\nx,\"multi\nline\"\n3,ok\n4,long!\ny,z");
    std::vector<TDryRunFailure> failures;
    TDryRunResult result =
        DryRunImport(target.connection, target.table, csv.get(), {{u"n", 0}, {u"t", 1}}, true,
                     [&](const TDryRunFailure& failure) { failures.push_back(failure); });
    EXPECT_EQ(result.RowsChecked, 5u);
    EXPECT_EQ(result.RowsFailing, 3u);
    ASSERT_EQ(failures.size(), 4u);
    struct Expected {
        std::uint32_t row;
        std::uint64_t line;
        const char16_t* field;
    } expected[] = {{2, 3, u"n"}, {2, 3, u"t"}, {4, 6, u"t"}, {5, 7, u"n"}};
    for (std::size_t i = 0; i < failures.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(failures[i].Row, expected[i].row);
        EXPECT_EQ(failures[i].Line, expected[i].line);
        EXPECT_EQ(failures[i].Field, expected[i].field);
        EXPECT_FALSE(failures[i].Message.empty());
    }
    // The rows that convert were posted in a transaction that was rolled back.
    EXPECT_EQ(target.store->Appends, 2);
    EXPECT_EQ(target.store->Begins, 1);
    EXPECT_EQ(target.store->Rollbacks, 1);
    EXPECT_TRUE(target.store->Committed.empty());
    EXPECT_FALSE(target.connection.InTransaction());
    EXPECT_FALSE(target.table.Inserting());

    TDryRunResult refused =
        DryRunImport(target.connection, target.table, nullptr, {{u"n", 0}}, true, {});
    EXPECT_EQ(refused.CheckMessage, kImportNoCsvMessage);
}

// The engine's own refusal of a row (a duplicate key, a full sheet) is listed like a conversion
// failure, and the rows after it are still checked, the refused one not kept.
TEST(DryRunImport, ListsTheRowsTheEngineRefusesAndGoesOn) {
    RecordingTarget target({Integer(u"n")});
    target.store->RefuseAppend = 1;
    auto csv = CsvOf(u"n\n1\n2\n3");
    std::vector<TDryRunFailure> failures;
    TDryRunResult result =
        DryRunImport(target.connection, target.table, csv.get(), {{u"n", 0}}, true,
                     [&](const TDryRunFailure& failure) { failures.push_back(failure); });
    EXPECT_EQ(result.RowsChecked, 3u);
    EXPECT_EQ(result.RowsFailing, 1u);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].Line, 3u);
    EXPECT_EQ(failures[0].Field, u"");
    EXPECT_EQ(failures[0].Message, u"この行は書き込めません。");
    EXPECT_EQ(target.store->Appends, 3);
    EXPECT_EQ(target.store->Rollbacks, 1);
    EXPECT_TRUE(target.store->Committed.empty());
    EXPECT_FALSE(target.connection.InTransaction());
}

}  // namespace
}  // namespace qm
