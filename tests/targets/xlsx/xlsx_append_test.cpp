// Appending rows: what the commit writes (checked by our reader and by openpyxl), what it
// leaves alone, and that a failure or a roll-back leaves the workbook byte for byte as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>

#include "platform/file_system.h"
#include "platform/target_lock.h"
#include "platform/yield.h"
#include "targets/engine.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/zip_archive.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

using test::InlineCell;
using test::NumberCell;

// Header and two data rows; styles: 1 date (14), 2 date-time (22), 3 currency.
test::TTestWorkbook SalesBook() {
    test::TTestWorkbook book;
    book.SharedStrings = {"商品", "数量"};
    std::string rows =
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>" +
        InlineCell("C1", "日付") + InlineCell("D1", "金額") + InlineCell("E1", "済") +
        InlineCell("F1", "メモ") + "</row>";
    for (int r = 2; r <= 3; ++r) {
        std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\">" + InlineCell("A" + n, "item" + n) + NumberCell("B" + n, n) +
                NumberCell("C" + n, "45000", 1) + NumberCell("D" + n, "100", 3) + "<c r=\"E" + n +
                "\" t=\"b\"><v>0</v></c>" + InlineCell("F" + n, "note") + "</row>";
    }
    book.Sheets = {{"売上", rows, "", "A1:F3"},
                   {"Other", "<row r=\"1\">" + InlineCell("A1", "keep") + "</row>"}};
    return book;
}

std::map<std::string, std::string> RawEntries(const std::filesystem::path& path) {
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
    xlsx::TZipArchive archive(source);
    std::map<std::string, std::string> raw;
    for (const auto& entry : archive.Entries())
        raw[entry.Name] =
            source->ReadString(entry.DataOffset, static_cast<std::size_t>(entry.CompressedSize));
    return raw;
}

TEST(XlsxAppend, RowsReadBackByUsAndByOpenpyxl) {
    test::TempDir dir;
    auto path = dir.Write("売上 表.xlsx", test::BuildWorkbook(SalesBook()));
    auto before = RawEntries(path);
    {
        test::TOpenTable open(path, u"売上$");
        std::vector<TAdoExcelField> fields = GetFieldList(open.Table);
        ASSERT_EQ(fields.size(), 6u);
        EXPECT_EQ(fields[2].DataType, ftDateTime);
        EXPECT_EQ(fields[3].DataType, ftBCD);
        open.Connection.BeginTrans();
        open.Append({u"りんご", u"1,234.5", u"2024/01/31", u"¥1,000", u"Yes", u"行1\r\n行2"});
        open.Append({u"  spaced  ", u"-2e3", u"2024-02-29 13:45:10", u"12.3456", u"0",
                     u"a<b>&\"c\" _x0041_ \x01"});
        open.Append({u"", u"", u"", u"", u"", u""});  // an empty row keeps its place
        open.Append({u"😀", u"７", u"", u"", u"off", u""});
        open.Connection.CommitTrans();
        std::vector<std::string> expected = {
            "item2|2|2023/03/15|100|False|note",
            "item3|3|2023/03/15|100|False|note",
            "りんご|1234.5|2024/01/31|1000|True|行1\r\n行2",
            "  spaced  |-2000|2024/02/29 13:45:10|12.3456|False|a<b>&\"c\" _x0041_ \x01",
            "|||||",
            "😀|7|||False|",
        };
        // The open table sees the committed rows.
        EXPECT_EQ(open.Rows(), expected);
    }
    test::TOpenTable reopened(path, u"売上$");
    EXPECT_EQ(reopened.Rows().size(), 6u);

    // Every part but the sheet is the same, byte for byte.
    auto after = RawEntries(path);
    ASSERT_EQ(after.size(), before.size());
    for (const auto& [name, bytes] : before) {
        if (name == "xl/worksheets/sheet1.xml")
            EXPECT_NE(after[name], bytes);
        else
            EXPECT_EQ(after[name], bytes) << name;
    }

    ASSERT_TRUE(test::HaveOpenpyxl())
        << "python3-openpyxl is not installed (scripts/install-deps.sh installs it)";
    std::vector<std::string> rows = test::OpenpyxlRows(path, "売上");
    ASSERT_EQ(rows.size(), 7u) << rows[0];
    EXPECT_EQ(
        rows[3],
        "s:\"りんご\"\tn:1234.5\td:2024-01-31T00:00:00\tn:1000.0\tb:True\ts:\"行1\\r\\n行2\"");
    EXPECT_EQ(rows[4],
              "s:\"  spaced  \"\tn:-2000.0\td:2024-02-29T13:45:10\tn:12.3456\tb:False\t"
              "s:\"a<b>&\\\"c\\\" _x005F_x0041_ _x0001_\"");
    EXPECT_EQ(rows[5], "~\t~\t~\t~\t~\t~");
    EXPECT_EQ(rows[6], "s:\"😀\"\tn:7.0\t~\t~\tb:False\t~");
}

