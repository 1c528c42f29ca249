// quillomat-cli: the command-line face of Quillomat's core.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "about/program_info_options.h"
#include "cli/command.h"

namespace {

void PrintHelp() {
    // The text shared with the manual page, then the commands as they are registered.
    std::fputs(qm::ProgramHelpText("quillomat-cli"), stdout);
    std::fputs("\nコマンド / Commands:\n", stdout);
    std::vector<qm::cli::TCommand> commands = qm::cli::Commands();
    std::sort(commands.begin(), commands.end(),
              [](const auto& a, const auto& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& command : commands)
        std::printf("  %s %s\n", command.name, command.synopsis);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        PrintHelp();
        return 2;
    }
    std::string_view name = argv[1];
    if (name == "--version") {
        std::fputs(qm::ProgramVersionText("quillomat-cli").c_str(), stdout);
        return 0;
    }
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
