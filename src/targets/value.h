// A field value as the layer hands it between engines and callers: what a cell or a column of a
// row holds once it is typed.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace qm {

// Money with four decimal places, stored as an integer count of 1/10000 units.
struct TCurrency {
    std::int64_t Scaled = 0;
    bool operator==(const TCurrency&) const = default;
};

// An exact decimal number as text: optional "-", digits, optional "." and digits.
struct TDecimal {
    std::string Text;
    bool operator==(const TDecimal&) const = default;
};

// A date and time as the desktop platform counts it: days since 1899-12-30, the fraction being
// the time of day. Engines convert to and from their own file's date system.
struct TDateTime {
    double Days = 0;
    bool operator==(const TDateTime&) const = default;
};

// Binary data; only its size matters to the preview.
struct TBytes {
    std::string Data;
    bool operator==(const TBytes&) const = default;
};

// std::monostate is the null value.
using TValue = std::variant<std::monostate, bool, std::int64_t, double, TCurrency, TDecimal,
                            TDateTime, std::u16string, TBytes>;

inline bool IsNull(const TValue& value) {
    return std::holds_alternative<std::monostate>(value);
}

// The value as a user reads it in the preview grid: dates as "YYYY/MM/DD HH:MM:SS" (the time
// left out at midnight, the date left out for a pure time), numbers in their shortest exact
// form, booleans "True"/"False", currency and decimals in plain decimal notation, binary data
// as "(バイナリ N バイト)". Null is the empty string.
std::u16string ValueToDisplayText(const TValue& value);

// Calendar parts of a date-time; false when the value lies outside years 1..9999.
struct TDateParts {
    int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;
};
bool DecodeDateTime(TDateTime value, TDateParts& parts);
// Days since 1899-12-30 of a calendar date (proleptic Gregorian).
double EncodeDate(int year, int month, int day);

// A double in the shortest text that reads back as the same value ("1.5", "1E+20" style
// exponents are written as "1e+20").
std::string FormatDouble(double value);
// Currency as decimal text with no trailing zeros after the point ("12.5", "-3").
std::string FormatCurrency(TCurrency value);

}  // namespace qm
