// The relation: which CSV column feeds which field of the target table.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qm {

// Target field name (exact, case-sensitive) to 0-based CSV column index; -1 names no column.
// Keys ascend by UTF-16 code unit (std::u16string's own order: no locale, no case folding, a
// prefix first), which is also the order in which rows are written. Inserting a key that is
// already present keeps the first value, as std::map::insert/emplace do.
using TRelation = std::map<std::u16string, std::int32_t>;

// The text form stored in project files and carried by the "-r=" option: comma text of
// name=index items, one for every entry in map order (keys that differ only in letter case
// are two items).
std::u16string RelationToText(const TRelation& relation);

// Reads any text; never fails. The name of an item ends at its last "=", so names holding "="
// come back whole. An index that is not a 32-bit integer reads as -1, and a repeated name keeps
// its first index.
TRelation TextToRelation(std::u16string_view text);

}  // namespace qm
