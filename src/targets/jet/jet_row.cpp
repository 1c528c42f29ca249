#include "targets/jet/jet_row.h"

#include <cstdio>
#include <limits>

#include "platform/error.h"
#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_long_value.h"
#include "targets/jet/jet_text.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// Calculated columns wrap their stored result: 16 bytes, the result's length (4 bytes), the
// result, and a short trailer.
constexpr std::size_t kCalculatedHeader = 20;

std::span<const std::uint8_t> UnwrapCalculated(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kCalculatedHeader) return {};
    const std::uint32_t length = ReadU32(bytes.data() + 16);
    return bytes.subspan(kCalculatedHeader,
                         std::min<std::size_t>(length, bytes.size() - kCalculatedHeader));
}

std::u16string FormatGuid(const std::uint8_t* g) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  ReadU32(g), ReadU16(g + 4), ReadU16(g + 6), g[8], g[9], g[10], g[11], g[12],
                  g[13], g[14], g[15]);
    return Utf8ToUtf16(buffer);
}

// Date/Time Extended: 42 bytes of ASCII, "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:7" and a NUL:
// 19 digits of days since 0001-01-01, 12 digits of seconds of the day, 7 digits of 100-ns
// units right after them. Shown as "yyyy/mm/dd h:nn:ss.fffffff"; anything else is unreadable.
std::u16string FormatExtendedDate(std::span<const std::uint8_t> bytes) {
    auto number = [&](std::size_t from, std::size_t count, long long& out) {
        out = 0;
        if (from + count > bytes.size()) return false;
        for (std::size_t i = from; i < from + count; ++i) {
            if (bytes[i] < '0' || bytes[i] > '9') return false;
            // Nineteen nines do not fit a long long; such a value is not a date anyway.
            if (out > (std::numeric_limits<long long>::max() - 9) / 10) return false;
            out = out * 10 + (bytes[i] - '0');
        }
        return true;
    };
    long long days = 0, seconds = 0, fraction = 0;
    if (!number(0, 19, days) || !number(20, 12, seconds) || !number(32, 7, fraction) ||
        days > 3652058 || seconds >= 86400)
        return {};
    // 0001-01-01 is 693 593 days before the Access base date 1899-12-30.
    const TJetDateParts p = SplitJetDate(static_cast<double>(days - 693593));
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04d/%02d/%02d %lld:%02lld:%02lld.%07lld", p.year,
                  p.month, p.day, seconds / 3600, seconds / 60 % 60, seconds % 60, fraction);
    return Utf8ToUtf16(buffer);
}

}  // namespace

std::size_t FixedSize(const TColumnDef& column) {
    // A calculated column keeps its result inside a wrapper: its definition's length (39 for
    // every fixed-size result) is what the row holds, whatever the result's type.
    if (column.IsCalculated()) return column.length;
    const int size = TypeFixedSize(column.type);
    return size >= 0 ? static_cast<std::size_t>(size) : column.length;
}

TRowLayout::TRowLayout(const TJetPageFile& file, const TTableDef& def,
                       std::span<const std::uint8_t> row)
    : file_(file), row_(row) {
    if (row.size() < 2) file.FailDamaged(u"行が短すぎます");
    columnCount_ = ReadU16(row.data());
    const std::size_t maskSize = (columnCount_ + 7u) / 8u;
    if (2 + maskSize > row.size()) file.FailDamaged(u"行の列数が不正です");
    nullMask_ = row.data() + row.size() - maskSize;
    fixedEnd_ = row.size() - maskSize;
    if (def.varColumns > 0) {
        if (fixedEnd_ < 4) file.FailDamaged(u"行の可変長列の表が不正です");
        varTable_ = fixedEnd_ - 2;
        varCount_ = ReadU16(row.data() + varTable_);
        // The end-of-data offset and one offset per slot precede the count.
        if (2u * (varCount_ + 1u) + 2u > varTable_) file.FailDamaged(u"行の可変長列の数が不正です");
        fixedEnd_ = varTable_ - 2u * (varCount_ + 1u);
    }
}

