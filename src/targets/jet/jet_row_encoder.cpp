#include "targets/jet/jet_row_encoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/error.h"
#include "targets/jet/jet_row.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// Decimal magnitudes take 96 bits; a 128-bit integer holds them with room for one more digit.
__extension__ typedef unsigned __int128 TUInt128;

void Append16(std::string& s, std::uint32_t v) {
    s.push_back(static_cast<char>(v));
    s.push_back(static_cast<char>(v >> 8));
}

template <typename T>
std::string Raw(T value) {
    std::string out(sizeof value, '\0');
    std::memcpy(out.data(), &value, sizeof value);
    return out;
}

std::u16string DisplayOf(const TValue& value) {
    if (const auto* text = std::get_if<std::u16string>(&value)) return *text;
    return ValueToDisplayText(value);
}

[[noreturn]] void Refuse(const TColumnDef& column, const TValue& value, std::u16string_view why) {
    throw Error(u"値" + QuotedValue(DisplayOf(value)) + u"はフィールド「" + column.name +
                u"」に書き込めません。" + std::u16string(why));
}

std::int64_t IntegerOf(const TColumnDef& column, const TValue& value) {
    if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
    if (const auto* b = std::get_if<bool>(&value)) return *b ? -1 : 0;
    if (const auto* d = std::get_if<double>(&value)) {
        if (std::isfinite(*d) && *d == std::floor(*d) && std::fabs(*d) < 9.2e18)
            return static_cast<std::int64_t>(*d);
    }
    Refuse(column, value, u"整数ではありません。");
}

double RealOf(const TColumnDef& column, const TValue& value) {
    if (const auto* d = std::get_if<double>(&value)) return *d;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
    if (const auto* t = std::get_if<TDateTime>(&value)) return t->Days;
    if (const auto* c = std::get_if<TCurrency>(&value)) return static_cast<double>(c->Scaled) / 1e4;
    if (const auto* d = std::get_if<TDecimal>(&value)) return std::strtod(d->Text.c_str(), nullptr);
    Refuse(column, value, u"数値ではありません。");
}

// An exact decimal in text ("-12.345") as an unsigned magnitude scaled by 10^scale; false when
// it does not fit 96 bits or has more digits after the point than `scale` allows (those must
// be zeros).
bool ScaledDecimal(std::string_view text, int scale, bool& negative, TUInt128& magnitude) {
    negative = false;
    magnitude = 0;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int fractionDigits = -1;
    bool digits = false;
    constexpr TUInt128 kLimit = (static_cast<TUInt128>(1) << 96) - 1;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && fractionDigits < 0) {
            fractionDigits = 0;
            continue;
        }
        if (c < '0' || c > '9') return false;
        digits = true;
        if (fractionDigits >= 0) {
            if (fractionDigits == scale) {
                if (c != '0') return false;
                continue;
            }
            ++fractionDigits;
        }
        magnitude = magnitude * 10 + static_cast<unsigned>(c - '0');
        if (magnitude > kLimit) return false;
    }
    if (!digits) return false;
    for (int f = std::max(fractionDigits, 0); f < scale; ++f) {
        magnitude *= 10;
        if (magnitude > kLimit) return false;
    }
    if (magnitude == 0) negative = false;
    return true;
}

std::string DecimalText(const TValue& value) {
    if (const auto* d = std::get_if<TDecimal>(&value)) return d->Text;
    if (const auto* i = std::get_if<std::int64_t>(&value)) return std::to_string(*i);
    if (const auto* c = std::get_if<TCurrency>(&value)) return FormatCurrency(*c);
    if (const auto* r = std::get_if<double>(&value)) return FormatDouble(*r);
    return {};
}

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}": the first three groups little-endian.
bool GuidBytes(std::u16string_view text, std::string& out) {
    if (text.size() == 38 && text.front() == u'{' && text.back() == u'}') text = text.substr(1, 36);
    if (text.size() != 36) return false;
    std::string bytes;
    for (std::size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i] != u'-') return false;
            ++i;
            continue;
        }
        const int high = HexDigit(text[i]), low = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    if (bytes.size() != 16) return false;
    out = bytes;
    std::swap(out[0], out[3]);
    std::swap(out[1], out[2]);
    std::swap(out[4], out[5]);
    std::swap(out[6], out[7]);
    return true;
}

