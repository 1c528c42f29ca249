#include "targets/jet/jet_row_index_key.h"

#include "targets/jet/jet_index_key.h"

namespace qm::jet {
namespace {

bool IsText(const TColumnDef& column) {
    return column.type == kTypeText || column.type == kTypeMemo;
}

}  // namespace

bool IndexColumnKeyable(const TColumnDef& column) {
    if (column.IsCalculated()) return false;
    if (!IsText(column)) return IndexKeyTypeSupported(column.type);
    return IsTextKeySortOrderSupported({column.sortOrder, column.sortVersion});
}

TRowIndexKey EncodeRowIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                               const TRowLayout& row, const TRowDecoder& decoder,
                               const TPendingText& pending) {
    TRowIndexKey key;
    for (const TIndexColumn& ic : index.columns) {
        const TColumnDef* column = def.ColumnByNumber(ic.column);
        if (column == nullptr) {
            key.unsupported = true;
            return key;
        }
        if (!IsText(*column)) {
            TPhysicalIndex single;
            single.columns = {ic};
            const auto part = EncodeIndexKey(def, single, row);
            if (!part) {
                key.unsupported = true;
                key.column = column;
                return key;
            }
            key.bytes += *part;
            continue;
        }
        const std::u16string* text = pending ? pending(*column) : nullptr;
        TJetValue decoded;
        if (text == nullptr) {
            decoded = decoder.DecodeColumn(row, *column);
            if (decoded.IsNull()) {
                key.bytes.push_back(ic.ascending ? '\0' : static_cast<char>(0xFF));  // NULL flag
                continue;
            }
            text = &decoded.text;
        }
        const std::u16string_view keyed = std::u16string_view(*text).substr(0, kTextKeyCharacters);
        TTextKey encoded =
            EncodeTextKey(keyed, {column->sortOrder, column->sortVersion}, ic.ascending);
        if (encoded.refusal) {
            key.refusal = std::move(encoded.refusal);
            key.column = column;
            key.value = *text;
            return key;
        }
        key.bytes += encoded.bytes;
        // An entry longer than the longest proven text key is refused as a whole too.
        if (key.bytes.size() > kMaxTextKeyBytes) {
            key.refusal = TTextKeyRefusal{0, 0, LongKeyReason()};
            key.column = column;
            key.value = *text;
            key.bytes.clear();
            return key;
        }
    }
    return key;
}

}  // namespace qm::jet
