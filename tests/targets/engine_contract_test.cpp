// The promises of engine.h, held against every engine alike: the table list, the fields and
// their types, rows read lazily in bounded memory, refusals whose message names the file, the
// command-line tool's view of the same file, and, for the engines that write, the transaction
// promises and a read-back of every written row by the format's independent reader.
//
// Each engine is one TEngineKind below: a sample file the tests build (the same logical table
// wherever the format allows), what it must show, a large table for lazy reading, and the
// independent reader (openpyxl, xlrd, mdb-reader) that prints rows in one shared notation.
// The kinds run over the EngineRead and EngineCommandLine suites; the sample files of the
// shared fixtures folder run over EngineFixture.
//
// An engine that learns to write joins the EngineWrite suite with one line: add its kind to
// kWriters at the end of this file (e.g. `&kXls`). The write cases make their rows from the
// sample table's field types (WriteRows), so no engine needs rows of its own.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "jet/jet_sample_db.h"
#include "platform/error.h"
#include "targets/engine.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"
#include "xls/xls_builder.h"
#include "xlsx/xlsx_builder.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using TRows = std::vector<std::string>;

// ---- the shared row notation (that of openpyxl_rows.py) ----

std::string JsonText(const std::u16string& text) {
    std::string out = "\"";
    for (char c : Utf16ToUtf8(text)) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// As Python's repr of a float for the values the tests use (no exponents).
std::string NumberText(double value) {
    char buffer[64];
    auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    std::string text(buffer, end);
    if (text.find_first_of(".e") == std::string::npos) text += ".0";
    return "n:" + text;
}

std::string Notation(const TValue& value) {
    if (IsNull(value)) return "~";
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "b:True" : "b:False";
    if (const auto* i = std::get_if<std::int64_t>(&value))
        return NumberText(static_cast<double>(*i));
    if (const auto* d = std::get_if<double>(&value)) return NumberText(*d);
    if (const auto* c = std::get_if<TCurrency>(&value))
        return NumberText(static_cast<double>(c->Scaled) / 10000.0);
    if (const auto* t = std::get_if<TDateTime>(&value)) {
        TDateParts p;
        if (!DecodeDateTime(*t, p)) return "d:?";
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "d:%04d-%02d-%02dT%02d:%02d:%02d", p.Year, p.Month,
                      p.Day, p.Hour, p.Minute, p.Second);
        return buffer;
    }
    if (const auto* s = std::get_if<std::u16string>(&value)) return "s:" + JsonText(*s);
    return "?";
}

std::string NotationRow(const std::vector<TValue>& values) {
    std::string line;
    for (std::size_t i = 0; i < values.size(); ++i)
        line += (i ? "\t" : "") + Notation(values[i]);
    return line;
}

// ---- running the independent readers ----

