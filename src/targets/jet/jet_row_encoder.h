// Encoding rows as Jet 4 / ACE store them: each column's value in its stored form, and the
// row around them (column count, fixed area, variable data, end-of-data offset, variable-slot
// offsets last slot first, slot count, null mask).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/jet_table_def.h"
#include "targets/value.h"

namespace qm::jet {

// One column of a row about to be encoded. Yes/No columns keep their value in `present`.
struct TCellValue {
    bool present = false;
    std::string bytes;
};

// The most bytes a Jet 4 / ACE row may take (the rest of a page is its header and slot).
inline constexpr std::size_t kMaxRowSize = 4060;
inline constexpr char16_t kRowTooLongMessage[] =
    u"行のデータが長すぎるため、1 行に収まりません（Access の 1 行は 4060 バイトまでです）。";

// The stored bytes of `value` for a column that is not a long value (memo, OLE) and not
// complex. Throws Error naming the field and the value when the value does not fit the
// column (a number out of range, a text longer than the field, a malformed GUID).
TCellValue EncodeColumnValue(const TColumnDef& column, const TValue& value);

// The stored cell of a calculated column whose expression gave `result`: 16 zero bytes, the
// result's length (4 bytes), the result in the stored form of the column's result type (Yes/No
// as one byte FF or 00, text always in the compressed form where it allows), then zeros: to
// the column's length when it sits in the fixed area, else three, as Access writes them.
// Throws Error when the result does not fit the result type.
TCellValue EncodeCalculatedValue(const TColumnDef& column, const TValue& result);

// Text in the form the column stores: the compressed form (FF FE, one byte a character) when
// the column allows Unicode compression and every character is in U+0001..U+00FF, else
// UTF-16LE. A text that starts with U+FEFF is written in the compressed form (switched to
// two-byte characters) where the column allows it and refused (Error) where it does not: plain
// UTF-16 would read back as compressed text.
std::string EncodeJetText(const TColumnDef& column, std::u16string_view text);

// The row: `cells` follow def.columns. Written with the definition's maximum column count and
// every variable slot it declares, as Access writes new rows. Throws Error when the row is
// longer than kMaxRowSize.
std::string EncodeRow(const TTableDef& def, const std::vector<TCellValue>& cells);

// "値「…」" as messages quote a value (long texts cut).
std::u16string QuotedValue(std::u16string_view text);

}  // namespace qm::jet
