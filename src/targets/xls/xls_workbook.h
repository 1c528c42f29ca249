// An opened .xls workbook (BIFF8 in a compound file): the Workbook stream, read into memory
// once, and what the engine needs of its globals: the sheets, the defined names, the date
// system, the shared strings and the kind of value each cell format (XF) shows.
//
// Workbooks the engine cannot read are refused with a message naming the file: Excel 5.0/95
// (BIFF5/7) and older formats, encrypted workbooks, compound files without a workbook.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/sheet/number_format.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xls/biff_reader.h"
#include "targets/xls/cfb_file.h"

namespace qm::xls {

using sheet::TStyleKind;

struct TXlsSheetInfo {
    std::u16string Name;
    std::uint32_t Offset = 0;        // of the sheet's BOF in the Workbook stream
    std::uint32_t RecordOffset = 0;  // of its BOUNDSHEET record, which holds that offset
    std::uint8_t State = 0;          // 0 visible, 1 hidden, 2 very hidden
    std::uint8_t Type = 0;           // 0 worksheet or dialog, 1 macro sheet, 2 chart, 6 VBA
    bool Worksheet() const noexcept { return Type == 0; }
};

struct TXlsDefinedName {
    std::u16string Name;
    int LocalSheet = -1;  // sheet index of a sheet-level name, -1 for a workbook-wide one
    bool Hidden = false;
    bool BuiltIn = false;  // Print_Area, _FilterDatabase and the like
    std::uint32_t RecordOffset = 0;
    // Set when the formula is one rectangular area of one worksheet (1-based, inclusive).
    int AreaSheet = -1;
    sheet::TLayoutArea Area;
};

class TXlsWorkbook {
  public:
    explicit TXlsWorkbook(std::shared_ptr<const TByteSource> source);

    const std::u16string& FileName() const noexcept { return compound_.FileName(); }
    const TCompoundFile& Compound() const noexcept { return compound_; }
    // The directory entry of the Workbook stream, and the stream itself.
    std::uint32_t WorkbookEntry() const noexcept { return workbookEntry_; }
    std::string_view Stream() const noexcept { return stream_; }

    const std::vector<TXlsSheetInfo>& Sheets() const noexcept { return sheets_; }
    const std::vector<TXlsDefinedName>& DefinedNames() const noexcept { return names_; }
    bool Date1904() const noexcept { return date1904_; }
    std::uint16_t CodePage() const noexcept { return codePage_; }

    // Where the SST record starts in the stream (0: the workbook has none), for a writer that
    // adds strings.
    std::uint32_t SstOffset() const noexcept { return sstOffset_; }
    std::size_t SharedStringCount() const noexcept { return strings_.size(); }
    // Throws Error for an index outside the table.
    const std::u16string& SharedString(std::uint32_t index) const;
    TStyleKind XfKind(std::uint32_t xf) const noexcept {
        return xf < xfKinds_.size() ? xfKinds_[xf] : TStyleKind::General;
    }

  private:
    void FindWorkbookStream();
    void ReadGlobals();
    void ReadName(TRecordReader& reader, const TRecord& first);
    void ResolveNames();

    TCompoundFile compound_;
    std::uint32_t workbookEntry_ = 0;
    std::string stream_;
    std::vector<TXlsSheetInfo> sheets_;
    std::vector<TXlsDefinedName> names_;
    bool date1904_ = false;
    std::uint16_t codePage_ = 1200;
    std::vector<std::u16string> strings_;
    std::uint32_t sstOffset_ = 0;
    std::vector<TStyleKind> xfKinds_;

    // EXTERNSHEET entries and which SUPBOOK refers to this workbook, for names' references.
    struct TExternSheet {
        std::uint16_t SupBook = 0, FirstSheet = 0, LastSheet = 0;
    };
    std::vector<TExternSheet> externSheets_;
    int selfSupBook_ = -1;
    struct TNameRef {
        std::uint16_t ExternSheet = 0;
        sheet::TLayoutArea Area;
        bool Valid = false;
    };
    std::vector<TNameRef> nameRefs_;  // by name, resolved after the globals are read
};

// Refusal messages shared by the workbook and the engine.
[[noreturn]] void FailOldFormat(const std::u16string& file);
[[noreturn]] void FailBiffCorrupt(const std::u16string& file, std::u16string_view reason);

}  // namespace qm::xls
