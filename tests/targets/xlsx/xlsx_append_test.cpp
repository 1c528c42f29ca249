// Appending rows: what the commit writes (checked by our reader and by openpyxl), what it
// leaves alone, and that a failure or a roll-back leaves the workbook byte for byte as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>

#include "platform/file_system.h"
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

}  // namespace
}  // namespace qm
