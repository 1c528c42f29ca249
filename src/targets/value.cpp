#include "targets/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "text/unicode.h"

namespace qm {

namespace {

// Days from 0001-01-01 to the given date in the proleptic Gregorian calendar.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;  // days since 1970-01-01
}

void CivilFromDays(std::int64_t z, int& year, int& month, int& day) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    year = static_cast<int>(y + (month <= 2));
}

// A constant expression: other files' static objects may convert dates while the program starts.
constexpr std::int64_t kEpoch1899 = DaysFromCivil(1899, 12, 30);

}  // namespace

double EncodeDate(int year, int month, int day) {
    return static_cast<double>(
        DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) - kEpoch1899);
}

bool DecodeDateTime(TDateTime value, TDateParts& parts) {
    if (!std::isfinite(value.Days) || value.Days < -693593.0 || value.Days > 2958466.0)
        return false;
    // Round to the nearest second first so that 0.99999999 of a day does not show 23:59:60.
    double totalSeconds = std::round(value.Days * 86400.0);
    std::int64_t seconds = static_cast<std::int64_t>(totalSeconds);
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        // Negative values count the date backwards but the time forwards, as the platform does.
        rest = -rest;
    }
    CivilFromDays(days + kEpoch1899, parts.Year, parts.Month, parts.Day);
    parts.Hour = static_cast<int>(rest / 3600);
    parts.Minute = static_cast<int>(rest / 60 % 60);
    parts.Second = static_cast<int>(rest % 60);
    return parts.Year >= 1 && parts.Year <= 9999;
}

std::string FormatDouble(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string FormatCurrency(TCurrency value) {
    bool negative = value.Scaled < 0;
    std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value.Scaled)
                                       : static_cast<std::uint64_t>(value.Scaled);
    std::string text = std::to_string(magnitude / 10000);
    unsigned fraction = static_cast<unsigned>(magnitude % 10000);
    if (fraction != 0) {
        char digits[8];
        std::snprintf(digits, sizeof digits, ".%04u", fraction);
        std::string tail = digits;
        while (tail.back() == '0')
            tail.pop_back();
        text += tail;
    }
    return negative ? "-" + text : text;
}

std::u16string ValueToDisplayText(const TValue& value) {
    struct Visitor {
        std::u16string operator()(std::monostate) const { return {}; }
        std::u16string operator()(bool b) const { return b ? u"True" : u"False"; }
        std::u16string operator()(std::int64_t i) const { return Utf8ToUtf16(std::to_string(i)); }
        std::u16string operator()(double d) const { return Utf8ToUtf16(FormatDouble(d)); }
        std::u16string operator()(const TCurrency& c) const {
            return Utf8ToUtf16(FormatCurrency(c));
        }
        std::u16string operator()(const TDecimal& d) const { return Utf8ToUtf16(d.Text); }
        std::u16string operator()(const TDateTime& t) const {
            TDateParts p;
            if (!DecodeDateTime(t, p)) return Utf8ToUtf16(FormatDouble(t.Days));
            char buffer[40];
            bool hasTime = p.Hour || p.Minute || p.Second;
            if (t.Days >= 0 && t.Days < 1 && hasTime)
                std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", p.Hour, p.Minute, p.Second);
            else if (hasTime)
                std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %02d:%02d:%02d", p.Year,
                              p.Month, p.Day, p.Hour, p.Minute, p.Second);
            else
                std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d", p.Year, p.Month, p.Day);
            return Utf8ToUtf16(buffer);
        }
        std::u16string operator()(const std::u16string& s) const { return s; }
        std::u16string operator()(const TBytes& b) const {
            return u"(バイナリ " + Utf8ToUtf16(std::to_string(b.Data.size())) + u" バイト)";
        }
    };
    return std::visit(Visitor{}, value);
}

}  // namespace qm
