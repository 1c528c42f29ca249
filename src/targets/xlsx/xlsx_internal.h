// Inner parts of the .xlsx engine shared by its source files.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "targets/engine.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xlsx/byte_source.h"
#include "targets/xlsx/cell_ref.h"
#include "targets/xlsx/deflate_continue.h"
#include "targets/xlsx/package.h"
#include "targets/xlsx/parallel_deflate.h"
#include "targets/xlsx/sheet_reader.h"
#include "targets/xlsx/zip_writer.h"

namespace qm::xlsx {

struct TTableDef {
    std::u16string Name;
    int Sheet = -1;
    int DefinedName = -1;  // the defined name of a named-range table
    TAreaRef Area{};       // its area
};

// An Excel table (ListObject) on a sheet that received rows.
struct TListObject {
    std::string Part;
    std::string Xml;
    TAreaRef Ref{};
    bool HasTotals = false;
    std::uint64_t TableTagStart = 0, TableTagEnd = 0;
    bool HasAutoFilter = false;
    std::uint64_t AutoFilterTagStart = 0, AutoFilterTagEnd = 0;
};

// Rows appended to one sheet in the open transaction, kept compressed.
struct TSheetAppend {
    int Sheet = -1;
    TSheetLayout Layout;
    std::uint32_t LastRow = 0;                   // the sheet's last row before the append
    std::uint32_t LastColumn = 0;                // the sheet's last column with a cell
    std::uint32_t NextRow = 1;                   // where the next row goes
    std::uint32_t MinColumn = 0, MaxColumn = 0;  // of the appended cells
    std::vector<std::int64_t> StyleAbove;        // per column: style of its last cell, or -1
    std::vector<TListObject> Tables;
    std::map<int, TAreaRef> GrownNames;       // defined name index -> area after the append
    std::unique_ptr<TParallelDeflater> Rows;  // compressed on worker threads as they come
    std::string RowBuffer;                    // the row being built
    std::vector<std::string> ColumnLetters;   // "A", "B", ... by column, filled as used
    std::uint64_t RowCount = 0;
    // Where the sheet part's deflate blocks start, for a commit that keeps most of them; null
    // when the part is not deflated.
    std::unique_ptr<TStreamMap> Stream;
};

class TXlsxEngine : public TEngine {
  public:
    explicit TXlsxEngine(TConnectionInfo info);
    ~TXlsxEngine() override;

    std::vector<TTableEntry> ListTables() override;
    std::unique_ptr<TEngineTable> OpenTable(std::u16string_view name) override;
    void BeginTransaction() override;
    void CommitTransaction(const std::atomic<bool>* cancel) override;
    void RollbackTransaction() override;

    const TPackage& Package() const noexcept { return *package_; }
    // Changes whenever the file is reloaded after a commit.
    std::uint64_t Generation() const noexcept { return generation_; }
    const TTableDef* FindTable(std::u16string_view name) const;

    // The append state of a sheet, made (by reading the sheet whole once) at its first row.
    TSheetAppend& AppendState(int sheet);
    // A style index that shows dates: the workbook's own, or one the commit adds.
    std::uint32_t DateStyle();
    bool InTransaction() const noexcept { return inTransaction_; }
    // Commits at once when no transaction is open.
    void AfterAppend();

  private:
    void Load();
    // cancel: see CommitTransaction; null when nobody can cancel.
    void Commit(const std::atomic<bool>* cancel);
    void Discard();

    TConnectionInfo info_;
    std::shared_ptr<TFileByteSource> source_;
    std::unique_ptr<TPackage> package_;
    std::vector<TTableDef> tables_;
    std::uint64_t generation_ = 0;
    bool inTransaction_ = false;
    std::map<int, std::unique_ptr<TSheetAppend>> appends_;
    std::int64_t addedDateStyle_ = -1;  // index of the date style the commit adds
};

// Appends one row of a table to its sheet's append state (committing at once outside a
// transaction).
void AppendCells(TXlsxEngine& engine, const TTableDef& table,
                 const std::vector<std::uint32_t>& columns, const std::vector<TFieldDef>& fields,
                 const std::vector<TValue>& values);

// Cell contents to values.
TValue CellValue(const TPackage& package, const TCell& cell);
// Whether CellValue would give a value that is not blank, found without building it.
bool CellHoldsValue(const TPackage& package, const TCell& cell);
// Days since 1899-12-30 from an Excel serial, and back; false when out of range.
using sheet::DaysToSerial;
using sheet::SerialToDays;
// Appends text for an inline string or attribute, escaped for XML and for Excel.
void AppendEscapedText(std::string& out, std::u16string_view text);
void AppendEscapedUtf8(std::string& out, std::string_view text);
bool NeedsSpacePreserve(std::u16string_view text);

}  // namespace qm::xlsx
