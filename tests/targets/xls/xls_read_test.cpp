// The .xls engine through the connection/table layer, on workbooks the tests build: every cell
// record kind, shared strings split across CONTINUE records, dates and currency by format,
// the table list, refusals of what it cannot read, and damaged files.
#include <gtest/gtest.h>

#include <random>

#include "platform/error.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"
#include "xls_builder.h"

namespace qm {
namespace {

using namespace test;

struct TOpened {
    TConnection Connection;
    TTable Table{Connection};

    TOpened(const std::filesystem::path& path, const std::u16string& name) {
        Connection.SetConnectionString(GetConnectionString(Utf8ToUtf16(path.string())));
        Table.SetTableName(u"[" + name + u"]");
        Table.Open();
    }

    std::vector<std::string> Fields() {
        std::vector<std::string> fields;
        for (int i = 1; i <= Table.FieldCount(); ++i) {
            TField& field = Table.FieldByNumber(i);
            fields.push_back(Utf16ToUtf8(field.DisplayName()) + ":" +
                             std::to_string(static_cast<int>(field.DataType())));
        }
        return fields;
    }

    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        std::vector<TValue> values;
        for (std::int64_t i = 0; Table.ReadRow(i, values); ++i) {
            std::string line;
            for (std::size_t f = 0; f < values.size(); ++f)
                line += (f ? "|" : "") + Utf16ToUtf8(ValueToDisplayText(values[f]));
            rows.push_back(line);
        }
        return rows;
    }
};

std::vector<std::u16string> TableNames(const std::filesystem::path& path) {
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(Utf8ToUtf16(path.string())));
    std::vector<std::u16string> names;
    connection.GetTableNames(names, false);
    return names;
}

std::uint32_t RkInteger(std::int32_t value) {
    return (static_cast<std::uint32_t>(value) << 2) | 2;
}

// A sheet with every kind of cell below a header row that starts at B2.
TBiffWorkbook EveryCellKind() {
    TBiffWorkbook book;
    // XF 16: date (built-in 14), 17: custom date format, 18: currency (built-in 7), 19: text.
    book.Formats = {{164, u"yyyy\"年\"m\"月\"d\"日\""}};
    book.XfFormats.assign(16, 0);
    book.XfFormats.insert(book.XfFormats.end(), {14, 164, 7, 49});
    std::u16string longJapanese;
    for (int i = 0; i < 3000; ++i)
        longJapanese += static_cast<char16_t>(u'あ' + i % 80);
    std::u16string mixed = std::u16string(5000, u'x') + u"漢字" + std::u16string(2000, u'y');
    book.Strings = {u"名前", u"数", u"日付", u"金額", u"真偽", u"式", longJapanese, mixed};
    std::string cells;
    cells += RowRecord(1);
    for (std::uint16_t c = 0; c < 6; ++c)
        cells += LabelSstCell(1, static_cast<std::uint16_t>(c + 1), 15, c);
    // Row 3: plain values.
    cells += LabelCell(2, 1, 15, u"ラベル");
    cells += NumberCell(2, 2, 15, 1.25);
    cells += NumberCell(2, 3, 16, 45322.5);  // 2024-01-31 12:00
    cells += NumberCell(2, 4, 18, 1234.5678);
    cells += BoolErrCell(2, 5, 15, 1, false);
    cells += FormulaNumber(2, 6, 15, 42);
    // Row 4: RK forms and shared strings split over CONTINUE records.
    cells += LabelSstCell(3, 1, 15, 6);
    cells += MulRkCells(3, 2, {{15, RkInteger(-7)}, {17, RkInteger(45323)}, {18, 12345 << 2 | 3}});
    cells += BoolErrCell(3, 5, 15, 0, false);
    cells += FormulaSpecial(3, 6, 15, 0, 0) + StringRecord(u"結果");
    // Row 5: errors, boolean and empty formula results, blanks.
    cells += LabelSstCell(4, 1, 15, 7);
    cells += RkCell(4, 2, 15, 0x3FF00000 | 1);  // 1.0 / 100 as a double RK
    cells += BlankCell(4, 3, 16);
    cells += BoolErrCell(4, 4, 15, 0x07, true);
    cells += FormulaSpecial(4, 5, 15, 1, 1);
    cells += FormulaSpecial(4, 6, 15, 2, 0x2A);
    // Row 6: only formatted blanks, then row 8 has one value far right of the fields' sample.
    cells += MulBlankCells(5, 1, 6, 16);
    cells += RowRecord(6);
    cells += FormulaSpecial(7, 6, 15, 3, 0);
    cells += NumberCell(7, 2, 15, 8);
    book.Sheets = {{u"Data", cells}};
    return book;
}

