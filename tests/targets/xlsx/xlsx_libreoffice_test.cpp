// LibreOffice, the second independent reader, reads the appended rows with their values and
// types (numbers unformatted, dates as dates, booleans, text with its line breaks).
#include <gtest/gtest.h>

#include "libreoffice_csv.h"
#include "xlsx_builder.h"
#include "xlsx_test_util.h"

namespace qm {
namespace {

TEST(XlsxLibreOffice, ReadsAppendedRows) {
    ASSERT_TRUE(test::HaveLibreOffice())
        << "LibreOffice (soffice) is not installed (scripts/install-deps.sh installs it)";
    test::TTestWorkbook book;
    book.Sheets = {
        {"データ",
         "<row r=\"1\">" + test::InlineCell("A1", "名前") + test::InlineCell("B1", "数") +
             test::InlineCell("C1", "日") + test::InlineCell("D1", "可") + "</row><row r=\"2\">" +
             test::InlineCell("A2", "a") + test::NumberCell("B2", "1") +
             test::NumberCell("C2", "45000", 1) + "<c r=\"D2\" t=\"b\"><v>1</v></c></row>",
         "", "A1:D2"}};
    test::TempDir dir;
    auto path = dir.Write("book.xlsx", test::BuildWorkbook(book));
    {
        test::TOpenTable open(path, u"データ$");
        open.Connection.BeginTrans();
        open.Append({u"東京\r\n大阪", u"-1,234.5", u"2024/02/29 06:07:08", u"No"});
        open.Append({u"\"quoted\", comma", u"1e-3", u"1999-12-31", u"yes"});
        open.Connection.CommitTrans();
    }
    std::filesystem::path out = dir.Path() / "csv";
    ASSERT_TRUE(test::LibreOfficeToCsv({path}, out));
    std::string csv = test::ReadBytes(out / "book-データ.csv");
    // LibreOffice writes dates by their number format (built-in 14 is m/d/yyyy) and keeps a
    // line break inside a cell as one LF.
    EXPECT_EQ(csv,
              "名前,数,日,可\n"
              "a,1,03/15/2023,TRUE\n"
              "\"東京\n大阪\",-1234.5,02/29/2024 06:07:08,FALSE\n"
              "\"\"\"quoted\"\", comma\",0.001,12/31/1999,TRUE\n");
}

}  // namespace
}  // namespace qm
