// How the Excel driver presents a worksheet (or a named range on one) as a table, for every
// workbook format: the table names it lists, the field names it takes from the header row, the
// field types it guesses from the rows below, and how cell numbers become values.
//
// The engines feed rows of decoded cells; this file decides the layout, so that a workbook
// shows the same tables and fields whether it is saved as .xlsx or as .xls.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "targets/engine.h"
#include "targets/value.h"

namespace qm::sheet {

// How many rows below the header decide a field's type, as the driver's TypeGuessRows.
inline constexpr std::uint32_t kTypeGuessRows = 8;
// Excel's own limit of characters in a cell; text fields take that much.
inline constexpr std::int32_t kCellTextLimit = 32767;
// Jet names are at most 64 characters long.
inline constexpr std::size_t kMaxFieldName = 64;
// Jet tables have at most 255 fields.
inline constexpr std::uint32_t kMaxFields = 255;

// The table name of a worksheet as the driver lists it: "Sheet1$", "'My Sheet$'",
// "'Q1#2024$'".
std::u16string WorksheetTableName(std::u16string_view sheetName);
// The table name of a name defined on one sheet: "Sheet1$Local", "'My Sheet$Local'".
std::u16string SheetNameTableName(std::u16string_view sheetName, std::u16string_view name);
// Orders named-range tables as the driver lists them (case-insensitively by name).
bool NamedTableLess(std::u16string_view a, std::u16string_view b);

// Days since 1899-12-30 from an Excel serial, and back; false when out of range.
double SerialToDays(double serial, bool date1904);
bool DaysToSerial(double days, bool date1904, double& serial);
// The value of a number cell: a date when its format shows dates and the serial is a valid
// date, else the number.
TValue NumberCellValue(double number, bool dateFormat, bool date1904);

// True for null values and empty text: cells that do not count as holding a value.
bool IsBlankValue(const TValue& value);

// One cell offered to the layout: 1-based column, its value, and whether its format shows a
// currency.
struct TLayoutCell {
    std::uint32_t Column = 0;
    TValue Value;
    bool Currency = false;
};

// Gives the next row that holds cells, in row order: its 1-based number and cells. Returns
// false at the end of the sheet.
using TLayoutRowSource = std::function<bool(std::uint32_t& row, std::vector<TLayoutCell>& cells)>;

// Marks the 1-based columns of the cells that hold a value (used[column] = true, growing
// 'used' as needed) in every row the row source has not given yet. It decides which columns the
// table has, not what they hold, so an engine makes it cheap: no cell values are built. The
// columns from 'first' to 'last' are fields already; the engine may stop once no column outside
// them can hold a value.
using TLayoutColumnScan =
    std::function<void(std::uint32_t first, std::uint32_t last, std::vector<bool>& used)>;

// A named range's area, 1-based and inclusive.
struct TLayoutArea {
    std::uint32_t FirstRow = 0, FirstColumn = 0, LastRow = 0, LastColumn = 0;
};

struct TTableLayout {
    // 1-based row that names the fields; 0 when the sheet holds no value (then no fields).
    std::uint32_t HeaderRow = 0;
    std::vector<TFieldDef> Fields;
    std::vector<std::uint32_t> Columns;  // sheet column of each field
    std::uint32_t FirstColumn = 0;       // of the table
    std::vector<int> ColumnToField;      // by column - FirstColumn; -1 for none

    // The field a 1-based column feeds, or -1.
    int FieldOfColumn(std::uint32_t column) const {
        if (column < FirstColumn || column - FirstColumn >= ColumnToField.size()) return -1;
        return ColumnToField[column - FirstColumn];
    }
};

// Reads the header row and the rows that guess the types. A worksheet's table starts at its
// first row with a value; a named range's at the first row of its area ('area' non-null).
// A worksheet's table spans every column that holds a value in some row, however far below the
// sampled rows: the rest of the sheet is gone through with 'scan' when given, else with 'rows'.
// Throws Error (naming the table and the file) when the table has too many fields.
TTableLayout ReadTableLayout(const TLayoutRowSource& rows, const TLayoutArea* area,
                             const std::u16string& tableName, const std::u16string& fileName,
                             const TLayoutColumnScan& scan = {});

// Converts a cell value to what its field holds (numbers of currency fields become currency).
TValue FieldValue(TValue value, const TFieldDef& field);

}  // namespace qm::sheet
