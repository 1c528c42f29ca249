// Classifying a target file, its connection string, the display names of field types and the
// field list of an open table: the free functions the main window and the relation grid use.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "targets/field_type.h"

namespace qm {

class TTable;

// Target kinds, chosen from the file name's extension.
inline constexpr int kTargetXls = 0;
inline constexpr int kTargetXlsx = 1;
inline constexpr int kTargetMdb = 2;
inline constexpr int kTargetAccdb = 3;
inline constexpr int kTargetUnknown = -1;

// The kind of a target file: its extension (text from the last "." of the name part, the part
// after the last "/"), upper-cased, compared with ".XLS", ".XLSX", ".MDB", ".ACCDB"; -1
// otherwise.
int GetTargetKind(std::u16string_view fileName);

// The connection string that opens the file: provider prefix, the file name unchanged, the
// kind's suffix. Empty for kind -1.
std::u16string GetConnectionString(std::u16string_view fileName);

// The Japanese display name of a field type (14 codes), the enumerator's name for the other
// codes from 0 to 51, and the empty string outside that range.
std::u16string GetFieldTypeName(int dataType);

// One field of the open table as the relation grid receives it.
struct TAdoExcelField {
    std::u16string Name;
    TFieldType DataType = ftUnknown;

    bool operator==(const TAdoExcelField&) const = default;
};

// The fields of an open table in field-number order (field 1 first). A closed table has no
// fields; the result is then empty.
std::vector<TAdoExcelField> GetFieldList(TTable& table);

}  // namespace qm