TEST(XlsxAppend, RollbackAndFailuresLeaveTheFileUnchanged) {
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    test::TOpenTable open(path, u"売上$");

    open.Connection.BeginTrans();
    open.Append({u"x", u"1"});
    open.Connection.RollbackTrans();
    EXPECT_EQ(test::ReadBytes(path), original);

    // A value that does not convert: the message names field, value and type; the row stays
    // in place until it is cancelled.
    open.Connection.BeginTrans();
    open.Table.Insert();
    std::string message =
        test::ErrorOf([&] { open.Table.FieldByName(u"数量").AssignText(u"多い"); });
    EXPECT_NE(message.find("数量"), std::string::npos);
    EXPECT_NE(message.find("多い"), std::string::npos);
    EXPECT_NE(message.find("倍精度浮動小数点数型"), std::string::npos);
    EXPECT_TRUE(open.Table.Inserting());
    open.Table.Cancel();
    EXPECT_THROW(open.Table.Post(), Error);
    open.Connection.RollbackTrans();

    // Closing the connection in the middle of a transaction rolls back too.
    open.Connection.BeginTrans();
    open.Append({u"y", u"2"});
    open.Connection.Close();
    EXPECT_EQ(test::ReadBytes(path), original);
    EXPECT_FALSE(open.Table.Active());
}

TEST(XlsxAppend, EveryFailingWriteFlushOrRenameLeavesOldOrNewFile) {
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    std::string committed;
    for (int kind = 0; kind < 3; ++kind) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " n " << n);
            dir.Write("book.xlsx", original);
            test::TOpenTable open(path, u"売上$");
            open.Connection.BeginTrans();
            for (int r = 0; r < 300; ++r)
                open.Append({u"row " + Utf8ToUtf16(std::to_string(r)), u"1"});
            TFileSystemFaults::Reset(kind == 0 ? n : 0, kind == 1 ? n : 0, kind == 2 ? n : 0);
            bool failed = test::ErrorOf([&] { open.Connection.CommitTrans(); }) != "(no error)";
            int done = kind == 0   ? TFileSystemFaults::Writes()
                       : kind == 1 ? TFileSystemFaults::Flushes()
                                   : TFileSystemFaults::Renames();
            TFileSystemFaults::Reset();
            std::string now = test::ReadBytes(path);
            if (failed) {
                EXPECT_EQ(now, original);
                EXPECT_FALSE(open.Connection.InTransaction());
            } else {
                if (committed.empty()) committed = now;
                EXPECT_EQ(now, committed);
            }
            // No temporary file is left behind.
            std::size_t files = 0;
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                (void)entry, ++files;
            EXPECT_EQ(files, 1u);
            if (!failed && done < n) break;
            ASSERT_LT(n, 100);
        }
    }
    test::TOpenTable check(path, u"売上$");
    EXPECT_EQ(check.Rows().size(), 302u);
}