bool TRowLayout::Flag(const TColumnDef& column) const {
    if (column.number >= columnCount_) return false;
    return (nullMask_[column.number / 8] >> (column.number % 8)) & 1;
}

TCellBytes TRowLayout::Cell(const TColumnDef& column) const {
    if (!Flag(column)) return {};
    if (column.IsFixed() || column.type == kTypeBoolean) {
        const std::size_t size = FixedSize(column);
        const std::size_t start = 2u + column.fixedOffset;
        if (start + size > fixedEnd_) file_.FailDamaged(u"固定長列の値が行からはみ出しています");
        return {true, row_.subspan(start, size)};
    }
    if (column.varIndex >= varCount_) return {};
    // Slot i's start is stored at count - 2(i+1); the end is the next slot's start or the
    // end-of-data offset stored before the last slot.
    auto offsetAt = [&](std::size_t i) { return ReadU16(row_.data() + varTable_ - 2 * (i + 1)); };
    const std::size_t start = offsetAt(column.varIndex);
    const std::size_t end = offsetAt(column.varIndex + 1u);
    if (start > end || end > fixedEnd_ || start < 2)
        file_.FailDamaged(u"可変長列の値の位置が不正です");
    return {true, row_.subspan(start, end - start)};
}

TRowDecoder::TRowDecoder(const TJetPageFile& file, const TTableDef& def,
                         TComplexSummary complexSummary)
    : file_(file), def_(def), complexSummary_(std::move(complexSummary)) {}

void TRowDecoder::Decode(std::span<const std::uint8_t> row, std::vector<TJetValue>& out) const {
    const TRowLayout layout(file_, def_, row);
    out.resize(def_.columns.size());
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        // A value that cannot be decoded (too short for its type, a broken long-value chain)
        // spoils its own cell only; the rest of the row and the table stay readable.
        try {
            out[i] = DecodeColumn(layout, def_.columns[i]);
        } catch (const Error&) {
            out[i] = UnreadableValue();
        }
    }
}

TJetValue TRowDecoder::DecodeColumn(const TRowLayout& layout, const TColumnDef& column) const {
    using Kind = TJetValue::Kind;
    TJetValue value;
    if (column.type == kTypeBoolean) {
        value.kind = Kind::Boolean;
        value.integer = layout.Flag(column) ? 1 : 0;
        return value;
    }
    const TCellBytes cell = layout.Cell(column);
    if (!cell.present) return value;
    if (!column.IsCalculated()) return DecodeBytes(column, column.type, cell.bytes);
    return DecodeCalculated(column, cell.bytes);
}

// A calculated column stores its result in the wrapper; the definition's type byte is not
// always the result's type (that lives in the column properties), so the stored size decides
// where they differ: 1 byte is a Yes/No result, 16 bytes are an OLE DECIMAL
// (reserved word, scale, sign, high 32 bits, low 64 bits), 4 or 8 bytes in a Decimal column are a
// Single or a Double. Long-text results are a long value whose content is the wrapper.
TJetValue TRowDecoder::DecodeCalculated(const TColumnDef& column,
                                        std::span<const std::uint8_t> cell) const {
    using Kind = TJetValue::Kind;
    TJetValue value;
    std::string longValue;
    std::span<const std::uint8_t> b;
    if (column.type == kTypeMemo || (column.type == kTypeText && column.length == 0)) {
        longValue = ReadLongValue(file_, cell);
        b = UnwrapCalculated(
            {reinterpret_cast<const std::uint8_t*>(longValue.data()), longValue.size()});
        value.kind = Kind::Text;
        value.text = DecodeJetText(b);
        return value;
    }
    b = UnwrapCalculated(cell);
    const std::uint8_t type = column.resultType != 0 ? column.resultType : column.type;
    if (b.size() == 1) {
        value.kind = Kind::Boolean;
        value.integer = b[0] != 0 ? 1 : 0;
        return value;
    }
    if (b.size() == 16) {
        const std::uint64_t low = ReadU64(b.data() + 8);
        const std::uint32_t words[4] = {0, ReadU32(b.data() + 4),
                                        static_cast<std::uint32_t>(low >> 32),
                                        static_cast<std::uint32_t>(low)};
        value.kind = Kind::Text;
        value.text = FormatDecimal((b[3] & 0x80) != 0, words, std::min<int>(b[2], 28));
        return value;
    }
    if (type == kTypeDecimal && b.size() == 4) return DecodeBytes(column, kTypeSingle, b);
    if (type == kTypeDecimal && b.size() == 8) return DecodeBytes(column, kTypeDouble, b);
    return DecodeBytes(column, type, b);
}

