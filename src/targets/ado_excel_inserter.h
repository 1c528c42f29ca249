// Appending the rows of a loaded CSV table to the open target table, one CSV row per call.
//
// The import run makes one inserter per run and drives it:
//   construct; while (HasRow()) { InsertRow(); NextRow(); }
// With the header flag, row 0 (the field names) is skipped. The inserter knows nothing of
// transactions, progress or cancelling; it catches nothing.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "targets/relation.h"

namespace qm {

class TCsv;
class TField;
class TTable;

// One relation entry bound to a field of an open table. Field is null when the table has no
// field of that name: looking it up then raises the table's own error, but only once a
// non-empty cell has to go there.
struct TBoundRelationEntry {
    const std::u16string* Name;
    std::uint32_t Column;  // the entry's index read as unsigned: -1 names no CSV column
    TField* Field;
};

// Binds every entry of the relation, in key order, to the field of that name: an exact match
// first, then one that differs only in letter case, as TTable::FieldByName finds it. One hash
// lookup per entry, so a run pays for the names once and not per row. The pointers stay valid
// while the table stays open and the relation unchanged.
std::vector<TBoundRelationEntry> BindRelation(TTable& table, const TRelation& relation);

// The text a cell gives its field: every line feed becomes CR LF (cells never hold a CR, so
// every line break of a quoted CSV field reaches the target as CR LF). Returns the cell itself
// when it has no line feed, else the converted text in 'scratch'.
std::u16string_view CellTextForField(std::u16string_view cell, std::u16string& scratch);

class TAdoExcelInserter {
  public:
    // Neither table nor CSV is owned; both must stay alive, the table open and the CSV
    // unchanged, while the inserter lives. Touches neither: the row count is read once here.
    TAdoExcelInserter(TTable* dataSet, const TCsv* csv, TRelation relation, bool firstLineIsTitle);
    TAdoExcelInserter(const TAdoExcelInserter&) = delete;
    TAdoExcelInserter& operator=(const TAdoExcelInserter&) = delete;

    bool HasRow() const noexcept { return FCurrentRow < FRowCount; }
    // Appends CSV row CurrentRow() as one new target row: Insert, each mapped non-empty cell
    // assigned as text in the relation's key order, Post. Empty cells leave their fields
    // untouched. Does not advance. On an error nothing is caught: the unposted row stays, the
    // row does not advance, and the inserter is not to be used again.
    void InsertRow();
    void NextRow() noexcept { ++FCurrentRow; }

    // Every row of the CSV table, a header line included.
    std::uint32_t RowCount() const noexcept { return FRowCount; }
    // The CSV row InsertRow writes next.
    std::uint32_t CurrentRow() const noexcept { return FCurrentRow; }
    // The target field InsertRow was filling when it raised; empty when the error came from
    // starting or posting the row.
    std::u16string_view FailedFieldName() const noexcept {
        return FFailedField ? std::u16string_view(*FFailedField) : std::u16string_view();
    }

  private:
    TTable* FDataSet;
    const TCsv* FCsv;
    TRelation FRelation;
    std::uint32_t FRowCount;
    std::uint32_t FCurrentRow;

    // Filled at the first InsertRow, once the table is known to be open.
    std::vector<TBoundRelationEntry> FBound;
    bool FBindDone = false;
    const std::u16string* FFailedField = nullptr;
    std::u16string FScratch;  // a cell with line feeds, converted; reused across rows
};

}  // namespace qm
