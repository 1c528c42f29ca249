// How many pages an import must at least add to a database, from what is known before its
// first row (the rows, and the characters of each field filled). The count is a floor, never
// more than the writer will take: an import it puts past the 2 GB limit surely passes it, so
// it can be refused up front; one it leaves under is still stopped by the allocator, row by row.
#pragma once

#include <cstdint>

#include "targets/engine.h"
#include "targets/jet/jet_database.h"

namespace qm::jet {

// The fewest data, long-value and index pages that appending `volume` to `table` adds (pages
// the file has free are not subtracted here).
std::uint64_t MinimumPagesAdded(const TJetTable& table, const TImportVolume& volume);

// Throws, naming the file and the limit, when the database cannot take that many pages more
// (DatabasePageLimit), counting the free pages inside the file that the writer uses first.
void RefuseOversizedImport(const TJetDatabase& database, const TJetTable& table,
                           const TImportVolume& volume);

}  // namespace qm::jet
