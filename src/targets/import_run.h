// The import run: every data row of a loaded CSV table appended to an open target table inside
// one transaction, all rows committed or none. The desktop window and quillomat-cli both run
// imports through this class; the window shows the outcome in its status bar and, on failure,
// in a warning box, the command line prints it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/error.h"
#include "targets/relation.h"

namespace qm {

class TConnection;
class TCsv;
class TTable;

inline constexpr char16_t kImportNoCsvMessage[] = u"CSVファイルを選択してください。";
inline constexpr char16_t kImportNoRelationMessage[] =
    u"ExcelワークシートにCSVデータを登録する設定を行ってください。";
inline constexpr const char16_t* kImportCancelledMessage = kCancelledMessage;
inline constexpr char16_t kImportDoneMessage[] = u"登録しました。";

// What must hold before a run starts: a CSV table is loaded (csv not null) and the relation maps
// at least one field. Returns the warning to show, or the empty string when a run may start.
// Nothing else is tested here (neither the target nor the header flag).
std::u16string CheckConvertSettings(const TCsv* csv, const TRelation& relation);

// The 1-based line of the CSV file on which a row begins, as an editor counts lines (the header
// line included): line breaks inside quoted fields stay in the cells, so rows and lines differ
// by the line feeds held in the rows before it. Reads every cell above the row; meant for
// messages, not for every row.
std::uint64_t CsvLineOfRow(const TCsv& csv, std::uint32_t row);

struct TImportResult {
    // True only when every row was inserted and the transaction committed.
    bool Committed = false;
    // False when CheckConvertSettings refused the run: no transaction was begun.
    bool Started = false;
    // "登録しました。", the check's warning, or the message of the error that rolled the run
    // back. An error of a row names the CSV line (and the field when one was being filled); an
    // error that is not about a row (a target that takes no rows, the commit) names none.
    std::u16string Message;
    // Target rows posted before the end (all of them discarded unless Committed).
    std::uint32_t RowsInserted = 0;
};

class TImportRun {
  public:
    // The connection and the table on it stay owned by the caller and must stay alive, the table
    // open, for the whole run.
    TImportRun(TConnection& connection, TTable& table) : connection_(connection), table_(table) {}

    // Called with the bar's position and maximum: (0, RowCount) before the first row, then after
    // every row the next row's index plus one, clamped to the maximum, so the bar runs one step
    // ahead of the rows done and is full after the last.
    std::function<void(std::uint32_t position, std::uint32_t maximum)> OnProgress;

    // Set by the cancel command (or a signal handler: the store is lock-free); tested before
    // every row and, while the commit writes the file, up to the moment the file is replaced.
    // Run resets it when it starts, so a cancel given between runs has no effect.
    std::atomic<bool> CancelRequested{false};

    // Checks the settings, begins a transaction, appends rows 1 (with the header flag) or 0 to the
    // last, giving the user interface a turn (ProcessMessages) after every row, and commits; on
    // any error, the cancel included, rolls every row of the run back. The CSV table and the
    // relation are only read. An error while beginning the transaction is not handled: it
    // leaves Run with no transaction open.
    TImportResult Run(const TCsv* csv, const TRelation& relation, bool firstLineIsTitle);

  private:
    TConnection& connection_;
    TTable& table_;
};

// The dry run: every data row converted and posted exactly as the run converts and posts it, in
// a transaction that is always rolled back, so that every check of the target's engine applies
// (types and sizes, the limits of the sheet, required fields, duplicate keys in the table or
// within the CSV file, the table's own refusals) and nothing reaches the file. Unlike the run,
// it goes on after a failing row and lists them all; a failing row is not kept, so later rows
// are checked against the rows that would be written. An import too big for the target (the
// 2 GB of an Access database) is refused before the first row, as the run refuses it. The
// writers' lock of the target is held for the dry run's duration, as for a run.
struct TDryRunFailure {
    std::uint32_t Row;       // 0-based CSV row
    std::uint64_t Line;      // 1-based line of the CSV file on which the row begins
    std::u16string Field;    // the target field; empty when the engine refused the whole row
    std::u16string Message;  // the conversion's, the field lookup's or the engine's message
};

struct TDryRunResult {
    // Non-empty when no row was checked: CheckConvertSettings refused, the table is closed, the
    // transaction could not begin (the file is locked or read-only), or the target takes no
    // rows at all.
    std::u16string CheckMessage;
    std::uint32_t RowsChecked = 0;
    std::uint32_t RowsFailing = 0;
    bool Cancelled = false;
};

// Reports every failing row through onFailure, in row order: each cell that does not convert
// (in the relation's key order), or else the engine's refusal of the row. Tests 'cancel' before
// every row. The table must be open on the connection, with no transaction open.
TDryRunResult DryRunImport(
    TConnection& connection, TTable& table, const TCsv* csv, const TRelation& relation,
    bool firstLineIsTitle, const std::function<void(const TDryRunFailure&)>& onFailure,
    const std::atomic<bool>* cancel = nullptr,
    const std::function<void(std::uint32_t, std::uint32_t)>& onProgress = {});

}  // namespace qm
