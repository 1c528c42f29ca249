// Appending rows to the worksheets of a .xls workbook: rows are encoded into cell records as
// they come, and the new Workbook stream is built from the old one at the commit.
//
// What changes: the target sheet gets new row blocks (ROW records, cells, DBCELL) after its
// cell table, with its INDEX and DIMENSIONS updated; the globals get the new strings in the
// SST (EXTSST rebuilt), a date XF when none fits, grown defined names and every sheet's new
// BOF position; every sheet that moved gets its INDEX positions moved. Every other record is
// copied byte for byte.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "targets/engine.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xls/xls_workbook.h"

namespace qm::xls {

// A BIFF8 sheet has 65,536 rows and 256 columns.
inline constexpr std::uint32_t kXlsMaxRows = 65536;
inline constexpr std::uint32_t kXlsMaxColumns = 256;

// Where a table's rows go.
struct TAppendTarget {
    std::u16string TableName;
    int Sheet = -1;
    int DefinedName = -1;  // index into the workbook's defined names, -1 for a worksheet
    sheet::TLayoutArea Area;
};

class TXlsAppender {
  public:
    // Reads what the writer needs of the globals. Throws Error when this workbook's stream
    // cannot be written completely.
    explicit TXlsAppender(const TXlsWorkbook& book);
    ~TXlsAppender();

    // Encodes one row (values[i] goes to the 1-based sheet column columns[i]). Throws Error,
    // leaving the appended rows as they were, when a value cannot be written or the sheet has
    // no room.
    void AppendRow(const TAppendTarget& target, const std::vector<std::uint32_t>& columns,
                   const std::vector<TFieldDef>& fields, const std::vector<TValue>& values);
    // True when rows were appended (rows without values count too).
    bool HasRows() const noexcept { return !sheets_.empty(); }
    // The new Workbook stream. 'turn' is called now and then (it may throw to stop).
    std::string BuildStream(const std::function<void()>& turn) const;

  private:
    struct TSheetState;
    TSheetState& SheetState(int sheet);
    void FindOpenBlock(TSheetState& state, std::uint32_t dbCell) const;
    std::uint16_t DateXf();
    std::uint32_t StringIndex(const std::u16string& text);
    [[noreturn]] void FailUnwritable(std::u16string_view reason) const;
    void WriteGlobals(std::string& out, std::vector<std::uint32_t>& boundSheetAt) const;
    void WriteSheet(std::string& out, const TSheetState& state, std::uint32_t end,
                    const std::function<void()>& turn) const;

    const TXlsWorkbook& book_;
    std::uint32_t globalsEnd_ = 0;
    std::uint32_t lastXfAt_ = 0;  // offset of the last XF record
    std::uint32_t xfCount_ = 0;
    std::string baseXf_;       // the body an added date XF starts from
    int workbookDateXf_ = -1;  // a cell XF of the workbook that shows dates
    bool addDateXf_ = false;
    std::uint32_t sstTotal_ = 0;             // the SST's count of references
    std::vector<std::uint32_t> sheetOrder_;  // sheets by their place in the stream

    // The SST: the workbook's strings as read (with their formatting runs and phonetic data),
    // then the added ones, kept one after another in one buffer.
    struct TSstString;
    std::vector<TSstString> sst_;
    std::u16string added_;
    std::vector<std::uint32_t> addedEnds_;    // end of each added string in added_
    std::vector<std::uint64_t> stringSlots_;  // open-addressing index of all strings
    std::size_t StringCount() const noexcept;
    std::u16string_view StringAt(std::size_t index) const;
    std::uint32_t addedReferences_ = 0;
    std::map<int, std::unique_ptr<TSheetState>> sheets_;
};

}  // namespace qm::xls
