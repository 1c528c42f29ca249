// Appending rows to one table inside a transaction held in a page store: defaults, required
// fields and auto-numbers applied, each row encoded and placed on the table's data pages the
// way Jet fills them, long values written to the column's LVAL pages, index entries added,
// and the definition's counters (rows, last auto-number, last complex key, distinct keys)
// written back by Finish.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "targets/jet/jet_database.h"
#include "targets/jet/jet_long_value_writer.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/value.h"

namespace qm::jet {

class TJetIndexWriter;

// Throws Error naming the table and the reason when its rules, defaults or calculated columns
// need an Access expression evaluated (this engine does not evaluate them yet). The one place
// that decides which expressions the engine can take.
void RefuseExpressionsNeedingEvaluation(const TJetTable& table, const TJetProperties& properties,
                                        const std::u16string& path);

class TJetTableWriter {
  public:
    // Refuses, before anything is written, a table this engine cannot write soundly (see
    // RefuseUnwritableTable in the source), with a Japanese message naming the table and why.
    TJetTableWriter(const TJetDatabase& database, const TJetTable& table, TJetPageStore& store,
                    TJetPageAllocator& allocator);
    ~TJetTableWriter();

    // Appends one row; `values` follow the table's fields (TJetTable::Fields). A row that
    // fails (a required field left empty, a duplicate key, a value too long) throws before
    // anything of it is written.
    void Append(const std::vector<TValue>& values);

    // Writes the definition's counters into the store.
    void Finish();

    std::uint32_t RowsAppended() const { return appended_; }

  private:
    void PlaceRow(const std::string& row, std::uint32_t& page, std::uint8_t& slot);
    TLongValueWriter& LongValues(const TColumnDef& column);

    const TJetDatabase& database_;
    const TJetTable& table_;
    const TTableDef& def_;
    TJetPageStore& store_;
    TJetPageAllocator& allocator_;
    std::vector<std::size_t> fieldColumn_;         // field i → index into def_.columns
    std::vector<std::optional<TValue>> defaults_;  // by column index
    std::vector<bool> required_;                   // by column index
    std::vector<std::unique_ptr<TLongValueWriter>> longValues_;  // by column index
    std::vector<std::unique_ptr<TJetIndexWriter>> indexes_;      // by physical index
    std::uint32_t currentPage_ = 0;  // the data page being filled, 0 before the first
    std::uint32_t lastAutoNumber_ = 0;
    std::uint32_t lastComplexKey_ = 0;
    std::uint32_t appended_ = 0;
};

}  // namespace qm::jet
