// Converting the text of a CSV cell to the type of the field it is assigned to.
//
// Accepted forms, for every engine (full-width digits, signs, separators and letters count as
// their ASCII forms; spaces around the value are ignored except for text fields):
//
//   integers   (ftSmallint, ftInteger, ftWord, ftAutoInc, ftLargeint, ftLongWord,
//               ftShortint, ftByte)
//              optional sign, digits with optional "," group separators, an optional
//              fraction of zeros ("12.00"); must fit the field's range.
//   floating   (ftFloat, ftSingle, ftExtended) as integers, plus a "." fraction and an
//              exponent ("1.5e-3", "-2E+10"); must be finite.
//   currency   (ftCurrency) as floating without exponent, optional leading "¥", "￥" or
//              "$"; rounded half away from zero to four decimals.
//   decimal    (ftBCD, ftFMTBcd) as currency; kept exactly, rounded to the field's scale
//              when it has one.
//   boolean    (ftBoolean) True/False, Yes/No, On/Off in any letter case; a number: 0 is
//              false, any other true.
//   date/time  (ftDate, ftTime, ftDateTime, ftTimeStamp) a date as year, month and day
//              separated by "/" or "-" ("2024/1/31", "2024-01-31") or written "2024年1月31日",
//              optionally followed by a time after a space or "T"; or a time alone
//              "H:MM", "H:MM:SS" or "H:MM:SS.fff" (on 1899-12-30, the platform's day zero).
//              The date must exist (years 1..9999); hours 0..23.
//   GUID       (ftGuid) 32 hex digits in the 8-4-4-4-12 pattern, braces optional; stored
//              upper-case in braces.
//   text       (ftString, ftWideString, ftFixedChar, ftFixedWideChar, ftMemo, ftWideMemo,
//              ftFmtMemo, ftOraClob) kept exactly; longer than the field's size is an error.
//
// An empty text (or only spaces, for non-text fields) gives null. Binary and other types do
// not take text. Every failure throws Error naming the field, the value and the type.
#pragma once

#include <string_view>

#include "targets/engine.h"
#include "targets/value.h"

namespace qm {

TValue ConvertFieldText(const TFieldDef& field, std::u16string_view text);

}  // namespace qm
