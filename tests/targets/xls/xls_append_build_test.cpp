// Appending rows to workbooks the tests build record by record: styles and dates, strings
// long enough to cross CONTINUE records, the sheet's limits, named ranges, the compound file's
// sector sizes and DIFAT, and that a failing row, a cancel or a failing disk leaves the file
// byte for byte as it was.
#include <gtest/gtest.h>

#include <atomic>
#include <set>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "platform/yield.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "targets/xls/biff_reader.h"
#include "targets/xls/xls_append.h"
#include "targets/xls/xls_sheet.h"
#include "test_util.h"
#include "text/unicode.h"
#include "xlrd_books.h"
#include "xls_builder.h"

namespace qm {
namespace {

using namespace test;

struct TOpened {
    TConnection Connection;
    TTable Table{Connection};
    TOpened(const std::filesystem::path& path, const std::u16string& name) {
        Connection.SetConnectionString(GetConnectionString(U16(path)));
        Table.SetTableName(u"[" + name + u"]");
        Table.Open();
    }
    void Append(const std::vector<std::u16string>& texts) {
        Table.Insert();
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (!texts[i].empty())
                Table.FieldByNumber(static_cast<int>(i + 1)).AssignText(texts[i]);
        Table.Post();
    }
};

TXlrdBook Xlrd(const std::filesystem::path& path) {
    return RunXlrd({path}).begin()->second;
}

std::string Cell(const TXlrdBook& book, std::size_t sheet, std::uint32_t row, std::uint32_t col) {
    if (sheet >= book.Sheets.size()) return "(no sheet)";
    auto found = book.Sheets[sheet].Cells.find({row, col});
    if (found == book.Sheets[sheet].Cells.end()) return "(none)";
    return std::string(1, found->second.Kind) + ":" + found->second.Value;
}

// Header (名前, 日付, 額, 済) and one data row; XF 16 shows dates, XF 17 numbers with two
// decimals; a second and a third sheet follow.
TBiffWorkbook LedgerBook() {
    TBiffWorkbook book;
    book.XfFormats.assign(16, 0);
    book.XfFormats.insert(book.XfFormats.end(), {14, 4});
    book.Strings = {u"名前", u"日付", u"額", u"済", u"x", u"keep"};
    std::string cells;
    for (std::uint16_t c = 0; c < 4; ++c)
        cells += LabelSstCell(0, c, 15, c);
    cells += RowRecord(1) + LabelSstCell(1, 0, 15, 4) + NumberCell(1, 1, 16, 45000) +
             NumberCell(1, 2, 17, 1.5) + BoolErrCell(1, 3, 15, 0, false);
    book.Sheets = {
        {u"台帳", cells}, {u"Two", LabelSstCell(0, 0, 15, 5)}, {u"Three", NumberCell(3, 2, 15, 7)}};
    return book;
}

TEST(XlsAppendBuilt, StylesOfTheCellAboveDatesAndEveryTypeReadBack) {
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    TempDir dir;
    for (std::uint16_t major : {3, 4}) {
        // xlrd reads only 512-byte sectors: the 4,096-byte ones are read back by our reader,
        // which xlrd checks on the first.
        SCOPED_TRACE(major);
        auto path =
            dir.Write("book" + std::to_string(major) + ".xls", BuildXls(LedgerBook(), major));
        {
            TOpened open(path, u"台帳$");
            ASSERT_EQ(open.Table.FieldCount(), 4);
            open.Connection.BeginTrans();
            open.Append({u"りんご", u"2024/01/31 06:00:00", u"1234.5", u"True"});
            open.Append({u"改行\r\nあり", u"1900/03/01", u"0.1", u"False"});
            open.Append({u"", u"", u"-3", u""});
            open.Connection.CommitTrans();
        }
        TXlrdBook book;
        if (major == 3) {
            book = Xlrd(path);
        } else {
            // Our reader's view in xlrd's form.
            auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
            xls::TXlsWorkbook workbook(source);
            for (std::size_t s = 0; s < workbook.Sheets().size(); ++s) {
                xls::TXlsSheet sheet(workbook, s);
                book.Sheets.push_back({Utf16ToUtf8(workbook.Sheets()[s].Name), {}});
                std::vector<xls::TXlsCell> cells;
                for (std::uint32_t r = 0; r < sheet.RowEnd(); ++r) {
                    sheet.ReadRow(r, cells);
                    for (const auto& cell : cells) {
                        TXlrdCell& out = book.Sheets.back().Cells[{r, cell.Column}];
                        if (const auto* t = std::get_if<std::u16string>(&cell.Value))
                            out = {'s', Utf16ToUtf8(*t)};
                        else if (const auto* d = std::get_if<double>(&cell.Value))
                            out = {'n', FormatDouble(*d) + (*d == std::floor(*d) ? ".0" : "")};
                        else if (const auto* b = std::get_if<bool>(&cell.Value))
                            out = {'b', *b ? "1" : "0"};
                        else if (const auto* date = std::get_if<TDateTime>(&cell.Value))
                            out = {'d', FormatDouble(date->Days) +
                                            (date->Days == std::floor(date->Days) ? ".0" : "")};
                    }
                }
            }
        }
        ASSERT_EQ(book.Error, "");
        EXPECT_EQ(Cell(book, 0, 2, 0), "s:りんご");
        EXPECT_EQ(Cell(book, 0, 2, 1), "d:45322.25");
        EXPECT_EQ(Cell(book, 0, 2, 2), "n:1234.5");
        EXPECT_EQ(Cell(book, 0, 2, 3), "b:1");
        EXPECT_EQ(Cell(book, 0, 3, 0), "s:改行\r\nあり");
        EXPECT_EQ(Cell(book, 0, 3, 1), "d:61.0");
        EXPECT_EQ(Cell(book, 0, 3, 2), "n:0.1");
        EXPECT_EQ(Cell(book, 0, 3, 3), "b:0");
        EXPECT_EQ(Cell(book, 0, 4, 0), "(none)");  // an empty value leaves the cell out
        EXPECT_EQ(Cell(book, 0, 4, 2), "n:-3.0");
        EXPECT_EQ(Cell(book, 1, 0, 0), "s:keep");
        EXPECT_EQ(Cell(book, 2, 3, 2), "n:7.0");
        // Each new cell carries the XF of the cell above it.
        auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
        xls::TXlsWorkbook workbook(source);
        xls::TXlsSheet sheet(workbook, 0);
        std::vector<xls::TXlsCell> cells;
        sheet.ReadRow(2, cells);
        ASSERT_EQ(cells.size(), 4u);
        EXPECT_EQ(cells[0].Xf, 15);
        EXPECT_EQ(cells[1].Xf, 16);
        EXPECT_EQ(cells[2].Xf, 17);
        EXPECT_EQ(cells[3].Xf, 15);
    }
}

// A date goes under a cell whose XF shows no date: the workbook's own date XF is used, or a
// date XF is added when the workbook has none.
TEST(XlsAppendBuilt, DatesFindOrAddADateFormat) {
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    TempDir dir;
    for (bool hasDateXf : {true, false}) {
        SCOPED_TRACE(hasDateXf);
        TBiffWorkbook book;
        book.XfFormats.assign(16, 0);
        book.XfFormats.insert(book.XfFormats.end(),
                              {static_cast<std::uint16_t>(hasDateXf ? 22 : 2), 2});
        book.Date1904 = !hasDateXf;
        book.Strings = {u"when"};
        book.Sheets = {{u"S", LabelSstCell(0, 0, 15, 0) + NumberCell(1, 0, 17, 3)}};
        auto source =
            std::make_shared<xlsx::TFileByteSource>(U16(dir.Write("in.xls", BuildXls(book))));
        xls::TXlsWorkbook workbook(source);
        xls::TXlsAppender appender(workbook);
        xls::TAppendTarget target{u"S$", 0, -1, {}};
        std::vector<TFieldDef> fields(1);
        fields[0].Name = u"when";
        fields[0].DataType = ftDateTime;
        appender.AppendRow(target, {1}, fields, {TDateTime{45322.5}});
        std::string stream = appender.BuildStream([] {});
        auto path = dir.Write("out.xls", BuildCompoundFile({{u"Workbook", stream}}));
        TXlrdBook back = Xlrd(path);
        ASSERT_EQ(back.Error, "");
        EXPECT_EQ(Cell(back, 0, 2, 0), hasDateXf ? "d:45322.5" : "d:43860.5");
        EXPECT_EQ(Cell(back, 0, 1, 0), "n:3.0");
        auto again = std::make_shared<xlsx::TFileByteSource>(U16(path));
        xls::TXlsWorkbook reread(again);
        xls::TXlsSheet sheet(reread, 0);
        std::vector<xls::TXlsCell> cells;
        sheet.ReadRow(2, cells);
        ASSERT_EQ(cells.size(), 1u);
        EXPECT_EQ(cells[0].Xf, hasDateXf ? 16 : 18);
        EXPECT_EQ(cells[0].Value, TValue(TDateTime{45322.5}));
    }
}

// Long strings cross CONTINUE records, in the old SST (written with short records here) and
// among the new ones; xlrd and our reader read every character.
TEST(XlsAppendBuilt, LongStringsCrossContinueRecords) {
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    TBiffWorkbook book;
    book.SstLimit = 300;
    book.Strings = {u"text"};
    for (int i = 0; i < 40; ++i)
        book.Strings.push_back(std::u16string(100 + i * 7, i % 2 ? u'漢' : u'a') + u"end");
    std::string cells;
    for (std::uint16_t i = 0; i < book.Strings.size(); ++i)
        cells += LabelSstCell(i, 0, 15, i);
    book.Sheets = {{u"S", cells}};
    TempDir dir;
    auto path = dir.Write("long.xls", BuildXls(book));
    std::vector<std::u16string> texts = {
        std::u16string(32767, u'x'),
        std::u16string(20000, u'字'),
        u"ab" + std::u16string(9000, u'c') + std::u16string(9000, u'日'),
        u"",              // left out
        book.Strings[5],  // a string the table already holds
    };
    {
        TOpened open(path, u"S$");
        open.Connection.BeginTrans();
        for (const auto& text : texts)
            open.Append({text});
        // The field takes at most a cell's 32,767 characters.
        std::string message = ErrorOf([&] { open.Append({std::u16string(32768, u'y')}); });
        EXPECT_NE(message.find("32767"), std::string::npos) << message;
        open.Table.Cancel();
        open.Connection.CommitTrans();
    }
    TXlrdBook back = Xlrd(path);
    ASSERT_EQ(back.Error, "");
    for (std::uint32_t i = 1; i < book.Strings.size(); ++i)
        EXPECT_EQ(Cell(back, 0, i, 0), "s:" + Utf16ToUtf8(book.Strings[i])) << i;
    for (std::uint32_t i = 0; i < texts.size(); ++i)
        EXPECT_EQ(Cell(back, 0, 41 + i, 0),
                  texts[i].empty() ? "(none)" : "s:" + Utf16ToUtf8(texts[i]))
            << i;
    auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
    xls::TXlsWorkbook workbook(source);
    int compared = 0;
    CompareCells(workbook, 0, back.Sheets[0], false, compared);
    EXPECT_EQ(compared, 45);
    // The repeated string was not added again.
    EXPECT_EQ(workbook.SharedStringCount(), book.Strings.size() + 3);
}

// A sheet takes rows up to its 65,536th; the row beyond is refused, naming the limit, the
// sheet and the file, and nothing is written.
TEST(XlsAppendBuilt, RowsPastTheSheetLimitAreRefused) {
    TBiffWorkbook book;
    book.Strings = {u"h", u"v"};
    book.Sheets = {
        {u"Full", LabelSstCell(0, 0, 15, 0) + LabelSstCell(1, 0, 15, 1) + RowRecord(65533)}};
    TempDir dir;
    auto path = dir.Write("full.xls", BuildXls(book));
    const std::string original = ReadBytes(path);
    TOpened open(path, u"Full$");
    open.Connection.BeginTrans();
    open.Append({u"a"});
    open.Append({u"b"});
    std::string message = ErrorOf([&] { open.Append({u"c"}); });
    EXPECT_NE(message.find("65,536"), std::string::npos) << message;
    EXPECT_NE(message.find("Full"), std::string::npos) << message;
    EXPECT_NE(message.find("full.xls"), std::string::npos) << message;
    open.Table.Cancel();
    open.Connection.RollbackTrans();
    EXPECT_EQ(ReadBytes(path), original);
    // The two rows that fit are written.
    open.Connection.BeginTrans();
    open.Append({u"a"});
    open.Append({u"b"});
    open.Connection.CommitTrans();
    if (!HaveXlrd()) return;
    TXlrdBook back = Xlrd(path);
    EXPECT_EQ(Cell(back, 0, 65534, 0), "s:a");
    EXPECT_EQ(Cell(back, 0, 65535, 0), "s:b");
}

// The rows of each DBCELL of the first sheet, in stream order.
std::vector<std::size_t> BlockSizes(const std::filesystem::path& path) {
    auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
    xls::TXlsWorkbook workbook(source);
    xls::TRecordReader reader(workbook.Stream(), workbook.Sheets()[0].Offset, workbook.FileName());
    xls::TRecord rec;
    std::vector<std::size_t> sizes;
    while (reader.Next(rec) && rec.Id != xls::record::kEof)
        if (rec.Id == xls::record::kDbCell) sizes.push_back((rec.Body.size() - 4) / 2);
    return sizes;
}

// Rows go in blocks of 32 as Excel keeps them: the first new rows fill the sheet's last block
// when it has room.
TEST(XlsAppendBuilt, NewRowsFillTheLastBlockThenBlocksOf32) {
    TBiffWorkbook book;
    book.Strings = {u"n"};
    book.Sheets = {{u"S", LabelSstCell(0, 0, 15, 0)}};
    TempDir dir;
    auto path = dir.Write("blocks.xls", BuildXls(book));
    auto append = [&](int from, int count) {
        TOpened open(path, u"S$");
        open.Connection.BeginTrans();
        for (int r = from; r < from + count; ++r)
            open.Append({Utf8ToUtf16(std::to_string(r))});
        open.Connection.CommitTrans();
    };
    append(1, 40);
    EXPECT_EQ(BlockSizes(path), (std::vector<std::size_t>{32, 8}));
    append(41, 30);
    EXPECT_EQ(BlockSizes(path), (std::vector<std::size_t>{32, 32, 6}));
    append(71, 3);
    EXPECT_EQ(BlockSizes(path), (std::vector<std::size_t>{32, 32, 9}));
    if (!HaveXlrd()) return;
    TXlrdBook back = Xlrd(path);
    ASSERT_EQ(back.Error, "");
    for (std::uint32_t r = 1; r <= 73; ++r)
        EXPECT_EQ(Cell(back, 0, r, 0), "s:" + std::to_string(r)) << r;
    auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
    xls::TXlsWorkbook workbook(source);
    int compared = 0;
    CompareCells(workbook, 0, back.Sheets[0], false, compared);
    EXPECT_EQ(compared, 74);
}

// Other programs write DIMENSIONS records that leave cells out: the sheet's range still covers
// every cell, the new rows go below the lowest one, and the new DIMENSIONS covers them all.
TEST(XlsAppendBuilt, CellsOutsideTheDimensionsCount) {
    TBiffWorkbook book;
    book.Strings = {u"a", u"b", u"note"};
    std::string dimensions;
    PutU32(dimensions, 0);
    PutU32(dimensions, 2);  // rows 1-2
    PutU16(dimensions, 0);
    PutU16(dimensions, 2);  // columns A-B
    PutU16(dimensions, 0);
    book.Sheets = {{u"S",
                    LabelSstCell(0, 0, 15, 0) + LabelSstCell(0, 1, 15, 1) +
                        NumberCell(1, 0, 15, 1) + NumberCell(1, 1, 15, 2) +
                        LabelSstCell(1, 3, 15, 2) + NumberCell(5, 1, 15, 9),
                    0, 0, dimensions}};
    TempDir dir;
    auto path = dir.Write("dims.xls", BuildXls(book));
    {
        TOpened open(path, u"S$");
        EXPECT_EQ(open.Table.RecordCount(), 5);
        open.Connection.BeginTrans();
        open.Append({u"7", u"8"});
        open.Connection.CommitTrans();
    }
    auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
    xls::TXlsWorkbook workbook(source);
    xls::TXlsSheet sheet(workbook, 0);
    EXPECT_EQ(sheet.RowEnd(), 7u);
    std::vector<xls::TXlsCell> cells;
    sheet.ReadRow(1, cells);
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[2].Value, TValue(std::u16string(u"note")));
    sheet.ReadRow(6, cells);
    ASSERT_EQ(cells.size(), 2u);
    std::string_view stream = workbook.Stream();
    std::size_t at = workbook.Sheets()[0].Offset;
    at += 4 + ReadU16(stream.data() + at + 2);  // past the BOF
    ASSERT_EQ(ReadU16(stream.data() + at), 0x0200);
    EXPECT_EQ(ReadU32(stream.data() + at + 4), 0u);
    EXPECT_EQ(ReadU32(stream.data() + at + 8), 7u);
    EXPECT_EQ(ReadU16(stream.data() + at + 14), 4u);
    if (!HaveXlrd()) return;
    TXlrdBook back = Xlrd(path);
    EXPECT_EQ(Cell(back, 0, 1, 3), "s:note");
    EXPECT_EQ(Cell(back, 0, 6, 0), "n:7.0");
}

// A sheet whose records the writer cannot place, and a protected sheet, are refused before
// anything is written, with a message that names the file.
TEST(XlsAppendBuilt, SheetsThatCannotTakeRowsAreRefused) {
    std::string protect;
    PutU16(protect, 1);
    struct TCase {
        const char* name;
        std::string cells;
        const char* message;
    } cases[] = {
        {"twice.xls", Record(0x0200, std::string(14, '\0')), "DIMENSIONS"},
        {"protected.xls", Record(0x0012, protect), "保護"},
    };
    TempDir dir;
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        TBiffWorkbook book;
        book.Strings = {u"h"};
        book.Sheets = {{u"S", LabelSstCell(0, 0, 15, 0) + c.cells}};
        auto path = dir.Write(c.name, BuildXls(book));
        const std::string original = ReadBytes(path);
        TOpened open(path, u"S$");
        open.Connection.BeginTrans();
        std::string message = ErrorOf([&] { open.Append({u"x"}); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find(c.name), std::string::npos) << message;
        open.Table.Cancel();
        open.Connection.RollbackTrans();
        EXPECT_EQ(ReadBytes(path), original);
    }
}

// A named range grows with its rows; when the sheet holds rows below it, it is refused.
TEST(XlsAppendBuilt, NamedRangesGrowOrAreRefused) {
    TBiffWorkbook book;
    book.Strings = {u"k", u"v"};
    std::string supBook;
    PutU16(supBook, 1);
    PutU16(supBook, 0x0401);
    std::string externSheet;
    PutU16(externSheet, 1);
    PutU16(externSheet, 0);
    PutU16(externSheet, 0);
    PutU16(externSheet, 0);
    book.GlobalsExtra = Record(0x01AE, supBook) + Record(0x0017, externSheet) +
                        NameArea(u"Top", 0, 0, 0, 1, 0, 0) + NameArea(u"Whole", 0, 0, 0, 3, 0, 0);
    book.Sheets = {
        {u"S", LabelSstCell(0, 0, 15, 0) + LabelSstCell(1, 0, 15, 1) + LabelSstCell(3, 0, 15, 1)}};
    TempDir dir;
    auto path = dir.Write("named.xls", BuildXls(book));
    {
        TOpened top(path, u"Top");
        top.Connection.BeginTrans();
        std::string message = ErrorOf([&] { top.Append({u"x"}); });
        EXPECT_NE(message.find("名前付き範囲「Top」"), std::string::npos) << message;
        top.Table.Cancel();
        top.Connection.RollbackTrans();
    }
    {
        TOpened whole(path, u"Whole");
        whole.Connection.BeginTrans();
        whole.Append({u"x"});
        whole.Append({u"y"});
        whole.Connection.CommitTrans();
        EXPECT_EQ(whole.Table.RecordCount(), 5);
    }
    if (!HaveXlrd()) return;
    TXlrdBook back = Xlrd(path);
    ASSERT_EQ(back.Names.size(), 2u);
    EXPECT_EQ(back.Names[0].RowHi, 2);
    EXPECT_EQ(back.Names[1].RowHi, 6);
    EXPECT_EQ(Cell(back, 0, 5, 0), "s:y");
}

// A failing row keeps nothing; every failing write, flush or rename during the commit leaves
// the old file (or, once renamed, the whole new one), and no temporary file.
TEST(XlsAppendBuilt, FailuresLeaveTheFileUnchanged) {
    TempDir dir;
    auto path = dir.Write("book.xls", BuildXls(LedgerBook()));
    const std::string original = ReadBytes(path);
    {
        TOpened open(path, u"台帳$");
        open.Connection.BeginTrans();
        open.Append({u"ok", u"", u"1"});
        open.Table.Insert();
        std::string message = ErrorOf([&] { open.Table.FieldByNumber(3).AssignText(u"多い"); });
        EXPECT_NE(message.find("多い"), std::string::npos) << message;
        open.Table.Cancel();
        open.Connection.RollbackTrans();
        EXPECT_EQ(ReadBytes(path), original);
    }
    std::string committed;
    for (int kind = 0; kind < 3; ++kind) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "kind " << kind << " n " << n);
            dir.Write("book.xls", original);
            TOpened open(path, u"台帳$");
            open.Connection.BeginTrans();
            for (int r = 0; r < 300; ++r)
                open.Append({u"row " + Utf8ToUtf16(std::to_string(r)), u"", u"1"});
            TFileSystemFaults::Reset(kind == 0 ? n : 0, kind == 1 ? n : 0, kind == 2 ? n : 0);
            bool failed = ErrorOf([&] { open.Connection.CommitTrans(); }) != "(no error)";
            int done = kind == 0   ? TFileSystemFaults::Writes()
                       : kind == 1 ? TFileSystemFaults::Flushes()
                                   : TFileSystemFaults::Renames();
            TFileSystemFaults::Reset();
            std::string now = ReadBytes(path);
            if (failed) {
                EXPECT_EQ(now, original);
            } else {
                if (committed.empty()) committed = now;
                EXPECT_EQ(now, committed);
            }
            std::size_t files = 0;
            for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
                (void)entry, ++files;
            EXPECT_EQ(files, 1u);
            if (!failed && done < n) break;
            ASSERT_LT(n, 100);
        }
    }
    TOpened check(path, u"台帳$");
    EXPECT_EQ(check.Table.RecordCount(), 301);
}