bool Have(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

TRows RunLines(const std::string& command) {
    TRows lines;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {"cannot run: " + command};
    std::string all;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        all.append(buffer, n);
    const int status = ::pclose(pipe);
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (status != 0) lines.insert(lines.begin(), "the reader failed: " + command);
    return lines;
}

// Quoted for the shell.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The data rows (the header row left out) of a worksheet as a Python reader's script prints
// them; a missing module is a failure, since the dependency script installs it.
TRows SheetRows(const char* script, const char* module, const char* package, const fs::path& file,
                const std::string& sheet) {
    if (!Have(std::string("/usr/bin/python3 -c 'import ") + module + "'"))
        return {std::string(package) + " is not installed (scripts/install-deps.sh installs it)"};
    TRows rows = RunLines(std::string("/usr/bin/python3 ") + script + " " + Quoted(file.string()) +
                          " " + Quoted(sheet));
    if (!rows.empty()) rows.erase(rows.begin());
    return rows;
}

TRows OpenpyxlRows(const fs::path& file, const std::string& sheet) {
    return SheetRows(QM_OPENPYXL_ROWS, "openpyxl", "python3-openpyxl", file, sheet);
}

TRows XlrdRows(const fs::path& file, const std::string& sheet) {
    return SheetRows(QM_XLRD_ROWS, "xlrd", "python3-xlrd", file, sheet);
}

TRows MdbReaderRows(const fs::path& file, const std::string& table) {
    if (!Have("node --version") ||
        !Have("test -d '" QM_SOURCE_DIR "/scripts/npm/node_modules/mdb-reader'"))
        return {"node or mdb-reader is not installed (scripts/install-deps.sh installs them)"};
    return RunLines("NODE_PATH='" QM_SOURCE_DIR
                    "/scripts/npm/node_modules' node " QM_MDB_READER_ROWS " " +
                    Quoted(file.string()) + " " + Quoted(table));
}

// ---- the engines ----

// A table large enough that holding all its rows decoded would take several times the bound
// the lazy-reading check allows; the first field of row i holds the number i.
struct TBigTable {
    std::string Bytes;
    std::u16string Table;
    std::int64_t Rows = 0;
};

struct TEngineKind {
    const char* Name;
    const char* Extension;
    std::string (*Sample)();
    std::vector<std::u16string> Tables;  // as listed, system tables left out
    std::u16string Table;                // the sample table the checks read and write
    std::string ReaderTable;             // the same table as the independent reader names it
    std::vector<std::pair<std::u16string, TFieldType>> Fields;
    TRows Rows;  // the sample table's rows in the shared notation
    TBigTable (*Big)();
    TRows (*IndependentRows)(const fs::path& file, const std::string& table);
    // What quillomat-cli prints for the sample: the table argument as typed in a shell, and
    // the output of tables, fields, rows --json and rows --limit 1.
    std::string CliTable, CliTables, CliFields, CliRowsJson, CliFirstRow;
};

// The workbook sample: a sheet named with a space (listed quoted) holding a header, a row of
// every cell kind and a row with one number, and an empty second sheet.
const std::vector<std::pair<std::u16string, TFieldType>> kSheetFields = {{u"名前", ftWideString},
                                                                         {u"数", ftFloat},
                                                                         {u"日", ftDateTime},
                                                                         {u"金", ftBCD},
                                                                         {u"可", ftBoolean}};
const TRows kSheetRows = {"s:\"a\\\"b\"\tn:1.5\td:2024-01-31T12:00:00\tn:12.3\tb:True",
                          "~\tn:2.0\t~\t~\t~"};
const char* const kSheetFieldsCli =
    "名前\t24\tテキスト型\n数\t6\t倍精度浮動小数点数型\n日\t11\t日付時刻型\n金\t8\t通貨型\n"
    "可\t5\tブール値型\n";
const char* const kSheetRowsJson =
    "{\"fields\": [\"名前\", \"数\", \"日\", \"金\", \"可\"], \"rows\": [[\"a\\\"b\", 1.5, "
    "\"2024-01-31T12:00:00\", \"12.3\", true], [null, 2, null, null, null]]}\n";
const char* const kSheetFirstRow = "a\"b\t1.5\t2024/01/31 12:00:00\t12.3\tTrue\n";

std::string XlsxSample() {
    using test::InlineCell;
    using test::NumberCell;
    test::TTestWorkbook book;
    book.Sheets = {{"My Sheet",
                    "<row r=\"1\">" + InlineCell("A1", "名前") + InlineCell("B1", "数") +
                        InlineCell("C1", "日") + InlineCell("D1", "金") + InlineCell("E1", "可") +
                        "</row><row r=\"2\">" + InlineCell("A2", "a\"b") + NumberCell("B2", "1.5") +
                        NumberCell("C2", "45322.5", 2) + NumberCell("D2", "12.3", 3) +
                        "<c r=\"E2\" t=\"b\"><v>1</v></c></row><row r=\"3\">" +
                        NumberCell("B3", "2") + "</row>"},
                   {"Two"}};
    return test::BuildWorkbook(book);
}

TBigTable XlsxBig() {
    constexpr int kRows = 200000;
    std::string rows = "<row r=\"1\">" + test::InlineCell("A1", "n") +
                       test::InlineCell("B1", "text") + test::InlineCell("C1", "half") + "</row>";
    rows.reserve(kRows * 110u);
    for (int i = 0; i < kRows; ++i) {
        const std::string r = std::to_string(i + 2);
        rows += "<row r=\"" + r + "\">" + test::NumberCell("A" + r, std::to_string(i)) +
                test::InlineCell("B" + r, "row " + std::to_string(i)) +
                test::NumberCell("C" + r, std::to_string(i / 2.0)) + "</row>";
    }
    test::TTestWorkbook book;
    book.Sheets = {{"Big", rows}};
    return {test::BuildWorkbook(book), u"Big$", kRows};
}

std::string XlsSample() {
    using namespace test;
    TBiffWorkbook book;
    book.XfFormats.assign(16, 0);
    book.XfFormats.insert(book.XfFormats.end(), {22, 7});  // XF 16: date and time, 17: currency
    book.Strings = {u"名前", u"数", u"日", u"金", u"可", u"a\"b"};
    std::string cells;
    for (std::uint16_t c = 0; c < 5; ++c)
        cells += LabelSstCell(0, c, 15, c);
    cells += LabelSstCell(1, 0, 15, 5) + NumberCell(1, 1, 15, 1.5) + NumberCell(1, 2, 16, 45322.5) +
             NumberCell(1, 3, 17, 12.3) + BoolErrCell(1, 4, 15, 1, false) +
             RkCell(2, 1, 15, 2 << 2 | 2);
    book.Sheets = {{u"My Sheet", cells}, {u"Two", ""}};
    return BuildXls(book);
}

TBigTable XlsBig() {
    using namespace test;
    constexpr int kRows = 65000;  // the format's limit is 65,536 rows
    TBiffWorkbook book;
    book.XfFormats.assign(16, 0);
    book.Strings = {u"n"};
    std::string cells = LabelSstCell(0, 0, 15, 0);
    for (int c = 1; c < 16; ++c)
        cells += NumberCell(0, static_cast<std::uint16_t>(c), 15, c);  // numbers as field names
    for (int i = 0; i < kRows; ++i) {
        std::vector<std::pair<std::uint16_t, std::uint32_t>> rk;
        for (int c = 0; c < 16; ++c)
            rk.emplace_back(15, static_cast<std::uint32_t>(i + c) << 2 | 2);  // integer RK
        cells += MulRkCells(static_cast<std::uint16_t>(i + 1), 0, rk);
    }
    book.Sheets = {{u"Big", cells}};
    return {BuildXls(book), u"Big$", kRows};
}

// Dates from 2024-01-31 12:00: mdb-reader counts days before 1899-12-30 otherwise than Access.
std::string AccessSample() {
    return jet::sample::SampleDatabase(3, 45322.5);
}

TBigTable AccessBig() {
    return {jet::sample::SampleDatabase(100000), u"商品", 100000};
}

const TEngineKind kXlsx = {
    "xlsx",          ".xlsx",        &XlsxSample,         {u"'My Sheet$'", u"Two$"},
    u"'My Sheet$'",  "My Sheet",     kSheetFields,        kSheetRows,
    &XlsxBig,        &OpenpyxlRows,  "\"'My Sheet\\$'\"", "'My Sheet$'\nTwo$\n",
    kSheetFieldsCli, kSheetRowsJson, kSheetFirstRow,
};

const TEngineKind kXls = {
    "xls",           ".xls",         &XlsSample,          {u"'My Sheet$'", u"Two$"},
    u"'My Sheet$'",  "My Sheet",     kSheetFields,        kSheetRows,
    &XlsBig,         &XlrdRows,      "\"'My Sheet\\$'\"", "'My Sheet$'\nTwo$\n",
    kSheetFieldsCli, kSheetRowsJson, kSheetFirstRow,
};

const TEngineKind kAccess = {
    "access",
    ".mdb",
    &AccessSample,
    {u"Empty", u"商品"},
    u"商品",
    "商品",
    {{u"ID", ftInteger},
     {u"名前", ftWideString},
     {u"価格", ftBCD},
     {u"数量", ftSmallint},
     {u"比率", ftFloat},
     {u"日付", ftDateTime},
     {u"済", ftBoolean},
     {u"区分", ftWord},
     {u"大きな数", ftLargeint},
     {u"単精度", ftFloat}},
    {"n:0.0\ts:\"品目A\"\tn:0.0\tn:0.0\tn:0.0\td:2024-01-31T12:00:00\tb:True\tn:0.0\t"
     "n:1099511627776.0\tn:1.5",
     "n:1.0\t~\tn:1.25\tn:-1.0\tn:0.25\td:2024-02-01T12:00:00\tb:False\tn:1.0\t"
     "n:1099511627776.0\tn:1.5",
     "n:2.0\ts:\"品目C\"\tn:2.5\tn:-2.0\tn:0.5\td:2024-02-02T12:00:00\tb:True\tn:2.0\t"
     "n:1099511627776.0\tn:1.5"},
    &AccessBig,
    &MdbReaderRows,
    "商品",
    "Empty\n商品\n",
    "ID\t3\t数値型\n名前\t24\tテキスト型\n価格\t8\t通貨型\n数量\t2\t数値型\n比率\t6\t倍精度浮動小数"
    "点"
    "数型\n日付\t11\t日付時刻型\n済\t5\tブール値型\n区分\t4\tftWord\n大きな数\t25\tftLargeint\n単精"
    "度\t6\t"
    "倍精度浮動小数点数型\n",
    "{\"fields\": [\"ID\", \"名前\", \"価格\", \"数量\", \"比率\", \"日付\", \"済\", \"区分\", "
    "\"大きな数\", \"単精度\"], \"rows\": [[0, \"品目A\", \"0\", 0, 0, \"2024-01-31T12:00:00\", "
    "true, 0, 1099511627776, 1.5], [1, null, \"1.25\", -1, 0.25, \"2024-02-01T12:00:00\", false, "
    "1, 1099511627776, 1.5], [2, \"品目C\", \"2.5\", -2, 0.5, \"2024-02-02T12:00:00\", true, 2, "
    "1099511627776, 1.5]]}\n",
    "0\t品目A\t0\t0\t0\t2024/01/31 12:00:00\tTrue\t0\t1099511627776\t1.5\n",
};

std::string KindName(const testing::TestParamInfo<const TEngineKind*>& info) {
    return info.param->Name;
}

// ---- helpers over the engine interface ----

std::u16string ConnectionFor(const fs::path& file) {
    return GetConnectionString(test::U16(file));
}

TRows ReadAllRows(TEngineTable& table) {
    TRows rows;
    std::vector<TValue> values;
    for (std::int64_t i = 0; table.ReadRow(i, values); ++i) {
        EXPECT_EQ(values.size(), table.Fields().size()) << "row " << i;
        rows.push_back(NotationRow(values));
    }
    return rows;
}

TRows ReadFile(const fs::path& file, std::u16string_view table) {
    auto engine = OpenEngine(ConnectionFor(file));
    auto open = engine->OpenTable(table);
    return ReadAllRows(*open);
}

std::int64_t StatusKiB(const char* key) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key, 0) == 0) return std::stoll(line.substr(std::strlen(key) + 1));
    return -1;
}