// Date/Time Extended: "yyyy-mm-dd hh:mm:ss.fffffff" (or "/" separators; time and fraction
// optional) to the stored ASCII form.
bool ExtendedDateBytes(std::u16string_view text, std::string& out) {
    const std::string s = Utf16ToUtf8(text);
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    char sep1 = 0, sep2 = 0;
    int used = 0;
    if (std::sscanf(s.c_str(), "%d%c%d%c%d%n", &year, &sep1, &month, &sep2, &day, &used) != 5 ||
        sep1 != sep2 || (sep1 != '-' && sep1 != '/'))
        return false;
    std::size_t at = static_cast<std::size_t>(used);
    long long fraction = 0;
    if (at < s.size()) {
        if (s[at] != ' ' && s[at] != 'T') return false;
        int more = 0;
        if (std::sscanf(s.c_str() + at + 1, "%d:%d:%d%n", &hour, &minute, &second, &more) != 3)
            return false;
        at += 1 + static_cast<std::size_t>(more);
        if (at < s.size()) {
            if (s[at] != '.') return false;
            int digits = 0;
            for (++at; at < s.size(); ++at, ++digits) {
                if (s[at] < '0' || s[at] > '9' || digits == 7) return false;
                fraction = fraction * 10 + (s[at] - '0');
            }
            if (digits == 0) return false;
            for (; digits < 7; ++digits)
                fraction *= 10;
        }
    }
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59)
        return false;
    const double serial = EncodeDate(year, month, day);
    TDateParts check;
    if (!DecodeDateTime(TDateTime{serial}, check) || check.Day != day || check.Month != month)
        return false;
    // 0001-01-01 is 693 593 days before 1899-12-30.
    const long long days = static_cast<long long>(serial) + 693593;
    const long long seconds = hour * 3600LL + minute * 60LL + second;
    char buffer[64];
    // Days (19 digits), ":", seconds of the day (12), 100-ns units (7), ":7", and a NUL.
    std::snprintf(buffer, sizeof buffer, "%019lld:%012lld%07lld:7", days, seconds, fraction);
    out.assign(buffer, 41);
    out.push_back('\0');
    return true;
}

}  // namespace

std::u16string QuotedValue(std::u16string_view text) {
    constexpr std::size_t kMax = 60;
    if (text.size() <= kMax) return u"「" + std::u16string(text) + u"」";
    return u"「" + std::u16string(text.substr(0, kMax)) + u"…」";
}

TCellValue EncodeCalculatedValue(const TColumnDef& column, const TValue& result) {
    TColumnDef plain = column;
    plain.extFlags = static_cast<std::uint8_t>(plain.extFlags & ~kColumnCalculated);
    plain.type = column.resultType != 0 ? column.resultType : column.type;
    TValue value = result;
    std::string inner;
    if (plain.type == kTypeBoolean) {
        bool yes = false;
        if (const auto* b = std::get_if<bool>(&value))
            yes = *b;
        else if (const auto* n = std::get_if<std::int64_t>(&value))
            yes = *n != 0;
        else if (const auto* d = std::get_if<double>(&value))
            yes = *d != 0;
        else
            throw Error(u"結果" + QuotedValue(ValueToDisplayText(value)) +
                        u"は Yes/No になりません。");
        inner.assign(1, yes ? '\xFF' : '\0');
    } else {
        if (plain.type == kTypeText) {
            if (!std::holds_alternative<std::u16string>(value)) value = ValueToDisplayText(value);
            plain.length = 0xFFFF;  // the result is not cut to a field size
            plain.extFlags |= kColumnCompressible;
            plain.flags = static_cast<std::uint8_t>(plain.flags & ~kColumnFixed);
        }
        // A Currency result keeps four decimals, rounded half to even as CCur does.
        if (const auto* d = std::get_if<double>(&value); d && plain.type == kTypeCurrency) {
            const double scaled = std::nearbyint(*d * 10000.0);
            if (!(std::fabs(scaled) < 9.2e18))
                throw Error(u"結果" + QuotedValue(ValueToDisplayText(value)) +
                            u"は通貨型の範囲を超えています。");
            value = TCurrency{static_cast<std::int64_t>(scaled)};
        }
        inner = EncodeColumnValue(plain, value).bytes;
    }
    TCellValue cell;
    cell.present = true;
    cell.bytes.assign(16, '\0');
    const auto length = static_cast<std::uint32_t>(inner.size());
    for (int k = 0; k < 4; ++k)
        cell.bytes.push_back(static_cast<char>(length >> (8 * k)));
    cell.bytes += inner;
    if (column.IsFixed()) {
        if (cell.bytes.size() > column.length)
            throw Error(u"結果" + QuotedValue(ValueToDisplayText(value)) + u"が列に収まりません。");
        cell.bytes.resize(column.length, '\0');
    } else {
        cell.bytes.append(3, '\0');
    }
    return cell;
}

