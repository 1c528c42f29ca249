// Reading workbooks through the connection/table layer: the table list, the fields and their
// types, the rows of the preview, and the refusals of files that are not readable workbooks.
#include <gtest/gtest.h>

#include "targets/xlsx/xlsx_engine.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

using test::InlineCell;
using test::NumberCell;

std::vector<std::u16string> TableNames(const std::filesystem::path& path) {
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(test::U16(path)));
    std::vector<std::u16string> names{u"stale"};
    connection.GetTableNames(names, false);
    return names;
}

TEST(XlsxTables, WorksheetsInOrderThenNamedRangesByName) {
    test::TTestWorkbook book;
    book.Sheets = {{"Sheet1", InlineCell("A1", "x")},
                   {"My Sheet", ""},
                   {"Q1.2024", ""},
                   {"売上", ""},
                   {"It's", ""}};
    book.DefinedNames =
        "<definedName name=\"zeta\">Sheet1!$A$1:$B$3</definedName>"
        "<definedName name=\"Alpha\">'My Sheet'!$C$2:$D$9</definedName>"
        "<definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" "
        "hidden=\"1\">Sheet1!$A$1:$B$3</definedName>"
        "<definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\">Sheet1!$A$1:$B$3</definedName>"
        "<definedName name=\"Local\" localSheetId=\"0\">Sheet1!$A$1</definedName>"
        "<definedName name=\"Formula\">SUM(Sheet1!$A$1:$A$3)</definedName>"
        "<definedName name=\"TwoAreas\">Sheet1!$A$1,Sheet1!$B$2</definedName>"
        "<definedName name=\"Broken\">#REF!</definedName>"
        "<definedName name=\"Secret\" hidden=\"1\">Sheet1!$A$1:$B$3</definedName>";
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    std::vector<std::u16string> expected = {u"Sheet1$",  u"'My Sheet$'", u"'Q1#2024$'",   u"売上$",
                                            u"'It''s$'", u"Alpha",       u"Sheet1$Local", u"zeta"};
    EXPECT_EQ(TableNames(path), expected);
    EXPECT_EQ(xlsx::WorksheetTableName(u"a-b"), u"'a-b$'");
}

TEST(XlsxFields, HeaderNamesAndGuessedTypes) {
    // B2 is the first cell with a value; column F has only a formatted blank; G's header is
    // blank; two headers repeat.
    std::string rows = "<row r=\"2\">" + InlineCell("B2", "Name") + NumberCell("C2", "2024") +
                       InlineCell("D2", "Name") + InlineCell("E2", "name") +
                       "<c r=\"F2\" s=\"1\"/>" + "</row>";
    for (int r = 3; r <= 12; ++r) {
        std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\">" + InlineCell("B" + n, "text" + n) +
                // C: numbers in the sampled rows 3..10, then text that must not count
                (r <= 10 ? NumberCell("C" + n, n + ".5") : InlineCell("C" + n, "late")) +
                // D: 4 currency, 4 dates: the tie goes to currency
                (r <= 6 ? NumberCell("D" + n, n, 3) : NumberCell("D" + n, "45000", 1)) +
                // E: booleans and one long text
                (r == 3 ? InlineCell("E" + n, std::string(300, 'x'))
                        : "<c r=\"E" + n + "\" t=\"b\"><v>1</v></c>") +
                "<c r=\"F" + n + "\" s=\"1\"/>" + (r == 4 ? NumberCell("G" + n, "1") : "") +
                "</row>";
    }
    test::TTestWorkbook book;
    book.Sheets = {{"S", rows, "", "B2:F12"}};
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    test::TOpenTable open(path, u"S$");
    std::vector<TAdoExcelField> expected = {{u"Name", ftWideString}, {u"2024", ftFloat},
                                            {u"Name1", ftBCD},       {u"name2", ftBoolean},
                                            {u"F5", ftWideString},   {u"F6", ftFloat}};
    EXPECT_EQ(GetFieldList(open.Table), expected);
    EXPECT_EQ(open.Table.RecordCount(), 10);
    auto rows10 = open.Rows();
    ASSERT_EQ(rows10.size(), 10u);
    EXPECT_EQ(rows10[0], "text3|3.5|3|" + std::string(300, 'x') + "||");
    EXPECT_EQ(rows10[9], "text12|late|2023/03/15|True||");
}

