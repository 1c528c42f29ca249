// Builds small compound files and BIFF8 workbooks in memory, so that the tests can give the
// reader exactly the shape they need (every cell record, CONTINUE splits, DIFAT sectors,
// damaged chains) without depending on a spreadsheet program.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/little_endian.h"  // PutU16, PutU32 and friends for the records tests add

namespace qm::test {

// ---- compound file ----

struct TCfbStream {
    std::u16string Name;
    std::string Data;
};

// A compound file (major version 3: 512-byte sectors, or 4: 4096-byte sectors) holding the
// streams in its root storage; streams under 4096 bytes go to the mini stream.
std::string BuildCompoundFile(const std::vector<TCfbStream>& streams, std::uint16_t major = 3);

// ---- BIFF8 records ----

void PutDouble(std::string& out, double value);
std::string Record(std::uint16_t id, const std::string& body);
// XLUnicodeString: 16-bit count, flags, characters (8-bit when all fit).
std::string UnicodeString(const std::u16string& text);

std::string NumberCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, double value);
std::string RkCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::uint32_t rk);
std::string MulRkCells(std::uint16_t row, std::uint16_t firstCol,
                       const std::vector<std::pair<std::uint16_t, std::uint32_t>>& xfRk);
std::string LabelSstCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                         std::uint32_t index);
std::string LabelCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                      const std::u16string& text);
std::string BoolErrCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf, std::uint8_t value,
                        bool error);
// A FORMULA record with a cached number, or with the special result bytes (type, value).
std::string FormulaNumber(std::uint16_t row, std::uint16_t col, std::uint16_t xf, double value);
std::string FormulaSpecial(std::uint16_t row, std::uint16_t col, std::uint16_t xf,
                           std::uint8_t type, std::uint8_t value);
std::string StringRecord(const std::u16string& text);
std::string BlankCell(std::uint16_t row, std::uint16_t col, std::uint16_t xf);
std::string MulBlankCells(std::uint16_t row, std::uint16_t firstCol, std::uint16_t count,
                          std::uint16_t xf);
std::string RowRecord(std::uint16_t row);

// A NAME record whose formula is one 3-D area (1 EXTERNSHEET entry index, 0-based rows and
// columns); 'localSheet' is 0 for a workbook-wide name, else the 1-based sheet.
std::string NameArea(const std::u16string& name, std::uint16_t localSheet, std::uint16_t ixti,
                     std::uint16_t firstRow, std::uint16_t lastRow, std::uint16_t firstCol,
                     std::uint16_t lastCol, bool hidden = false, bool builtIn = false);

struct TBiffSheet {
    std::u16string Name;
    std::string Cells;  // records between DIMENSIONS and EOF
    std::uint8_t State = 0;
    std::uint8_t Type = 0;        // BOUNDSHEET dt: 0 worksheet, 2 chart
    std::string Dimensions = {};  // the DIMENSIONS body (14 bytes); empty: all zero
};

struct TBiffWorkbook {
    std::vector<std::u16string> Strings;  // the SST
    bool Date1904 = false;
    std::vector<std::pair<std::uint16_t, std::u16string>> Formats;
    // The number format of each XF; the first 16 (style XFs and the default cell XF) are
    // General unless given.
    std::vector<std::uint16_t> XfFormats;
    std::vector<TBiffSheet> Sheets;
    std::string GlobalsExtra;  // records placed after the BOUNDSHEETs (names, FILEPASS...)
    std::uint16_t Version = 0x0600;
    // Most bytes an SST record body takes before a CONTINUE (Excel: 8224).
    std::size_t SstLimit = 8224;
};

// The Workbook stream: globals, then each sheet's substream, BOUNDSHEET offsets filled in.
std::string BuildWorkbookStream(const TBiffWorkbook& book);
// The stream in a compound file, as Excel saves it.
std::string BuildXls(const TBiffWorkbook& book, std::uint16_t major = 3);

}  // namespace qm::test
