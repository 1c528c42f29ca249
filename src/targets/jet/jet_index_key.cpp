#include "targets/jet/jet_index_key.h"

namespace qm::jet {
namespace {

constexpr char kAscendingValue = 0x7F;
constexpr char kAscendingNull = 0x00;
constexpr char kDescendingValue = static_cast<char>(0x80);
constexpr char kDescendingNull = static_cast<char>(0xFF);

// Little-endian stored bytes reversed to big-endian.
std::string BigEndian(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.rbegin(), bytes.rend());
}

// Integers: big-endian two's complement with the sign bit flipped, so that bytes sort as
// numbers do.
std::string IntegerKey(std::span<const std::uint8_t> bytes) {
    std::string key = BigEndian(bytes);
    if (key.empty()) return key;
    key[0] = static_cast<char>(key[0] ^ 0x80);
    return key;
}

// IEEE values: positive ones flip the sign bit, negative ones complement every byte.
std::string FloatKey(std::span<const std::uint8_t> bytes) {
    std::string key = BigEndian(bytes);
    if (key.empty()) return key;
    if (key[0] & 0x80) {
        for (char& c : key)
            c = static_cast<char>(~c);
    } else {
        key[0] = static_cast<char>(key[0] ^ 0x80);
    }
    return key;
}

// GUID and binary: 8-byte groups, each followed by 9 when more follows; the last group is
// zero-padded and followed by its real length. An empty value has no groups at all.
std::string GroupedKey(std::span<const std::uint8_t> bytes, bool descending) {
    std::string key;
    if (bytes.empty()) return key;
    std::size_t i = 0;
    do {
        const std::size_t take = std::min<std::size_t>(8, bytes.size() - i);
        std::string group(bytes.begin() + i, bytes.begin() + i + take);
        group.resize(8, '\0');
        if (descending)
            for (char& c : group)
                c = static_cast<char>(~c);
        key += group;
        i += take;
        key.push_back(static_cast<char>(i < bytes.size() ? 9 : take));
        if (descending && i >= bytes.size()) key.back() = static_cast<char>(~key.back());
    } while (i < bytes.size());
    return key;
}

}  // namespace

bool IndexKeyTypeSupported(std::uint8_t type) {
    switch (type) {
        case kTypeBoolean:
        case kTypeByte:
        case kTypeInteger:
        case kTypeLong:
        case kTypeCurrency:
        case kTypeBigInt:
        case kTypeComplex:
        case kTypeSingle:
        case kTypeDouble:
        case kTypeDateTime:
        case kTypeGuid:
        case kTypeBinary:
            return true;
        default:
            return false;
    }
}

bool CanEncodeIndexKey(const TTableDef& def, const TPhysicalIndex& index) {
    for (const auto& ic : index.columns) {
        const TColumnDef* column = def.ColumnByNumber(ic.column);
        if (column == nullptr || !IndexKeyTypeSupported(column->type) || column->IsCalculated())
            return false;
    }
    return true;
}

std::optional<std::string> EncodeIndexKey(const TTableDef& def, const TPhysicalIndex& index,
                                          const TRowLayout& row) {
    std::string key;
    for (const auto& ic : index.columns) {
        const TColumnDef* column = def.ColumnByNumber(ic.column);
        if (column == nullptr || !IndexKeyTypeSupported(column->type)) return std::nullopt;
        if (column->type == kTypeBoolean) {
            // Never NULL: one byte, Yes before No when ascending.
            const bool yes = row.Flag(*column);
            key.push_back(ic.ascending ? kAscendingValue : kDescendingValue);
            key.push_back(yes == ic.ascending ? '\0' : static_cast<char>(0xFF));
            continue;
        }
        const TCellBytes cell = row.Cell(*column);
        if (!cell.present) {
            key.push_back(ic.ascending ? kAscendingNull : kDescendingNull);
            continue;
        }
        key.push_back(ic.ascending ? kAscendingValue : kDescendingValue);
        std::string value;
        switch (column->type) {
            case kTypeByte:
                value.assign(cell.bytes.begin(), cell.bytes.end());
                break;
            case kTypeSingle:
            case kTypeDouble:
            case kTypeDateTime:
                value = FloatKey(cell.bytes);
                break;
            case kTypeGuid:
            case kTypeBinary:
                key += GroupedKey(cell.bytes, !ic.ascending);
                continue;
            default:
                value = IntegerKey(cell.bytes);
                break;
        }
        if (!ic.ascending)
            for (char& c : value)
                c = static_cast<char>(~c);
        key += value;
    }
    return key;
}

bool AllIndexColumnsNull(const TTableDef& def, const TPhysicalIndex& index, const TRowLayout& row) {
    for (const auto& ic : index.columns) {
        const TColumnDef* column = def.ColumnByNumber(ic.column);
        if (column == nullptr) continue;
        if (column->type == kTypeBoolean) return false;  // a Yes/No value is never NULL
        if (row.Cell(*column).present) return false;
    }
    return true;
}

}  // namespace qm::jet
