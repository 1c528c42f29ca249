#include "targets/field_conversion.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "platform/error.h"
#include "targets/target_access.h"
#include "text/unicode.h"

namespace qm {

namespace {

// The value as a message shows it: long texts are cut so that the message stays readable.
std::u16string Quoted(std::u16string_view text) {
    constexpr std::size_t kMax = 60;
    if (text.size() <= kMax) return u"「" + std::u16string(text) + u"」";
    return u"「" + std::u16string(text.substr(0, kMax)) + u"…」";
}

[[noreturn]] void Fail(const TFieldDef& field, std::u16string_view text, std::u16string reason) {
    throw Error(u"値" + Quoted(text) + u"をフィールド「" + field.Name + u"」（" +
                GetFieldTypeName(field.DataType) + u"）に変換できません。" + reason);
}

// Full-width forms to ASCII, the ideographic space to a space, U+2212 MINUS SIGN to "-".
// Characters outside ASCII that remain become 0x01, which no rule accepts, except the few
// Japanese date words, which become markers.
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c >= 0xFF01 && c <= 0xFF5E)
            c = static_cast<char16_t>(c - 0xFF01 + 0x21);
        else if (c == 0x3000)
            c = u' ';
        else if (c == 0x2212)
            c = u'-';
        else if (c == 0xFFE5)
            c = u'\\';  // full-width yen sign
        else if (c == 0x00A5)
            c = u'\\';  // yen sign
        if (c < 0x80)
            out += static_cast<char>(c);
        else if (c == u'年')
            out += 'Y';
        else if (c == u'月')
            out += 'M';
        else if (c == u'日')
            out += 'D';
        else
            out += '\x01';
    }
    std::size_t begin = out.find_first_not_of(" \t");
    if (begin == std::string::npos) return {};
    std::size_t end = out.find_last_not_of(" \t");
    return out.substr(begin, end - begin + 1);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

struct TNumber {
    bool negative = false;
    std::string integer;   // digits, no separators, no leading zeros except "0"
    std::string fraction;  // digits after "."
    int exponent = 0;
    bool hasExponent = false;
};

// sign? digits-with-commas ( "." digits )? ( [eE] sign? digits )?
bool ParseNumber(std::string_view s, TNumber& n, bool allowCurrencySign) {
    std::size_t i = 0;
    if (allowCurrencySign && i < s.size() && (s[i] == '\\' || s[i] == '$')) ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) n.negative = s[i++] == '-';
    if (allowCurrencySign && i < s.size() && (s[i] == '\\' || s[i] == '$')) ++i;
    bool lastComma = false;
    while (i < s.size() && (IsDigit(s[i]) || s[i] == ',')) {
        if (s[i] == ',') {
            if (n.integer.empty() || lastComma) return false;
            lastComma = true;
        } else {
            n.integer += s[i];
            lastComma = false;
        }
        ++i;
    }
    if (lastComma) return false;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i]))
            n.fraction += s[i++];
    }
    if (n.integer.empty() && n.fraction.empty()) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) negativeExponent = s[i++] == '-';
        std::string digits;
        while (i < s.size() && IsDigit(s[i]))
            digits += s[i++];
        if (digits.empty() || digits.size() > 5) return false;
        n.exponent = std::stoi(digits) * (negativeExponent ? -1 : 1);
        n.hasExponent = true;
    }
    if (i != s.size()) return false;
    std::size_t nonZero = n.integer.find_first_not_of('0');
    n.integer = nonZero == std::string::npos ? "0" : n.integer.substr(nonZero);
    return true;
}

