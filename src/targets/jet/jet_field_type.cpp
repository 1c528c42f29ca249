#include "targets/jet/jet_field_type.h"

namespace qm::jet {

// The one table of the mapping. ADO reports each Access type as an ADO DataTypeEnum, and the
// database layer of the original program turns that into a TFieldType:
//
// | Access column                  | ADO type          | TFieldType       | Why |
// |--------------------------------|-------------------|------------------|----------------------------|
// | Short Text (variable)          | adVarWChar        | ftWideString     | Jet 4 text is UTF-16 |
// | Short Text, fixed length       | adWChar           | ftFixedWideChar  | fixed flag makes it
// adWChar| | Long Text, Hyperlink           | adLongVarWChar    | ftWideMemo       | long UTF-16
// text           | | Yes/No                         | adBoolean         | ftBoolean        | | |
// Byte                           | adUnsignedTinyInt | ftWord           | unsigned; no ftByte in
// ADO | | Integer                        | adSmallInt        | ftSmallint       | | | Long Integer
// | adInteger         | ftInteger        |                            | | AutoNumber (Long Integer)
// | adInteger + auto  | ftAutoInc        | auto-increment attribute   | | Large Number | adBigInt
// | ftLargeint       |                            | | Single, Double                 |
// adSingle/adDouble | ftFloat          | both become ftFloat        | | Currency | adCurrency |
// ftBCD            | ADO's currency is BCD-backed| | Date/Time                      | adDate |
// ftDateTime       |                            | | Decimal                        | adNumeric |
// ftFMTBcd         | up to 28 digits            | | Replication ID, GUID AutoNumber| adGUID |
// ftGuid           |                            | | Binary                         | adVarBinary |
// ftVarBytes       | at most 255 bytes          | | OLE Object                     |
// adLongVarBinary   | ftBlob           |                            | | Date/Time Extended |
// adVarWChar        | ftWideString     | the provider hands it out as text | | Attachment,
// multi-value        | (complex)         | ftWideMemo       | shown as a text summary; never
// appendable | | calculated column              | its result type   | (as that type)   | the stored
// result is read  | | anything else                  | —                 | ftUnknown        | |
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