TJetValue TRowDecoder::DecodeBytes(const TColumnDef& column, std::uint8_t type,
                                   std::span<const std::uint8_t> b) const {
    using Kind = TJetValue::Kind;
    TJetValue value;
    auto need = [&](std::size_t size) {
        if (b.size() < size) file_.FailDamaged(u"列の値が短すぎます");
    };
    switch (type) {
        case kTypeByte:
            need(1);
            value.kind = Kind::Integer;
            value.integer = b[0];
            break;
        case kTypeInteger:
            need(2);
            value.kind = Kind::Integer;
            value.integer = static_cast<std::int16_t>(ReadU16(b.data()));
            break;
        case kTypeLong:
            need(4);
            value.kind = Kind::Integer;
            value.integer = static_cast<std::int32_t>(ReadU32(b.data()));
            break;
        case kTypeBigInt:
            need(8);
            value.kind = Kind::Integer;
            value.integer = static_cast<std::int64_t>(ReadU64(b.data()));
            break;
        case kTypeCurrency:
            need(8);
            value.kind = Kind::Currency;
            value.integer = static_cast<std::int64_t>(ReadU64(b.data()));
            break;
        case kTypeSingle:
            need(4);
            value.kind = Kind::Float;
            value.single = true;
            value.real = ReadFloat(b.data());
            break;
        case kTypeDouble:
            need(8);
            value.kind = Kind::Float;
            value.real = ReadDouble(b.data());
            break;
        case kTypeDateTime:
            need(8);
            value.kind = Kind::DateTime;
            value.real = ReadDouble(b.data());
            break;
        case kTypeGuid:
            need(16);
            value.kind = Kind::Text;
            value.text = FormatGuid(b.data());
            break;
        case kTypeDecimal: {
            need(17);
            const std::uint32_t words[4] = {ReadU32(b.data() + 1), ReadU32(b.data() + 5),
                                            ReadU32(b.data() + 9), ReadU32(b.data() + 13)};
            value.kind = Kind::Text;
            value.text = FormatDecimal((b[0] & 0x80) != 0, words, std::min<int>(column.scale, 28));
            break;
        }
        case kTypeText:
            value.kind = Kind::Text;
            value.text = DecodeJetText(b);
            break;
        case kTypeMemo:
        case kTypeOle: {
            // A calculated memo keeps its result in the row; others hold a long-value reference.
            const std::string bytes = ReadLongValue(file_, b);
            if (type == kTypeMemo) {
                value.kind = Kind::Text;
                value.text = DecodeJetText(
                    {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
            } else {
                value.kind = Kind::Bytes;
                value.bytes = bytes;
            }
            break;
        }
        case kTypeComplex: {
            need(4);
            const auto key = static_cast<std::int32_t>(ReadU32(b.data()));
            value.kind = Kind::Text;
            value.text =
                complexSummary_ ? complexSummary_(column, key) : Utf8ToUtf16(std::to_string(key));
            break;
        }
        case kTypeDateTimeExtended:
            value.kind = Kind::Text;
            value.text = FormatExtendedDate(b);
            if (value.text.empty()) file_.FailDamaged(u"日付/時刻拡張型の値が不正です");
            break;
        default:  // Binary and the types we do not know keep their bytes
            value.kind = Kind::Bytes;
            value.bytes.assign(b.begin(), b.end());
            break;
    }
    return value;
}

}  // namespace qm::jet
