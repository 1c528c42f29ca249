// What the commands that read a target share: connecting to the workbook or database named on
// the command line, opening one of its worksheets or tables, and reporting a failure.
#pragma once

#include <cstdio>
#include <string>

#include "platform/error.h"
#include "targets/connection.h"

namespace qm::cli {

// Connects to the target file (the engine is chosen by its kind). Throws Error.
void ConnectTarget(TConnection& connection, const std::u16string& file);

// Opens the worksheet or table `name`, written as the user sees it (no brackets), on a
// connected target. Throws Error.
void OpenTargetTable(TTable& table, const std::u16string& name);

// Runs a command's body; an Error is printed to stderr (after what the body printed) and
// gives exit status 1.
template <typename TBody>
int RunReportingErrors(TBody&& body) {
    try {
        return body();
    } catch (const Error& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

}  // namespace qm::cli
