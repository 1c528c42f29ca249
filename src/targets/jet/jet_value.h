// One decoded cell of an Access table, and its text form for previews and the command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm::jet {

struct TJetValue {
    enum class Kind : std::uint8_t {
        Null,
        Boolean,   // integer: 0 or 1
        Integer,   // integer
        Currency,  // integer: value × 10 000
        Float,     // real (Single is widened; `single` remembers it for formatting)
        DateTime,  // real: days since 1899-12-30, fraction = time of day
        Text,      // text (also Decimal, GUID and Date/Time Extended in their text form)
        Bytes,     // bytes
    };
    Kind kind = Kind::Null;
    bool single = false;
    std::int64_t integer = 0;
    double real = 0;
    std::u16string text;
    std::string bytes;

    bool IsNull() const { return kind == Kind::Null; }
};

// What a cell shows when its stored value cannot be decoded: the text Access itself shows for
// a value it cannot produce, so that the user sees the cell is unreadable rather than empty.
inline constexpr std::u16string_view kUnreadableText = u"#エラー";
inline TJetValue UnreadableValue() {
    TJetValue value;
    value.kind = TJetValue::Kind::Text;
    value.text = kUnreadableText;
    return value;
}

// Civil date and time of an Access date value (proleptic Gregorian, no time zone). For values
// before the base date the integer part counts days back while the fraction is still the time
// of day. The time is rounded to the nearest millisecond, or to the nearest second when
// `wholeSeconds` is set (as Access displays it).
struct TJetDateParts {
    int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0, millisecond = 0;
};
TJetDateParts SplitJetDate(double value, bool wholeSeconds = false);

// The value as text: numbers in the shortest form that reads back exactly, currency with up to
// four decimals, dates "yyyy/mm/dd hh:nn:ss" (time omitted at midnight, date omitted for pure
// times on the base day), booleans "True"/"False", binary as "(n バイト)"; NULL is empty.
std::u16string FormatJetValue(const TJetValue& value);

// Formats `magnitude` (four 32-bit words, most significant first) as a decimal with `scale`
// digits after the point.
std::u16string FormatDecimal(bool negative, const std::uint32_t (&magnitude)[4], int scale);

}  // namespace qm::jet
