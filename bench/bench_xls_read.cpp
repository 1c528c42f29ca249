// Reading a .xls worksheet of 65,536 rows (the most a BIFF8 sheet holds: a header and 65,535
// records) by 10 columns: the first screen of a preview (open the workbook, list the tables,
// open the table, read 50 rows) and every row end to end. The workbook is made once by the
// tests' BIFF8 builder in build/bench/data/ with text in the shared string table (split over
// many CONTINUE records), numbers, RK integers, dates and booleans.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "targets/connection.h"
#include "targets/target_access.h"
#include "text/unicode.h"
#include "xls_builder.h"

namespace {

constexpr std::uint32_t kRecords = 65535;

std::filesystem::path DataFile() {
    return std::filesystem::path(QM_SOURCE_DIR) / "build/bench/data/xls-65k.xls";
}

bool EnsureWorkbook() {
    static const bool ready = [] {
        const auto path = DataFile();
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) return true;
        std::filesystem::create_directories(path.parent_path(), ec);
        using namespace qm::test;
        TBiffWorkbook book;
        book.XfFormats.assign(16, 0);
        book.XfFormats.insert(book.XfFormats.end(), {14, 7});  // XF 16: date, 17: currency
        for (const char16_t* name : {u"ID", u"Name", u"Price", u"Qty", u"Rate", u"When", u"Done",
                                     u"Code", u"Kind", u"Ref"})
            book.Strings.push_back(name);
        std::string cells;
        for (std::uint16_t c = 0; c < 10; ++c)
            cells += LabelSstCell(0, c, 15, c);
        for (std::uint32_t i = 0; i < kRecords; ++i) {
            std::uint16_t row = static_cast<std::uint16_t>(i + 1);
            book.Strings.push_back(u"顧客" + qm::Utf8ToUtf16(std::to_string(i)) + u"様");
            cells += RowRecord(row);
            cells += RkCell(row, 0, 15, (i + 1) << 2 | 2);
            cells += LabelSstCell(row, 1, 15, static_cast<std::uint32_t>(book.Strings.size() - 1));
            cells += NumberCell(row, 2, 17, i * 0.125);
            cells += RkCell(row, 3, 15, (i % 30000) << 2 | 2);
            cells += NumberCell(row, 4, 15, i / 7.0);
            cells += NumberCell(row, 5, 16, 40000.0 + i / 1440.0);
            cells += BoolErrCell(row, 6, 15, static_cast<std::uint8_t>(i % 2), false);
            cells += LabelCell(row, 7, 15,
                               u"C" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)));
            cells += RkCell(row, 8, 15, (i % 256) << 2 | 2);
            cells += FormulaNumber(row, 9, 15, i * 2.0);
        }
        book.Sheets = {{u"Data", cells}};
        std::ofstream(path, std::ios::binary) << BuildXls(book);
        return true;
    }();
    return ready;
}

std::u16string Connection() {
    return qm::GetConnectionString(qm::Utf8ToUtf16(DataFile().string()));
}

void BM_XlsPreviewFirst50Rows(benchmark::State& state) {
    if (!EnsureWorkbook()) {
        state.SkipWithError("could not build the workbook");
        return;
    }
    for (auto _ : state) {
        qm::TConnection connection;
        connection.SetConnectionString(Connection());
        std::vector<std::u16string> names;
        connection.GetTableNames(names, false);
        qm::TTable table(connection);
        table.SetTableName(u"[Data$]");
        table.Open();
        std::vector<qm::TValue> values;
        for (std::int64_t i = 0; i < 50 && table.ReadRow(i, values); ++i)
            benchmark::DoNotOptimize(values.data());
    }
    state.counters["file_MB"] =
        static_cast<double>(std::filesystem::file_size(DataFile())) / (1024.0 * 1024.0);
}
BENCHMARK(BM_XlsPreviewFirst50Rows)->Unit(benchmark::kMillisecond);

void BM_XlsReadEveryRow(benchmark::State& state) {
    if (!EnsureWorkbook()) {
        state.SkipWithError("could not build the workbook");
        return;
    }
    qm::TConnection connection;
    connection.SetConnectionString(Connection());
    qm::TTable table(connection);
    table.SetTableName(u"[Data$]");
    table.Open();
    std::int64_t rows = 0;
    for (auto _ : state) {
        std::vector<qm::TValue> values;
        rows = 0;
        while (table.ReadRow(rows, values))
            ++rows;
        benchmark::DoNotOptimize(rows);
    }
    state.counters["rows"] = static_cast<double>(rows);
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(rows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_XlsReadEveryRow)->Unit(benchmark::kMillisecond);

}  // namespace
