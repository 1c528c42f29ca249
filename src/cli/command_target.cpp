#include "cli/command_target.h"

#include "targets/target_access.h"

namespace qm::cli {

void ConnectTarget(TConnection& connection, const std::u16string& file) {
    connection.SetConnectionString(GetConnectionString(file));
    connection.Open();
}

void OpenTargetTable(TTable& table, const std::u16string& name) {
    table.SetTableName(u"[" + name + u"]");
    table.Open();
}

}  // namespace qm::cli
