// Spreadsheet column letters (A, B, ..., Z, AA, ..., XFD) for naming CSV columns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Columns 0 .. MaxColumnCount - 1 have letters; 16383 is XFD.
constexpr std::int32_t MaxColumnCount = 16384;

// The letters of a 0-based column index, or the empty string outside 0 .. MaxColumnCount - 1.
// Letters are computed once per index and kept for the life of the process, so the reference
// stays valid and a second call returns the very same string.
const std::u16string& ColumnLetters(std::int32_t index);

// count captions (count clamped to 0 .. MaxColumnCount): prefix + letters + suffix.
std::vector<std::u16string> ColumnLetterNames(std::int32_t count, std::u16string_view prefix,
                                              std::u16string_view suffix);

}  // namespace qm
