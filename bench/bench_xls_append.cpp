// The .xls engine at its limit: appending 64,535 rows of ten columns (text, numbers, dates,
// booleans, Japanese) to a worksheet that holds a header and 1,000 rows — the most a BIFF8
// sheet can take from there — in one transaction and one commit. The starting workbook is made
// by the tests' BIFF8 builder; the time covers opening, converting every value, building the
// new Workbook stream and writing the compound file through the atomic replace.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "targets/connection.h"
#include "targets/target_access.h"
#include "text/unicode.h"
#include "xls_builder.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kExisting = 1000;
constexpr std::int64_t kAppended = 65536 - 1 - kExisting;

std::string StartingWorkbook() {
    using namespace qm::test;
    TBiffWorkbook book;
    book.XfFormats.assign(16, 0);
    book.XfFormats.insert(book.XfFormats.end(), {14, 22});  // XF 16: date, 17: date and time
    for (const char16_t* name :
         {u"品名", u"数量", u"単価", u"日付", u"済", u"住所", u"コード", u"金額", u"備考", u"時刻"})
        book.Strings.push_back(name);
    book.Strings.push_back(u"東京都千代田区");
    std::string cells;
    for (std::uint16_t c = 0; c < 10; ++c)
        cells += LabelSstCell(0, c, 15, c);
    for (std::uint32_t i = 1; i <= kExisting; ++i) {
        std::uint16_t row = static_cast<std::uint16_t>(i);
        book.Strings.push_back(u"商品" + qm::Utf8ToUtf16(std::to_string(i)));
        cells += RowRecord(row);
        cells += LabelSstCell(row, 0, 15, static_cast<std::uint32_t>(book.Strings.size() - 1));
        cells += RkCell(row, 1, 15, i << 2 | 2);
        cells += NumberCell(row, 2, 15, i + 0.25);
        cells += NumberCell(row, 3, 16, 45000);
        cells += BoolErrCell(row, 4, 15, 1, false);
        cells += LabelSstCell(row, 5, 15, 10);
        cells += LabelCell(row, 6, 15, u"C-" + qm::Utf8ToUtf16(std::to_string(i)));
        cells += NumberCell(row, 7, 15, 1.5);
        cells += LabelCell(row, 8, 15, u"note");
        cells += NumberCell(row, 9, 17, 45000.5);
    }
    book.Sheets = {{u"Data", cells}};
    return BuildXls(book);
}

fs::path WorkFolder() {
    fs::path dir = fs::temp_directory_path() / "qm-bench-xls";
    fs::create_directories(dir);
    return dir;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void Append(const fs::path& path, std::int64_t count) {
    qm::TConnection connection;
    connection.SetConnectionString(qm::GetConnectionString(qm::Utf8ToUtf16(path.string())));
    qm::TTable table(connection);
    table.SetTableName(u"[Data$]");
    table.Open();
    std::vector<qm::TField*> fields;
    for (int i = 1; i <= table.FieldCount(); ++i)
        fields.push_back(&table.FieldByNumber(i));
    connection.BeginTrans();
    std::u16string texts[10];
    for (std::int64_t r = 0; r < count; ++r) {
        std::u16string n = qm::Utf8ToUtf16(std::to_string(r));
        texts[0] = u"追加商品" + n;
        texts[1] = n;
        texts[2] = u"1,234.5";
        texts[3] = u"2024/03/" + qm::Utf8ToUtf16(std::to_string(1 + r % 28));
        texts[4] = r % 2 ? u"True" : u"False";
        texts[5] = u"大阪府大阪市北区梅田";
        texts[6] = u"X-" + n;
        texts[7] = u"-0.125";
        texts[8] = u"備考 " + n;
        texts[9] = u"2024-03-01 12:34:56";
        table.Insert();
        for (std::size_t f = 0; f < fields.size(); ++f)
            fields[f]->AssignText(texts[f]);
        table.Post();
    }
    connection.CommitTrans();
}

void BM_XlsAppendToSheetLimit(benchmark::State& state) {
    fs::path path = WorkFolder() / "append.xls";
    std::string start = StartingWorkbook();
    for (auto _ : state) {
        state.PauseTiming();
        WriteFile(path, start);
        state.ResumeTiming();
        Append(path, kAppended);
    }
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(kAppended) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_XlsAppendToSheetLimit)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
