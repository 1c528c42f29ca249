// quillomat-cli tables FILE: the worksheets or tables of a target, one a line, in list order.
#include <cstdio>

#include "cli/command.h"
#include "cli/command_target.h"
#include "platform/error.h"
#include "platform/native_path.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace {

int Run(const std::vector<std::string>& args) {
    if (args.size() != 1) {
        std::fputs("使い方 / usage: quillomat-cli tables FILE\n", stderr);
        return 1;
    }
    return qm::cli::RunReportingErrors([&] {
        qm::TConnection connection;
        qm::cli::ConnectTarget(connection, qm::FromNativePath(args[0]));
        std::vector<std::u16string> names;
        connection.GetTableNames(names, false);
        for (const auto& name : names)
            std::printf("%s\n", qm::Utf16ToUtf8(name).c_str());
        return 0;
    });
}

const qm::cli::TCommandRegistration kRegistration(
    {"tables", "FILE  ワークシート/テーブルの一覧 / list the tables", Run});

}  // namespace
