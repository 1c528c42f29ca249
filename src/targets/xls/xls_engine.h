// The engine for Excel 97-2003 workbooks (.xls, BIFF8 in a compound file).
//
// It presents a workbook exactly as the .xlsx engine does (targets/sheet/sheet_table.h): the
// worksheets as "<sheet>$" tables, then the defined names that cover one area of one
// worksheet; fields named by the first row, typed by the eight rows below. Rows are read from
// the Workbook stream, which is read into memory once. Rows appended in a transaction are
// encoded as they come (xls_append.h) and written at the commit into a new file that replaces
// the workbook (xls_commit.h); the workbook is then read again.
#pragma once

#include <memory>
#include <string_view>

#include "targets/engine.h"

namespace qm::xls {

// Opens the workbook named by the connection's data source. Throws Error when it is not a
// readable .xls workbook (older Excel formats, encrypted workbooks, damaged files).
std::unique_ptr<TEngine> OpenXlsEngine(const TConnectionInfo& info);
// True for Excel connections whose file is a compound file or an old bare BIFF stream.
bool AcceptsXls(const TConnectionInfo& info, std::string_view head);

}  // namespace qm::xls