// A crash (a killed process, a power cut) at any write, flush or rename of a commit, a torn
// last write included: the workbook is the old one byte for byte or the complete new one, and
// the next opening removes what the killed writer left beside it.
TEST(XlsxAppend, ACrashAnywhereInTheCommitLeavesOldOrNewFileAndTheNextOpenCleansUp) {
    test::TempDir dir;
    const auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    // Text that hardly compresses, so that the new file takes several writes.
    constexpr int kRows = 26000;
    auto import = [&] {
        test::TOpenTable open(path, u"売上$");
        open.Connection.BeginTrans();
        std::uint32_t seed = 12345;
        for (int r = 0; r < kRows; ++r) {
            std::u16string text = u"r" + Utf8ToUtf16(std::to_string(r)) + u"-";
            for (int i = 0; i < 120; ++i) {
                seed = seed * 1103515245 + 12345;
                text += static_cast<char16_t>(u'a' + (seed >> 16) % 26);
            }
            open.Append({text, u"1"});
        }
        open.Connection.CommitTrans();
    };
    auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            found.insert(entry.path().filename().string());
        return found;
    };
    import();
    const std::string committed = test::ReadBytes(path);
    if (test::HaveOpenpyxl()) {
        std::vector<std::string> rows = test::OpenpyxlRows(path, "売上");
        ASSERT_EQ(rows.size(), 3u + kRows) << rows.front();
        EXPECT_EQ(rows.back().substr(0, 10), "s:\"r25999-");
    }

    using TPoint = TFileSystemFaults::TPoint;
    using TEffect = TFileSystemFaults::TEffect;
    const std::pair<TPoint, TEffect> kinds[] = {{TPoint::Write, TEffect::Crash},
                                                {TPoint::Write, TEffect::TornCrash},
                                                {TPoint::Flush, TEffect::Crash},
                                                {TPoint::Rename, TEffect::Crash}};
    int crashes = 0;
    for (const auto& [point, effect] : kinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "point " << static_cast<int>(point) << " effect "
                                            << static_cast<int>(effect) << " n " << n);
            ASSERT_LT(n, 50);
            dir.Write("book.xlsx", original);
            TFileSystemFaults::Plan(point, n, effect);
            bool crashed = false;
            try {
                import();
            } catch (const TSimulatedCrash&) {
                crashed = true;
            }
            TFileSystemFaults::Reset();
            const std::string now = test::ReadBytes(path);
            EXPECT_TRUE(now == original || now == committed);
            if (!crashed) break;
            ++crashes;
            EXPECT_GT(names().size(), 1u);  // the killed writer's leftovers
            { test::TOpenTable reopen(path, u"売上$"); }
            EXPECT_EQ(names(), std::set<std::string>{"book.xlsx"});
        }
    }
    EXPECT_GE(crashes, 8) << crashes;  // several writes, two flushes, one rename
}

// The commit gives the user interface turns while it writes; a cancel seen at any of them
// stops it with the file as it was, and a commit nobody cancels still writes every row.
std::atomic<bool> gCommitCancel{false};
int gTurnsLeft = 0;
void CancelAtTurn() {
    if (--gTurnsLeft == 0) gCommitCancel.store(true);
}

