// Reading an OLE DB style connection string: "Key=Value;Key=Value", values optionally in double
// quotes (which may hold ";"), keys compared without regard to case.
#pragma once

#include <string>
#include <string_view>

namespace qm {

struct TConnectionInfo {
    std::u16string Provider;            // e.g. "Microsoft.ACE.OLEDB.12.0"
    std::u16string DataSource;          // the file path, unchanged
    std::u16string ExtendedProperties;  // e.g. "EXCEL 12.0;HDR=Yes", quotes removed
    // From the extended properties: "EXCEL x.y" gives the Excel format version text
    // ("8.0", "12.0", "12.0 Xml", ...), empty for databases.
    std::u16string ExcelVersion;
    // HDR=Yes (default) or HDR=No.
    bool FirstRowHasNames = true;
};

// Throws Error when the string is empty or has no data source.
TConnectionInfo ParseConnectionString(std::u16string_view text);

}  // namespace qm