TEST(XlsxFields, ColumnsWithValuesOnlyFarBelowTheSampledRows) {
    // The header fills B1:E1; F's header is blank and only F15 holds a value, A only A20. G..I
    // hold a formatted blank, an empty shared string and an empty inline string: no values.
    test::TTestWorkbook book;
    book.SharedStrings = {"備考あり", ""};
    std::string rows = "<row r=\"1\">" + InlineCell("B1", "名前") + InlineCell("C1", "数量") +
                       InlineCell("D1", "単価") + InlineCell("E1", "区分") + "</row>";
    for (int r = 2; r <= 20; ++r) {
        std::string n = std::to_string(r);
        rows += "<row r=\"" + n + "\">" + (r == 20 ? NumberCell("A" + n, "7") : "") +
                InlineCell("B" + n, "品" + n) + NumberCell("C" + n, n) +
                NumberCell("D" + n, "1.5") + InlineCell("E" + n, "k") +
                (r == 15 ? "<c r=\"F15\" t=\"s\"><v>0</v></c>" : "") +
                (r == 17 ? "<c r=\"G17\" s=\"1\"/>" : "") +
                (r == 18 ? "<c r=\"H18\" t=\"s\"><v>1</v></c>" : "") +
                (r == 19 ? "<c r=\"I19\" t=\"inlineStr\"><is><t></t></is></c>" : "") + "</row>";
    }
    book.Sheets = {{"S", rows, "", "A1:I20"}};
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    test::TOpenTable open(path, u"S$");
    std::vector<TAdoExcelField> expected = {{u"F1", ftWideString},   {u"名前", ftWideString},
                                            {u"数量", ftFloat},      {u"単価", ftFloat},
                                            {u"区分", ftWideString}, {u"F6", ftWideString}};
    EXPECT_EQ(GetFieldList(open.Table), expected);
    auto all = open.Rows();
    ASSERT_EQ(all.size(), 19u);
    EXPECT_EQ(all[13], "|品15|15|1.5|k|備考あり");
    EXPECT_EQ(all[18], "7|品20|20|1.5|k|");

    // The same shape as openpyxl saves it: a blank header in E and one value in E15.
    if (!test::HaveOpenpyxl()) GTEST_SKIP() << "python3-openpyxl is not installed";
    auto made = dir.Path() / "openpyxl.xlsx";
    std::string script =
        "import openpyxl,sys\n"
        "wb=openpyxl.Workbook(); ws=wb.active; ws.title='S'\n"
        "ws.append(['a','b','c','d'])\n"
        "for r in range(2,21): ws.append([r,r,r,r])\n"
        "ws['E15']='late'\n"
        "wb.save(sys.argv[1])\n";
    ASSERT_EQ(
        std::system(("/usr/bin/python3 -c \"" + script + "\" '" + made.string() + "'").c_str()), 0);
    test::TOpenTable fromOpenpyxl(made, u"S$");
    auto fields = GetFieldList(fromOpenpyxl.Table);
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_EQ(fields[4].Name, u"F5");
    EXPECT_EQ(fromOpenpyxl.Rows()[13], "15|15|15|15|late");
}

TEST(XlsxRows, ValuesAsTheUserSeesThem) {
    test::TTestWorkbook book;
    book.SharedStrings = {"共有", "a &amp; b", "line_x000D_\nbreak"};
    std::string rows = "<row r=\"1\">" + InlineCell("A1", "Text") + InlineCell("B1", "Num") +
                       InlineCell("C1", "When") + InlineCell("D1", "Other") + "</row>";
    rows += "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c>" + NumberCell("B2", "1.25") +
            NumberCell("C2", "45322.5", 2) + "<c r=\"D2\" t=\"e\"><v>#N/A</v></c></row>";
    rows += "<row r=\"3\"><c r=\"A3\" t=\"s\"><v>1</v></c><c r=\"B3\"><f>1+1</f><v>2</v></c>" +
            NumberCell("C3", "0.75", 2) + "<c r=\"D3\" t=\"str\"><f>A1</f><v>Text</v></c></row>";
    // Row 4 is missing: an empty row between rows with values.
    rows += "<row r=\"5\"><c r=\"A5\" t=\"s\"><v>2</v></c>" + NumberCell("B5", "-1E-3") +
            NumberCell("C5", "1", 1) + "<c r=\"D5\" t=\"b\"><v>0</v></c></row>";
    book.Sheets = {{"S", rows}};
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    test::TOpenTable open(path, u"S$");
    std::vector<std::string> expected = {"共有|1.25|2024/01/31 12:00:00|#N/A",
                                         "a & b|2|18:00:00|Text", "|||",
                                         "line\r\nbreak|-0.001|1900/01/01|False"};
    EXPECT_EQ(open.Rows(), expected);
    // Reading backwards restarts the stream and gives the same row.
    std::vector<TValue> values;
    ASSERT_TRUE(open.Table.ReadRow(0, values));
    EXPECT_EQ(values[0], TValue(std::u16string(u"共有")));
    EXPECT_FALSE(open.Table.ReadRow(4, values));

    // The 1904 date system moves serials by 1462 days.
    book.Date1904 = true;
    auto path1904 = dir.Write("book1904.xlsx", test::BuildWorkbook(book));
    test::TOpenTable open1904(path1904, u"S$");
    EXPECT_EQ(open1904.Rows()[0], "共有|1.25|2028/02/01 12:00:00|#N/A");
}

