// The key of one row for any physical index whose columns have a key encoding here: text
// columns through the sort-order encoder (jet_text_key.h), the others through the collation-free
// encoder (jet_index_key.h). What cannot be keyed is reported, never guessed.
#pragma once

#include <optional>
#include <string>

#include "targets/jet/jet_row.h"
#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_text_key.h"

namespace qm::jet {

struct TRowIndexKey {
    std::string bytes;  // the whole key, column after column, when everything could be keyed
    // Set when a text value cannot be keyed: the refusal and the column it came from.
    std::optional<TTextKeyRefusal> refusal;
    const TColumnDef* column = nullptr;
    std::u16string value;
    // Set when a column's type or direction has no key encoding here (descending text,
    // Yes/No, Decimal, …): `column` names it.
    bool unsupported = false;

    bool Ok() const { return !refusal && !unsupported; }
};

TRowIndexKey EncodeRowIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                               const TRowLayout& row, const TRowDecoder& decoder);

}  // namespace qm::jet