// AddressSanitizer keeps freed memory in quarantine and adds its shadow, so resident memory
// says nothing about the engine there; its build checks the rows alone.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuresMemory = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMeasuresMemory = false;
#else
constexpr bool kMeasuresMemory = true;
#endif
#else
constexpr bool kMeasuresMemory = true;
#endif

// How far the resident memory rose above its level at the start while `action` ran (Linux:
// the peak is reset first, and memory freed earlier is handed back so it cannot hide growth).
std::int64_t PeakGrowthBytes(const std::function<void()>& action) {
    ::malloc_trim(0);
    std::ofstream("/proc/self/clear_refs") << "5";
    const std::int64_t start = StatusKiB("VmRSS:");
    if (StatusKiB("VmHWM:") > start + 1024) ADD_FAILURE() << "the peak could not be reset";
    action();
    return (StatusKiB("VmHWM:") - start) * 1024;
}

// The message of the Error the action throws, or "(no error)".
std::string ErrorOf(const std::function<void()>& action) {
    return test::ErrorOf(action);
}

// ---- reading: every engine ----

class EngineRead : public testing::TestWithParam<const TEngineKind*> {};

TEST_P(EngineRead, ListsTablesAndFieldsWithTheirTypes) {
    const TEngineKind& kind = *GetParam();
    test::TempDir dir;
    const fs::path file = dir.Write(std::string("sample") + kind.Extension, kind.Sample());
    auto engine = OpenEngine(ConnectionFor(file));
    std::vector<std::u16string> names;
    for (const TTableEntry& entry : engine->ListTables())
        if (!entry.IsSystem) names.push_back(entry.Name);
    EXPECT_EQ(names, kind.Tables);

    auto table = engine->OpenTable(kind.Table);
    std::vector<std::pair<std::u16string, TFieldType>> fields;
    for (const TFieldDef& field : table->Fields())
        fields.emplace_back(field.Name, field.DataType);
    EXPECT_EQ(fields, kind.Fields);
}

