// Rows from the target's field list; kept apart so that the grid's other code does not depend
// on the target access layer.
#include "grids/grid_relation.h"
#include "targets/target_access.h"

namespace qm {

void TGridRelation::SetFields(const std::vector<TAdoExcelField>& fields) {
    std::vector<TFieldItem> items;
    items.reserve(fields.size());
    for (const TAdoExcelField& field : fields)
        items.push_back({field.Name, GetFieldTypeName(field.DataType), -1});
    SetItems(std::move(items));
}

}  // namespace qm