TEST(XlsRead, EveryCellKindReadsAsForXlsx) {
    TempDir dir;
    auto path = dir.Write("book.xls", BuildXls(EveryCellKind()));
    TOpened opened(path, u"Data$");
    EXPECT_EQ(opened.Fields(), (std::vector<std::string>{"名前:39", "数:6", "日付:11", "金額:8",
                                                         "真偽:5", "式:24"}));
    std::vector<std::string> rows = opened.Rows();
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], "ラベル|1.25|2024/01/31 12:00:00|1234.5678|True|42");
    std::string long8 = rows[1].substr(0, rows[1].find('|'));
    EXPECT_EQ(Utf8ToUtf16(long8).size(), 3000u);
    EXPECT_EQ(rows[1].substr(long8.size()), "|-7|2024/02/01|123.45|False|結果");
    std::u16string mixed = Utf8ToUtf16(rows[2].substr(0, rows[2].find('|')));
    EXPECT_EQ(mixed, std::u16string(5000, u'x') + u"漢字" + std::u16string(2000, u'y'));
    EXPECT_EQ(rows[2].substr(rows[2].find('|')), "|0.01||#DIV/0!|True|#N/A");
    EXPECT_EQ(rows[3], "|||||");
    EXPECT_EQ(rows[4], "|||||");  // a row with only a ROW record
    EXPECT_EQ(rows[5], "|8||||");
}

TEST(XlsRead, SharedStringsAcrossContinueRecords) {
    // Strings split at every possible point of a small record limit, with the width changing
    // at the split both ways.
    TBiffWorkbook book;
    book.SstLimit = 40;
    book.Strings = {u"見出し"};
    std::string cells = LabelSstCell(0, 0, 15, 0);
    for (int i = 0; i < 30; ++i) {
        std::u16string text;
        for (int k = 0; k < i; ++k)
            text += static_cast<char16_t>(k % 3 == 0 ? u'字' : u'a' + k % 26);
        if (i % 2) text = u"ascii only " + std::u16string(static_cast<std::size_t>(i), u'z');
        book.Strings.push_back(text);
        cells += LabelSstCell(static_cast<std::uint16_t>(i + 1), 0, 15,
                              static_cast<std::uint32_t>(i + 1));
    }
    book.Sheets = {{u"S", cells}};
    TempDir dir;
    auto path = dir.Write("sst.xls", BuildXls(book));
    TOpened opened(path, u"S$");
    std::vector<std::string> rows = opened.Rows();
    ASSERT_EQ(rows.size(), 30u);
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(rows[static_cast<std::size_t>(i)],
                  Utf16ToUtf8(book.Strings[static_cast<std::size_t>(i + 1)]))
            << i;
}

TEST(XlsRead, DatesFollowTheWorkbookDateSystem) {
    for (bool date1904 : {false, true}) {
        SCOPED_TRACE(date1904);
        TBiffWorkbook book;
        book.Date1904 = date1904;
        book.XfFormats.assign(16, 0);
        book.XfFormats.push_back(14);
        book.Strings = {u"日"};
        book.Sheets = {{u"S", LabelSstCell(0, 0, 15, 0) + NumberCell(1, 0, 16, 1) +
                                  NumberCell(2, 0, 16, 60) + NumberCell(3, 0, 16, 61)}};
        TempDir dir;
        TOpened opened(dir.Write("d.xls", BuildXls(book)), u"S$");
        if (date1904)
            EXPECT_EQ(opened.Rows(),
                      (std::vector<std::string>{"1904/01/02", "1904/03/01", "1904/03/02"}));
        else  // serial 60 is Excel's 1900-02-29, which did not exist
            EXPECT_EQ(opened.Rows(),
                      (std::vector<std::string>{"1900/01/01", "1900/03/01", "1900/03/01"}));
    }
}