// A process killed anywhere in the commit (at any write, flush or rename, and at a write that
// only half reached the disk) leaves the old workbook or the whole new one, never a mix; a
// plain failure at any of them leaves the old one and no temporary file; and the next open
// removes what a killed writer left beside the workbook.
TEST(XlsAppendBuilt, ACrashAnywhereInTheCommitLeavesOldOrNewFileAndTheNextOpenCleansUp) {
    TempDir dir;
    const auto path = dir.Write("book.xls", BuildXls(LedgerBook()));
    const std::string original = ReadBytes(path);
    // Long, distinct strings, so that the new file takes several buffered writes.
    constexpr int kRows = 12000;
    auto import = [&] {
        TOpened open(path, u"台帳$");
        open.Connection.BeginTrans();
        for (int r = 0; r < kRows; ++r)
            open.Append({u"r" + Utf8ToUtf16(std::to_string(r)) + u"-" + std::u16string(200, u'x'),
                         u"", u"1"});
        open.Connection.CommitTrans();
    };
    auto names = [&] {
        std::set<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
            found.insert(entry.path().filename().string());
        return found;
    };
    import();
    const std::string committed = ReadBytes(path);
    ASSERT_GT(committed.size(), 2u << 20);
    if (HaveXlrd()) {
        TXlrdBook back = Xlrd(path);
        ASSERT_EQ(back.Error, "");
        EXPECT_EQ(Cell(back, 0, 1, 0), "s:x");
        for (std::uint32_t r = 0; r < kRows; ++r) {
            ASSERT_EQ(Cell(back, 0, 2 + r, 0),
                      "s:r" + std::to_string(r) + "-" + std::string(200, 'x'));
            ASSERT_EQ(Cell(back, 0, 2 + r, 2), "n:1.0");
        }
        EXPECT_EQ(Cell(back, 0, 2 + kRows, 0), "(none)");
        EXPECT_EQ(Cell(back, 1, 0, 0), "s:keep");
    }

    using TPoint = TFileSystemFaults::TPoint;
    using TEffect = TFileSystemFaults::TEffect;
    const std::pair<TPoint, TEffect> kinds[] = {
        {TPoint::Write, TEffect::Fail},  {TPoint::Write, TEffect::Torn},
        {TPoint::Write, TEffect::Crash}, {TPoint::Write, TEffect::TornCrash},
        {TPoint::Flush, TEffect::Fail},  {TPoint::Flush, TEffect::Crash},
        {TPoint::Rename, TEffect::Fail}, {TPoint::Rename, TEffect::Crash}};
    int crashes = 0, failures = 0;
    for (const auto& [point, effect] : kinds) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(testing::Message() << "point " << static_cast<int>(point) << " effect "
                                            << static_cast<int>(effect) << " n " << n);
            ASSERT_LT(n, 50);
            dir.Write("book.xls", original);
            TFileSystemFaults::Plan(point, n, effect);
            bool crashed = false;
            std::string error = "(no error)";
            try {
                import();
            } catch (const TSimulatedCrash&) {
                crashed = true;
            } catch (const Error& e) {
                error = Utf16ToUtf8(e.Message());
            }
            TFileSystemFaults::Reset();
            const std::string now = ReadBytes(path);
            EXPECT_TRUE(now == original || now == committed);
            if (crashed) {
                ++crashes;
                EXPECT_GT(names().size(), 1u);  // the killed writer's leftovers
                { TOpened reopen(path, u"台帳$"); }
                EXPECT_EQ(names(), std::set<std::string>{"book.xls"});
                continue;
            }
            EXPECT_EQ(names(), std::set<std::string>{"book.xls"});
            if (error == "(no error)") {
                EXPECT_EQ(now, committed);
                break;
            }
            ++failures;
            EXPECT_NE(error.find("book.xls"), std::string::npos) << error;
            // A flush after the rename (the folder's) may fail with the new file in place.
            if (point != TPoint::Flush) {
                EXPECT_EQ(now, original);
            }
        }
    }
    EXPECT_GE(crashes, 8) << crashes;  // several writes, two flushes, one rename
    EXPECT_GE(failures, 8) << failures;
}

