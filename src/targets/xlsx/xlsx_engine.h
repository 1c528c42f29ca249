// The engine for Excel workbooks in the Office Open XML format (.xlsx).
//
// Tables are the worksheets, named "<sheet>$" as the Excel driver names them (quoted when the
// name holds other than letters, digits and "_"), then the defined names that cover one
// rectangular area of one worksheet, by name. The first row of a table names its fields;
// each field's type is guessed from the next eight rows. Appended rows go below the table's
// last row; the commit rewrites the package once (see xlsx_commit.cpp).
#pragma once

#include <memory>
#include <string>

#include "targets/engine.h"

namespace qm::xlsx {

// Opens the workbook named by the connection's data source. Throws Error when it is not a
// readable .xlsx workbook.
std::unique_ptr<TEngine> OpenXlsxEngine(const TConnectionInfo& info);
// True for Excel connections whose file is a zip package.
bool AcceptsXlsx(const TConnectionInfo& info, std::string_view head);

// The table name of a worksheet as the driver lists it: "Sheet1$", "'My Sheet$'",
// "'Q1#2024$'".
std::u16string WorksheetTableName(std::u16string_view sheetName);

}  // namespace qm::xlsx
