// Decoding the rows of a table: the layout of one Jet 4 / ACE row (column count, fixed area,
// variable slots, null mask) and the conversion of each column's bytes into a value.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "targets/jet/jet_page_file.h"
#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_value.h"

namespace qm::jet {

// Where one column's bytes are in a row; `present` is false for NULL (and for columns the row
// was written without).
struct TCellBytes {
    bool present = false;
    std::span<const std::uint8_t> bytes;
};

class TRowLayout {
  public:
    // Splits `row` by the table's definition; throws a damage error when the row's own counts
    // and offsets do not fit inside it.
    TRowLayout(const TJetPageFile& file, const TTableDef& def, std::span<const std::uint8_t> row);

    // The bytes of a column (by its definition). Yes/No columns have no bytes: see Flag.
    TCellBytes Cell(const TColumnDef& column) const;
    // The null-mask bit of a column; false for columns the row was written without.
    bool Flag(const TColumnDef& column) const;

  private:
    const TJetPageFile& file_;
    std::span<const std::uint8_t> row_;
    std::uint16_t columnCount_ = 0;
    const std::uint8_t* nullMask_ = nullptr;
    std::uint16_t varCount_ = 0;
    std::size_t varTable_ = 0;  // position of the variable count
    std::size_t fixedEnd_ = 0;  // first byte that is not fixed-area or variable data
};

// Decodes the values of a table's columns. Complex columns (attachments, multi-value fields)
// go through `complexSummary`, which turns the row's key into readable text; without one the
// key itself is shown.
class TRowDecoder {
  public:
    using TComplexSummary = std::function<std::u16string(const TColumnDef&, std::int32_t key)>;

    TRowDecoder(const TJetPageFile& file, const TTableDef& def,
                TComplexSummary complexSummary = {});

    // Decodes every column, in the definition's order, into `out`.
    void Decode(std::span<const std::uint8_t> row, std::vector<TJetValue>& out) const;
    // Decodes one column of an already split row.
    TJetValue DecodeColumn(const TRowLayout& layout, const TColumnDef& column) const;

  private:
    TJetValue DecodeCalculated(const TColumnDef& column, std::span<const std::uint8_t> cell) const;
    TJetValue DecodeBytes(const TColumnDef& column, std::uint8_t type,
                          std::span<const std::uint8_t> bytes) const;

    const TJetPageFile& file_;
    const TTableDef& def_;
    TComplexSummary complexSummary_;
};

// The bytes a value of the column takes in the fixed area: by its type where the type decides
// it (TypeFixedSize), else the column's declared length.
std::size_t FixedSize(const TColumnDef& column);

}  // namespace qm::jet
