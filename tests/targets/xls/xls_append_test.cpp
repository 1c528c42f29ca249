// Appending rows to .xls workbooks: real workbooks (the shared fixtures, and workbooks that
// xlwt and LibreOffice make) take rows of every type, and xlrd, LibreOffice and our own reader
// read every old and new cell back; every stream but Workbook stays byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "targets/xls/biff_reader.h"
#include "targets/xls/cfb_file.h"
#include "test_util.h"
#include "text/unicode.h"
#include "xlrd_books.h"

namespace qm {
namespace {

// A connection and one open table, as the main window holds them.
struct TOpenXls {
    TConnection Connection;
    TTable Table{Connection};
    TOpenXls(const std::filesystem::path& path, const std::u16string& name) {
        Connection.SetConnectionString(GetConnectionString(test::U16(path)));
        std::vector<std::u16string> names;
        Connection.GetTableNames(names, false);
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

std::vector<std::u16string> TableNames(const std::filesystem::path& path) {
    TConnection connection;
    connection.SetConnectionString(GetConnectionString(test::U16(path)));
    std::vector<std::u16string> names;
    connection.GetTableNames(names, false);
    return names;
}

// Every stream of the compound file but Workbook, by its name and place in the directory.
std::map<std::string, std::string> OtherStreams(const std::filesystem::path& path) {
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
    xls::TCompoundFile file(source);
    std::map<std::string, std::string> streams;
    const auto& directory = file.Directory();
    std::map<std::u16string, int> seen;
    for (std::uint32_t i = 0; i < directory.size(); ++i) {
        if (directory[i].Type != xls::TEntryType::Stream || directory[i].Name == u"Workbook")
            continue;
        int n = seen[directory[i].Name]++;
        streams[Utf16ToUtf8(directory[i].Name) + "#" + std::to_string(n)] = file.ReadStream(i);
    }
    return streams;
}

// The bookkeeping of a worksheet's cell table: the INDEX positions point at DBCELL and
// DEFCOLWIDTH records; every block that holds rows from 'fromRow' on has 32 ROW records (but
// the last) and a DBCELL that points at its first ROW record and at each row's first cell;
// DIMENSIONS covers every cell. (Older blocks are as their producer wrote them: some leave
// rows out of their DBCELL.)
void CheckCellTable(const std::filesystem::path& path, std::size_t sheetIndex,
                    std::uint32_t fromRow) {
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(path));
    xls::TXlsWorkbook book(source);
    std::string_view stream = book.Stream();
    auto idAt = [&](std::uint32_t p) -> std::uint16_t {
        return p + 4 <= stream.size() ? ReadU16(stream.data() + p) : 0;
    };
    {
        const auto& sheet = book.Sheets()[sheetIndex];
        xls::TRecordReader reader(stream, sheet.Offset, book.FileName());
        xls::TRecord rec;
        reader.Next(rec);
        std::uint32_t rowEnd = 0, columnEnd = 0, dimRowEnd = 0, dimColumnEnd = 0;
        int depth = 0, blocks = 0, errors = 0;
        std::vector<std::uint32_t> indexed;
        std::vector<int> newBlockRows;
        while (reader.Next(rec) && errors < 5) {
            if (rec.Id == xls::record::kBof) ++depth;
            if (rec.Id == xls::record::kEof && depth-- == 0) break;
            if (depth > 0) continue;
            const char* b = rec.Body.data();
            if (rec.Id == xls::record::kIndex) {
                std::uint32_t defColWidth = ReadU32(b + 12);
                if (defColWidth) {
                    EXPECT_EQ(idAt(defColWidth), 0x0055) << ++errors;
                }
                for (std::size_t i = 16; i + 4 <= rec.Body.size(); i += 4)
                    indexed.push_back(ReadU32(b + i));
            } else if (rec.Id == xls::record::kDimensions) {
                dimRowEnd = ReadU32(b + 4);
                dimColumnEnd = ReadU16(b + 10);
            } else if (rec.Id == xls::record::kDbCell) {
                ++blocks;
                if (!indexed.empty()) {
                    EXPECT_NE(std::find(indexed.begin(), indexed.end(), rec.Offset), indexed.end())
                        << "DBCELL at " << rec.Offset << " is not in the INDEX" << ++errors;
                }
                std::uint32_t first = rec.Offset - ReadU32(b);
                int rows = 0;
                std::uint32_t lastRow = 0;
                while (idAt(first + 20 * rows) == xls::record::kRow) {
                    lastRow = ReadU16(stream.data() + first + 20 * rows + 4);
                    ++rows;
                }
                if (rows == 0 || lastRow < fromRow) continue;
                // Blocks that hold new rows are full, but for the last.
                newBlockRows.push_back(rows);
                EXPECT_LE(rows, 32) << ++errors;
                std::uint32_t at = first + 20;
                for (std::size_t i = 4; i + 2 <= rec.Body.size(); i += 2) {
                    at += ReadU16(b + i);
                    EXPECT_TRUE(xls::IsCellRecord(idAt(at)))
                        << "DBCELL at " << rec.Offset << " entry " << (i - 4) / 2 << ++errors;
                }
                EXPECT_EQ((rec.Body.size() - 4) / 2, static_cast<std::size_t>(rows));
            } else if (xls::IsCellRecord(rec.Id)) {
                rowEnd = std::max<std::uint32_t>(rowEnd, ReadU16(b) + 1u);
                columnEnd = std::max<std::uint32_t>(columnEnd, ReadU16(b + 2) + 1u);
            }
        }
        if (!indexed.empty()) {
            EXPECT_EQ(static_cast<std::size_t>(blocks), indexed.size());
        }
        for (std::size_t i = 0; i + 1 < newBlockRows.size(); ++i)
            EXPECT_EQ(newBlockRows[i], 32) << "block " << i;
        EXPECT_GE(dimRowEnd, rowEnd);
        EXPECT_GE(dimColumnEnd, columnEnd);
    }
}

// What a row of every field's type is written as, and what xlrd must read back.
struct TRowPlan {
    std::vector<std::u16string> Texts;
    std::vector<TXlrdCell> Expected;  // by field, kind 0 for none
};

TRowPlan PlanRow(const TTable& table, int variant, bool date1904) {
    TRowPlan plan;
    for (int f = 1; f <= table.FieldCount(); ++f) {
        const auto& field = const_cast<TTable&>(table).FieldByNumber(f);
        std::u16string text;
        TXlrdCell cell;
        switch (field.DataType()) {
            case ftBoolean:
                text = variant ? u"False" : u"True";
                cell = {'b', variant ? "0" : "1"};
                break;
            case ftDate:
            case ftDateTime:
            case ftTime:
                text = variant ? u"1999/12/31" : u"2024/01/31 12:00:00";
                cell = {'d', variant ? (date1904 ? "35063.0" : "36525.0")
                                     : (date1904 ? "43860.5" : "45322.5")};
                break;
            case ftString:
            case ftWideString:
            case ftMemo:
            case ftWideMemo:
            case ftFixedChar:
            case ftFixedWideChar:
                text = variant ? u"二行目\r\nline " + Utf8ToUtf16(std::to_string(f))
                               : u"新しい値 " + Utf8ToUtf16(std::to_string(f));
                cell = {'s', Utf16ToUtf8(text)};
                break;
            case ftSmallint:
            case ftInteger:
            case ftLargeint:
            case ftWord:
                text = variant ? u"-7" : u"123456";
                cell = {'n', variant ? "-7.0" : "123456.0"};
                break;
            default:  // floating, currency and decimal fields
                text = variant ? u"0.1" : u"12.5";
                cell = {'n', variant ? "0.1" : "12.5"};
                break;
        }
        plan.Texts.push_back(text);
        plan.Expected.push_back(cell);
    }
    return plan;
}

bool SameXlrdValue(const TXlrdCell& a, const TXlrdCell& b) {
    if (a.Kind != b.Kind) return false;
    if (a.Kind == 'n' || a.Kind == 'd') return std::stod(a.Value) == std::stod(b.Value);
    return a.Value == b.Value;
}

// SheetJS (npm xlsx) as a third reader, through sheetjs_dump.js.
const std::string kNode = "NODE_PATH='" QM_SOURCE_DIR "/scripts/npm/node_modules' node ";

bool HaveSheetJs() {
    return std::system((kNode + "-e 'require(\"xlsx\")' >/dev/null 2>&1").c_str()) == 0;
}

// Every cell xlrd reads, SheetJS reads alike (a number's date format may be judged apart).
void CompareWithSheetJs(const TXlrdBook& xlrd, const TXlrdBook& sheetJs) {
    EXPECT_EQ(sheetJs.Error, "");
    ASSERT_EQ(sheetJs.Sheets.size(), xlrd.Sheets.size());
    int differences = 0;
    for (std::size_t s = 0; s < xlrd.Sheets.size(); ++s) {
        for (const auto& [at, cell] : xlrd.Sheets[s].Cells) {
            if (cell.Kind == 's' && cell.Value.empty()) continue;
            auto found = sheetJs.Sheets[s].Cells.find(at);
            bool same = found != sheetJs.Sheets[s].Cells.end();
            if (same) {
                TXlrdCell theirs = found->second;
                if ((cell.Kind == 'n' || cell.Kind == 'd') &&
                    (theirs.Kind == 'n' || theirs.Kind == 'd'))
                    theirs.Kind = cell.Kind;
                same = SameXlrdValue(theirs, cell);
            }
            if (!same && ++differences <= 3)
                ADD_FAILURE() << "SheetJS differs at sheet " << s << " (" << at.first << ","
                              << at.second << ")";
        }
    }
}

// Two rows of every type and an empty row between them, appended to a table in one
// transaction, and what the workbook looked like before.
struct TAppended {
    std::filesystem::path Path;
    std::u16string Table;
    int Sheet = -1;
    std::vector<TRowPlan> Plans;
    std::int64_t OldCount = 0;
    std::map<std::string, std::string> Streams;
};

// False when the table has no fields to append to.
bool AppendRows(TAppended& job, bool date1904) {
    job.Streams = OtherStreams(job.Path);
    TOpenXls open(job.Path, job.Table);
    if (open.Table.FieldCount() == 0) return false;
    job.OldCount = open.Table.RecordCount();
    job.Plans = {PlanRow(open.Table, 0, date1904), PlanRow(open.Table, 1, date1904)};
    open.Connection.BeginTrans();
    open.Append(job.Plans[0].Texts);
    open.Append({});
    open.Append(job.Plans[1].Texts);
    open.Connection.CommitTrans();
    // The open table sees its new rows.
    EXPECT_EQ(open.Table.RecordCount(), job.OldCount + 3);
    return true;
}

// Checks with xlrd that every old cell of every sheet is unchanged and the new cells lie
// below everything, in the table's columns, with the right values and kinds; that the other
// streams kept their bytes; and that our reader agrees with xlrd. Returns the first new row
// (0-based), or -1.
int CheckAppended(const TAppended& job, const TXlrdBook& old, const TXlrdBook& now) {
    SCOPED_TRACE(job.Path.filename().string() + " " + Utf16ToUtf8(job.Table));
    EXPECT_EQ(OtherStreams(job.Path), job.Streams);
    EXPECT_EQ(now.Error, "");
    if (!now.Error.empty()) return -1;
    EXPECT_EQ(now.Sheets.size(), old.Sheets.size());
    int firstNew = -1;
    for (std::size_t s = 0; s < old.Sheets.size() && s < now.Sheets.size(); ++s) {
        SCOPED_TRACE(old.Sheets[s].Name);
        const auto& oldCells = old.Sheets[s].Cells;
        const auto& newCells = now.Sheets[s].Cells;
        int differences = 0;
        for (const auto& [at, cell] : oldCells) {
            auto found = newCells.find(at);
            if ((found == newCells.end() || !SameXlrdValue(found->second, cell)) &&
                ++differences <= 3)
                ADD_FAILURE() << "old cell (" << at.first << "," << at.second << ") changed";
        }
        std::map<std::uint32_t, std::vector<std::pair<std::uint32_t, TXlrdCell>>> added;
        for (const auto& [at, cell] : newCells)
            if (!oldCells.count(at)) added[at.first].push_back({at.second, cell});
        if (static_cast<int>(s) != job.Sheet) {
            EXPECT_TRUE(added.empty());
            continue;
        }
        std::uint32_t oldEnd = 0;
        for (const auto& [at, cell] : oldCells)
            oldEnd = std::max(oldEnd, at.first + 1);
        EXPECT_EQ(added.size(), 2u);
        if (added.size() != 2) continue;
        firstNew = static_cast<int>(added.begin()->first);
        CheckCellTable(job.Path, s, added.begin()->first);
        EXPECT_GE(added.begin()->first, oldEnd);
        EXPECT_EQ(std::next(added.begin())->first, added.begin()->first + 2);
        std::size_t p = 0;
        for (const auto& [row, cells] : added) {
            const TRowPlan& plan = job.Plans[p++];
            EXPECT_EQ(cells.size(), plan.Expected.size());
            if (cells.size() != plan.Expected.size()) continue;
            for (std::size_t i = 0; i < cells.size(); ++i)
                EXPECT_TRUE(SameXlrdValue(cells[i].second, plan.Expected[i]))
                    << "row " << row << " field " << i + 1 << ": xlrd " << cells[i].second.Kind
                    << ":" << cells[i].second.Value << " expected " << plan.Expected[i].Kind << ":"
                    << plan.Expected[i].Value;
        }
    }
    // Our own reader, opened afresh, agrees with xlrd about every cell of every sheet.
    auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(job.Path));
    xls::TXlsWorkbook book(source);
    int compared = 0;
    for (std::size_t s = 0; s < now.Sheets.size(); ++s)
        if (book.Sheets()[s].Worksheet())
            CompareCells(book, s, now.Sheets[s], now.Date1904, compared);
    TOpenXls reopened(job.Path, job.Table);
    EXPECT_EQ(reopened.Table.RecordCount(), job.OldCount + 3);
    return firstNew;
}

// Appends to each job's copy, then reads all of them with xlrd in one run.
void AppendAndCheckAll(std::vector<TAppended>& jobs,
                       const std::vector<std::filesystem::path>& originals) {
    std::vector<std::filesystem::path> unique = originals;
    std::sort(unique.begin(), unique.end());
    unique.erase(std::unique(unique.begin(), unique.end()), unique.end());
    auto before = RunXlrd(unique);
    std::vector<std::filesystem::path> copies;
    std::vector<TAppended*> done;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(jobs[i].Path.filename().string());
        const TXlrdBook& old = before[originals[i].filename().string()];
        if (!AppendRows(jobs[i], old.Date1904)) continue;
        copies.push_back(jobs[i].Path);
        done.push_back(&jobs[i]);
    }
    auto after = RunXlrd(copies);
    std::map<std::string, TXlrdBook> sheetJs, sheetJsBefore;
    const std::string sheetJsDump = kNode + "'" QM_SOURCE_DIR "/tests/targets/xls/sheetjs_dump.js'";
    if (HaveSheetJs()) {
        sheetJs = RunDumper(sheetJsDump, copies);
        sheetJsBefore = RunDumper(sheetJsDump, unique);
    } else {
        std::printf("SheetJS is not installed (npm xlsx): it does not check the results\n");
    }
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        if (std::find(done.begin(), done.end(), &jobs[i]) == done.end()) continue;
        std::string name = jobs[i].Path.filename().string();
        CheckAppended(jobs[i], before[originals[i].filename().string()], after[name]);
        // Only where SheetJS reads the original (it refuses some formulas of defined names).
        if (!sheetJs.empty() && sheetJsBefore[originals[i].filename().string()].Error.empty()) {
            SCOPED_TRACE(name);
            CompareWithSheetJs(after[name], sheetJs[name]);
        }
    }
    std::printf("appended to %zu of %zu tables\n", done.size(), jobs.size());
}

