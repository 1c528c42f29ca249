// A1-style cell references of spreadsheets: columns A..XFD, rows 1..1048576.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::xlsx {

inline constexpr std::uint32_t kMaxRows = 1048576;
inline constexpr std::uint32_t kMaxColumns = 16384;

// 1-based row and column; 0 means "not given" (a whole-column or whole-row reference).
struct TCellRef {
    std::uint32_t Row = 0;
    std::uint32_t Column = 0;
};

struct TAreaRef {
    TCellRef First, Last;
};

// Parses "B12", "$B$12", "B" or "12" parts; false when the text is not a reference within the
// sheet limits.
bool ParseCellRef(std::string_view text, TCellRef& ref);
// "A1:C10" or a single cell "B2" (then First == Last).
bool ParseAreaRef(std::string_view text, TAreaRef& area);

// 1 → "A", 28 → "AB".
std::string ColumnName(std::uint32_t column);
std::string CellName(std::uint32_t row, std::uint32_t column);
// "A1:C10", or "A1" for a single cell.
std::string AreaName(const TAreaRef& area);
// "$A$1:$C$10" (for defined names).
std::string AbsoluteAreaName(const TAreaRef& area);

}  // namespace qm::xlsx