TEST(XlsxOpen, FilesThatAreNoReadableWorkbook) {
    test::TempDir dir;
    test::TTestWorkbook good;
    good.Sheets = {{"S", "<row r=\"1\">" + InlineCell("A1", "h") + "</row>"}};
    std::string valid = test::BuildWorkbook(good);

    auto withPart = [&](const std::string& name, const std::string& data) {
        std::vector<test::TZipPart> parts = test::WorkbookParts(good);
        for (auto& part : parts)
            if (part.Name == name) part.Data = data;
        return test::BuildZip(parts);
    };
    std::string cfbEncrypted =
        std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(1000, '\0');
    for (char c : std::string("EncryptedPackage"))
        cfbEncrypted += std::string{c, '\0'};
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"not a zip", "PK\x03\x04 but nothing else follows", "壊れて"},
        {"truncated", valid.substr(0, valid.size() - 40), "壊れて"},
        {"no workbook",
         test::BuildZip({{"[Content_Types].xml", "<Types/>"}, {"docProps/app.xml", "<a/>"}}),
         "ブックの部品が見つかりません"},
        {"encrypted", cfbEncrypted, "暗号化"},
        {"broken XML", withPart("xl/workbook.xml", "<workbook><sheets><sheet name=\"S\""), "XML"},
        {"strict",
         withPart("xl/workbook.xml",
                  "<workbook "
                  "xmlns=\"http://purl.oclc.org/ooxml/spreadsheetml/main\"><sheets/></workbook>"),
         "Strict"},
        {"xlsb", test::BuildZip({{"xl/workbook.bin", "binary"}}), ".xlsb"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto path = dir.Write("bad.xlsx", c.bytes);
        std::string message = test::ErrorOf([&] { TableNames(path); });
        EXPECT_NE(message.find(c.message), std::string::npos) << message;
        EXPECT_NE(message.find("bad.xlsx"), std::string::npos) << message;
    }

    // Damage inside a sheet shows when the sheet is opened.
    const char* sheets[] = {
        "<worksheet><sheetData><row r=\"1048577\"/></sheetData></worksheet>",
        "<worksheet><sheetData><row r=\"1\"><c r=\"XFE1\"/></row></sheetData></worksheet>",
        "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"s\"><v>7</v></c></row></sheetData>"
        "</worksheet>",
        "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v>"};
    for (const char* sheet : sheets) {
        SCOPED_TRACE(sheet);
        auto path = dir.Write("bad.xlsx", withPart("xl/worksheets/sheet1.xml", sheet));
        std::string message = test::ErrorOf([&] { test::TOpenTable open(path, u"S$"); });
        EXPECT_NE(message.find("bad.xlsx"), std::string::npos) << message;
    }
}

TEST(XlsxOpen, UnknownTableNameIsAnError) {
    test::TTestWorkbook book;
    book.Sheets = {{"S", "<row r=\"1\">" + InlineCell("A1", "h") + "</row>"}};
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    std::string message = test::ErrorOf([&] { test::TOpenTable open(path, u"Nope$"); });
    EXPECT_NE(message.find("Nope$"), std::string::npos) << message;
    test::TOpenTable empty(path, u"S$");
    EXPECT_EQ(GetFieldList(empty.Table).size(), 1u);
    EXPECT_TRUE(empty.Rows().empty());
}

}  // namespace
}  // namespace qm
