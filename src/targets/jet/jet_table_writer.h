// Appending rows to one table inside a transaction held in a page store: defaults, required
// fields, zero-length texts, validation rules, calculated columns and auto-numbers applied, each
// row encoded and placed on the table's data pages the way Jet fills them, long values written to
// the column's LVAL pages, index entries added, and the definition's counters (rows, last
// auto-number, last complex key, distinct keys) written back by Finish.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "targets/jet/access_table_rules.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_long_value_writer.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_relationship_check.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/value.h"

namespace qm::jet {

class TJetIndexWriter;

class TJetTableWriter : private TParentIndexes {
  public:
    // Refuses, before anything is written, a table this engine cannot write soundly (see
    // RefuseUnwritableTable in the source), with a Japanese message naming the table and why.
    // `parents` finds the keys of the tables this one references (the engine's, which knows
    // the other tables the transaction writes); without it they are read from the file.
    TJetTableWriter(const TJetDatabase& database, const TJetTable& table, TJetPageStore& store,
                    TJetPageAllocator& allocator, TParentIndexes* parents = nullptr);
    ~TJetTableWriter() override;

    // Appends one row; `values` follow the table's fields (TJetTable::Fields). A row that
    // fails (a required field left empty, a broken validation rule, a duplicate key, a value
    // too long) throws before anything of it is written.
    void Append(const std::vector<TValue>& values);

    // Writes the definition's counters into the store.
    void Finish();

    std::uint32_t RowsAppended() const { return appended_; }

    // Whether physical index `physical` of this table holds `key`, the rows appended so far
    // included.
    bool IndexHasKey(std::size_t physical, const std::string& key);

  private:
    bool HasKey(std::uint32_t tdefPage, std::size_t physical, const std::string& key) override;
    void PlaceRow(const std::string& row, std::uint32_t& page, std::uint8_t& slot);
    TLongValueWriter& LongValues(const TColumnDef& column);
    // What Access does when a row is saved: defaults for the fields left empty, Required,
    // Allow Zero Length, field rules, calculated columns, then the table's rule.
    void ApplyFieldRules(std::vector<TValue>& byColumn) const;
    void CheckTableRule(const std::vector<TValue>& byColumn) const;
    TCellValue CalculatedCell(const TColumnDef& column, const TValue& result) const;
    TExpressionContext ContextFor(const std::vector<TValue>& byColumn) const;

    const TJetDatabase& database_;
    const TJetTable& table_;
    const TTableDef& def_;
    TJetPageStore& store_;
    TJetPageAllocator& allocator_;
    std::vector<std::size_t> fieldColumn_;                // field i → index into def_.columns
    TTableRules rules_;                                   // parsed once, before any row
    std::vector<const TFieldRules*> columnRules_;         // by column index; nullptr: none
    std::vector<bool> required_;                          // by column index
    std::vector<bool> refuseZeroLength_;                  // by column index: AllowZeroLength is No
    std::map<std::u16string, std::size_t> columnByName_;  // upper-case name → column index
    TDateTime now_;                                       // one clock reading for the whole import
    std::vector<std::unique_ptr<TLongValueWriter>> longValues_;  // by column index
    std::vector<std::unique_ptr<TJetIndexWriter>> indexes_;      // by physical index
    std::unique_ptr<TRelationshipCheck> relationships_;          // where this table is the child
    std::unique_ptr<TFileParentIndexes> fileParents_;            // when no `parents` was given
    TParentIndexes* parents_ = nullptr;
    std::uint32_t currentPage_ = 0;  // the data page being filled, 0 before the first
    std::uint32_t lastAutoNumber_ = 0;
    std::uint32_t lastComplexKey_ = 0;
    std::uint32_t appended_ = 0;
};

}  // namespace qm::jet