std::atomic<bool> gCommitCancel{false};
int gTurnsLeft = 0;
void CancelAtTurn() {
    if (--gTurnsLeft == 0) gCommitCancel.store(true);
}

// The commit gives the user interface turns while it writes; a cancel seen at any of them
// leaves the file as it was.
TEST(XlsAppendBuilt, CancelAtAnyTurnOfTheCommitLeavesTheFileUnchanged) {
    TempDir dir;
    auto path = dir.Write("book.xls", BuildXls(LedgerBook()));
    const std::string original = ReadBytes(path);
    TYieldHook previous = SetYieldHook(&CancelAtTurn);
    RaiseYieldsDue();
    int n = 1;
    for (;; ++n) {
        SCOPED_TRACE(testing::Message() << "cancel at turn " << n);
        TOpened open(path, u"台帳$");
        open.Connection.BeginTrans();
        for (int r = 0; r < 9000; ++r)
            open.Append({u"row " + Utf8ToUtf16(std::to_string(r)), u"", u"1"});
        gCommitCancel.store(false);
        gTurnsLeft = n;
        RaiseYieldsDue();
        const std::string error = ErrorOf([&] { open.Connection.CommitTrans(&gCommitCancel); });
        if (!gCommitCancel.load()) {
            EXPECT_EQ(error, "(no error)");
            break;
        }
        EXPECT_EQ(error, "キャンセルされました。");
        EXPECT_EQ(ReadBytes(path), original);
        ASSERT_LT(n, 100);
    }
    SetYieldHook(previous);
    EXPECT_GT(n, 3);
    TOpened check(path, u"台帳$");
    EXPECT_EQ(check.Table.RecordCount(), 9001);
}

