// Reading an Access table of 1,000,000 rows and 10 columns: every row end to end, and the first
// screen of a preview (open, list tables, open the table, 50 rows). The database is made once
// by our own builder in build/bench/data/ and checked with mdb-export, which is also timed on
// the same file for comparison.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/native_path.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_database.h"

namespace {

constexpr std::int64_t kRows = 1000000;

std::filesystem::path DataFile() {
    return std::filesystem::path(QM_SOURCE_DIR) / "build/bench/data/jet-1m.mdb";
}

// Builds the database when it is missing; returns false when that failed.
bool EnsureDatabase() {
    static const bool ready = [] {
        const auto path = DataFile();
        std::error_code ec;
        if (std::filesystem::exists(path, ec)) return true;
        std::filesystem::create_directories(path.parent_path(), ec);
        using namespace qm::jet;
        TJetBuilder builder({{u"Data",
                              {{u"ID", kTypeLong},
                               {u"Name", kTypeText, 50},
                               {u"Price", kTypeCurrency},
                               {u"Qty", kTypeInteger},
                               {u"Rate", kTypeDouble},
                               {u"When", kTypeDateTime},
                               {u"Done", kTypeBoolean},
                               {u"Code", kTypeText, 10},
                               {u"Kind", kTypeByte},
                               {u"Ref", kTypeLong}}}});
        using Kind = TJetValue::Kind;
        std::vector<TJetValue> v(10);
        const Kind kinds[] = {Kind::Integer, Kind::Text,     Kind::Currency, Kind::Integer,
                              Kind::Float,   Kind::DateTime, Kind::Boolean,  Kind::Text,
                              Kind::Integer, Kind::Integer};
        for (int i = 0; i < 10; ++i)
            v[i].kind = kinds[i];
        for (std::int64_t i = 0; i < kRows; ++i) {
            v[0].integer = i + 1;
            v[1].text = u"顧客" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) + u"様";
            v[2].integer = i * 1250;
            v[3].integer = i % 30000;
            v[4].real = static_cast<double>(i) / 7.0;
            v[5].real = 40000.0 + static_cast<double>(i) / 1440.0;
            v[6].integer = i % 2;
            v[7].text = u"C" + std::u16string(1, static_cast<char16_t>(u'0' + i % 10));
            v[8].integer = i % 256;
            v[9].integer = -i;
            builder.AddRow(0, v);
        }
        const std::string bytes = builder.Finish();
        std::ofstream(path, std::ios::binary)
            .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return std::filesystem::exists(path, ec);
    }();
    return ready;
}

std::int64_t MdbExportLines() {
    const std::string command = "mdb-export '" + DataFile().string() + "' Data 2>/dev/null | wc -l";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    long long lines = -1;
    if (std::fscanf(pipe, "%lld", &lines) != 1) lines = -1;
    ::pclose(pipe);
    return lines;
}

void BM_JetReadAllRows(benchmark::State& state) {
    if (!EnsureDatabase()) return state.SkipWithError("could not build the database");
    const std::u16string path = qm::FromNativePath(DataFile().string());
    std::int64_t rows = 0;
    for (auto _ : state) {
        const auto db = qm::jet::TJetDatabase::Open(path);
        const auto table = db->OpenTable(u"Data");
        std::vector<qm::jet::TJetValue> values;
        rows = 0;
        for (auto cursor = table->Rows(); cursor.Next(values);) {
            benchmark::DoNotOptimize(values.data());
            ++rows;
        }
    }
    if (rows != kRows) state.SkipWithError("wrong row count");
    state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(BM_JetReadAllRows)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JetFirstPreviewScreen(benchmark::State& state) {
    if (!EnsureDatabase()) return state.SkipWithError("could not build the database");
    const std::u16string path = qm::FromNativePath(DataFile().string());
    for (auto _ : state) {
        const auto db = qm::jet::TJetDatabase::Open(path);
        const auto names = db->TableNames();
        const auto table = db->OpenTable(names.front());
        std::vector<qm::jet::TJetValue> values;
        auto cursor = table->Rows();
        for (int i = 0; i < 50 && cursor.Next(values); ++i)
            benchmark::DoNotOptimize(qm::jet::FormatJetValue(values[1]));
    }
}
BENCHMARK(BM_JetFirstPreviewScreen)->Unit(benchmark::kMillisecond)->UseRealTime();

// mdb-export on the same file, which also proves the file readable by an independent reader.
void BM_MdbExportAllRows(benchmark::State& state) {
    if (!EnsureDatabase()) return state.SkipWithError("could not build the database");
    if (std::system("mdb-export --version >/dev/null 2>&1") != 0)
        return state.SkipWithError("mdb-export is not installed");
    std::int64_t lines = 0;
    for (auto _ : state)
        lines = MdbExportLines();
    if (lines != kRows + 1) state.SkipWithError("mdb-export did not read every row");
    state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_MdbExportAllRows)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