TEST(XlsxAppend, CancelAtAnyTurnOfTheCommitLeavesTheFileUnchanged) {
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    TYieldHook previous = SetYieldHook(&CancelAtTurn);
    int n = 1;
    for (;; ++n) {
        SCOPED_TRACE(testing::Message() << "cancel at turn " << n);
        test::TOpenTable open(path, u"売上$");
        open.Connection.BeginTrans();
        for (int r = 0; r < 20000; ++r)
            open.Append({u"row " + Utf8ToUtf16(std::to_string(r)), u"1"});
        gCommitCancel.store(false);
        gTurnsLeft = n;
        const std::string error =
            test::ErrorOf([&] { open.Connection.CommitTrans(&gCommitCancel); });
        if (!gCommitCancel.load()) {
            // Fewer turns than n: the commit ran to its end.
            EXPECT_EQ(error, "(no error)");
            break;
        }
        EXPECT_EQ(error, "キャンセルされました。");
        EXPECT_EQ(test::ReadBytes(path), original);
        EXPECT_FALSE(open.Connection.InTransaction());
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            (void)entry, ++files;
        EXPECT_EQ(files, 1u);
        ASSERT_LT(n, 200);
    }
    SetYieldHook(previous);
    EXPECT_GT(n, 3);  // the sheet, the pieces and the unchanged entries each gave turns
    test::TOpenTable check(path, u"売上$");
    EXPECT_EQ(check.Rows().size(), 20002u);
}

TEST(XlsxAppend, TablesAutofilterAndNamedRangesGrow) {
    test::TTestWorkbook book;
    std::string rows;
    for (int r = 1; r <= 3; ++r) {
        std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\">" +
                (r == 1 ? InlineCell("A1", "K") + InlineCell("B1", "V")
                        : InlineCell("A" + n, "k" + n) + NumberCell("B" + n, n)) +
                "</row>";
    }
    book.Sheets = {{"S",
                    rows,
                    "<autoFilter ref=\"A1:B3\"/>",
                    "A1:B3",
                    {{"table1.xml",
                      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><table "
                      "xmlns=\"http://schemas.openxmlformats.org/"
                      "spreadsheetml/2006/main\" id=\"1\" name=\"T\" displayName=\"T\" "
                      "ref=\"A1:B3\"><autoFilter "
                      "ref=\"A1:B3\"/><tableColumns count=\"2\"><tableColumn id=\"1\" "
                      "name=\"K\"/><tableColumn "
                      "id=\"2\" name=\"V\"/></tableColumns></table>"}}}};
    book.DefinedNames =
        "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" "
        "hidden=\"1\">S!$A$1:$B$3</definedName>"
        "<definedName name=\"Data\">S!$A$1:$B$3</definedName>";
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    {
        test::TOpenTable open(path, u"S$");
        open.Append({u"k4", u"4"});  // outside a transaction: committed at once
    }
    {
        test::TOpenTable open(path, u"Data");
        std::string message = test::ErrorOf([&] { open.Append({u"k5", u"5"}); });
        EXPECT_NE(message.find("Data"), std::string::npos);  // rows below the range
    }
    auto check = [&](const char* table, const char* filter, const char* data) {
        std::string sheetFilter = filter;
        sheetFilter.erase(std::remove(sheetFilter.begin(), sheetFilter.end(), '$'),
                          sheetFilter.end());
        auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
        xlsx::TPackage package(source);
        std::string tableXml = package.ReadPart("xl/tables/table1.xml", 1u << 20);
        EXPECT_NE(
            tableXml.find(std::string("ref=\"") + table + "\"><autoFilter ref=\"" + table + "\""),
            std::string::npos)
            << tableXml;
        std::string sheetXml = package.ReadPart("xl/worksheets/sheet1.xml", 1u << 20);
        EXPECT_NE(sheetXml.find("<autoFilter ref=\"" + sheetFilter + "\"/>"), std::string::npos)
            << sheetXml;
        EXPECT_EQ(package.DefinedNames()[0].Formula, std::string("S!") + filter);
        EXPECT_EQ(package.DefinedNames()[1].Formula, data);
    };
    check("A1:B4", "$A$1:$B$4", "S!$A$1:$B$3");

    // A named range that ends at the sheet's last row grows with the rows appended to it.
    {
        auto source = test::BuildWorkbook(book);
        dir.Write("book.xlsx", source);
        test::TOpenTable open(path, u"Data");
        open.Connection.BeginTrans();
        open.Append({u"k4", u"4"});
        open.Append({u"k5", u"5"});
        open.Connection.CommitTrans();
        EXPECT_EQ(open.Rows().size(), 4u);
    }
    check("A1:B5", "$A$1:$B$5", "S!$A$1:$B$5");
    ASSERT_TRUE(test::HaveOpenpyxl())
        << "python3-openpyxl is not installed (scripts/install-deps.sh installs it)";
    std::vector<std::string> readBack = test::OpenpyxlRows(path, "S");
    ASSERT_EQ(readBack.size(), 5u);
    EXPECT_EQ(readBack[4], "s:\"k5\"\tn:5.0");
}

