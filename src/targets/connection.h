// The connection/table layer: the handful of database operations the rest of the program uses,
// in the shape the main window's code expects (a connection, a table on it, its fields).
//
// Ownership: a TConnection owns the open engine; a TTable belongs to one TConnection (which
// must outlive it) and owns the engine's open table and its TField objects. References to
// fields stay valid while the table is open; closing the table or the connection invalidates
// them. Closing the connection closes every table open on it.
//
// Errors: every operation that fails throws qm::Error with a Japanese message fit to show the
// user; the objects then stay in a usable state (a failed Open leaves the table closed, a
// failed Post leaves the new row in place to be fixed or cancelled).
//
// Writers exclude each other: from BeginTrans to the end of the transaction (and around a row
// posted outside one) the connection holds the target's writers' lock (platform/target_lock.h),
// waiting a few seconds for another import to finish; the engine's commit then follows
// platform/commit_protocol.h.
//
// Calling orders the layer supports (and tests):
//   connecting:   Close; SetConnectionString; GetTableNames (opens the connection)
//   opening:      table.Close; SetTableName("[" + name + "]"); Open; GetFieldList(table)
//   importing:    BeginTrans; { Insert; FieldByName(n).AssignText(t)...; Post }...;
//                 CommitTrans, or RollbackTrans after any error
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/engine.h"
#include "targets/field_type.h"
#include "targets/value.h"

namespace qm {

class TTable;
class TTargetLock;

class TConnection {
  public:
    TConnection();
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Closes every table on the connection and the connection; a pending transaction is
    // rolled back. No effect when already closed.
    void Close();
    bool Connected() const noexcept { return engine_ != nullptr; }

    // Stored for the next Open. Throws when the connection is open.
    void SetConnectionString(std::u16string text);
    const std::u16string& ConnectionString() const noexcept { return connectionString_; }

    // Opens the target named by the connection string; no effect when open. Throws when the
    // file is missing, unreadable, of another kind than the string says, or damaged.
    void Open();

    // Opens the connection if closed, then replaces 'names' with the target's tables and views
    // in the engine's order; system tables only with 'systemTables'.
    void GetTableNames(std::vector<std::u16string>& names, bool systemTables = false);

    // One transaction at a time. BeginTrans throws when the connection is closed or a
    // transaction is already open; CommitTrans makes every row posted since BeginTrans
    // permanent in one atomic replacement of the file; RollbackTrans discards them all and
    // leaves the file unchanged. Commit and roll back throw when no transaction is open.
    // 'cancel', when set while the commit is still writing, makes it fail with
    // kCancelledMessage and roll back, the file unchanged.
    void BeginTrans();
    void CommitTrans(const std::atomic<bool>* cancel = nullptr);
    void RollbackTrans();
    bool InTransaction() const noexcept { return inTransaction_; }

  private:
    friend class TTable;
    TEngine& Engine();
    // The writers' lock of the connection's file, taken for one transaction.
    std::unique_ptr<TTargetLock> LockTarget() const;

    std::u16string connectionString_;
    std::unique_ptr<TEngine> engine_;
    std::unique_ptr<TTargetLock> lock_;
    std::vector<TTable*> tables_;
    bool inTransaction_ = false;
};

// One field of an open table.
class TField {
  public:
    const std::u16string& DisplayName() const noexcept { return def_.Name; }
    const std::u16string& FieldName() const noexcept { return def_.Name; }
    TFieldType DataType() const noexcept { return def_.DataType; }
    int FieldNo() const noexcept { return number_; }
    const TFieldDef& Def() const noexcept { return def_; }

    // Converts the text to the field's type (rules in field_conversion.h) and stores it in
    // the row being inserted. Throws when the table is not inserting a row, or when the text
    // does not convert (the message names the field, the value and the type).
    void AssignText(std::u16string_view text);
    // The value the row being inserted holds for this field (null when unset).
    const TValue& Value() const;

  private:
    friend class TTable;
    TField(TTable& table, TFieldDef def, int number)
        : table_(&table), def_(std::move(def)), number_(number) {}

    TTable* table_;
    TFieldDef def_;
    int number_;
};

class TTable {
  public:
    explicit TTable(TConnection& connection);
    ~TTable();
    TTable(const TTable&) = delete;
    TTable& operator=(const TTable&) = delete;

    // The name as the caller passes it: one pair of enclosing square brackets is removed
    // ("[Sheet1$]" names Sheet1$, "[a]b]" names a]b). Throws when the table is open.
    void SetTableName(std::u16string name);
    const std::u16string& TableName() const noexcept { return tableName_; }

    // Opens the connection if needed, then the table, for reading and appending. Throws when
    // the name is not a table of the target or the table cannot be read.
    void Open();
    // No effect when closed; a row being inserted is discarded.
    void Close();
    bool Active() const noexcept { return engineTable_ != nullptr; }

    int FieldCount() const noexcept { return static_cast<int>(fields_.size()); }
    // Field numbers count from 1. Throws for a number outside 1..FieldCount.
    TField& FieldByNumber(int number);
    // The field of that name (exact match first, then ignoring letter case). Throws when the
    // table has none.
    TField& FieldByName(std::u16string_view name);
    // Null when there is no such field.
    TField* FindField(std::u16string_view name);

    // The preview: row count (possibly an estimate, see TEngineTable::RowCount) and one row by
    // its 0-based index; false past the end. Throw when the table is closed.
    std::int64_t RecordCount();
    bool ReadRow(std::int64_t index, std::vector<TValue>& values);

    // Starts a new, empty row (every field unset). A row already being inserted is posted
    // first when a field was assigned, else discarded. Throws when the table is closed.
    void Insert();
    // Appends the row being inserted to the table. Throws when no row is being inserted or
    // the engine refuses the row; the row then stays in place.
    void Post();
    // Discards the row being inserted; no effect otherwise.
    void Cancel();
    // Throws the engine's refusal when the table cannot take rows at all (see
    // TEngineTable::CheckCanAppend), and the "not open" error when it is closed.
    void CheckCanAppend();
    // Throws the engine's refusal of fields that can never take a value from text (see
    // TEngineTable::CheckMappedFields); `fieldNumbers` count from 1, as FieldByNumber does.
    void CheckMappedFields(const std::vector<int>& fieldNumbers);
    // Throws the engine's refusal of an import too big for the target (see
    // TEngineTable::CheckImportVolume); the volume's field numbers count from 1.
    void CheckImportVolume(TImportVolume volume);
    bool HasImportVolumeLimit() const;
    bool Inserting() const noexcept { return inserting_; }

  private:
    friend class TConnection;
    friend class TField;
    void Detach() noexcept;  // the connection goes away or closes
    [[noreturn]] void FailClosed() const;

    TConnection* connection_;
    std::u16string tableName_;
    std::unique_ptr<TEngineTable> engineTable_;
    std::vector<std::unique_ptr<TField>> fields_;
    std::vector<TValue> row_;
    bool inserting_ = false;
    bool assigned_ = false;
};

}  // namespace qm
