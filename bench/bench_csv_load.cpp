// TCsv::LoadFromFile on large generated files (bench/make-data.sh makes them), the same load on
// one thread, and the parse alone on text decoded beforehand. Throughput is per byte of the file.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <string>

#include "csv/csv.h"
#include "platform/file_stream.h"
#include "platform/native_path.h"
#include "text/string_utility.h"

namespace {

std::filesystem::path DataFile(const std::string& name) {
    return std::filesystem::path(QM_SOURCE_DIR) / "build/bench/data" / name;
}

double PeakResidentMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void LoadFromFile(benchmark::State& state, const std::string& name) {
    const auto path = DataFile(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        state.SkipWithError(("missing " + path.string() + ": run bench/make-data.sh").c_str());
        return;
    }
    const std::u16string widePath = qm::FromNativePath(path.string());
    std::uint32_t rows = 0;
    for (auto _ : state) {
        qm::TCsv csv;
        if (!csv.LoadFromFile(widePath)) {
            state.SkipWithError("load failed");
            return;
        }
        rows = csv.GetRowCount();
        benchmark::DoNotOptimize(rows);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
    state.counters["rows"] = rows;
    state.counters["peakRSS_MB"] = PeakResidentMegabytes();
}

// The same on the calling thread alone: what the second thread gains.
void LoadSerially(benchmark::State& state, const std::string& name) {
    const auto path = DataFile(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        state.SkipWithError(("missing " + path.string() + ": run bench/make-data.sh").c_str());
        return;
    }
    const std::u16string widePath = qm::FromNativePath(path.string());
    for (auto _ : state) {
        qm::TFileStream stream(widePath);
        qm::TCsv csv;
        qm::TCsvLoadPieces pieces;
        pieces.parallel = false;
        if (!csv.LoadFromStream(stream, nullptr, pieces)) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(csv.GetRowCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

void ParseOnly(benchmark::State& state, const std::string& name) {
    const auto path = DataFile(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        state.SkipWithError(("missing " + path.string() + ": run bench/make-data.sh").c_str());
        return;
    }
    qm::TFileStream stream(qm::FromNativePath(path.string()));
    const std::u16string text = qm::ReadStreamText(stream);
    for (auto _ : state) {
        state.PauseTiming();
        std::u16string copy = text;
        state.ResumeTiming();
        qm::TCsv csv;
        csv.Parse(std::move(copy));
        benchmark::DoNotOptimize(csv.GetRowCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

// Reading and decoding alone: the share of a load that comes before the parse.
void DecodeOnly(benchmark::State& state, const std::string& name) {
    const auto path = DataFile(name);
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        state.SkipWithError(("missing " + path.string() + ": run bench/make-data.sh").c_str());
        return;
    }
    const std::u16string widePath = qm::FromNativePath(path.string());
    for (auto _ : state) {
        qm::TFileStream stream(widePath);
        benchmark::DoNotOptimize(qm::ReadStreamTextDetailed(stream).text.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

BENCHMARK_CAPTURE(LoadFromFile, utf8_plain, std::string("utf8-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFromFile, utf8_quoted, std::string("utf8-quoted.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFromFile, cp932_plain, std::string("cp932-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFromFile, cp932_quoted, std::string("cp932-quoted.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadSerially, utf8_plain, std::string("utf8-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadSerially, cp932_plain, std::string("cp932-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseOnly, utf8_plain, std::string("utf8-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParseOnly, utf8_quoted, std::string("utf8-quoted.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOnly, utf8_plain, std::string("utf8-plain.csv"))
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeOnly, cp932_plain, std::string("cp932-plain.csv"))
    ->Unit(benchmark::kMillisecond);
