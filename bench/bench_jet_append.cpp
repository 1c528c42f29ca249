// The Access engine at scale: 100,000 and 1,000,000 rows of ten fields (an AutoNumber primary
// key, a Long Integer with an index of its own, numbers, currency, a date, Japanese and ASCII
// text, a Yes/No) appended to an empty .accdb table through the connection layer, as an import
// does (text converted to each field's type, one transaction, one commit).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "targets/connection.h"
#include "targets/jet/jet_builder.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace {

namespace fs = std::filesystem;

std::string EmptyDatabase() {
    using namespace qm::jet;
    TJetBuilder builder({{u"売上",
                          {{u"ID", kTypeLong, 0, true},
                           {u"番号", kTypeLong},
                           {u"数量", kTypeInteger},
                           {u"単価", kTypeCurrency},
                           {u"金額", kTypeDouble},
                           {u"日付", kTypeDateTime},
                           {u"名前", kTypeText, 50},
                           {u"かな", kTypeText, 50},
                           {u"区分", kTypeByte},
                           {u"済", kTypeBoolean}},
                          {{u"PrimaryKey", {0}, true, true}, {u"番号", {1}}}}},
                        qm::jet::TBuildFormat::Ace12);
    return builder.Finish();
}

void Append(const fs::path& path, std::int64_t rows) {
    qm::TConnection connection;
    connection.SetConnectionString(qm::GetConnectionString(qm::Utf8ToUtf16(path.string())));
    qm::TTable table(connection);
    table.SetTableName(u"[売上]");
    table.Open();
    const char16_t* names[] = {u"番号", u"数量", u"単価", u"金額", u"日付",
                               u"名前", u"かな", u"区分", u"済"};
    qm::TField* fields[9];
    for (int i = 0; i < 9; ++i)
        fields[i] = &table.FieldByName(names[i]);
    connection.BeginTrans();
    std::u16string cells[9];
    for (std::int64_t r = 0; r < rows; ++r) {
        const std::string n = std::to_string(r);
        cells[0] = qm::Utf8ToUtf16(std::to_string((r * 7919) % 1000003));
        cells[1] = qm::Utf8ToUtf16(std::to_string(r % 30000));
        cells[2] = qm::Utf8ToUtf16(std::to_string(r % 10000) + ".25");
        cells[3] = qm::Utf8ToUtf16(std::to_string(r) + ".5");
        cells[4] = u"2024/" + qm::Utf8ToUtf16(std::to_string(1 + r % 12)) + u"/" +
                   qm::Utf8ToUtf16(std::to_string(1 + r % 28)) + u" 12:34:56";
        cells[5] = u"株式会社テスト商事" + qm::Utf8ToUtf16(n);
        cells[6] = u"Customer " + qm::Utf8ToUtf16(n);
        cells[7] = qm::Utf8ToUtf16(std::to_string(r % 256));
        cells[8] = r % 2 ? u"True" : u"False";
        table.Insert();
        for (int i = 0; i < 9; ++i)
            fields[i]->AssignText(cells[i]);
        table.Post();
    }
    connection.CommitTrans(nullptr);
}

void BM_AccdbAppend(benchmark::State& state) {
    const fs::path dir = fs::temp_directory_path() / "qm-bench-jet";
    fs::create_directories(dir);
    const fs::path path = dir / "append.accdb";
    const std::string empty = EmptyDatabase();
    for (auto _ : state) {
        state.PauseTiming();
        std::ofstream(path, std::ios::binary)
            .write(empty.data(), static_cast<std::streamsize>(empty.size()));
        state.ResumeTiming();
        Append(path, state.range(0));
    }
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(state.range(0)) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["file_MB"] = static_cast<double>(fs::file_size(path)) / 1e6;
    fs::remove_all(dir);
}
BENCHMARK(BM_AccdbAppend)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