std::string EncodeJetText(const TColumnDef& column, std::u16string_view text) {
    const bool compressible =
        (column.extFlags & kColumnCompressible) != 0 && text.size() > 2 && text.size() <= 1024 &&
        std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 1 && c <= 0xFF; });
    std::string out;
    if (!text.empty() && text.front() == 0xFEFF) {
        // Stored plainly, U+FEFF would read as the mark of the compressed form; only that form
        // (its mark, then a switch to two-byte characters) can hold it, and only when no
        // character has a zero low byte (a zero byte switches back).
        if (!(column.extFlags & kColumnCompressible) ||
            std::any_of(text.begin(), text.end(), [](char16_t c) { return (c & 0xFF) == 0; }))
            throw Error(u"フィールド「" + column.name +
                        u"」には、先頭が U+FEFF（バイト順マーク）の文字列は書き込めません。");
        out += "\xFF\xFE";
        out.push_back('\0');
        for (const char16_t c : text)
            Append16(out, c);
        return out;
    }
    if (compressible) {
        out.resize(text.size() + 2);
        out[0] = '\xFF';
        out[1] = '\xFE';
        std::transform(text.begin(), text.end(), out.begin() + 2,
                       [](char16_t c) { return static_cast<char>(c); });
        return out;
    }
    // UTF-16LE: the characters' own bytes.
    static_assert(std::endian::native == std::endian::little);
    out.resize(text.size() * 2);
    std::memcpy(out.data(), text.data(), out.size());
    return out;
}

TCellValue EncodeColumnValue(const TColumnDef& column, const TValue& value) {
    TCellValue cell;
    if (IsNull(value)) return cell;
    if (column.type == kTypeBoolean) {
        if (const auto* b = std::get_if<bool>(&value))
            cell.present = *b;
        else
            cell.present = IntegerOf(column, value) != 0;
        return cell;
    }
    cell.present = true;
    auto inRange = [&](std::int64_t v, std::int64_t low, std::int64_t high) {
        if (v < low || v > high)
            Refuse(column, value,
                   u"範囲（" + Utf8ToUtf16(std::to_string(low)) + u"～" +
                       Utf8ToUtf16(std::to_string(high)) + u"）を超えています。");
        return v;
    };
    switch (column.type) {
        case kTypeByte:
            cell.bytes = Raw(static_cast<std::uint8_t>(inRange(IntegerOf(column, value), 0, 255)));
            break;
        case kTypeInteger:
            cell.bytes =
                Raw(static_cast<std::int16_t>(inRange(IntegerOf(column, value), -32768, 32767)));
            break;
        case kTypeLong:
            cell.bytes = Raw(static_cast<std::int32_t>(
                inRange(IntegerOf(column, value), std::numeric_limits<std::int32_t>::min(),
                        std::numeric_limits<std::int32_t>::max())));
            break;
        case kTypeBigInt:
            cell.bytes = Raw(IntegerOf(column, value));
            break;
        case kTypeCurrency: {
            if (const auto* c = std::get_if<TCurrency>(&value)) {
                cell.bytes = Raw(c->Scaled);
                break;
            }
            bool negative = false;
            TUInt128 magnitude = 0;
            const auto largest = static_cast<TUInt128>(std::numeric_limits<std::int64_t>::max());
            if (!ScaledDecimal(DecimalText(value), 4, negative, magnitude) ||
                magnitude > largest + (negative ? 1 : 0))
                Refuse(column, value,
                       u"通貨型の範囲を超えているか、小数点以下が4桁を超えています。");
            // Two's complement of the magnitude: -2^63 has no positive counterpart.
            const auto bits = static_cast<std::uint64_t>(magnitude);
            cell.bytes = Raw(negative ? ~bits + 1 : bits);
            break;
        }
        case kTypeSingle: {
            const double d = RealOf(column, value);
            if (!std::isfinite(d) || std::fabs(d) > std::numeric_limits<float>::max())
                Refuse(column, value, u"単精度浮動小数点数の範囲を超えています。");
            cell.bytes = Raw(static_cast<float>(d));
            break;
        }
        case kTypeDouble:
        case kTypeDateTime: {
            const double d = RealOf(column, value);
            if (!std::isfinite(d)) Refuse(column, value, u"数値ではありません。");
            cell.bytes = Raw(d);
            break;
        }
        case kTypeDecimal: {
            bool negative = false;
            TUInt128 magnitude = 0;
            if (!ScaledDecimal(DecimalText(value), column.scale, negative, magnitude))
                Refuse(column, value, u"小数点以下の桁数が多すぎるか、値が大きすぎます。");
            TUInt128 limit = 1;
            for (int i = 0; i < column.precision; ++i)
                limit *= 10;
            if (column.precision > 0 && magnitude >= limit)
                Refuse(column, value,
                       u"精度（" + Utf8ToUtf16(std::to_string(column.precision)) +
                           u" 桁）を超えています。");
            cell.bytes.assign(17, '\0');
            cell.bytes[0] = negative ? static_cast<char>(0x80) : 0;
            for (int word = 0; word < 4; ++word) {
                const auto w = static_cast<std::uint32_t>(magnitude >> (32 * (3 - word)));
                std::memcpy(cell.bytes.data() + 1 + 4 * word, &w, 4);
            }
            break;
        }
        case kTypeGuid: {
            const auto* text = std::get_if<std::u16string>(&value);
            if (text == nullptr || !GuidBytes(*text, cell.bytes))
                Refuse(column, value, u"GUID の形式ではありません。");
            break;
        }
        case kTypeDateTimeExtended: {
            const auto* text = std::get_if<std::u16string>(&value);
            if (text == nullptr || !ExtendedDateBytes(*text, cell.bytes))
                Refuse(
                    column, value,
                    u"日付と時刻（拡張）は「yyyy-mm-dd hh:mm:ss.fffffff」の形で指定してください。");
            break;
        }
        case kTypeText: {
            const auto* text = std::get_if<std::u16string>(&value);
            if (text == nullptr) Refuse(column, value, u"文字列ではありません。");
            const std::size_t limit = column.length / 2u;
            if (text->size() > limit)
                Refuse(column, value,
                       u"フィールドの最大長（" + Utf8ToUtf16(std::to_string(limit)) +
                           u" 文字）を超えています。");
            if (column.IsFixed()) {
                // Fixed-length text is stored whole, uncompressed, padded with spaces.
                if (!text->empty() && text->front() == 0xFEFF)
                    Refuse(column, value,
                           u"先頭が U+FEFF（バイト順マーク）の文字列は書き込めません。");
                std::u16string padded = *text;
                padded.resize(limit, u' ');
                for (const char16_t c : padded)
                    Append16(cell.bytes, c);
            } else {
                cell.bytes = EncodeJetText(column, *text);
            }
            break;
        }
        default:
            Refuse(column, value, u"この型のフィールドには書き込めません。");
    }
    return cell;
}