TEST(XlsRead, TablesAreSheetsThenNamedAreas) {
    TBiffWorkbook book;
    book.Strings = {u"a"};
    std::string cells = LabelSstCell(0, 0, 15, 0) + NumberCell(1, 0, 15, 1);
    book.Sheets = {{u"Sheet1", cells},    {u"My Sheet", cells}, {u"Q1.2024", cells},
                   {u"Hidden", cells, 1}, {u"Chart", "", 0, 2}, {u"O'Neil", cells}};
    // SUPBOOK for this workbook, EXTERNSHEET entries 0 -> sheet 0, 1 -> sheet 1, 2 -> chart.
    std::string supBook;
    PutU16(supBook, 6);
    PutU16(supBook, 0x0401);
    std::string extern3;
    PutU16(extern3, 3);
    for (std::uint16_t sheet : {0, 1, 4}) {
        PutU16(extern3, 0);
        PutU16(extern3, sheet);
        PutU16(extern3, sheet);
    }
    book.GlobalsExtra =
        Record(0x01AE, supBook) + Record(0x0017, extern3) + NameArea(u"zeta", 0, 0, 0, 1, 0, 0) +
        NameArea(u"Alpha", 0, 1, 0, 1, 0, 0) + NameArea(u"Local", 2, 1, 0, 1, 0, 0) +
        NameArea(u"secret", 0, 0, 0, 1, 0, 0, true) +
        NameArea(std::u16string(1, u'\x06'), 1, 0, 0, 1, 0, 0, false, true) +
        NameArea(u"onchart", 0, 2, 0, 1, 0, 0) + NameArea(u"elsewhere", 0, 9, 0, 1, 0, 0);
    TempDir dir;
    auto path = dir.Write("t.xls", BuildXls(book));
    std::vector<std::u16string> expected = {u"Sheet1$", u"'My Sheet$'", u"'Q1#2024$'",
                                            u"Hidden$", u"'O''Neil$'",  u"'My Sheet$Local'",
                                            u"Alpha",   u"zeta"};
    EXPECT_EQ(TableNames(path), expected);
    TOpened named(path, u"Alpha");
    EXPECT_EQ(named.Fields(), std::vector<std::string>{"a:6"});
    EXPECT_EQ(named.Rows(), std::vector<std::string>{"1"});
    EXPECT_NE(ErrorOf([&] { TOpened missing(path, u"Nope$"); }).find("Nope$"), std::string::npos);
}

TEST(XlsRead, EmptySheetAndSheetWithoutValues) {
    TBiffWorkbook book;
    book.Sheets = {{u"Empty", ""}, {u"Blanks", MulBlankCells(0, 0, 3, 15) + RowRecord(5)}};
    TempDir dir;
    auto path = dir.Write("e.xls", BuildXls(book));
    for (const char16_t* name : {u"Empty$", u"Blanks$"}) {
        TOpened opened(path, name);
        EXPECT_EQ(opened.Table.FieldCount(), 0);
        EXPECT_TRUE(opened.Rows().empty());
    }
}

// A column whose header and sampled rows are empty is still a field when a row further down
// holds a value in it, whichever cell record holds it and whatever DIMENSIONS says; blank
// cells and empty text below make no field.
TEST(XlsRead, EveryColumnHoldingAValueIsAField) {
    // A-D named, E's header a formatted blank, eight rows of values in A-D; then the case's
    // records in row 15 (0-based 14), below the rows that guess the types.
    auto sheetWith = [](const std::string& late) {
        std::string cells;
        for (std::uint16_t c = 0; c < 4; ++c)
            cells += LabelSstCell(0, c, 15, c);
        cells += BlankCell(0, 4, 15);
        for (std::uint16_t r = 1; r <= 9; ++r)
            cells += RowRecord(r) + NumberCell(r, 0, 15, r) + LabelSstCell(r, 1, 15, 4);
        return cells + RowRecord(14) + NumberCell(14, 0, 15, 14) + late;
    };
    std::string formulaText = FormulaSpecial(14, 4, 15, 0, 0) + StringRecord(u"calc");
    std::string formulaEmpty = FormulaSpecial(14, 4, 15, 0, 0) + StringRecord(u"");
    struct Case {
        const char* name;
        std::string late;
        const char* lateValue;  // E15 as read; nullptr: E is no field
    } cases[] = {
        {"text", LabelSstCell(14, 4, 15, 5), "late"},
        {"empty text", LabelSstCell(14, 4, 15, 6), nullptr},
        {"blank", BlankCell(14, 4, 15), nullptr},
        {"blanks", MulBlankCells(14, 3, 4, 15), nullptr},
        {"number", NumberCell(14, 4, 15, 2.5), "2.5"},
        {"rk", RkCell(14, 4, 15, (7u << 2) | 2), "7"},
        {"mulrk",
         MulRkCells(14, 2, {{15, (1u << 2) | 2}, {15, (2u << 2) | 2}, {15, (3u << 2) | 2}}), "3"},
        {"label", LabelCell(14, 4, 15, u"ラベル"), "ラベル"},
        {"empty label", LabelCell(14, 4, 15, u""), nullptr},
        {"boolean", BoolErrCell(14, 4, 15, 1, false), "True"},
        {"error", BoolErrCell(14, 4, 15, 0x07, true), "#DIV/0!"},
        {"formula text", formulaText, "calc"},
        {"formula empty text", formulaEmpty, nullptr},
        {"formula number", FormulaNumber(14, 4, 15, 4), "4"},
    };
    // DIMENSIONS as Excel writes it (rows 1-15, columns A-E) and a stale one (rows 1-10,
    // columns A-D) as other programs leave it.
    std::string exact, stale;
    PutU32(exact, 0), PutU32(exact, 15), PutU16(exact, 0), PutU16(exact, 5), PutU16(exact, 0);
    PutU32(stale, 0), PutU32(stale, 10), PutU16(stale, 0), PutU16(stale, 4), PutU16(stale, 0);
    TempDir dir;
    for (const Case& c : cases) {
        for (const std::string* dimensions : {&exact, &stale}) {
            SCOPED_TRACE(testing::Message() << c.name << (dimensions == &stale ? " stale" : ""));
            TBiffWorkbook book;
            book.Strings = {u"a", u"b", u"c", u"d", u"x", u"late", u""};
            book.Sheets = {{u"S", sheetWith(c.late), 0, 0, *dimensions}};
            auto path = dir.Write("late.xls", BuildXls(book));
            TOpened opened(path, u"S$");
            std::vector<std::string> fields = opened.Fields();
            EXPECT_EQ(fields.size(), c.lateValue ? 5u : 4u);
            if (fields.size() != (c.lateValue ? 5u : 4u)) continue;
            EXPECT_EQ(fields[0].substr(0, 2), "a:");
            std::vector<std::string> rows = opened.Rows();
            ASSERT_EQ(rows.size(), 14u);
            if (!c.lateValue) continue;
            EXPECT_EQ(fields[4].substr(0, 3), "F5:");
            EXPECT_EQ(rows[13].substr(rows[13].rfind('|') + 1), c.lateValue) << rows[13];
            EXPECT_EQ(rows[0], "1|x|||");
        }
    }
}

