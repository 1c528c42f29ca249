// The .xlsx engine at scale: appending 100,000 and 1,000,000 rows of ten columns (text,
// numbers, dates, Japanese) to a workbook that holds a header and 1,000 rows, committed once;
// and opening a sheet of a million rows and reading its first screen.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/little_endian.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace {

namespace fs = std::filesystem;
using qm::PutU16;
using qm::PutU32;

// A zip of stored entries: enough for a starting workbook.
std::string StoredZip(const std::vector<std::pair<std::string, std::string>>& parts) {
    std::string out, directory;
    for (const auto& [name, data] : parts) {
        std::uint32_t crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        std::string common;
        PutU16(common, 20);
        PutU16(common, 0);
        PutU16(common, 0);
        PutU16(common, 0);
        PutU16(common, 0x5821);
        PutU32(common, crc);
        PutU32(common, static_cast<std::uint32_t>(data.size()));
        PutU32(common, static_cast<std::uint32_t>(data.size()));
        PutU16(common, static_cast<std::uint32_t>(name.size()));
        PutU16(common, 0);
        PutU32(out, 0x04034b50);
        out += common + name + data;
        PutU32(directory, 0x02014b50);
        PutU16(directory, 20);
        directory += common;
        PutU16(directory, 0);
        PutU16(directory, 0);
        PutU16(directory, 0);
        PutU32(directory, 0);
        PutU32(directory, offset);
        directory += name;
    }
    std::uint32_t at = static_cast<std::uint32_t>(out.size());
    out += directory;
    PutU32(out, 0x06054b50);
    PutU32(out, 0);
    PutU16(out, static_cast<std::uint32_t>(parts.size()));
    PutU16(out, static_cast<std::uint32_t>(parts.size()));
    PutU32(out, static_cast<std::uint32_t>(directory.size()));
    PutU32(out, at);
    PutU16(out, 0);
    return out;
}

const char* kHeaders[] = {"品名", "数量",   "単価", "日付", "済",
                          "住所", "コード", "金額", "備考", "時刻"};

std::string Cell(const std::string& ref, const std::string& body, const char* attributes = "") {
    return "<c r=\"" + ref + "\"" + attributes + ">" + body + "</c>";
}

std::string StartingWorkbook(int rows) {
    const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet xmlns=\"" + main +
                        "\"><dimension ref=\"A1:J" + std::to_string(rows + 1) +
                        "\"/><sheetData><row r=\"1\">";
    for (int c = 0; c < 10; ++c)
        sheet += Cell(std::string(1, static_cast<char>('A' + c)) + "1",
                      std::string("<is><t>") + kHeaders[c] + "</t></is>", " t=\"inlineStr\"");
    sheet += "</row>";
    for (int r = 2; r <= rows + 1; ++r) {
        std::string n = std::to_string(r);
        sheet += "<row r=\"" + n + "\">" +
                 Cell("A" + n, "<is><t>商品" + n + "</t></is>", " t=\"inlineStr\"") +
                 Cell("B" + n, "<v>" + n + "</v>") + Cell("C" + n, "<v>" + n + ".25</v>") +
                 Cell("D" + n, "<v>45000</v>", " s=\"1\"") + Cell("E" + n, "<v>1</v>", " t=\"b\"") +
                 Cell("F" + n, "<is><t>東京都千代田区</t></is>", " t=\"inlineStr\"") +
                 Cell("G" + n, "<is><t>C-" + n + "</t></is>", " t=\"inlineStr\"") +
                 Cell("H" + n, "<v>1.5</v>") +
                 Cell("I" + n, "<is><t>note</t></is>", " t=\"inlineStr\"") +
                 Cell("J" + n, "<v>45000.5</v>", " s=\"2\"") + "</row>";
    }
    sheet += "</sheetData></worksheet>";
    return StoredZip({
        {"[Content_Types].xml",
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default "
         "Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
         "Extension=\"xml\" "
         "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
         "ContentType=\"application/"
         "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
         "PartName=\"/xl/worksheets/sheet1.xml\" "
         "ContentType=\"application/"
         "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/><Override "
         "PartName=\"/xl/styles.xml\" "
         "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/"
         "></Types>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" +
             rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
         "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
             "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
         "Id=\"rId1\" Type=\"" +
             rel +
             "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" +
             rel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
        {"xl/styles.xml",
         "<styleSheet xmlns=\"" + main +
             "\"><fonts count=\"1\"><font/></fonts><fills count=\"1\"><fill/></fills><borders "
             "count=\"1\"><border/></borders><cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf "
             "numFmtId=\"14\"/><xf numFmtId=\"22\"/></cellXfs></styleSheet>"},
        {"xl/worksheets/sheet1.xml", sheet},
    });
}

fs::path WorkFolder() {
    fs::path dir = fs::temp_directory_path() / "qm-bench-xlsx";
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

void SetPeakMemory(benchmark::State& state) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_XlsxAppendRows(benchmark::State& state) {
    fs::path path = WorkFolder() / "append.xlsx";
    std::string start = StartingWorkbook(1000);
    for (auto _ : state) {
        state.PauseTiming();
        WriteFile(path, start);
        state.ResumeTiming();
        Append(path, state.range(0));
    }
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    SetPeakMemory(state);
}
BENCHMARK(BM_XlsxAppendRows)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_XlsxOpenMillionRowsFirstScreen(benchmark::State& state) {
    fs::path path = WorkFolder() / "million.xlsx";
    if (!fs::exists(path)) {
        WriteFile(path, StartingWorkbook(1000));
        Append(path, 999000);
    }
    for (auto _ : state) {
        qm::TConnection connection;
        connection.SetConnectionString(qm::GetConnectionString(qm::Utf8ToUtf16(path.string())));
        std::vector<std::u16string> names;
        connection.GetTableNames(names, false);
        qm::TTable table(connection);
        table.SetTableName(u"[" + names.front() + u"]");
        table.Open();
        std::vector<qm::TAdoExcelField> fields = qm::GetFieldList(table);
        std::vector<qm::TValue> values;
        benchmark::DoNotOptimize(table.RecordCount());
        for (int r = 0; r < 50; ++r)
            table.ReadRow(r, values);
        benchmark::DoNotOptimize(values);
    }
    SetPeakMemory(state);
}
BENCHMARK(BM_XlsxOpenMillionRowsFirstScreen)->Unit(benchmark::kMillisecond);

}  // namespace
