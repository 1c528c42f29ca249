// Subcommands of quillomat-cli. Each lives in its own cmd_*.cpp and registers itself with a
// static TCommandRegistration, so adding one touches no other file.
#pragma once

#include <string>
#include <vector>

namespace qm::cli {

struct TCommand {
    const char* name;
    // One line for the overview of --help: "ARGS  日本語 / English".
    const char* synopsis;
    // Runs with the arguments after the command's name; returns the exit status.
    int (*run)(const std::vector<std::string>& args);
};

const std::vector<TCommand>& Commands();

struct TCommandRegistration {
    explicit TCommandRegistration(TCommand command);
};

}  // namespace qm::cli
