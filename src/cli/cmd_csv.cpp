// quillomat-cli csv FILE [--json]: loads a CSV file exactly as the program does and reports
// how it was decoded and how big the table is; with --json, the whole table as well.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/json_text.h"
#include "csv/csv.h"
#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/native_path.h"
#include "text/encode_detect.h"
#include "text/unicode.h"

namespace qm::cli {
namespace {

constexpr const char* kHelp =
    "使い方: quillomat-cli csv ファイル [--json]\n"
    "Usage: quillomat-cli csv FILE [--json]\n"
    "\n"
    "CSVファイルをQuillomatと同じ方法で読み込み(文字コードの判定、UTF-16への変換、\n"
    "行と列への分割)、判定結果の名前、コードページ、行数、列数を表示します。\n"
    "--json を付けると、これらとすべてのセルを1つのJSONオブジェクト(UTF-8)で出力します。\n"
    "キー: encoding, codePage, rows, fields, cells(行ごとの文字列の配列の配列)。\n"
    "対になっていないサロゲートは \\uXXXX で書かれます。\n"
    "\n"
    "Loads a CSV file the way Quillomat does (encoding detection, decoding to UTF-16,\n"
    "splitting into rows and fields) and prints the detection verdict by name, the code page,\n"
    "the row count and the field count. With --json it prints one JSON object (UTF-8) with\n"
    "the keys encoding, codePage, rows, fields and cells (an array of rows, each an array of\n"
    "strings). A lone surrogate is written as a \\uXXXX escape.\n"
    "\n"
    "終了コード / Exit status: 0 成功 / success, 1 読み込み失敗 / the file could not be\n"
    "loaded, 2 引数の誤り / wrong arguments\n";

// Buffered writing to stdout: tables of millions of cells are printed in large blocks.
class TOutput {
  public:
    ~TOutput() { Flush(); }
    void Put(std::string_view text) {
        buffer_.append(text);
        if (buffer_.size() >= (1u << 16)) Flush();
    }
    void Put(char c) { buffer_.push_back(c); }
    void PutJsonString(std::u16string_view text) { AppendJsonString(buffer_, text); }
    void Flush() {
        std::fwrite(buffer_.data(), 1, buffer_.size(), stdout);
        buffer_.clear();
    }

  private:
    std::string buffer_;
};

void PrintJson(const TCsv& csv, const TCsvLoadInfo& info) {
    TOutput out;
    out.Put("{\"encoding\":\"");
    out.Put(DetectedEncodingName(info.encoding));
    out.Put("\",\"codePage\":" + std::to_string(info.codePage));
    out.Put(",\"rows\":" + std::to_string(csv.GetRowCount()));
    out.Put(",\"fields\":" + std::to_string(csv.GetFieldCount()));
    out.Put(",\"cells\":[");
    for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r) {
        out.Put(r == 0 ? "\n[" : ",\n[");
        for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f) {
            if (f != 0) out.Put(',');
            out.PutJsonString(csv.GetCellView(r, f));
        }
        out.Put(']');
    }
    out.Put("]}\n");
}

int RunCsv(const std::vector<std::string>& args) {
    bool json = false;
    const std::string* file = nullptr;
    for (const auto& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (arg == "--json") {
            json = true;
        } else if (!file && (arg.empty() || arg[0] != '-' || arg == "-")) {
            file = &arg;
        } else {
            std::fprintf(stderr,
                         "quillomat-cli csv: 引数が正しくありません / unexpected argument: %s\n",
                         arg.c_str());
            return 2;
        }
    }
    if (!file) {
        std::fputs(kHelp, stderr);
        return 2;
    }

    try {
        // A FIFO or a device is refused at once, saying what it is.
        if (PathExists(FromNativePath(*file))) RefuseIfNotRegularFile(FromNativePath(*file));
    } catch (const Error& e) {
        std::fprintf(stderr, "%s\n", Utf16ToUtf8(e.Message()).c_str());
        return 1;
    }
    TCsv csv;
    TCsvLoadInfo info;
    if (!csv.LoadFromFile(FromNativePath(*file), &info)) {
        std::fprintf(stderr, "CSVファイルの読み込みに失敗しました。\n%s\n", file->c_str());
        return 1;
    }
    if (json) {
        PrintJson(csv, info);
    } else {
        std::printf("encoding: %s\ncodePage: %u\nrows: %u\nfields: %u\n",
                    DetectedEncodingName(info.encoding), static_cast<unsigned>(info.codePage),
                    static_cast<unsigned>(csv.GetRowCount()),
                    static_cast<unsigned>(csv.GetFieldCount()));
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}

const TCommandRegistration kRegistration({
    "csv",
    "FILE [--json]  CSVファイルを読み込み、文字コードと行数・列数を表示 / load a CSV file and "
    "show its encoding, rows and fields",
    &RunCsv,
});

}  // namespace
}  // namespace qm::cli