TEST(XlsxAppend, RefusalsBeforeAnythingIsWritten) {
    test::TempDir dir;
    test::TTestWorkbook totals;
    totals.Sheets = {
        {"S",
         "<row r=\"1\">" + InlineCell("A1", "K") + "</row><row r=\"2\">" + NumberCell("A2", "1") +
             "</row><row r=\"3\">" + NumberCell("A3", "1") + "</row>",
         "",
         "A1:A3",
         {{"table1.xml",
           "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" "
           "name=\"T\" ref=\"A1:A3\" totalsRowCount=\"1\"><tableColumns count=\"1\"><tableColumn "
           "id=\"1\" name=\"K\"/></tableColumns></table>"}}}};
    auto totalsPath = dir.Write("totals.xlsx", test::BuildWorkbook(totals));
    {
        test::TOpenTable open(totalsPath, u"S$");
        open.Connection.BeginTrans();
        std::string message = test::ErrorOf([&] { open.Append({u"2"}); });
        EXPECT_NE(message.find("集計行"), std::string::npos) << message;
    }

    auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    struct Case {
        const char* name;
        std::function<void()> arrange, undo;
        const char* message;
    } cases[] = {
        {"Excel owner file", [&] { dir.Write("~$book.xlsx", "owner"); },
         [&] { std::filesystem::remove(dir.Path() / "~$book.xlsx"); }, "他のプログラム"},
        {"LibreOffice lock", [&] { dir.Write(".~lock.book.xlsx#", "lock"); },
         [&] { std::filesystem::remove(dir.Path() / ".~lock.book.xlsx#"); }, "他のプログラム"},
        {"read-only file", [&] { ::chmod(path.c_str(), 0444); },
         [&] { ::chmod(path.c_str(), 0644); }, "読み取り専用"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::TOpenTable open(path, u"売上$");
        c.arrange();
        std::string message = test::ErrorOf([&] {
            open.Connection.BeginTrans();
            open.Append({u"x"});
            open.Connection.CommitTrans();
        });
        c.undo();
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_EQ(test::ReadBytes(path), original);
    }

    // Another program replaced the file after it was opened.
    test::TOpenTable open(path, u"売上$");
    open.Connection.BeginTrans();
    open.Append({u"x"});
    dir.Write("book.xlsx", original + "");
    std::filesystem::last_write_time(
        path, std::filesystem::last_write_time(path) + std::chrono::seconds(5));
    std::string message = test::ErrorOf([&] { open.Connection.CommitTrans(); });
    EXPECT_NE(message.find("他のプログラムがファイルを変更しました"), std::string::npos) << message;
}

// Writers exclude each other from the start of a transaction (or a single row's append) to its
// end; one that opened the workbook before another import committed appends below that
// import's rows instead of losing them.
TEST(XlsxAppend, WritersTakeTurnsAndAppendBelowEachOther) {
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(SalesBook()));
    const std::string original = test::ReadBytes(path);
    test::TOpenTable first(path, u"売上$");
    test::TOpenTable second(path, u"売上$");

    // Another process holds the workbook: both ways of writing wait, then give up.
    const auto lockFile = dir.Path() / ".book.xlsx.quillomat-lock";
    const int other = ::open(lockFile.c_str(), O_RDONLY | O_CREAT, 0644);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    TTargetLock::SetWaitLimit(std::chrono::milliseconds(200));
    const std::string busy = Utf16ToUtf8(AnotherImportIsWritingMessage(test::U16(path)));
    EXPECT_EQ(test::ErrorOf([&] { first.Connection.BeginTrans(); }), busy);
    EXPECT_FALSE(first.Connection.InTransaction());
    EXPECT_EQ(test::ErrorOf([&] { first.Append({u"outside", u"1"}); }), busy);
    first.Table.Cancel();  // a refused row stays, to be posted again or cancelled
    TTargetLock::SetWaitLimit(std::chrono::milliseconds(5000));
    ::close(other);
    EXPECT_EQ(test::ReadBytes(path), original);

    // Once it is free: the first import commits; the second, opened before, reads the
    // workbook again when its transaction starts and appends below.
    first.Connection.BeginTrans();
    first.Append({u"first", u"1"});
    first.Connection.CommitTrans();
    second.Connection.BeginTrans();
    second.Append({u"second", u"2"});
    second.Connection.CommitTrans();
    second.Append({u"third", u"3"});  // outside a transaction
    std::vector<std::string> rows = test::TOpenTable(path, u"売上$").Rows();
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].substr(0, 6), "first|");
    EXPECT_EQ(rows[3].substr(0, 7), "second|");
    EXPECT_EQ(rows[4].substr(0, 6), "third|");
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        (void)entry, ++files;
    EXPECT_EQ(files, 1u);
}

