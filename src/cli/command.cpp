#include "cli/command.h"

namespace qm::cli {

namespace {
std::vector<TCommand>& Registry() {
    static std::vector<TCommand> commands;
    return commands;
}
}  // namespace

const std::vector<TCommand>& Commands() {
    return Registry();
}

TCommandRegistration::TCommandRegistration(TCommand command) {
    Registry().push_back(command);
}

}  // namespace qm::cli
