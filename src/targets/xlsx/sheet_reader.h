// Reading a worksheet part row by row, streamed from the zip, so that memory stays bounded by
// one row whatever the sheet's size. It also notes where the elements that an append edits lie
// in the part's bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "targets/xlsx/cell_ref.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/xml_reader.h"

namespace qm::xlsx {

struct TCell {
    std::uint32_t Column = 0;  // 1-based
    std::uint32_t Style = 0;
    // 'n' number, 's' shared string, 'b' boolean, 'e' error, 'i' inline string,
    // 'f' formula string result, 'd' ISO date text.
    char Type = 'n';
    bool HasValue = false;
    bool HasFormula = false;
    std::string Value;  // the <v> text, or the inline string's text (UTF-8, XML-decoded)
};

struct TRow {
    std::uint32_t Number = 0;   // 1-based
    std::vector<TCell> Cells;   // in document order
    std::size_t CellCount = 0;  // Cells beyond this are reused storage
};

// Byte positions of the part that an append rewrites (offsets in the inflated XML).
struct TSheetLayout {
    std::string Prefix;  // namespace prefix of the SpreadsheetML elements ("" or e.g. "x")
    bool HasDimension = false;
    std::uint64_t DimensionStart = 0, DimensionEnd = 0;
    TAreaRef Dimension{};
    bool DimensionValid = false;
    // Where a missing <dimension> goes: after <sheetPr> or the root start tag.
    std::uint64_t DimensionInsert = 0;
    bool SheetDataSelfClosing = false;
    std::uint64_t SheetDataStart = 0, SheetDataEnd = 0;  // the "<sheetData/>" tag
    std::uint64_t SheetDataClose = 0;                    // start of "</sheetData>"
    bool HasAutoFilter = false;
    std::uint64_t AutoFilterStart = 0, AutoFilterEnd = 0;
    TAreaRef AutoFilter{};
};

class TSheetReader {
  public:
    TSheetReader(const TPackage& package, const std::string& part);
    // Reads the part's content from 'input' (inflating it as it notes more, for instance).
    TSheetReader(const TPackage& package, const std::string& part,
                 std::unique_ptr<TXmlInput> input);
    ~TSheetReader();

    // The next <row> of <sheetData>; false when there are no more rows.
    bool NextRow(TRow& row);
    // From now on, rows of the plain shape producers write carry each cell's column and style
    // only (type and value are not read), found by a quick scan of the bytes; other rows are
    // read whole as before.
    void ShapesOnly() noexcept { shapesOnly_ = true; }
    // Reads to the end of the part, so that the layout is complete.
    void Finish();
    const TSheetLayout& Layout() const noexcept { return layout_; }
    // Highest row number seen with a <row> element.
    std::uint32_t LastRowNumber() const noexcept { return lastRow_; }

  private:
    void EnterSheetData();
    void ReadCell(TCell& cell, std::uint32_t row);
    // A row of the plain shape read by the quick scan; false (nothing read) for any other.
    bool SkimRow(TRow& row);

    const TPackage& package_;
    std::string part_;
    std::unique_ptr<TXmlInput> input_;
    std::unique_ptr<TXmlReader> reader_;
    TSheetLayout layout_;
    bool inSheetData_ = false;
    bool doneSheetData_ = false;
    std::uint32_t previousRow_ = 0;
    std::uint32_t lastRow_ = 0;
    std::string scratch_;
    bool shapesOnly_ = false;
    std::string rowName_, cellName_;  // as <sheetData> names them, with its prefix
};

}  // namespace qm::xlsx