// A workbook whose stream grows past what the header's 109 FAT sectors cover gets DIFAT
// sectors; xlrd reads it whole.
TEST(XlsAppendBuilt, AWorkbookGrownPastTheHeaderFatReadsBack) {
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    TBiffWorkbook book;
    book.Strings = {u"text"};
    std::string cells = LabelSstCell(0, 0, 15, 0);
    for (std::uint16_t i = 1; i <= 1000; ++i) {
        book.Strings.push_back(Utf8ToUtf16(std::to_string(i)) + std::u16string(6800, u'a'));
        cells += LabelSstCell(i, 0, 15, i);
    }
    book.Sheets = {{u"Big", cells}, {u"After", NumberCell(0, 0, 15, 5)}};
    TempDir dir;
    std::string bytes = BuildXls(book);
    ASSERT_LT(bytes.size(), 109u * 128 * 512);
    auto path = dir.Write("big.xls", bytes);
    {
        TOpened open(path, u"Big$");
        open.Connection.BeginTrans();
        for (int r = 0; r < 60; ++r)
            open.Append({Utf8ToUtf16(std::to_string(r)) + std::u16string(4000, u'字')});
        open.Connection.CommitTrans();
    }
    auto source = std::make_shared<xlsx::TFileByteSource>(U16(path));
    xls::TCompoundFile file(source);
    EXPECT_GT(file.FatSectors().size(), 109u);
    EXPECT_FALSE(file.DifatSectors().empty());
    TXlrdBook back = Xlrd(path);
    ASSERT_EQ(back.Error, "");
    EXPECT_EQ(Cell(back, 0, 1000, 0), "s:1000" + std::string(6800, 'a'));
    EXPECT_EQ(Cell(back, 0, 1060, 0), "s:59" + Utf16ToUtf8(std::u16string(4000, u'字')));
    EXPECT_EQ(Cell(back, 1, 0, 0), "n:5.0");
}

}  // namespace
}  // namespace qm