TEST(XlsRead, RefusesWhatItCannotRead) {
    TBiffWorkbook good;
    good.Strings = {u"a"};
    good.Sheets = {{u"S", LabelSstCell(0, 0, 15, 0)}};
    TBiffWorkbook biff5 = good;
    biff5.Version = 0x0500;
    biff5.Strings.clear();
    biff5.Sheets = {{u"S", ""}};
    TBiffWorkbook encrypted = good;
    std::string filePass;
    PutU16(filePass, 1);
    PutU16(filePass, 1);
    filePass += std::string(48, '\0');
    encrypted.GlobalsExtra = Record(0x002F, filePass);
    std::string bareBiff4 = Record(0x0409, std::string(6, '\0')) + Record(0x000A, "");
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"book5.xls", BuildCompoundFile({{u"Book", BuildWorkbookStream(biff5)}}), "Excel 5.0/95"},
        {"vers5.xls", BuildXls(biff5), "Excel 5.0/95"},
        {"old4.xls", bareBiff4, "Excel 5.0/95"},
        {"enc.xls", BuildXls(encrypted), "暗号化"},
        {"doc.xls", BuildCompoundFile({{u"WordDocument", std::string(5000, 'w')}}), "Workbook"},
        {"text.xls", "just text, not a workbook", "Excel ブックではない"},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir.Write(c.name, c.bytes);
        std::string message = ErrorOf([&] { TableNames(path); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find(c.name), std::string::npos) << message;
    }
}

TEST(XlsRead, DamagedWorkbooksGiveErrorsNotCrashes) {
    // Every truncation and a spread of byte changes either reads or gives an Error; the
    // sanitizer build catches any read outside the data.
    std::string good = BuildXls(EveryCellKind());
    TempDir dir;
    std::mt19937 random(12345);
    int errors = 0, readable = 0;
    auto attempt = [&](const std::string& bytes) {
        auto path = dir.Write("damaged.xls", bytes);
        std::string message = ErrorOf([&] {
            for (const auto& name : TableNames(path)) {
                TOpened opened(path, name);
                opened.Rows();
            }
        });
        (message == "(no error)" ? readable : errors)++;
    };
    for (std::size_t size = 0; size < good.size(); size += 97)
        attempt(good.substr(0, size));
    // Changes anywhere: header, allocation tables, directory, records.
    for (int i = 0; i < 400; ++i) {
        std::string bytes = good;
        for (int k = 0; k < 4; ++k)
            bytes[random() % bytes.size()] = static_cast<char>(random());
        attempt(bytes);
    }
    EXPECT_GT(errors, 0);
    EXPECT_GT(readable, 0);
}

}  // namespace
}  // namespace qm
