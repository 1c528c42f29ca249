#include "targets/import_run.h"

#include <algorithm>
#include <exception>

#include "csv/csv.h"
#include "platform/error.h"
#include "platform/yield.h"
#include "targets/ado_excel_inserter.h"
#include "targets/connection.h"
#include "targets/field_conversion.h"
#include "text/unicode.h"

namespace qm {

namespace {

std::u16string Decimal(std::uint64_t value) {
    return Utf8ToUtf16(std::to_string(value));
}

// The line that tells a user where in the CSV file a row failed.
std::u16string RowLocation(const TCsv& csv, std::uint32_t row, std::u16string_view field) {
    std::u16string text = u"（CSVファイルの" + Decimal(CsvLineOfRow(csv, row)) + u"行目";
    if (!field.empty()) text += u"、フィールド「" + std::u16string(field) + u"」";
    return text + u"）";
}

// The fields the relation fills from a column the CSV file has; an entry naming no column
// gives every row an empty cell and fills nothing.
std::vector<int> MappedFieldNumbers(TTable& table, const TCsv& csv, const TRelation& relation) {
    std::vector<int> numbers;
    for (const auto& [name, column] : relation) {
        if (column < 0 || static_cast<std::uint32_t>(column) >= csv.GetFieldCount()) continue;
        if (const TField* field = table.FindField(name)) numbers.push_back(field->FieldNo());
    }
    return numbers;
}

// The rows and the characters the import gives each field it fills (field numbers from 1).
TImportVolume VolumeOf(TTable& table, const TCsv& csv, const TRelation& relation,
                       bool firstLineIsTitle) {
    TImportVolume volume;
    const std::uint32_t first = firstLineIsTitle ? 1 : 0;
    const std::uint32_t rows = csv.GetRowCount();
    volume.Rows = rows > first ? rows - first : 0;
    for (const auto& [name, column] : relation) {
        if (column < 0 || static_cast<std::uint32_t>(column) >= csv.GetFieldCount()) continue;
        const TField* field = table.FindField(name);
        if (field == nullptr) continue;
        TImportVolume::TFieldVolume counted{static_cast<std::size_t>(field->FieldNo()), 0, 0};
        for (std::uint32_t row = first; row < rows; ++row) {
            const std::u16string_view cell =
                csv.GetCellView(row, static_cast<std::uint32_t>(column));
            if (cell.empty()) continue;
            ++counted.Cells;
            counted.Characters += cell.size() + static_cast<std::uint64_t>(
                                                    std::count(cell.begin(), cell.end(), u'\n'));
        }
        volume.Fields.push_back(counted);
    }
    return volume;
}

void RollbackQuietly(TConnection& connection) {
    // A roll-back only drops what the transaction holds in memory; should it fail, the
    // error that caused it is still the one to report.
    try {
        if (connection.InTransaction()) connection.RollbackTrans();
    } catch (const std::exception&) {
    }
}

}  // namespace

std::u16string CheckConvertSettings(const TCsv* csv, const TRelation& relation) {
    if (!csv) return kImportNoCsvMessage;
    if (relation.empty()) return kImportNoRelationMessage;
    return {};
}

std::uint64_t CsvLineOfRow(const TCsv& csv, std::uint32_t row) {
    std::uint64_t line = 1 + static_cast<std::uint64_t>(row);
    std::uint32_t rows = std::min(row, csv.GetRowCount());
    std::uint32_t fields = csv.GetFieldCount();
    for (std::uint32_t r = 0; r < rows; ++r) {
        for (std::uint32_t f = 0; f < fields; ++f) {
            std::u16string_view cell = csv.GetCellView(r, f);
            line += static_cast<std::uint64_t>(std::count(cell.begin(), cell.end(), u'\n'));
        }
    }
    return line;
}

TImportResult TImportRun::Run(const TCsv* csv, const TRelation& relation, bool firstLineIsTitle) {
    TImportResult result;
    result.Message = CheckConvertSettings(csv, relation);
    if (!result.Message.empty()) return result;
    result.Started = true;
    CancelRequested.store(false);

    connection_.BeginTrans();  // its failure is the caller's, with no transaction open
    TAdoExcelInserter inserter(&table_, csv, relation, firstLineIsTitle);
    bool failedInRow = false;
    try {
        // A target that takes no rows at all is refused before the first row, so that the
        // message blames the target and not a line of the CSV file.
        table_.CheckCanAppend();
        table_.CheckMappedFields(MappedFieldNumbers(table_, *csv, relation));
        if (table_.HasImportVolumeLimit())
            table_.CheckImportVolume(VolumeOf(table_, *csv, relation, firstLineIsTitle));
        const std::uint32_t maximum = inserter.RowCount();
        if (OnProgress) OnProgress(0, maximum);
        while (inserter.HasRow()) {
            if (CancelRequested.load(std::memory_order_relaxed))
                throw Error(kImportCancelledMessage);
            failedInRow = true;
            inserter.InsertRow();
            failedInRow = false;
            ++result.RowsInserted;
            inserter.NextRow();
            if (OnProgress) OnProgress(std::min(inserter.CurrentRow() + 1, maximum), maximum);
            ProcessMessages();
        }
        connection_.CommitTrans(&CancelRequested);
        result.Committed = true;
        result.Message = kImportDoneMessage;
    } catch (const Error& error) {
        RollbackQuietly(connection_);
        result.Message = error.Message();
        if (failedInRow)
            result.Message +=
                u"\n" + RowLocation(*csv, inserter.CurrentRow(), inserter.FailedFieldName());
    } catch (...) {
        // Out of memory and the like: the rows still must not stay.
        RollbackQuietly(connection_);
        table_.Cancel();
        throw;
    }
    // The table may hold the failed row unposted; it is of no use after a roll-back.
    table_.Cancel();
    ProcessMessages();
    return result;
}

TDryRunResult DryRunImport(TConnection& connection, TTable& table, const TCsv* csv,
                           const TRelation& relation, bool firstLineIsTitle,
                           const std::function<void(const TDryRunFailure&)>& onFailure,
                           const std::atomic<bool>* cancel,
                           const std::function<void(std::uint32_t, std::uint32_t)>& onProgress) {
    TDryRunResult result;
    result.CheckMessage = CheckConvertSettings(csv, relation);
    if (!result.CheckMessage.empty()) return result;
    try {
        // The run's own start: the writers' lock and the engine's refusals of a file it cannot
        // write (locked by another program, read-only).
        connection.BeginTrans();
    } catch (const Error& error) {
        result.CheckMessage = error.Message();
        return result;
    }
    // Whatever happens below, the rows posted are dropped and the file stays as it was.
    struct TRollback {
        TConnection& connection;
        TTable& table;
        ~TRollback() {
            table.Cancel();
            RollbackQuietly(connection);
        }
    } rollback{connection, table};
    try {
        // Raises the table's "not open" error, the refusal of a target that takes no rows, that
        // of a field the CSV file may not fill, or that of an import too big for the target.
        table.CheckCanAppend();
        table.CheckMappedFields(MappedFieldNumbers(table, *csv, relation));
        if (table.HasImportVolumeLimit())
            table.CheckImportVolume(VolumeOf(table, *csv, relation, firstLineIsTitle));
    } catch (const Error& error) {
        result.CheckMessage = error.Message();
        return result;
    }

    std::vector<TBoundRelationEntry> bound = BindRelation(table, relation);
    const std::uint32_t rowCount = csv->GetRowCount();
    std::uint32_t row = firstLineIsTitle ? 1 : 0;
    // The line of the current row, carried forward so that listing every failure stays linear.
    std::uint64_t line = CsvLineOfRow(*csv, row);
    std::u16string scratch;
    if (onProgress) onProgress(0, rowCount);
    for (; row < rowCount; ++row) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            result.Cancelled = true;
            break;
        }
        // As the inserter fills a row: every mapped non-empty cell, then the post. A row whose
        // cells do not all convert is not posted, so that the engine does not judge a row the
        // run would never give it.
        table.Insert();
        bool failed = false;
        for (const TBoundRelationEntry& entry : bound) {
            std::u16string_view text =
                CellTextForField(csv->GetCellView(row, entry.Column), scratch);
            if (text.empty()) continue;
            try {
                TField& field = entry.Field ? *entry.Field : table.FieldByName(*entry.Name);
                field.AssignText(text);
            } catch (const Error& error) {
                failed = true;
                onFailure({row, line, *entry.Name, error.Message()});
            }
        }
        if (!failed) {
            try {
                table.Post();
            } catch (const Error& error) {
                failed = true;
                onFailure({row, line, {}, error.Message()});
            }
        }
        // A refused row stays unposted in the table; the next Insert must not post it again.
        if (failed) table.Cancel();
        std::uint64_t lineFeeds = 0;
        for (std::uint32_t f = 0; f < csv->GetFieldCount(); ++f) {
            std::u16string_view cell = csv->GetCellView(row, f);
            lineFeeds += static_cast<std::uint64_t>(std::count(cell.begin(), cell.end(), u'\n'));
        }
        line += 1 + lineFeeds;
        ++result.RowsChecked;
        if (failed) ++result.RowsFailing;
        if (onProgress) onProgress(std::min(row + 2, rowCount), rowCount);
        ProcessMessages();
    }
    return result;
}

}  // namespace qm
