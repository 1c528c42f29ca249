// Number formats of Excel cells, classified by the kind of value they show. Both workbook
// formats keep the same built-in format ids and the same format code syntax.
#pragma once

#include <cstdint>
#include <string_view>

namespace qm::sheet {

// What a cell style says about the value it formats.
enum class TStyleKind : std::uint8_t { General, Date, Currency };

// The kind of value a number format shows (built-in id or format code, UTF-8).
TStyleKind ClassifyNumberFormat(std::uint32_t id, std::string_view code);

}  // namespace qm::sheet
