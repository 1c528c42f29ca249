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

namespace qm {
namespace {

struct TXlrdCell {
    char Kind = 0;  // n d s b e
    std::string Value;
};

struct TXlrdSheet {
    std::string Name;
    std::map<std::pair<std::uint32_t, std::uint32_t>, TXlrdCell> Cells;  // (row, col), 0-based
};

struct TXlrdName {
    std::string Name;
    int Scope = -1, Sheet = -1;
    bool Hidden = false, BuiltIn = false;
    bool Single = false;  // the formula is one 3-D reference
};

struct TXlrdBook {
    std::string File;
    std::string Error;
    int Version = 0;
    bool Date1904 = false;
    std::vector<TXlrdSheet> Sheets;
    std::vector<TXlrdName> Names;
};

std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    std::string part;
    while (std::getline(in, part, '\t'))
        parts.push_back(part);
    if (!line.empty() && line.back() == '\t') parts.emplace_back();
    return parts;
}

bool HaveXlrd() {
    return std::system("/usr/bin/python3 -c 'import xlrd' >/dev/null 2>&1") == 0;
}

std::map<std::string, TXlrdBook> RunXlrd(const std::vector<std::filesystem::path>& files) {
    std::string command = "/usr/bin/python3 " QM_XLRD_DUMP;
    for (const auto& file : files)
        command += " '" + file.string() + "'";
    std::map<std::string, TXlrdBook> books;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[65536];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    ::pclose(pipe);
    std::stringstream lines(output);
    std::string line;
    TXlrdBook* book = nullptr;
    while (std::getline(lines, line)) {
        std::vector<std::string> p = SplitTabs(line);
        if (p.size() < 2) continue;
        if (p[0] == "F") {
            book = &books[Unescape(p[1])];
            book->File = Unescape(p[1]);
        } else if (!book) {
            continue;
        } else if (p[0] == "E") {
            book->Error = Unescape(p[1]);
        } else if (p[0] == "V") {
            book->Version = std::stoi(p[1]);
        } else if (p[0] == "D") {
            book->Date1904 = p[1] == "1";
        } else if (p[0] == "S" && p.size() >= 3) {
            book->Sheets.push_back({Unescape(p[2]), {}});
        } else if (p[0] == "C" && p.size() >= 5 && !book->Sheets.empty()) {
            book->Sheets.back().Cells[{std::stoul(p[1]), std::stoul(p[2])}] = {p[3][0],
                                                                               Unescape(p[4])};
        } else if (p[0] == "N" && p.size() >= 11) {
            book->Names.push_back({Unescape(p[1]), std::stoi(p[2]), std::stoi(p[5]), p[3] == "1",
                                   p[4] == "1", p[10] == "1"});
        }
    }
    return books;
}

std::u16string XlrdErrorText(int code) {
    switch (code) {
        case 0:
            return u"#NULL!";
        case 7:
            return u"#DIV/0!";
        case 15:
            return u"#VALUE!";
        case 23:
            return u"#REF!";
        case 29:
            return u"#NAME?";
        case 36:
            return u"#NUM!";
        case 42:
            return u"#N/A";
        default:
            return u"?";
    }
}

bool IsBlankXlrd(const TXlrdCell* cell) {
    return !cell || (cell->Kind == 's' && cell->Value.empty());
}

// "" when our value is what xlrd read, else both sides.
std::string Difference(const TValue& ours, const TXlrdCell* theirs, bool date1904) {
    std::string mine = Utf16ToUtf8(ValueToDisplayText(ours));
    std::string description =
        "ours [" + mine + "] xlrd [" +
        (theirs ? std::string(1, theirs->Kind) + ":" + theirs->Value : std::string("(none)")) + "]";
    if (IsNull(ours)) return theirs ? description : "";
    if (!theirs) return description;
    switch (theirs->Kind) {
        case 'n': {
            double number = std::stod(theirs->Value);
            if (const double* d = std::get_if<double>(&ours))
                return *d == number ? "" : description;
            if (const auto* c = std::get_if<TCurrency>(&ours))
                return c->Scaled == std::llround(number * 10000) ? "" : description;
            return description;
        }
        case 'd': {
            double serial = std::stod(theirs->Value);
            if (const auto* date = std::get_if<TDateTime>(&ours))
                return date->Days == sheet::SerialToDays(serial, date1904) ? "" : description;
            return description;
        }
        case 's': {
            const auto* text = std::get_if<std::u16string>(&ours);
            return text && *text == Utf8ToUtf16(theirs->Value) ? "" : description;
        }
        case 'b': {
            const bool* b = std::get_if<bool>(&ours);
            return b && *b == (theirs->Value == "1") ? "" : description;
        }
        case 'e': {
            const auto* text = std::get_if<std::u16string>(&ours);
            return text && *text == XlrdErrorText(std::stoi(theirs->Value)) ? "" : description;
        }
        default:
            return description;
    }
}

const TXlrdCell* Find(const TXlrdSheet& sheet, std::uint32_t row, std::uint32_t col) {
    auto found = sheet.Cells.find({row, col});
    return found == sheet.Cells.end() ? nullptr : &found->second;
}

// Every cell of one worksheet, read with the engine's sheet reader.
void CompareCells(const xls::TXlsWorkbook& book, std::size_t index, const TXlrdSheet& theirs,
                  bool date1904, int& compared) {
    xls::TXlsSheet sheet(book, index);
    std::uint32_t rows = sheet.RowEnd();
    for (const auto& [at, cell] : theirs.Cells)
        rows = std::max(rows, at.first + 1);
    std::vector<xls::TXlsCell> cells;
    int differences = 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        sheet.ReadRow(r, cells);
        std::map<std::uint32_t, const TValue*> ours;
        for (const auto& cell : cells)
            if (!IsNull(cell.Value)) ours[cell.Column] = &cell.Value;
        for (auto it = theirs.Cells.lower_bound({r, 0});
             it != theirs.Cells.end() && it->first.first == r; ++it)
            ours.emplace(it->first.second, nullptr);
        for (const auto& [col, value] : ours) {
            std::string difference =
                Difference(value ? *value : TValue{}, Find(theirs, r, col), date1904);
            ++compared;
            if (!difference.empty() && ++differences <= 5)
                ADD_FAILURE() << "cell (" << r << "," << col << "): " << difference;
        }
    }
}

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
