#include "targets/jet/jet_row_index_key.h"

#include "targets/jet/jet_index_key.h"

namespace qm::jet {

TRowIndexKey EncodeRowIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                               const TRowLayout& row, const TRowDecoder& decoder) {
    TRowIndexKey key;
    for (const TIndexColumn& ic : index.columns) {
        const TColumnDef* column = def.ColumnByNumber(ic.column);
        if (column == nullptr) {
            key.unsupported = true;
            return key;
        }
        if (column->type != kTypeText && column->type != kTypeMemo) {
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
        // Descending text keys complement the ascending ones in a way no key has shown yet.
        if (!ic.ascending) {
            key.unsupported = true;
            key.column = column;
            return key;
        }
        const TJetValue value = decoder.DecodeColumn(row, *column);
        if (value.IsNull()) {
            key.bytes.push_back('\0');  // the NULL flag of an ascending column
            continue;
        }
        TTextKey text = EncodeTextKey(value.text, {column->sortOrder, column->sortVersion});
        if (text.refusal) {
            key.refusal = std::move(text.refusal);
            key.column = column;
            key.value = value.text;
            return key;
        }
        key.bytes += text.bytes;
    }
    return key;
}

}  // namespace qm::jet
