#include "targets/jet/access_expression_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/case_fold.h"
#include "targets/jet/access_expression_date.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

[[noreturn]] void Mismatch() {
    throw TConversionError{u"型が一致しません"};
}
[[noreturn]] void Overflow() {
    throw TConversionError{u"オーバーフローしました"};
}

// Fifteen significant digits, the precision VBA shows a Double with, without trailing zeros;
// nullopt where VBA would switch to exponent notation at a place not pinned down here.
std::optional<std::string> FifteenDigits(double value) {
    if (value == 0) return std::string("0");
    const double magnitude = std::fabs(value);
    if (magnitude < 1e-4 || magnitude >= 1e15) return std::nullopt;
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    std::string text = buffer;
    if (text.find('e') != std::string::npos) return std::nullopt;
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0')
            text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

}  // namespace

double TNumber::AsDouble() const {
    switch (kind) {
        case Kind::Long:
            return static_cast<double>(integer);
        case Kind::Currency:
            return static_cast<double>(integer) / 10000.0;
        default:
            return real;
    }
}

std::optional<double> ParseNumberText(std::u16string_view text) {
    std::string ascii;
    for (const char16_t c : text) {
        if (c > 0x7F) return std::nullopt;
        ascii.push_back(static_cast<char>(c));
    }
    const auto first = ascii.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    ascii = ascii.substr(first, ascii.find_last_not_of(' ') - first + 1);
    // Only a plain decimal form: sign, digits, point, exponent (no hex, no thousands
    // separators, no currency signs, whose reading depends on the regional settings).
    for (const char c : ascii)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::nullopt;
    char* end = nullptr;
    const double value = std::strtod(ascii.c_str(), &end);
    if (end != ascii.c_str() + ascii.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

TNumber ToNumber(const TValue& value) {
    TNumber n;
    if (const auto* b = std::get_if<bool>(&value)) {
        n.integer = *b ? -1 : 0;
    } else if (const auto* i = std::get_if<std::int64_t>(&value)) {
        n.integer = *i;
    } else if (const auto* d = std::get_if<double>(&value)) {
        n.kind = TNumber::Kind::Double;
        n.real = *d;
    } else if (const auto* c = std::get_if<TCurrency>(&value)) {
        n.kind = TNumber::Kind::Currency;
        n.integer = c->Scaled;
    } else if (const auto* dec = std::get_if<TDecimal>(&value)) {
        n.kind = TNumber::Kind::Double;
        n.real = std::strtod(dec->Text.c_str(), nullptr);
    } else if (const auto* t = std::get_if<TDateTime>(&value)) {
        n.kind = TNumber::Kind::Date;
        n.real = t->Days;
    } else if (const auto* s = std::get_if<std::u16string>(&value)) {
        const auto parsed = ParseNumberText(*s);
        if (!parsed) Mismatch();
        n.kind = TNumber::Kind::Double;
        n.real = *parsed;
    } else {
        Mismatch();
    }
    return n;
}

TValue FromNumber(const TNumber& number) {
    switch (number.kind) {
        case TNumber::Kind::Long:
            return number.integer;
        case TNumber::Kind::Currency:
            return TCurrency{number.integer};
        case TNumber::Kind::Double:
            if (!std::isfinite(number.real)) Overflow();
            return number.real;
        case TNumber::Kind::Date:
            if (!std::isfinite(number.real) || number.real < -657434.0 || number.real >= 2958466.0)
                Overflow();
            return TDateTime{number.real};
    }
    return TValue{};
}

double ToDouble(const TValue& value) {
    return ToNumber(value).AsDouble();
}

double RoundHalfEven(double value, int places) {
    if (places == 0) return std::nearbyint(value);  // the default mode rounds half to even
    const auto digits = FifteenDigits(value);
    if (!digits) {
        const double scale = std::pow(10.0, places);
        return std::nearbyint(value * scale) / scale;
    }
    // Work on the digits VBA shows so that 2.5 stays 2.5 rather than 2.4999…
    std::string text = *digits;
    const bool negative = text[0] == '-';
    if (negative) text.erase(0, 1);
    const auto point = text.find('.');
    if (point == std::string::npos || text.size() - point - 1 <= static_cast<std::size_t>(places))
        return value;
    std::string kept = text.substr(0, point) + text.substr(point + 1, places);
    const std::string rest = text.substr(point + 1 + places);
    bool up =
        rest[0] > '5' || (rest[0] == '5' && rest.find_first_not_of('0', 1) != std::string::npos);
    if (rest[0] == '5' && !up) up = (kept.back() - '0') % 2 == 1;
    double result = std::strtod(kept.c_str(), nullptr);
    if (up) result += 1;
    result /= std::pow(10.0, places);
    return negative ? -result : result;
}

std::int64_t ToWhole(const TValue& value, std::int64_t low, std::int64_t high) {
    const TNumber n = ToNumber(value);
    double whole;
    if (n.kind == TNumber::Kind::Long) {
        if (n.integer < low || n.integer > high) Overflow();
        return n.integer;
    }
    if (n.kind == TNumber::Kind::Currency) {
        // Exact half-to-even on the scaled integer.
        std::int64_t q = n.integer / 10000, r = n.integer % 10000;
        if (r < 0) {
            r += 10000;
            --q;
        }
        if (r > 5000 || (r == 5000 && q % 2 != 0)) ++q;
        whole = static_cast<double>(q);
    } else {
        whole = std::nearbyint(n.real);
    }
    if (!(whole >= static_cast<double>(low) && whole <= static_cast<double>(high))) Overflow();
    return static_cast<std::int64_t>(whole);
}

TDateTime ToDate(const TValue& value) {
    if (const auto* t = std::get_if<TDateTime>(&value)) return *t;
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        if (const auto date = ParseExpressionDate(*s, false)) return *date;
        throw TConversionError{u"文字列「" + *s + u"」を日付として解釈できません"};
    }
    if (std::holds_alternative<bool>(value)) Mismatch();
    TNumber n = ToNumber(value);
    n.kind = TNumber::Kind::Date;
    n.real = n.AsDouble();
    return std::get<TDateTime>(FromNumber(n));
}

std::u16string ToText(const TValue& value) {
    if (const auto* s = std::get_if<std::u16string>(&value)) return *s;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? u"True" : u"False";
    if (const auto* i = std::get_if<std::int64_t>(&value)) return Utf8ToUtf16(std::to_string(*i));
    if (const auto* c = std::get_if<TCurrency>(&value)) return Utf8ToUtf16(FormatCurrency(*c));
    if (const auto* d = std::get_if<TDecimal>(&value)) return Utf8ToUtf16(d->Text);
    if (const auto* r = std::get_if<double>(&value)) {
        if (const auto text = FifteenDigits(*r)) return Utf8ToUtf16(*text);
        throw TConversionError{u"この大きさの数値を文字列にする書式は確かめられていません"};
    }
    if (std::holds_alternative<TDateTime>(value))
        throw TConversionError{u"日付を文字列にする書式は Windows の地域設定によって変わります"};
    Mismatch();
}

bool ToBoolean(const TValue& value) {
    if (const auto* b = std::get_if<bool>(&value)) return *b;
    if (const auto* s = std::get_if<std::u16string>(&value)) {
        if (SameText(*s, u"true")) return true;
        if (SameText(*s, u"false")) return false;
    }
    if (std::holds_alternative<TDateTime>(value)) Mismatch();
    return ToNumber(value).AsDouble() != 0;
}

}  // namespace qm::jet
