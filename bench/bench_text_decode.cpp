// Decoding speed of the text module on ~100 MB of synthetic CSV text made in memory:
// UTF-8 (mostly ASCII, mostly Japanese), CP932, EUC-JP, and the whole ReadStreamText path
// (detection included) for UTF-8, CP932 and pure ASCII (whose sample holds no multi-byte text,
// so the whole file is judged).
//   cmake --preset bench && cmake --build --preset bench --target bench_text_decode
//   build/bench/bench/bench_text_decode
// Files made by ../shared/tools/gen-csv.py into build/bench/data/*.csv are also read whole
// through a file stream (ReadStreamText/<file>), for example:
//   python3 ../shared/tools/gen-csv.py --rows 540000 --encoding utf-8 -o build/bench/data/u8.csv
#include <benchmark/benchmark.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/file_stream.h"
#include "platform/iconv_converter.h"
#include "platform/memory_stream.h"
#include "text/string_utility.h"
#include "text/unicode.h"

namespace {

constexpr std::size_t kTargetBytes = 100u << 20;

// A deterministic stream of CSV rows: numbers, codes and names; `japanese` picks how many of
// the text fields are Japanese (0-4 of 4).
std::u16string MakeCsvText(std::size_t utf8Bytes, int japanese) {
    static const char16_t* kJapanese[] = {u"東京都千代田区", u"株式会社テスト", u"やまだ　たろう",
                                          u"ﾔﾏﾀﾞ ﾀﾛｳ",       u"北海道札幌市",   u"①〜⑩の項目"};
    static const char16_t* kLatin[] = {u"Tokyo",   u"Example Inc.", u"Yamada Taro",
                                       u"Sapporo", u"item list",    u"\"quoted, field\""};
    std::u16string text;
    std::uint32_t seed = 12345;
    std::size_t approx = 0;
    for (std::uint64_t row = 0; approx < utf8Bytes; ++row) {
        std::u16string line = qm::Utf8ToUtf16(std::to_string(row)) + u",";
        for (int field = 0; field < 4; ++field) {
            seed = seed * 1103515245u + 12345u;
            std::size_t pick = (seed >> 16) % 6;
            line += field < japanese ? kJapanese[pick] : kLatin[pick];
            line += u",";
        }
        line += qm::Utf8ToUtf16(std::to_string(seed % 100000)) + u"\r\n";
        approx += qm::Utf16ToUtf8(line).size();
        text += line;
    }
    return text;
}

const std::string& Utf8AsciiHeavy() {
    static const std::string bytes = qm::Utf16ToUtf8(MakeCsvText(kTargetBytes, 1));
    return bytes;
}
const std::string& Utf8JapaneseHeavy() {
    static const std::string bytes = qm::Utf16ToUtf8(MakeCsvText(kTargetBytes, 4));
    return bytes;
}
const std::string& Cp932JapaneseHeavy() {
    static const std::string bytes = qm::IconvEncode(MakeCsvText(kTargetBytes * 3 / 4, 4), "CP932");
    return bytes;
}
const std::string& EucJapaneseHeavy() {
    static const std::string bytes =
        qm::IconvEncode(MakeCsvText(kTargetBytes * 3 / 4, 4), "EUC-JP-MS");
    return bytes;
}
const std::string& PureAscii() {
    static const std::string bytes = qm::Utf16ToUtf8(MakeCsvText(kTargetBytes, 0));
    return bytes;
}

void Decode(benchmark::State& state, const std::string& bytes, qm::TCodePage codePage) {
    for (auto _ : state) {
        std::u16string text = qm::DecodeBytes(bytes, codePage);
        benchmark::DoNotOptimize(text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void ReadWhole(benchmark::State& state, const std::string& bytes) {
    for (auto _ : state) {
        state.PauseTiming();
        qm::TMemoryStream stream(bytes);
        state.ResumeTiming();
        qm::TStreamText result = qm::ReadStreamTextDetailed(stream);
        benchmark::DoNotOptimize(result.text.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void BM_DecodeUtf8AsciiHeavy(benchmark::State& s) {
    Decode(s, Utf8AsciiHeavy(), 65001);
}
void BM_DecodeUtf8JapaneseHeavy(benchmark::State& s) {
    Decode(s, Utf8JapaneseHeavy(), 65001);
}
void BM_DecodeCp932(benchmark::State& s) {
    Decode(s, Cp932JapaneseHeavy(), 932);
}
void BM_DecodeEucJp(benchmark::State& s) {
    Decode(s, EucJapaneseHeavy(), 20932);
}
void BM_ReadStreamTextUtf8(benchmark::State& s) {
    ReadWhole(s, Utf8AsciiHeavy());
}
void BM_ReadStreamTextCp932(benchmark::State& s) {
    ReadWhole(s, Cp932JapaneseHeavy());
}
void BM_ReadStreamTextPureAscii(benchmark::State& s) {
    ReadWhole(s, PureAscii());
}

BENCHMARK(BM_DecodeUtf8AsciiHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUtf8JapaneseHeavy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeCp932)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeEucJp)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStreamTextUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStreamTextCp932)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadStreamTextPureAscii)->Unit(benchmark::kMillisecond);

void ReadFile(benchmark::State& state, const std::filesystem::path& path) {
    std::int64_t size = 0;
    for (auto _ : state) {
        qm::TFileStream stream(path.u16string());
        size = stream.GetSize();
        qm::TStreamText result = qm::ReadStreamTextDetailed(stream);
        benchmark::DoNotOptimize(result.text.data());
        state.SetLabel(qm::DetectedEncodingName(result.encoding));
    }
    state.SetBytesProcessed(state.iterations() * size);
}

const int kFileBenchmarks = [] {
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::path(QM_SOURCE_DIR) / "build/bench/data";
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.path().extension() != ".csv") continue;
        benchmark::RegisterBenchmark(
            ("ReadStreamText/" + entry.path().filename().string()).c_str(),
            [path = entry.path()](benchmark::State& state) { ReadFile(state, path); })
            ->Unit(benchmark::kMillisecond);
    }
    return 0;
}();

}  // namespace
