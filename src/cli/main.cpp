// quillomat-cli: the command-line face of Quillomat's core.
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char* kHelp =
    "使い方: quillomat-cli <コマンド> [引数]\n"
    "Usage: quillomat-cli <command> [arguments]\n"
    "\n"
    "CSVファイルの行をExcelブックやAccessデータベースに追加するQuillomatのコマンドライン版です。\n"
    "The command-line edition of Quillomat, which appends CSV rows to Excel workbooks and\n"
    "Access databases.\n"
    "\n"
    "  --help    この説明を表示します / show this help\n";

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h") {
        std::fputs(kHelp, stdout);
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "quillomat-cli: 不明なコマンドです / unknown command: %s\n", argv[1]);
    return 2;
}
