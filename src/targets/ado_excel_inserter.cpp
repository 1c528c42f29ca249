#include "targets/ado_excel_inserter.h"

#include <unordered_map>

#include "csv/csv.h"
#include "targets/connection.h"

namespace qm {

std::vector<TBoundRelationEntry> BindRelation(TTable& table, const TRelation& relation) {
    std::unordered_map<std::u16string_view, TField*> byName;
    byName.reserve(static_cast<std::size_t>(table.FieldCount()));
    for (int number = 1; number <= table.FieldCount(); ++number) {
        TField& field = table.FieldByNumber(number);
        byName.emplace(field.FieldName(), &field);  // the first of equal names wins
    }
    std::vector<TBoundRelationEntry> bound;
    bound.reserve(relation.size());
    for (const auto& [name, column] : relation) {
        auto found = byName.find(name);
        // Names that differ only in letter case are rare; the table's own search finds them.
        TField* field = found != byName.end() ? found->second : table.FindField(name);
        bound.push_back({&name, static_cast<std::uint32_t>(column), field});
    }
    return bound;
}

std::u16string_view CellTextForField(std::u16string_view cell, std::u16string& scratch) {
    std::size_t lineFeed = cell.find(u'\n');
    if (lineFeed == std::u16string_view::npos) return cell;
    scratch.assign(cell.substr(0, lineFeed));
    for (std::size_t i = lineFeed; i < cell.size(); ++i) {
        if (cell[i] == u'\n') scratch.push_back(u'\r');
        scratch.push_back(cell[i]);
    }
    return scratch;
}

TAdoExcelInserter::TAdoExcelInserter(TTable* dataSet, const TCsv* csv, TRelation relation,
                                     bool firstLineIsTitle)
    : FDataSet(dataSet),
      FCsv(csv),
      FRelation(std::move(relation)),
      FRowCount(csv->GetRowCount()),
      FCurrentRow(firstLineIsTitle ? 1 : 0) {}

void TAdoExcelInserter::InsertRow() {
    FFailedField = nullptr;
    FDataSet->Insert();
    if (!FBindDone) {
        FBound = BindRelation(*FDataSet, FRelation);
        FBindDone = true;
    }
    for (const TBoundRelationEntry& entry : FBound) {
        std::u16string_view text =
            CellTextForField(FCsv->GetCellView(FCurrentRow, entry.Column), FScratch);
        if (text.empty()) continue;  // the field keeps what a new row starts with
        FFailedField = entry.Name;
        // An unbound name raises the table's "no such field" error here.
        TField& field = entry.Field ? *entry.Field : FDataSet->FieldByName(*entry.Name);
        field.AssignText(text);
    }
    FFailedField = nullptr;
    FDataSet->Post();
}

}  // namespace qm
