// The consistency checker: proves that a database file's bookkeeping agrees with its data.
// It is strict on purpose, since it is what shows that files written by this engine are sound.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "targets/jet/jet_database.h"

namespace qm::jet {

struct TTableCheck {
    std::u16string table;
    std::uint32_t liveRows = 0;
    std::uint32_t storedRowCount = 0;
    std::uint32_t indexes = 0;       // physical indexes walked
    std::uint32_t keysCompared = 0;  // index entries whose key was rebuilt from the row
    // Strict checks: text index entries whose value the text encoder cannot prove a key for
    // (their keys are left unchecked).
    std::uint32_t keysNotProvable = 0;
};

struct TCheckReport {
    std::vector<TTableCheck> tables;
    std::vector<std::u16string> problems;  // empty when the file is consistent
    // Deviations that Access itself leaves in files it wrote and that lose nothing: a stored row
    // count below the live rows (Jet keeps it as an estimate and recounts on compacting), and
    // pages whose rows were all deleted and that were never handed back to the free map.
    std::vector<std::u16string> warnings;
    bool Consistent() const { return problems.empty(); }
};

struct TCheckOptions {
    // Treat the warnings as problems: the files this engine writes must not have them.
    bool strict = false;
};

// Checks every local table (system tables included, and the local definitions that linked
// tables keep):
// - the row count in the definition equals the live rows a scan finds;
// - the owned-pages map holds exactly the table's data pages in use, the free-space map is a
//   subset of it, long-value maps hold the pages the column's values use;
// - every index tree is well formed (page types, owners, sibling links, parent entries equal
//   their child's last entry), its pages are exactly those of its usage map, its entries are
//   strictly ordered, and it has exactly one entry per live row (none for all-NULL rows of an
//   index that ignores nulls), with the key rebuilt from the row where the key does not depend
//   on a collation (strict checks: text keys too, wherever the text encoder can prove the key);
// - no page is claimed twice or both used and marked free in the global map;
// - every value of every row decodes.
// Damage that stops reading altogether is reported as a problem too.
TCheckReport CheckDatabase(const TJetDatabase& database, TCheckOptions options = {});

// The check before writing, which costs what an append can make worse rather than what the
// whole database holds: the tables in `fullTables` (by definition page) have their maps, row
// count and index trees (shape, pages, order) checked, without decoding their rows or matching
// every entry to its row, since an append neither reads nor changes the rows already there;
// every other table only claims the pages its definition and maps name, so that no page in use
// is ever taken for a free one.
TCheckReport CheckDatabaseForWriting(const TJetDatabase& database,
                                     const std::set<std::uint32_t>& fullTables);

}  // namespace qm::jet
