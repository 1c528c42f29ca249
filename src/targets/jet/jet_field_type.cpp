#include "targets/jet/jet_field_type.h"

namespace qm::jet {

// The one table of the mapping. An Access type reaches the program as an ADO data type, and the
// connection layer turns that into a TFieldType:
// clang-format off
//
// | Access column             | ADO type          | TFieldType      | Why                        |
// |---------------------------|-------------------|-----------------|----------------------------|
// | Short Text (variable)     | adVarWChar        | ftWideString    | Jet 4 text is UTF-16       |
// | Short Text, fixed length  | adWChar           | ftFixedWideChar | the fixed-length flag      |
// | Long Text, Hyperlink      | adLongVarWChar    | ftWideMemo      | long UTF-16 text           |
// | Yes/No                    | adBoolean         | ftBoolean       |                            |
// | Byte                      | adUnsignedTinyInt | ftWord          | unsigned; no ftByte in ADO |
// | Integer                   | adSmallInt        | ftSmallint      |                            |
// | Long Integer              | adInteger         | ftInteger       |                            |
// | AutoNumber (Long Integer) | adInteger + auto  | ftAutoInc       | auto-increment attribute   |
// | Large Number              | adBigInt          | ftLargeint      |                            |
// | Single, Double            | adSingle/adDouble | ftFloat         | both become ftFloat        |
// | Currency                  | adCurrency        | ftBCD           | ADO currency is BCD-backed |
// | Date/Time                 | adDate            | ftDateTime      |                            |
// | Decimal                   | adNumeric         | ftFMTBcd        | up to 28 digits            |
// | Replication ID (GUID)     | adGUID            | ftGuid          |                            |
// | Binary                    | adVarBinary       | ftVarBytes      | at most 255 bytes          |
// | OLE Object                | adLongVarBinary   | ftBlob          |                            |
// | Date/Time Extended        | adVarWChar        | ftWideString    | handed out as text         |
// | Attachment, multi-value   | (complex)         | ftWideMemo      | a summary text; read only  |
// | calculated column         | its result type   | (as that type)  | the stored result is read  |
// | anything else             | —                 | ftUnknown       |                            |
//
// clang-format on
TFieldType JetFieldType(const TColumnDef& column) {
    if (column.IsCalculated() && column.resultType != 0 && column.resultType != column.type) {
        TColumnDef result = column;
        result.type = column.resultType;
        return JetFieldType(result);
    }
    switch (column.type) {
        case kTypeBoolean:
            return ftBoolean;
        case kTypeByte:
            return ftWord;
        case kTypeInteger:
            return ftSmallint;
        case kTypeLong:
            return (column.flags & kColumnAutoLong) && !column.IsCalculated() ? ftAutoInc
                                                                              : ftInteger;
        case kTypeBigInt:
            return ftLargeint;
        case kTypeSingle:
        case kTypeDouble:
            return ftFloat;
        case kTypeCurrency:
            return ftBCD;
        case kTypeDateTime:
            return ftDateTime;
        case kTypeDecimal:
            return ftFMTBcd;
        case kTypeGuid:
            return ftGuid;
        case kTypeBinary:
            return ftVarBytes;
        case kTypeOle:
            return ftBlob;
        case kTypeText:
            return column.IsFixed() && !column.IsCalculated() ? ftFixedWideChar : ftWideString;
        case kTypeMemo:
            return ftWideMemo;
        case kTypeDateTimeExtended:
            return ftWideString;
        case kTypeComplex:
            return ftWideMemo;
        default:
            return ftUnknown;
    }
}

}  // namespace qm::jet
