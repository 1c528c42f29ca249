// Conversions between the value kinds of Access expressions, as VBA's Variant performs them,
// for the evaluator and its functions. Each throws TConversionError where VBA raises a
// run-time error (type mismatch, overflow) or where the result would depend on Windows'
// regional settings; the evaluator turns it into a message quoting the expression.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "targets/value.h"

namespace qm::jet {

struct TConversionError {
    std::u16string why;
};

// A number as the arithmetic sees it. Booleans are Long -1/0, Decimal values are Doubles.
struct TNumber {
    enum class Kind : std::uint8_t { Long, Currency, Double, Date } kind = Kind::Long;
    std::int64_t integer = 0;  // Long, or Currency scaled by 10 000
    double real = 0;           // Double and Date
    double AsDouble() const;
};

// nullopt for a text that does not read as a number.
std::optional<double> ParseNumberText(std::u16string_view text);

TNumber ToNumber(const TValue& value);  // value must not be Null
TValue FromNumber(const TNumber& number);
double ToDouble(const TValue& value);
// Whole number with VBA's rounding (half to even); throws beyond [low, high].
std::int64_t ToWhole(const TValue& value, std::int64_t low, std::int64_t high);
TDateTime ToDate(const TValue& value);
std::u16string ToText(const TValue& value);
bool ToBoolean(const TValue& value);

// Round half to even at `places` decimals, working on the decimal digits that VBA shows.
double RoundHalfEven(double value, int places);

}  // namespace qm::jet
