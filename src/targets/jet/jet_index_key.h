// Index keys of the column types whose encoding does not depend on a collation (numbers,
// dates, currency, GUIDs, binary). Text keys need the sort order's weight tables and are not
// built here.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "targets/jet/jet_row.h"
#include "targets/jet/jet_table_def.h"

namespace qm::jet {

// True when keys of a column of this type do not depend on a sort order and can be built here.
bool IndexKeyTypeSupported(std::uint8_t type);

// True when EncodeIndexKey can build keys for every column of the index.
bool CanEncodeIndexKey(const TTableDef& def, const TPhysicalIndex& index);

// The key bytes of one row for `index`; nullopt when a column's type is not supported.
std::optional<std::string> EncodeIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                                          const TRowLayout& row);

// Whether every column of the index is NULL in the row (such rows have no entry in an index
// that ignores nulls).
bool AllIndexColumnsNull(const TTableDef& def, const TPhysicalIndex& index, const TRowLayout& row);

}  // namespace qm::jet