TEST(XlsxAppend, PrefixedSheetWithoutDimensionAndNoDateStyle) {
    // The sheet part uses an "x:" prefix and has neither <dimension> nor r attributes; the
    // workbook has no date style, so the commit adds one; the 1904 date system applies.
    test::TTestWorkbook book;
    book.Date1904 = true;
    book.Styles = {0};
    book.Sheets = {{"S", ""}};
    std::vector<test::TZipPart> parts = test::WorkbookParts(book);
    for (auto& part : parts) {
        if (part.Name == "xl/worksheets/sheet1.xml")
            part.Data =
                "<?xml version=\"1.0\"?><x:worksheet "
                "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                "main\"><x:sheetData><x:row><x:c "
                "t=\"inlineStr\"><x:is><x:t>When</x:t></x:is></x:c></x:row><x:row>"
                "<x:c><x:v>1</x:v></x:c></x:row></x:sheetData></x:worksheet>";
    }
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildZip(parts));
    {
        test::TOpenTable open(path, u"S$");
        ASSERT_EQ(GetFieldList(open.Table)[0].DataType, ftFloat);
        open.Connection.BeginTrans();
        open.Append({u"3"});
        open.Connection.CommitTrans();
    }
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
    xlsx::TPackage package(source);
    std::string sheet = package.ReadPart("xl/worksheets/sheet1.xml", 1u << 20);
    EXPECT_NE(sheet.find("<x:dimension ref=\"A1:A3\"/>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<x:row r=\"3\"><x:c r=\"A3\"><x:v>3</x:v></x:c></x:row></x:sheetData>"),
              std::string::npos)
        << sheet;
    ASSERT_TRUE(test::HaveOpenpyxl())
        << "python3-openpyxl is not installed (scripts/install-deps.sh installs it)";
    EXPECT_EQ(test::OpenpyxlRows(path, "S"),
              (std::vector<std::string>{"s:\"When\"", "n:1.0", "n:3.0"}));
}