bool HaveLibreOffice() {
    return std::system("command -v soffice >/dev/null 2>&1") == 0;
}

// Runs LibreOffice headless on the files (one run saves its start-up): 'format' as for
// --convert-to, results in 'out'.
bool LibreOfficeConvert(const std::vector<std::filesystem::path>& files, const std::string& format,
                        const std::filesystem::path& out) {
    std::string command = test::SofficeCommand() + " --headless --convert-to '" + format +
                          "' --outdir '" + out.string() + "'";
    for (const auto& file : files)
        command += " '" + file.string() + "'";
    command += " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

// Makes a workbook with make_books.py.
bool MakeBook(const std::string& kind, const std::filesystem::path& path) {
    std::string command =
        "/usr/bin/python3 " QM_MAKE_BOOKS " " + kind + " '" + path.string() + "' >/dev/null 2>&1";
    return std::system(command.c_str()) == 0 && std::filesystem::exists(path);
}

const TXlrdName* FindName(const TXlrdBook& book, const std::string& name) {
    for (const TXlrdName& n : book.Names)
        if (n.Name == name) return &n;
    return nullptr;
}

std::vector<std::filesystem::path> Biff8Fixtures() {
    std::vector<std::filesystem::path> files;
    if (test::FixturesDir().empty()) return files;
    for (const auto& entry : std::filesystem::directory_iterator(test::FixturesDir() / "excel"))
        if (entry.path().extension() == ".xls") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(XlsAppend, EveryBiff8FixtureTakesRowsOfEveryType) {
    QM_REQUIRE_FIXTURES();
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    test::TempDir dir;
    std::vector<TAppended> jobs;
    std::vector<std::filesystem::path> originals;
    for (const auto& fixture : Biff8Fixtures()) {
        std::string file = fixture.filename().string();
        std::vector<std::u16string> names;
        try {
            names = TableNames(fixture);
        } catch (const Error&) {
            continue;  // encrypted and older formats: refused when opened
        }
        auto source = std::make_shared<xlsx::TFileByteSource>(test::U16(fixture));
        xls::TXlsWorkbook book(source);
        // The first worksheet, and the first named range in a copy of its own.
        for (std::size_t s = 0; s < book.Sheets().size(); ++s) {
            if (!book.Sheets()[s].Worksheet()) continue;
            TAppended job;
            job.Path = dir.Write(file, test::ReadBytes(fixture));
            job.Table = sheet::WorksheetTableName(book.Sheets()[s].Name);
            job.Sheet = static_cast<int>(s);
            jobs.push_back(std::move(job));
            originals.push_back(fixture);
            break;
        }
    }
    AppendAndCheckAll(jobs, originals);
    EXPECT_GT(jobs.size(), 10u);
}

// Workbooks as xlwt and LibreOffice write them (their record layouts differ from Excel's)
// take rows on a worksheet and on a named range; the named range and the sheet's AutoFilter
// grow with the rows, and LibreOffice reads the results.
TEST(XlsAppend, WorkbooksOfXlwtAndLibreOfficeTakeRows) {
    if (!HaveXlrd()) GTEST_SKIP() << "xlrd is not installed (python3-xlrd)";
    test::TempDir dir;
    std::vector<TAppended> jobs;
    std::vector<std::filesystem::path> originals;
    auto add = [&](const std::filesystem::path& original, const std::string& copyName,
                   const std::u16string& table, int sheetIndex) {
        TAppended job;
        job.Path = dir.Write(copyName, test::ReadBytes(original));
        job.Table = table;
        job.Sheet = sheetIndex;
        jobs.push_back(std::move(job));
        originals.push_back(original);
    };
    std::filesystem::create_directories(dir.Path() / "made");
    auto xlwtBook = dir.Path() / "made" / "xlwt.xls";
    if (MakeBook("xlwt", xlwtBook))
        add(xlwtBook, "xlwt-sheet.xls", u"台帳$", 0);
    else
        std::printf("xlwt is not installed (python3-xlwt): its workbook is not tested\n");
    auto xlsx = dir.Path() / "made" / "lo.xlsx";
    bool libreOffice = HaveLibreOffice() && MakeBook("openpyxl", xlsx) &&
                       LibreOfficeConvert({xlsx}, "xls", dir.Path() / "made");
    auto loBook = dir.Path() / "made" / "lo.xls";
    if (libreOffice) {
        add(loBook, "lo-sheet.xls", u"Data$", 0);
        add(loBook, "lo-named.xls", u"Stock", 0);
    } else {
        std::printf("LibreOffice or openpyxl is not installed: its workbook is not tested\n");
    }
    if (jobs.empty()) GTEST_SKIP() << "neither xlwt nor LibreOffice is installed";
    AppendAndCheckAll(jobs, originals);

    if (!libreOffice) return;
    // The AutoFilter grows with the sheet's rows; the named range only when it is the target.
    auto names = RunXlrd({dir.Path() / "lo-sheet.xls", dir.Path() / "lo-named.xls"});
    const TXlrdBook& sheetBook = names["lo-sheet.xls"];
    const TXlrdBook& namedBook = names["lo-named.xls"];
    for (const TXlrdBook* book : {&sheetBook, &namedBook}) {
        const TXlrdName* filter = FindName(*book, "_FilterDatabase");
        ASSERT_NE(filter, nullptr);
        EXPECT_EQ(filter->RowHi, 14);
    }
    ASSERT_NE(FindName(sheetBook, "Stock"), nullptr);
    EXPECT_EQ(FindName(sheetBook, "Stock")->RowHi, 11);
    ASSERT_NE(FindName(namedBook, "Stock"), nullptr);
    EXPECT_EQ(FindName(namedBook, "Stock")->RowHi, 14);
    TOpenXls named(dir.Path() / "lo-named.xls", u"Stock");
    EXPECT_EQ(named.Table.RecordCount(), 13);

    // LibreOffice converts every result without complaint and shows the new rows.
    std::vector<std::filesystem::path> results;
    for (const TAppended& job : jobs)
        results.push_back(job.Path);
    auto csv = dir.Path() / "csv";
    std::filesystem::create_directories(csv);
    ASSERT_TRUE(LibreOfficeConvert(
        results, "csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false",
        csv));
    for (const TAppended& job : jobs) {
        SCOPED_TRACE(job.Path.filename().string());
        std::string text = test::ReadBytes(csv / (job.Path.stem().string() + ".csv"));
        EXPECT_NE(text.find("新しい値 1"), std::string::npos) << text;
        EXPECT_NE(text.find("二行目\nline 1"), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace qm