TEST_P(EngineRead, RowsReadByOurEngineAndByTheIndependentReaderAlike) {
    const TEngineKind& kind = *GetParam();
    test::TempDir dir;
    const fs::path file = dir.Write(std::string("sample") + kind.Extension, kind.Sample());
    EXPECT_EQ(ReadFile(file, kind.Table), kind.Rows);
    // The same rows through the reader the write checks trust: a disagreement here is a fault
    // of the engine or of the reader's adapter, found before any write relies on it.
    EXPECT_EQ(kind.IndependentRows(file, kind.ReaderTable), kind.Rows);
}

TEST_P(EngineRead, RowsAreReadLazilyInAnyOrderInBoundedMemory) {
    const TEngineKind& kind = *GetParam();
    test::TempDir dir;
    const TBigTable big = kind.Big();
    const fs::path file = dir.Write(std::string("big") + kind.Extension, big.Bytes);
    const std::int64_t last = big.Rows - 1;
    std::unique_ptr<TEngine> engine;
    std::unique_ptr<TEngineTable> table;
    // Opening may hold the file (mapped or read whole, a copy or two while it is taken apart),
    // not every row decoded.
    const std::int64_t opening = PeakGrowthBytes([&] {
        engine = OpenEngine(ConnectionFor(file));
        table = engine->OpenTable(big.Table);
    });
    if (kMeasuresMemory) {
        EXPECT_LT(opening, 4 * static_cast<std::int64_t>(big.Bytes.size()) + (8 << 20))
            << "file " << big.Bytes.size() << " bytes";
    }
    // Reading rows far apart keeps only what is near the index, and no decoded row more.
    const std::int64_t reading = PeakGrowthBytes([&] {
        std::vector<TValue> values;
        for (const std::int64_t index : {std::int64_t{0}, last, big.Rows / 2, std::int64_t{1},
                                         last - 1, big.Rows / 3, std::int64_t{0}}) {
            SCOPED_TRACE(index);
            ASSERT_TRUE(table->ReadRow(index, values));
            EXPECT_EQ(Notation(values[0]), NumberText(static_cast<double>(index)));
        }
        EXPECT_FALSE(table->ReadRow(big.Rows, values));
        EXPECT_FALSE(table->ReadRow(big.Rows + 1000, values));
    });
    // (The pages of a mapped file become resident as they are read.)
    if (kMeasuresMemory) {
        EXPECT_LT(reading, static_cast<std::int64_t>(big.Bytes.size()) + (8 << 20));
    }
}

