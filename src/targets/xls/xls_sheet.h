// The cells of one worksheet of a .xls workbook, found by one scan of its substream that
// remembers where each row's cell records lie, so that any row is then decoded on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "targets/value.h"
#include "targets/xls/xls_workbook.h"

namespace qm::xls {

struct TXlsCell {
    std::uint16_t Column = 0;  // 0-based
    std::uint16_t Xf = 0;
    TValue Value;  // null for formatted empty cells
};

class TXlsSheet {
  public:
    // Scans the sheet's substream. Throws Error when it is damaged.
    TXlsSheet(const TXlsWorkbook& book, std::size_t sheet);

    // One past the last 0-based row that has a ROW record or a cell (0: an empty sheet).
    std::uint32_t RowEnd() const noexcept { return rowEnd_; }
    // The first row at or after 'from' (0-based) that has cell records; false when none.
    bool NextRowWithCells(std::uint32_t from, std::uint32_t& row) const;
    // The cells of a 0-based row in column order (empty for a row without cells).
    void ReadRow(std::uint32_t row, std::vector<TXlsCell>& cells) const;
    // Marks the 1-based columns (used[column] = true, growing 'used' as needed) in which a cell
    // of a row at or after 'fromRow' (0-based) holds a value, looking at the cell records
    // without building their values: blank cells and empty text do not count.
    void MarkColumnsWithValues(std::uint32_t fromRow, std::vector<bool>& used) const;

  private:
    void Scan(std::uint32_t offset);
    void DecodeRecord(const TRecord& rec, std::uint32_t row, std::vector<TXlsCell>& cells) const;
    TValue FormulaValue(const TRecord& rec) const;
    bool FormulaHoldsValue(const TRecord& rec) const;
    TValue NumberValue(double number, std::uint16_t xf) const;

    // Where a row's cell records lie in the stream: from the first to the end of the last.
    struct TSpan {
        std::uint32_t First = 0, End = 0;  // End == 0: no cells
    };
    const TXlsWorkbook& book_;
    std::vector<TSpan> spans_;  // by 0-based row
    std::uint32_t rowEnd_ = 0;
};

// The value of an RK number (a compact double or integer, optionally scaled by 1/100).
double DecodeRk(std::uint32_t rk);
// The text Excel shows for a cell error code, e.g. "#DIV/0!".
std::u16string ErrorText(std::uint8_t code);

}  // namespace qm::xls
