// quillomat-cli fields FILE TABLE: one line per field: name, type code, type name (tabs).
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
    if (args.size() != 2) {
        std::fputs("使い方 / usage: quillomat-cli fields FILE TABLE\n", stderr);
        return 1;
    }
    return qm::cli::RunReportingErrors([&] {
        qm::TConnection connection;
        qm::cli::ConnectTarget(connection, qm::FromNativePath(args[0]));
        qm::TTable table(connection);
        qm::cli::OpenTargetTable(table, qm::Utf8ToUtf16(args[1]));
        for (const auto& field : qm::GetFieldList(table))
            std::printf("%s\t%d\t%s\n", qm::Utf16ToUtf8(field.Name).c_str(),
                        static_cast<int>(field.DataType),
                        qm::Utf16ToUtf8(qm::GetFieldTypeName(field.DataType)).c_str());
        return 0;
    });
}

const qm::cli::TCommandRegistration kRegistration(
    {"fields", "FILE TABLE  フィールドと型の一覧 / list the fields and their types", Run});

}  // namespace