TEST_P(EngineRead, RefusalsNameTheFile) {
    const TEngineKind& kind = *GetParam();
    test::TempDir dir;
    const std::string sample = kind.Sample();
    const std::string name = std::string("拒否") + kind.Extension;
    const fs::path file = dir.Path() / name;
    TRows sampleRows;  // what a file that reads gives of the sample table
    auto readEverything = [&] {
        sampleRows.clear();
        auto engine = OpenEngine(ConnectionFor(file));
        for (const TTableEntry& entry : engine->ListTables()) {
            auto table = engine->OpenTable(entry.Name);
            TRows rows = ReadAllRows(*table);
            if (entry.Name == kind.Table) sampleRows = std::move(rows);
        }
    };
    const struct {
        const char* what;
        std::function<void()> arrange;
        // A database cut at a page boundary may still read: its usage maps may name pages past
        // the end in files Access wrote too. It must then give no row that is not in the file.
        bool mayReadAsFarAsItGoes;
    } cases[] = {
        {"missing", [&] { fs::remove(file); }, false},
        {"empty", [&] { dir.Write(name, ""); }, false},
        {"cut in half", [&] { dir.Write(name, sample.substr(0, sample.size() / 2)); }, true},
        {"last bytes cut", [&] { dir.Write(name, sample.substr(0, sample.size() - 100)); }, false},
        {"text", [&] { dir.Write(name, std::string(4096, 'x')); }, false},
        {"a folder", [&] { fs::create_directory(file); }, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        const std::string message = ErrorOf(readEverything);
        if (c.mayReadAsFarAsItGoes && message == "(no error)") {
            EXPECT_LE(sampleRows.size(), kind.Rows.size());
            EXPECT_TRUE(std::equal(sampleRows.begin(), sampleRows.end(), kind.Rows.begin()));
        } else {
            EXPECT_NE(message.find(name), std::string::npos) << message;
        }
        fs::remove_all(file);
    }

    dir.Write(name, sample);
    auto engine = OpenEngine(ConnectionFor(file));
    const std::string message = ErrorOf([&] { engine->OpenTable(u"Nope"); });
    EXPECT_NE(message.find("Nope"), std::string::npos) << message;
    EXPECT_NE(message.find(name), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineRead, testing::Values(&kXlsx, &kXls, &kAccess), KindName);

// ---- the command-line tool over every engine ----

class EngineCommandLine : public testing::TestWithParam<const TEngineKind*> {};

TEST_P(EngineCommandLine, TablesFieldsAndRows) {
    const TEngineKind& kind = *GetParam();
    if (!std::getenv("QM_BUILD_DIR")) FAIL() << "QM_BUILD_DIR is not set (ctest sets it)";
    test::TempDir dir;
    const std::string path =
        dir.Write(std::string("sample") + kind.Extension, kind.Sample()).string();
    EXPECT_EQ(test::RunCli("tables '" + path + "'").out, kind.CliTables);
    const test::TCliRun fields = test::RunCli("fields '" + path + "' " + kind.CliTable);
    EXPECT_EQ(fields.status, 0);
    EXPECT_EQ(fields.out, kind.CliFields);
    EXPECT_EQ(test::RunCli("rows '" + path + "' " + kind.CliTable + " --json").out,
              kind.CliRowsJson);
    // Plain rows: display texts, tabs between them, one row a line.
    const test::TCliRun first = test::RunCli("rows '" + path + "' " + kind.CliTable + " --limit 1");
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, kind.CliFirstRow);

    const test::TCliRun missing = test::RunCli("tables '" + path + ".none" + kind.Extension + "'");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.out.find("見つかりません"), std::string::npos) << missing.out;
    const test::TCliRun noTable = test::RunCli("fields '" + path + "' Nope");
    EXPECT_EQ(noTable.status, 1);
    EXPECT_NE(noTable.out.find("Nope"), std::string::npos) << noTable.out;
}

