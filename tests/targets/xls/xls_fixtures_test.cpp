// Every .xls sample workbook of the shared fixtures, compared with xlrd (an independent
// reader): which files are refused, every cell of every worksheet, the table list, and the
// field names and values of each worksheet table's preview rows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "targets/connection.h"
#include "targets/sheet/sheet_table.h"
#include "targets/target_access.h"
#include "targets/xls/xls_sheet.h"
#include "targets/xls/xls_workbook.h"
#include "test_util.h"
#include "text/unicode.h"
#include "xlrd_books.h"

namespace qm {
namespace {

// The worksheet's table through the connection layer: field names from the header row and
// the values of the preview rows, where xlrd's cells say they must be.
void CompareTable(const std::filesystem::path& path, const std::u16string& tableName,
                  const TXlrdSheet& theirs, bool date1904) {
    SCOPED_TRACE(Utf16ToUtf8(tableName));
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(Utf8ToUtf16(path.string())));
    TTable table(connection);
    table.SetTableName(u"[" + tableName + u"]");
    table.Open();

    // The table starts at the first row with a value; its columns are those with a value in
    // any row from there on.
    std::uint32_t header = 0;
    bool found = false;
    for (const auto& [at, cell] : theirs.Cells) {
        if (!IsBlankXlrd(&cell)) {
            header = at.first;
            found = true;
            break;
        }
    }
    if (!found) {
        EXPECT_EQ(table.FieldCount(), 0);
        return;
    }
    std::uint32_t first = UINT32_MAX, last = 0;
    for (const auto& [at, cell] : theirs.Cells) {
        if (at.first < header || IsBlankXlrd(&cell)) continue;
        first = std::min(first, at.second);
        last = std::max(last, at.second);
    }
    ASSERT_EQ(table.FieldCount(), static_cast<int>(last - first + 1));
    std::vector<std::u16string> seen;
    for (std::uint32_t col = first; col <= last; ++col) {
        const TXlrdCell* cell = Find(theirs, header, col);
        std::u16string expected;
        if (IsBlankXlrd(cell))
            expected = u"F" + Utf8ToUtf16(std::to_string(col - first + 1));
        else if (cell->Kind == 's')
            expected = Utf8ToUtf16(cell->Value).substr(0, 64);
        else
            continue;  // a number or date shown as text: its display form is the layer's own
        for (char16_t& c : expected)
            if (c == u'.') c = u'#';
        bool repeated = false;
        for (const auto& name : seen)
            repeated = repeated || SameText(name, expected);
        seen.push_back(expected);
        if (repeated) continue;  // numbered to be unique
        EXPECT_EQ(Utf16ToUtf8(table.FieldByNumber(static_cast<int>(col - first + 1)).DisplayName()),
                  Utf16ToUtf8(expected));
    }
    std::vector<TValue> values;
    int differences = 0;
    for (std::int64_t i = 0; i < 50 && table.ReadRow(i, values); ++i) {
        std::uint32_t row = header + 1 + static_cast<std::uint32_t>(i);
        for (std::uint32_t col = first; col <= last; ++col) {
            std::string difference =
                Difference(values[col - first], Find(theirs, row, col), date1904);
            if (!difference.empty() && ++differences <= 5)
                ADD_FAILURE() << "row " << i << " field " << col - first + 1 << ": " << difference;
        }
    }
    // Every row xlrd has a value in is one of ours.
    std::uint32_t lastValue = header;
    for (const auto& [at, cell] : theirs.Cells)
        if (!IsBlankXlrd(&cell)) lastValue = std::max(lastValue, at.first);
    EXPECT_GE(table.RecordCount(), static_cast<std::int64_t>(lastValue - header));
}

TEST(XlsFixtures, EveryWorkbookMatchesXlrd) {
    QM_REQUIRE_FIXTURES();
    ASSERT_TRUE(HaveXlrd())
        << "xlrd is not installed (scripts/install-deps.sh installs python3-xlrd)";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(test::FixturesDir() / "excel"))
        if (entry.path().extension() == ".xls") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) GTEST_SKIP() << "no .xls fixtures";
    std::map<std::string, TXlrdBook> xlrd = RunXlrd(files);
    int workbooks = 0, cells = 0, tables = 0;
    for (const auto& path : files) {
        std::string file = path.filename().string();
        SCOPED_TRACE(file);
        ASSERT_TRUE(xlrd.count(file)) << "xlrd gave nothing";
        const TXlrdBook& theirs = xlrd[file];
        TConnection connection;
        connection.SetConnectionString(GetConnectionString(Utf8ToUtf16(path.string())));
        std::vector<std::u16string> names;
        std::string message;
        try {
            connection.GetTableNames(names, false);
        } catch (const Error& e) {
            message = e.what();
        }
        // What we refuse: encrypted workbooks (xlrd refuses them too) and the formats before
        // BIFF8, which xlrd reads but the engine does not.
        if (!theirs.Error.empty()) {
            EXPECT_NE(message.find("暗号化"), std::string::npos) << message;
            continue;
        }
        if (theirs.Version < 80) {
            EXPECT_NE(message.find("Excel 5.0/95"), std::string::npos) << message;
            continue;
        }
        ASSERT_EQ(message, "");
        ++workbooks;

        auto source = std::make_shared<xlsx::TFileByteSource>(Utf8ToUtf16(path.string()));
        xls::TXlsWorkbook book(source);
        EXPECT_EQ(book.Date1904(), theirs.Date1904);
        // Worksheet tables first, in tab order, named after xlrd's sheet names.
        std::vector<std::u16string> expected;
        for (const TXlrdSheet& sheet : theirs.Sheets) {
            std::u16string name = Utf8ToUtf16(sheet.Name);
            std::size_t index = 0;
            while (index < book.Sheets().size() && book.Sheets()[index].Name != name)
                ++index;
            ASSERT_LT(index, book.Sheets().size()) << sheet.Name;
            if (!book.Sheets()[index].Worksheet()) continue;
            expected.push_back(sheet::WorksheetTableName(name));
            SCOPED_TRACE(sheet.Name);
            CompareCells(book, index, sheet, theirs.Date1904, cells);
            CompareTable(path, expected.back(), sheet, theirs.Date1904);
            ++tables;
        }
        ASSERT_GE(names.size(), expected.size());
        EXPECT_EQ(std::vector<std::u16string>(names.begin(), names.begin() + expected.size()),
                  expected);
        // Named ranges: every visible name on one area of a worksheet is listed, and every
        // listed name is one of the workbook's names. xlrd also resolves intersections and
        // unions of areas to one area; the driver lists only names that are one reference.
        std::vector<std::u16string> named(names.begin() + expected.size(), names.end());
        for (const TXlrdName& name : theirs.Names) {
            if (name.Hidden || name.BuiltIn || name.Sheet < 0 || !name.Single) continue;
            std::u16string table = Utf8ToUtf16(name.Name);
            if (name.Scope >= 0)
                table = sheet::SheetNameTableName(
                    Utf8ToUtf16(theirs.Sheets[static_cast<std::size_t>(name.Scope)].Name), table);
            EXPECT_NE(std::find(named.begin(), named.end(), table), named.end()) << name.Name;
        }
        for (const auto& table : named) {
            bool known = false;
            for (const TXlrdName& name : theirs.Names)
                known = known || table.find(Utf8ToUtf16(name.Name)) != std::u16string::npos;
            EXPECT_TRUE(known) << Utf16ToUtf8(table);
        }
    }
    std::printf("compared with xlrd: %d workbooks, %d worksheet tables, %d cells\n", workbooks,
                tables, cells);
    EXPECT_GT(workbooks, 10);
}

}  // namespace
}  // namespace qm
