// The Access engine behind the connection/table layer: .mdb and .accdb files reached through
// the Jet 4.0 and ACE 12.0 connection strings.
#pragma once

#include <memory>
#include <string_view>

#include "targets/engine.h"

namespace qm::jet {

// True for the connection strings and file contents this engine serves: a database provider
// (no Excel properties) and a file that starts like a Jet or ACE database.
bool AcceptsConnection(const TConnectionInfo& info, std::string_view head);

// Opens the database. The Jet 4.0 provider cannot read ACE (.accdb) databases, so such a file
// named in a Jet 4.0 connection string is refused, as the provider refuses it.
std::unique_ptr<TEngine> OpenJetEngine(const TConnectionInfo& info);

}  // namespace qm::jet