TValue ConvertInteger(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    TNumber n;
    if (!ParseNumber(s, n, false) || n.hasExponent)
        Fail(field, text, u"整数として読めない値です。");
    if (n.fraction.find_first_not_of('0') != std::string::npos)
        Fail(field, text, u"小数部分のある値は整数のフィールドに入りません。");
    std::int64_t low = 0, high = 0;
    switch (field.DataType) {
        case ftSmallint:
            low = -32768, high = 32767;
            break;
        case ftWord:
            low = 0, high = 65535;
            break;
        case ftShortint:
            low = -128, high = 127;
            break;
        case ftByte:
            low = 0, high = 255;
            break;
        case ftLongWord:
            low = 0, high = 4294967295LL;
            break;
        case ftLargeint:
            low = std::numeric_limits<std::int64_t>::min();
            high = std::numeric_limits<std::int64_t>::max();
            break;
        default:
            low = -2147483648LL, high = 2147483647LL;
            break;
    }
    // Work in unsigned 64 bits to take the full range of ftLargeint.
    std::uint64_t magnitude = 0;
    bool overflow = n.integer.size() > 20;
    for (char c : n.integer) {
        if (overflow) break;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
    }
    std::int64_t value = 0;
    if (!overflow) {
        if (n.negative) {
            if (magnitude >
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
                overflow = true;
            else
                value = static_cast<std::int64_t>(0 - magnitude);
        } else if (magnitude >
                   static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            overflow = true;
        } else {
            value = static_cast<std::int64_t>(magnitude);
        }
    }
    if (overflow || value < low || value > high)
        Fail(field, text,
             u"値が範囲（" + Utf8ToUtf16(std::to_string(low)) + u"～" +
                 Utf8ToUtf16(std::to_string(high)) + u"）を外れています。");
    return value;
}

TValue ConvertFloat(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    TNumber n;
    if (!ParseNumber(s, n, false)) Fail(field, text, u"数値として読めない値です。");
    std::string plain =
        (n.negative ? "-" : "") + n.integer + "." + n.fraction + "e" + std::to_string(n.exponent);
    double value = 0;
    auto result = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (result.ec != std::errc() || !std::isfinite(value) ||
        (field.DataType == ftSingle && std::fabs(value) > 3.4028234663852886e38))
        Fail(field, text, u"値が大きすぎます。");
    if (field.DataType == ftSingle) value = static_cast<double>(static_cast<float>(value));
    return value;
}

// Rounds the digit string "integer.fraction" to 'scale' decimals, half away from zero.
void RoundDigits(TNumber& n, std::size_t scale) {
    if (n.fraction.size() <= scale) return;
    bool up = n.fraction[scale] >= '5';
    n.fraction.resize(scale);
    if (!up) return;
    std::string all = n.integer + n.fraction;
    int i = static_cast<int>(all.size()) - 1;
    while (i >= 0 && all[static_cast<std::size_t>(i)] == '9')
        all[static_cast<std::size_t>(i--)] = '0';
    if (i < 0)
        all.insert(all.begin(), '1');
    else
        ++all[static_cast<std::size_t>(i)];
    n.integer = all.substr(0, all.size() - scale);
    n.fraction = all.substr(all.size() - scale);
}

TValue ConvertCurrency(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    TNumber n;
    if (!ParseNumber(s, n, true) || n.hasExponent) Fail(field, text, u"金額として読めない値です。");
    RoundDigits(n, 4);
    n.fraction.resize(4, '0');
    std::string digits = n.integer + n.fraction;
    std::uint64_t magnitude = 0;
    for (char c : digits) {
        unsigned digit = static_cast<unsigned>(c - '0');
        if (magnitude >
            (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) - digit) / 10)
            Fail(field, text, u"値が大きすぎます。");
        magnitude = magnitude * 10 + digit;
    }
    std::int64_t scaled = static_cast<std::int64_t>(magnitude);
    return TCurrency{n.negative ? -scaled : scaled};
}

TValue ConvertDecimal(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    TNumber n;
    if (!ParseNumber(s, n, true) || n.hasExponent) Fail(field, text, u"数値として読めない値です。");
    if (field.Scale > 0 || field.Precision > 0)
        RoundDigits(n, static_cast<std::size_t>(field.Scale));
    while (!n.fraction.empty() && n.fraction.back() == '0')
        n.fraction.pop_back();
    if (field.Precision > 0 &&
        (n.integer == "0" ? 0 : n.integer.size()) + static_cast<std::size_t>(field.Scale) >
            static_cast<std::size_t>(field.Precision))
        Fail(field, text, u"桁数が多すぎます。");
    std::string result = n.integer;
    if (!n.fraction.empty()) result += "." + n.fraction;
    if (n.negative && result != "0") result = "-" + result;
    return TDecimal{result};
}

TValue ConvertBoolean(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    std::string lower;
    for (char c : s)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (lower == "true" || lower == "yes" || lower == "on") return true;
    if (lower == "false" || lower == "no" || lower == "off") return false;
    TNumber n;
    if (ParseNumber(s, n, false))
        return !(n.integer == "0" && n.fraction.find_first_not_of('0') == std::string::npos);
    Fail(field, text, u"ブール値（True/False、Yes/No、On/Off、数値）として読めない値です。");
}

// Reads 1..maxDigits digits at s[i].
bool ReadInt(std::string_view s, std::size_t& i, std::size_t maxDigits, int& value) {
    std::size_t start = i;
    value = 0;
    while (i < s.size() && IsDigit(s[i]) && i - start < maxDigits)
        value = value * 10 + (s[i++] - '0');
    return i > start && !(i < s.size() && IsDigit(s[i]));
}

bool ParseTime(std::string_view s, std::size_t& i, double& dayFraction) {
    int hour = 0, minute = 0, second = 0;
    if (!ReadInt(s, i, 2, hour) || i >= s.size() || s[i] != ':') return false;
    ++i;
    if (!ReadInt(s, i, 2, minute)) return false;
    double fraction = 0;
    if (i < s.size() && s[i] == ':') {
        ++i;
        if (!ReadInt(s, i, 2, second)) return false;
        if (i < s.size() && s[i] == '.') {
            ++i;
            double scale = 0.1;
            std::size_t start = i;
            while (i < s.size() && IsDigit(s[i])) {
                fraction += (s[i++] - '0') * scale;
                scale /= 10;
            }
            if (i == start) return false;
        }
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    dayFraction = (hour * 3600.0 + minute * 60.0 + second + fraction) / 86400.0;
    return true;
}

bool ValidDate(int year, int month, int day) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= kDays[month - 1] + (month == 2 && leap ? 1 : 0);
}

