// Opening what an unattended import names, for quillomat-cli import and the window-less start
// of the desktop program alike: the target's worksheet or table (refused when the target does
// not hold it; unattended, a row must never land in a worksheet nobody named) and the CSV file.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "targets/connection.h"

namespace qm {

// The refusal of a worksheet or table that the target does not hold (letter case counts).
std::u16string SheetNotFoundMessage(const std::u16string& sheet,
                                    const std::vector<std::u16string>& names,
                                    const std::u16string& file);

// Connects to `file` and opens its worksheet or table `sheet`. Throws Error.
void OpenImportTarget(const std::u16string& file, const std::u16string& sheet,
                      TConnection& connection, TTable& table);

// Null when no CSV file is named (the run's check then says so). Throws Error: a missing file,
// a FIFO, device or folder (named as what it is), a file that cannot be read.
std::unique_ptr<TCsv> LoadImportCsv(const std::u16string& path);

}  // namespace qm