TEST(XlsxAppend, DatesGetADateStyleWhereTheColumnHasNone) {
    // The column's cells show plain numbers ("#,##0"), so a date appended below them needs a
    // date style: the workbook's own when it has one, else one the commit adds. Either way an
    // independent reader must see a date (openpyxl gives a datetime only for a date format).
    const struct {
        const char* what;
        std::vector<int> styles;  // numFmtId of each cellXfs entry
        const char* cellStyle;    // the s attribute the appended cell must carry
        const char* xfCount;      // cellXfs count after the commit
    } cases[] = {
        {"the workbook has no date style", {0, 3}, "2", "3"},
        {"the workbook has a date style the column does not use", {0, 3, 14}, "2", "3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TTestWorkbook book;
        book.Styles = c.styles;
        book.Sheets = {{"S", "<row r=\"1\">" + InlineCell("A1", "When") + "</row><row r=\"2\">" +
                                 NumberCell("A2", "45000", 1) + "</row>"}};
        test::TempDir dir;
        auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
        {
            auto engine = OpenEngine(GetConnectionString(test::U16(path)));
            auto table = engine->OpenTable(u"S$");
            table->AppendRow({TDateTime{EncodeDate(2024, 5, 6)}});  // committed at once
        }
        auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
        xlsx::TPackage package(source);
        const std::string styles = package.ReadPart("xl/styles.xml", 1u << 20);
        EXPECT_NE(styles.find(std::string("<cellXfs count=\"") + c.xfCount + "\""),
                  std::string::npos)
            << styles;
        EXPECT_EQ(package.StyleKind(2), xlsx::TStyleKind::Date);
        const std::string sheet = package.ReadPart("xl/worksheets/sheet1.xml", 1u << 20);
        EXPECT_NE(sheet.find(std::string("<c r=\"A3\" s=\"") + c.cellStyle + "\"><v>45418</v>"),
                  std::string::npos)
            << sheet;
        ASSERT_TRUE(test::HaveOpenpyxl()) << "python3-openpyxl is not installed "
                                             "(scripts/install-deps.sh installs it)";
        EXPECT_EQ(test::OpenpyxlRows(path, "S"),
                  (std::vector<std::string>{"s:\"When\"", "n:45000.0", "d:2024-05-06T00:00:00"}));
    }
}

// workbook.xml as current Excel saves it: the date system in <workbookPr>, and further elements
// of the same local names in other namespaces (an extension list's <x15:workbookPr>, a
// markup-compatibility block, a revision pointer) that must not count.
std::string ExcelWorkbookPart(bool date1904) {
    return std::string(
               "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
               "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
               "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
               "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
               "mc:Ignorable=\"x15 xr xr6 xr10 xr2\" "
               "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\" "
               "xmlns:xr=\"http://schemas.microsoft.com/office/spreadsheetml/2014/revision\" "
               "xmlns:xr6=\"http://schemas.microsoft.com/office/spreadsheetml/2016/revision6\" "
               "xmlns:xr10=\"http://schemas.microsoft.com/office/spreadsheetml/2016/revision10\" "
               "xmlns:xr2=\"http://schemas.microsoft.com/office/spreadsheetml/2015/revision2\">"
               "<fileVersion appName=\"xl\" lastEdited=\"7\" lowestEdited=\"7\" "
               "rupBuild=\"27328\"/><workbookPr ") +
           (date1904 ? "date1904=\"1\" " : "") +
           "defaultThemeVersion=\"166925\"/>"
           "<mc:AlternateContent "
           "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">"
           "<mc:Choice Requires=\"x15\"><x15ac:absPath url=\"C:\\Users\\kaori\\Documents\\\" "
           "xmlns:x15ac=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/ac\"/>"
           "</mc:Choice></mc:AlternateContent>"
           "<xr:revisionPtr revIDLastSave=\"0\" "
           "documentId=\"13_ncr:1_{0D9C1E2A-5E0B-4C43-9B1A-6F7B9B0D7A11}\" "
           "xr6:coauthVersionLast=\"47\" xr6:coauthVersionMax=\"47\" "
           "xr10:uidLastSave=\"{00000000-0000-0000-0000-000000000000}\"/>"
           "<bookViews><workbookView xWindow=\"-120\" yWindow=\"-120\" windowWidth=\"29040\" "
           "windowHeight=\"15720\" xr2:uid=\"{5E4B1C1D-0F5B-4C8E-8E2C-0D6B3E0E6F10}\"/>"
           "</bookViews><sheets><sheet name=\"日付\" sheetId=\"1\" r:id=\"rId1\"/></sheets>"
           "<calcPr calcId=\"191029\"/><extLst>"
           "<ext uri=\"{140A7094-0E35-4892-8432-C4D2E57EDEB5}\" "
           "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/main\">"
           "<x15:workbookPr chartTrackingRefBase=\"1\"/></ext>"
           "<ext uri=\"{B58B0392-4F1F-4190-BB64-5DF3571DCE5F}\" "
           "xmlns:xcalcf=\"http://schemas.microsoft.com/office/spreadsheetml/2018/calcfeatures\">"
           "<xcalcf:calcFeatures><xcalcf:feature name=\"microsoft.com:RD\"/>"
           "</xcalcf:calcFeatures></ext></extLst></workbook>";
}

TEST(XlsxAppend, DateSystemOfWorkbooksAsExcelSavesThem) {
    // 2024-05-01 is serial 45413 in the 1900 system and 43951 in the 1904 system. The sheet
    // carries Excel's extension elements too: a markup-compatibility block and an extension
    // list beside the cells.
    for (bool date1904 : {false, true}) {
        SCOPED_TRACE(date1904 ? "1904" : "1900");
        test::TTestWorkbook book;
        std::string serial = date1904 ? "43951" : "45413";
        book.Sheets = {
            {"日付",
             "<row r=\"1\">" + InlineCell("A1", "日付") + InlineCell("B1", "時刻") +
                 "</row><row r=\"2\">" + NumberCell("A2", serial, 1) +
                 NumberCell("B2", serial + ".75", 2) + "</row>",
             "<mc:AlternateContent "
             "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\">"
             "<mc:Choice Requires=\"x14\"><controls/></mc:Choice></mc:AlternateContent>"
             "<extLst><ext uri=\"{CCE6A557-97BC-4b89-ADB6-D9C93CAAB3DF}\" "
             "xmlns:x14=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/main\">"
             "<x14:dataValidations count=\"0\" "
             "xmlns:xm=\"http://schemas.microsoft.com/office/excel/2006/main\"/></ext></extLst>",
             "A1:B2"}};
        std::vector<test::TZipPart> parts = test::WorkbookParts(book);
        for (auto& part : parts)
            if (part.Name == "xl/workbook.xml") part.Data = ExcelWorkbookPart(date1904);
        test::TempDir dir;
        auto path = dir.Write("dates.xlsx", test::BuildZip(parts));
        {
            test::TOpenTable open(path, u"日付$");
            EXPECT_EQ(open.Rows(), (std::vector<std::string>{"2024/05/01|2024/05/01 18:00:00"}));
            open.Connection.BeginTrans();
            open.Append({u"2024/05/01", u"1904/01/02 06:00"});
            open.Append({u"2028/02/29", u"2100/03/01 23:59:59"});
            open.Connection.CommitTrans();
        }
        test::TOpenTable reopened(path, u"日付$");
        EXPECT_EQ(reopened.Rows(), (std::vector<std::string>{"2024/05/01|2024/05/01 18:00:00",
                                                             "2024/05/01|1904/01/02 06:00:00",
                                                             "2028/02/29|2100/03/01 23:59:59"}));
        if (!test::HaveOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
        EXPECT_EQ(test::OpenpyxlRows(path, "日付"),
                  (std::vector<std::string>{"s:\"日付\"\ts:\"時刻\"",
                                            "d:2024-05-01T00:00:00\td:2024-05-01T18:00:00",
                                            "d:2024-05-01T00:00:00\td:1904-01-02T06:00:00",
                                            "d:2028-02-29T00:00:00\td:2100-03-01T23:59:59"}));
    }
}

}  // namespace
}  // namespace qm