TValue ConvertDateTime(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    std::size_t i = 0;
    double days = 0;
    double time = 0;
    int year = 0, month = 0, day = 0;
    std::size_t probe = 0;
    int first = 0;
    bool timeOnly = ReadInt(s, probe, 2, first) && probe < s.size() && s[probe] == ':';
    if (timeOnly) {
        if (!ParseTime(s, i, time) || i != s.size())
            Fail(field, text, u"時刻として読めない値です。");
        return TDateTime{time};
    }
    bool ok = ReadInt(s, i, 4, year) && i < s.size();
    if (ok) {
        char separator = s[i];
        ok = separator == '/' || separator == '-' || separator == 'Y';
        ++i;
        ok = ok && ReadInt(s, i, 2, month) && i < s.size();
        if (ok) {
            char second = s[i++];
            ok = separator == 'Y' ? second == 'M' : second == separator;
            ok = ok && ReadInt(s, i, 2, day);
            if (ok && separator == 'Y') ok = i < s.size() && s[i++] == 'D';
        }
    }
    if (!ok || !ValidDate(year, month, day))
        Fail(field, text, u"日付として読めない値です（例: 2024/01/31、2024-01-31 12:34:56）。");
    days = EncodeDate(year, month, day);
    if (i < s.size()) {
        if (s[i] != ' ' && s[i] != 'T') Fail(field, text, u"日付として読めない値です。");
        while (i < s.size() && s[i] == ' ')
            ++i;
        if (i < s.size() && s[i] == 'T') ++i;
        if (!ParseTime(s, i, time) || i != s.size()) Fail(field, text, u"時刻の部分が読めません。");
    }
    // The platform counts dates before day zero backwards but their times forwards.
    return TDateTime{days < 0 ? days - time : days + time};
}

TValue ConvertGuid(const TFieldDef& field, std::u16string_view text, std::string_view s) {
    std::string_view body = s;
    if (body.size() == 38 && body.front() == '{' && body.back() == '}') body = body.substr(1, 36);
    bool ok = body.size() == 36;
    std::string upper = "{";
    for (std::size_t i = 0; ok && i < body.size(); ++i) {
        char c = body[i];
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash)
            ok = c == '-';
        else
            ok = IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        upper += static_cast<char>(c >= 'a' && c <= 'f' ? c - 'a' + 'A' : c);
    }
    if (!ok)
        Fail(field, text, u"GUID（{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}）として読めない値です。");
    return Utf8ToUtf16(upper + "}");
}

bool IsTextType(TFieldType type) {
    switch (type) {
        case ftString:
        case ftWideString:
        case ftFixedChar:
        case ftFixedWideChar:
        case ftMemo:
        case ftWideMemo:
        case ftFmtMemo:
        case ftOraClob:
            return true;
        default:
            return false;
    }
}

}  // namespace

TValue ConvertFieldText(const TFieldDef& field, std::u16string_view text) {
    if (field.ReadOnly)
        throw Error(u"フィールド「" + field.Name + u"」（" + GetFieldTypeName(field.DataType) +
                    u"）には値を設定できません。値" + Quoted(text) + u"は書き込めません。");
    if (IsTextType(field.DataType)) {
        if (text.empty()) return std::monostate{};
        if (field.Size > 0 && text.size() > static_cast<std::size_t>(field.Size))
            Fail(field, text,
                 u"フィールドの最大長（" + Utf8ToUtf16(std::to_string(field.Size)) +
                     u" 文字）を超えています。");
        return std::u16string(text);
    }
    std::string s = Narrow(text);
    if (s.empty()) return std::monostate{};
    switch (field.DataType) {
        case ftSmallint:
        case ftInteger:
        case ftWord:
        case ftAutoInc:
        case ftLargeint:
        case ftLongWord:
        case ftShortint:
        case ftByte:
            return ConvertInteger(field, text, s);
        case ftFloat:
        case ftSingle:
        case ftExtended:
            return ConvertFloat(field, text, s);
        case ftCurrency:
            return ConvertCurrency(field, text, s);
        case ftBCD:
        case ftFMTBcd:
            return ConvertDecimal(field, text, s);
        case ftBoolean:
            return ConvertBoolean(field, text, s);
        case ftDate:
        case ftTime:
        case ftDateTime:
        case ftTimeStamp:
            return ConvertDateTime(field, text, s);
        case ftGuid:
            return ConvertGuid(field, text, s);
        default:
            Fail(field, text, u"この型のフィールドには文字列を設定できません。");
    }
}

}  // namespace qm