std::string EncodeRow(const TTableDef& def, const std::vector<TCellValue>& cells) {
    std::size_t fixedSize = 0;
    for (const auto& column : def.columns)
        if (column.IsFixed() || column.type == kTypeBoolean)
            fixedSize = std::max<std::size_t>(
                fixedSize,
                column.fixedOffset + std::max<std::size_t>(column.length, FixedSize(column)));
    std::string row;
    row.reserve(2 + fixedSize + 64);
    Append16(row, def.maxColumns);
    row.append(fixedSize, '\0');
    // Kept from row to row, so that a row costs no allocation here.
    static thread_local std::vector<std::uint8_t> mask;
    static thread_local std::vector<const std::string*> slots;
    static thread_local std::vector<std::uint16_t> starts;
    mask.assign((def.maxColumns + 7u) / 8u, 0);
    slots.assign(def.varColumns, nullptr);
    for (std::size_t i = 0; i < def.columns.size(); ++i) {
        const TColumnDef& column = def.columns[i];
        const TCellValue& cell = cells[i];
        if (!cell.present) continue;
        mask[column.number / 8] =
            static_cast<std::uint8_t>(mask[column.number / 8] | (1u << (column.number % 8)));
        if (column.type == kTypeBoolean) continue;
        if (column.IsFixed()) {
            std::memcpy(row.data() + 2 + column.fixedOffset, cell.bytes.data(),
                        std::min<std::size_t>(cell.bytes.size(), FixedSize(column)));
        } else {
            slots[column.varIndex] = &cell.bytes;
        }
    }
    if (def.varColumns > 0) {
        starts.assign(def.varColumns + 1u, 0);
        for (std::size_t slot = 0; slot < def.varColumns; ++slot) {
            starts[slot] = static_cast<std::uint16_t>(row.size());
            if (slots[slot] != nullptr) row += *slots[slot];
            if (row.size() > kMaxRowSize) throw Error(kRowTooLongMessage);
        }
        starts[def.varColumns] = static_cast<std::uint16_t>(row.size());
        for (std::size_t slot = def.varColumns + 1u; slot-- > 0;)
            Append16(row, starts[slot]);
        Append16(row, def.varColumns);
    }
    row.append(reinterpret_cast<const char*>(mask.data()), mask.size());
    if (row.size() > kMaxRowSize) throw Error(kRowTooLongMessage);
    return row;
}

}  // namespace qm::jet