INSTANTIATE_TEST_SUITE_P(Engines, EngineCommandLine, testing::Values(&kXlsx, &kXls, &kAccess),
                         KindName);

// ---- the shared fixtures: files real programs wrote ----

// Every fixture file whose engine reads it: each listed table opens, gives fields with names
// and known types, and its rows read from first to last, each with one value per field; a
// file the engine refuses is refused with a message that names it.
class EngineFixture : public testing::TestWithParam<std::string> {};

std::vector<std::string> FixtureFiles() {
    std::vector<std::string> files;
    const fs::path root = test::FixturesDir();
    if (root.empty()) return {""};  // one case that says the folder is absent
    for (const char* folder : {"excel", "access"})
        for (const auto& entry : fs::directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext == ".xlsx" || ext == ".xls" || ext == ".mdb" || ext == ".accdb")
                files.push_back(std::string(folder) + "/" + entry.path().filename().string());
        }
    std::sort(files.begin(), files.end());
    return files;
}

TEST_P(EngineFixture, ReadsWholeOrRefusesNamingTheFile) {
    if (GetParam().empty())
        GTEST_SKIP() << "the shared fixtures folder is absent: " QM_FIXTURES_DIR;
    const fs::path file = test::FixturesDir() / GetParam();
    std::unique_ptr<TEngine> engine;
    const std::string refusal = ErrorOf([&] { engine = OpenEngine(ConnectionFor(file)); });
    if (!engine) {
        EXPECT_NE(refusal.find(file.filename().string()), std::string::npos) << refusal;
        return;
    }
    const std::vector<TTableEntry> tables = engine->ListTables();
    EXPECT_FALSE(tables.empty());
    for (const TTableEntry& entry : tables) {
        if (entry.IsSystem) continue;
        SCOPED_TRACE(Utf16ToUtf8(entry.Name));
        std::unique_ptr<TEngineTable> table;
        const std::string error = ErrorOf([&] { table = engine->OpenTable(entry.Name); });
        if (!table) {
            // A table the engine cannot offer must say which file and which table.
            EXPECT_NE(error.find(file.filename().string()), std::string::npos) << error;
            continue;
        }
        for (const TFieldDef& field : table->Fields()) {
            EXPECT_NE(field.DataType, ftUnknown) << Utf16ToUtf8(field.Name);
        }
        std::vector<TValue> values;
        std::int64_t rows = 0;
        for (; rows < 20000 && table->ReadRow(rows, values); ++rows)
            ASSERT_EQ(values.size(), table->Fields().size()) << "row " << rows;
        if (rows < 20000) {
            EXPECT_FALSE(table->ReadRow(rows + 1, values));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EngineFixture, testing::ValuesIn(FixtureFiles()),
                         [](const testing::TestParamInfo<std::string>& file) {
                             std::string name = file.param.empty() ? "absent" : file.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// ---- writing: the engines that write ----

// Rows for any table, made from its field types: texts that need escaping and are not ASCII,
// numbers with and without fractions, dates with and without a time, a row left empty but for
// its Yes/No fields (which Access cannot leave empty), and both truth values. A field the
// engine fills itself stays unset.
std::vector<std::vector<TValue>> WriteRows(const std::vector<TFieldDef>& fields) {
    const char16_t* texts[] = {u"りんご", u"a\"b\\c <&>", nullptr, u"行1\n行2 😀"};
    const double numbers[] = {1234.5, -2000, 0, 0.25};
    const std::int64_t integers[] = {7, 3, 0, 200};
    const double dates[] = {EncodeDate(2024, 1, 31),
                            EncodeDate(2024, 2, 29) + (13 * 3600 + 45 * 60 + 10) / 86400.0, 0,
                            EncodeDate(1999, 12, 31) + 0.5};
    const std::int64_t money[] = {10000000, 123456, 0, -55000};
    std::vector<std::vector<TValue>> rows;
    for (int r = 0; r < 4; ++r) {
        std::vector<TValue> row;
        for (const TFieldDef& field : fields) {
            if (field.ReadOnly || (r == 2 && field.DataType != ftBoolean)) {
                row.emplace_back();
                continue;
            }
            switch (field.DataType) {
                case ftWideString:
                case ftFixedWideChar:
                case ftWideMemo:
                    row.emplace_back(std::u16string(texts[r]));
                    break;
                case ftFloat:
                    row.emplace_back(numbers[r]);
                    break;
                case ftSmallint:
                case ftInteger:
                case ftWord:
                case ftLargeint:
                    row.emplace_back(integers[r]);
                    break;
                case ftBCD:
                    row.emplace_back(TCurrency{money[r]});
                    break;
                case ftDateTime:
                    row.emplace_back(TDateTime{dates[r]});
                    break;
                case ftBoolean:
                    row.emplace_back(r != 1);
                    break;
                default:
                    row.emplace_back();
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

class EngineWrite : public testing::TestWithParam<const TEngineKind*> {
  protected:
    void SetUp() override {
        file_ = dir_.Write(std::string("書き込み ") + Kind().Extension, Kind().Sample());
        original_ = test::ReadBytes(file_);
    }
    const TEngineKind& Kind() const { return *GetParam(); }
    std::unique_ptr<TEngine> Open() { return OpenEngine(ConnectionFor(file_)); }
    std::vector<std::vector<TValue>> Rows(TEngine& engine) {
        return WriteRows(engine.OpenTable(Kind().Table)->Fields());
    }
    TRows Expected(const std::vector<std::vector<TValue>>& appended) const {
        TRows rows = Kind().Rows;
        for (const auto& row : appended)
            rows.push_back(NotationRow(row));
        return rows;
    }

    test::TempDir dir_;
    fs::path file_;
    std::string original_;
};

TEST_P(EngineWrite, RowsAppearOnlyAtTheCommitAndEveryOneReadsBack) {
    auto engine = Open();
    auto table = engine->OpenTable(Kind().Table);
    const auto rows = WriteRows(table->Fields());
    const auto sampleRows = static_cast<std::int64_t>(Kind().Rows.size());
    engine->BeginTransaction();
    for (const auto& row : rows)
        table->AppendRow(row);
    // Before the commit: the file is untouched, and neither this table nor another reader of
    // the file sees the rows.
    EXPECT_EQ(test::ReadBytes(file_), original_);
    std::vector<TValue> values;
    EXPECT_FALSE(table->ReadRow(sampleRows, values));
    EXPECT_EQ(ReadFile(file_, Kind().Table), Kind().Rows);

    engine->CommitTransaction(nullptr);
    const TRows expected = Expected(rows);
    EXPECT_EQ(ReadAllRows(*table), expected);            // the open table sees them
    EXPECT_EQ(ReadFile(file_, Kind().Table), expected);  // and so does a new reader
    EXPECT_EQ(Kind().IndependentRows(file_, Kind().ReaderTable), expected);
}

TEST_P(EngineWrite, RollBackAndDestroyingInATransactionLeaveTheFileByteForByte) {
    {
        auto engine = Open();
        auto table = engine->OpenTable(Kind().Table);
        engine->BeginTransaction();
        for (const auto& row : WriteRows(table->Fields()))
            table->AppendRow(row);
        engine->RollbackTransaction();
        EXPECT_EQ(test::ReadBytes(file_), original_);
        // The engine stays usable: a new transaction commits only its own rows.
        engine->BeginTransaction();
        const auto rows = WriteRows(table->Fields());
        table->AppendRow(rows[0]);
        engine->CommitTransaction(nullptr);
        EXPECT_EQ(ReadFile(file_, Kind().Table), Expected({rows[0]}));
    }
    const std::string committed = test::ReadBytes(file_);
    {
        auto engine = Open();
        auto table = engine->OpenTable(Kind().Table);
        engine->BeginTransaction();
        for (const auto& row : WriteRows(table->Fields()))
            table->AppendRow(row);
        table.reset();
    }  // the engine goes inside the transaction
    EXPECT_EQ(test::ReadBytes(file_), committed);
}

TEST_P(EngineWrite, AnAppendOutsideATransactionIsCommittedAtOnce) {
    auto engine = Open();
    auto table = engine->OpenTable(Kind().Table);
    const auto rows = WriteRows(table->Fields());
    table->AppendRow(rows[0]);
    EXPECT_EQ(ReadFile(file_, Kind().Table), Expected({rows[0]}));
    table->AppendRow(rows[1]);
    EXPECT_EQ(Kind().IndependentRows(file_, Kind().ReaderTable), Expected({rows[0], rows[1]}));
}

TEST_P(EngineWrite, ACancelBeforeTheReplaceLeavesTheFileUnchanged) {
    auto engine = Open();
    auto table = engine->OpenTable(Kind().Table);
    const auto rows = WriteRows(table->Fields());
    engine->BeginTransaction();
    for (const auto& row : rows)
        table->AppendRow(row);
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(ErrorOf([&] { engine->CommitTransaction(&cancel); }), Utf16ToUtf8(kCancelledMessage));
    EXPECT_EQ(test::ReadBytes(file_), original_);
    std::size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir_.Path()))
        (void)entry, ++files;
    EXPECT_EQ(files, 1u) << "a temporary file was left behind";
}

// The engines that write. An engine joins here when its writer lands: add its kind.
const TEngineKind* const kWriters[] = {&kXlsx, &kXls, &kAccess};

INSTANTIATE_TEST_SUITE_P(Engines, EngineWrite, testing::ValuesIn(kWriters), KindName);

}  // namespace
}  // namespace qm
