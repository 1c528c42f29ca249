// quillomat-cli: the command-line face of Quillomat's core.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command.h"

namespace {

void PrintHelp() {
    std::fputs(
        "使い方: quillomat-cli <コマンド> [引数]\n"
        "Usage: quillomat-cli <command> [arguments]\n"
        "\n"
        "CSVファイルの行をExcelブックやAccessデータベースに追加するQuillomatの\n"
        "コマンドライン版です。\n"
        "The command-line edition of Quillomat, which appends the rows of CSV files to Excel\n"
        "workbooks and Access databases.\n"
        "\n"
        "コマンド / Commands:\n",
        stdout);
    std::vector<qm::cli::TCommand> commands = qm::cli::Commands();
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& command : commands)
        std::printf("  %s %s\n", command.name, command.synopsis);
    std::fputs("  --help  この説明を表示します / show this help\n", stdout);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return 2;
    }
    std::string_view name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp();
        return 0;
    }
    for (const auto& command : qm::cli::Commands()) {
        if (name == command.name)
            return command.run(std::vector<std::string>(argv + 2, argv + argc));
    }
    std::fprintf(stderr, "quillomat-cli: 不明なコマンドです / unknown command: %s\n", argv[1]);
    return 2;
}
