// The key of one row for any physical index whose columns have a key encoding here: text
// columns through the sort-order encoder (jet_text_key.h), the others through the collation-free
// encoder (jet_index_key.h). What cannot be keyed is reported, never guessed.
#pragma once

#include <functional>
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
    // Set when a column's type has no key encoding here (Decimal, …): `column` names it.
    bool unsupported = false;

    bool Ok() const { return !refusal && !unsupported; }
};

// A text column's value where the row's bytes do not hold it yet (a Long Text value the
// writer has not stored in its pages): nullptr when the row holds it.
using TPendingText = std::function<const std::u16string*(const TColumnDef&)>;

// Only the first 255 characters of a text value are keyed (the most a Short Text holds; Long
// Text keys are cut there too), without the trailing spaces of what remains.
inline constexpr std::size_t kTextKeyCharacters = 255;

TRowIndexKey EncodeRowIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                               const TRowLayout& row, const TRowDecoder& decoder,
                               const TPendingText& pending = {});

// Whether keys of the column can be written at all, in either direction: a column type with a
// key encoding, or a text column of a sort order the encoder knows. Single values the encoder
// cannot key are refused row by row.
bool IndexColumnKeyable(const TColumnDef& column);

}  // namespace qm::jet
