// Table definitions (TDEF pages, type 0x02): columns, physical and logical indexes and the
// usage maps of a table, read across continuation pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/jet_page_file.h"

namespace qm::jet {

enum TColumnType : std::uint8_t {
    kTypeBoolean = 0x01,
    kTypeByte = 0x02,
    kTypeInteger = 0x03,
    kTypeLong = 0x04,
    kTypeCurrency = 0x05,
    kTypeSingle = 0x06,
    kTypeDouble = 0x07,
    kTypeDateTime = 0x08,
    kTypeBinary = 0x09,
    kTypeText = 0x0A,
    kTypeOle = 0x0B,
    kTypeMemo = 0x0C,
    kTypeGuid = 0x0F,
    kTypeDecimal = 0x10,
    kTypeComplex = 0x12,
    kTypeBigInt = 0x13,
    kTypeDateTimeExtended = 0x14,
};

// The bytes a value of `type` takes in a row's fixed area when the type alone decides it (a
// Yes/No value takes none: it lives in the null mask); -1 for the types whose size is the
// column's length (text, binary, memo, OLE and those this table does not know).
constexpr int TypeFixedSize(std::uint8_t type) {
    switch (type) {
        case kTypeBoolean:
            return 0;
        case kTypeByte:
            return 1;
        case kTypeInteger:
            return 2;
        case kTypeLong:
        case kTypeSingle:
        case kTypeComplex:
            return 4;
        case kTypeCurrency:
        case kTypeDouble:
        case kTypeDateTime:
        case kTypeBigInt:
            return 8;
        case kTypeGuid:
            return 16;
        case kTypeDecimal:
            return 17;
        default:
            return -1;
    }
}

// Column flag bits (descriptor byte 15) and extended flag bits (byte 16).
inline constexpr std::uint8_t kColumnFixed = 0x01;
inline constexpr std::uint8_t kColumnAutoLong = 0x04;
inline constexpr std::uint8_t kColumnAutoGuid = 0x40;
inline constexpr std::uint8_t kColumnHyperlink = 0x80;
inline constexpr std::uint8_t kColumnCompressible = 0x01;  // extended
inline constexpr std::uint8_t kColumnCalculated = 0xC0;    // extended

struct TColumnDef {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;  // stable id and null-mask bit
    std::uint16_t varIndex = 0;
    std::uint16_t fixedOffset = 0;
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t extFlags = 0;
    std::uint16_t sortOrder = 0;  // text and memo
    std::uint8_t sortVersion = 0;
    std::uint8_t precision = 0;  // decimal
    std::uint8_t scale = 0;
    std::int32_t complexId = 0;  // complex columns
    // Calculated columns: the type of the stored result, from the column's ResultType
    // property (the definition's own type byte is not always the result's); 0 when unknown.
    std::uint8_t resultType = 0;

    bool IsFixed() const { return (flags & kColumnFixed) != 0; }
    bool IsAutoNumber() const {
        return type != kTypeComplex && (flags & (kColumnAutoLong | kColumnAutoGuid)) != 0;
    }
    bool IsHyperlink() const { return type == kTypeMemo && (flags & kColumnHyperlink) != 0; }
    bool IsCalculated() const { return (extFlags & kColumnCalculated) == kColumnCalculated; }
    bool IsLongValue() const { return type == kTypeMemo || type == kTypeOle; }
};

struct TIndexColumn {
    std::uint16_t column = 0;  // column number
    bool ascending = true;
};

inline constexpr std::uint8_t kIndexUnique = 0x01;
inline constexpr std::uint8_t kIndexIgnoreNulls = 0x02;
inline constexpr std::uint8_t kIndexRequired = 0x08;

struct TPhysicalIndex {
    std::vector<TIndexColumn> columns;
    std::uint32_t usageMap = 0;
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;
};

enum TLogicalIndexKind : std::uint8_t { kIndexPlain = 0, kIndexPrimary = 1, kIndexForeign = 2 };

struct TLogicalIndex {
    std::u16string name;
    std::uint32_t number = 0;
    std::uint32_t physical = 0;
    std::uint8_t kind = kIndexPlain;
    // Foreign keys: 1 when this table is the referenced ("one") side of an enforced
    // relationship, 2 when it holds the foreign key; the other table's definition page and the
    // number of its logical index on the related fields.
    std::uint8_t foreignRole = 0;
    std::uint32_t foreignTable = 0;
    std::int32_t foreignIndex = -1;
};

struct TLongValueMaps {
    std::uint16_t column = 0;
    std::uint32_t owned = 0;
    std::uint32_t free = 0;
};

struct TTableDef {
    std::uint32_t page = 0;
    std::vector<std::uint32_t> pages;  // first page and continuations
    std::uint32_t rowCount = 0;
    std::uint32_t lastAutoNumber = 0;
    std::uint32_t lastComplexKey = 0;
    std::uint8_t tableType = 0;
    std::uint16_t maxColumns = 0;
    std::uint16_t varColumns = 0;
    std::uint32_t ownedMap = 0;
    std::uint32_t freeMap = 0;
    std::vector<TColumnDef> columns;  // in the order of the definition (the field order)
    std::vector<TPhysicalIndex> physicalIndexes;
    std::vector<TLogicalIndex> logicalIndexes;
    std::vector<TLongValueMaps> longValueMaps;

    const TColumnDef* ColumnByNumber(std::uint16_t number) const;
};

// Reads the definition whose first page is `page`. Throws a damage error for anything that does
// not add up (chains that loop, lengths past the end, absurd counts).
TTableDef ReadTableDef(const TJetPageFile& file, std::uint32_t page);

}  // namespace qm::jet
