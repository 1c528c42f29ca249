// Building small .xlsx workbooks for the tests: a zip writer and a workbook made of sheets given
// as cell rows.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qm::test {

struct TZipPart {
    std::string Name;
    std::string Data;
    bool Deflate = true;
    bool Descriptor = false;  // sizes in a data descriptor after the data (flag bit 3)
    int Level = 6;            // zlib's compression level
};

// A zip archive of the parts, in order.
std::string BuildZip(const std::vector<TZipPart>& parts);

struct TTestSheet {
    TTestSheet(std::string name, std::string rows = {}, std::string after = {},
               std::string dimension = {},
               std::vector<std::pair<std::string, std::string>> tables = {})
        : Name(std::move(name)),
          Rows(std::move(rows)),
          After(std::move(after)),
          Dimension(std::move(dimension)),
          Tables(std::move(tables)) {}
    std::string Name;
    // The XML inside <sheetData>, e.g. "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\">...".
    std::string Rows;
    // Extra XML after </sheetData> (autoFilter, tableParts, ...).
    std::string After;
    std::string Dimension;  // "A1:C3"; empty: none
    // Table parts of this sheet: (part file name under xl/tables/, XML).
    std::vector<std::pair<std::string, std::string>> Tables;
};

struct TTestWorkbook {
    std::vector<TTestSheet> Sheets;
    std::vector<std::string> SharedStrings;  // plain texts
    std::string DefinedNames;                // XML inside <definedNames>
    bool Date1904 = false;
    // cellXfs entries: numFmtId of each style (style 0 first).
    std::vector<int> Styles = {0, 14, 22, 164};
    std::string CustomFormats = "<numFmt numFmtId=\"164\" formatCode=\"&quot;¥&quot;#,##0\"/>";
};

std::vector<TZipPart> WorkbookParts(const TTestWorkbook& workbook);
std::string BuildWorkbook(const TTestWorkbook& workbook);

// Cell XML helpers.
std::string InlineCell(const std::string& ref, const std::string& text, int style = 0);
std::string NumberCell(const std::string& ref, const std::string& value, int style = 0);

}  // namespace qm::test
