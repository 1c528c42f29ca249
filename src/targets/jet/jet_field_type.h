// The TFieldType each Access column is reported as: the code the Jet 4.0 / ACE 12.0 OLE DB
// providers give through ADO, so that the relation grid shows the type names users know.
#pragma once

#include "targets/field_type.h"
#include "targets/jet/jet_table_def.h"

namespace qm::jet {

TFieldType JetFieldType(const TColumnDef& column);

}  // namespace qm::jet
