#include "targets/jet/jet_value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "text/unicode.h"

namespace qm::jet {
namespace {

// Days since 1899-12-30 to a civil date (Howard Hinnant's days_from_civil inverse).
void CivilFromDays(std::int64_t days, int& year, int& month, int& day) {
    // 1899-12-30 is day -25569 relative to 1970-01-01; 719468 shifts to the 0000-03-01 era.
    const std::int64_t z = days - 25569 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

std::u16string Ascii(const char* text) {
    return Utf8ToUtf16(text);
}

template <typename T>
std::u16string Shortest(T value) {
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return Utf8ToUtf16(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

}  // namespace

TJetDateParts SplitJetDate(double value, bool wholeSeconds) {
    TJetDateParts parts;
    if (!std::isfinite(value) || std::fabs(value) > 3.0e6) return parts;
    double whole = std::trunc(value);
    // Milliseconds of the day, rounded; a day's worth carries into the next day.
    auto ms = static_cast<std::int64_t>(std::llround(std::fabs(value - whole) * 86400000.0));
    if (wholeSeconds) ms = (ms + 500) / 1000 * 1000;
    if (ms >= 86400000) {
        ms -= 86400000;
        whole += value < 0 ? -1 : 1;
    }
    CivilFromDays(static_cast<std::int64_t>(whole), parts.year, parts.month, parts.day);
    parts.hour = static_cast<int>(ms / 3600000);
    parts.minute = static_cast<int>(ms / 60000 % 60);
    parts.second = static_cast<int>(ms / 1000 % 60);
    parts.millisecond = static_cast<int>(ms % 1000);
    return parts;
}

std::u16string FormatDecimal(bool negative, const std::uint32_t (&magnitude)[4], int scale) {
    std::uint32_t words[4] = {magnitude[0], magnitude[1], magnitude[2], magnitude[3]};
    std::string digits;  // least significant first
    for (;;) {
        std::uint64_t remainder = 0;
        bool zero = true;
        for (auto& word : words) {
            const std::uint64_t current = (remainder << 32) | word;
            word = static_cast<std::uint32_t>(current / 10);
            remainder = current % 10;
            zero = zero && word == 0;
        }
        digits.push_back(static_cast<char>('0' + remainder));
        if (zero) break;
    }
    while (static_cast<int>(digits.size()) <= scale)
        digits.push_back('0');
    std::string text = negative ? "-" : "";
    for (std::size_t i = digits.size(); i-- > 0;) {
        text.push_back(digits[i]);
        if (scale > 0 && i == static_cast<std::size_t>(scale)) text.push_back('.');
    }
    if (scale > 0) {  // trailing zeros after the point carry no information in a preview
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    if (text == "-0") text = "0";
    return Utf8ToUtf16(text);
}

std::u16string FormatJetValue(const TJetValue& value) {
    using Kind = TJetValue::Kind;
    switch (value.kind) {
        case Kind::Null:
            return {};
        case Kind::Boolean:
            return value.integer != 0 ? u"True" : u"False";
        case Kind::Integer:
            return Shortest(value.integer);
        case Kind::Currency: {
            const bool negative = value.integer < 0;
            const std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.integer)
                                                     : static_cast<std::uint64_t>(value.integer);
            const std::uint32_t words[4] = {0, 0, static_cast<std::uint32_t>(magnitude >> 32),
                                            static_cast<std::uint32_t>(magnitude)};
            return FormatDecimal(negative, words, 4);
        }
        case Kind::Float:
            return value.single ? Shortest(static_cast<float>(value.real)) : Shortest(value.real);
        case Kind::DateTime: {
            const TJetDateParts p = SplitJetDate(value.real, true);
            char buffer[64];
            const bool baseDay = p.year == 1899 && p.month == 12 && p.day == 30;
            const bool midnight = p.hour == 0 && p.minute == 0 && p.second == 0;
            if (baseDay && !midnight)
                std::snprintf(buffer, sizeof buffer, "%d:%02d:%02d", p.hour, p.minute, p.second);
            else if (midnight)
                std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d", p.year, p.month, p.day);
            else
                std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %d:%02d:%02d", p.year, p.month,
                              p.day, p.hour, p.minute, p.second);
            return Ascii(buffer);
        }
        case Kind::Text:
            return value.text;
        case Kind::Bytes:
            return Utf8ToUtf16("(" + std::to_string(value.bytes.size()) + " バイト)");
    }
    return {};
}

}  // namespace qm::jet
