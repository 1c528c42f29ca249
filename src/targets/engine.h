// The contract between the connection/table layer (connection.h) and the engines that read and
// write one family of files (.xlsx, .xls, .mdb/.accdb).
//
// The layer parses the connection string, asks every registered engine factory whether it
// takes the file (by provider, extended properties and the file's first bytes) and opens the
// file through the first that does. From then on it drives the engine:
//
//   TEngine (one per open connection, owned by TConnection)
//     ListTables               names as the user sees and types them
//     OpenTable                one TEngineTable per open table, owned by TTable
//     Begin/Commit/Rollback    one transaction at a time
//   TEngineTable
//     Fields                   fixed while the table is open
//     RowCount/ReadRow         the preview, read lazily
//     AppendRow                one posted row, values already converted to the field types
//
// Errors: every engine function reports failure by throwing qm::Error with a Japanese message
// that names the file (and the table, field or row where it applies). Bad file content must
// give an Error, never a crash or an out-of-bounds read.
//
// Files: an engine opens and reads its file only through platform/file_access.h (TReadFile),
// and its commit is the protocol of platform/commit_protocol.h: it writes the new file through
// a TAtomicFile (or ReplaceFile) given TReplaceOptions::Expected = the identity of the file it
// read, so that the file is replaced only if nobody changed it meanwhile.
//
// Transactions: the layer calls BeginTransaction holding the target's writers' lock
// (platform/target_lock.h) and keeps it until the commit or roll-back is over; it wraps a row
// posted outside a transaction in a transaction of its own. An engine whose file was replaced
// since it read it (another import committed while this one waited) reads it again in
// BeginTransaction, so that the rows go below the other import's.
// Rows appended between BeginTransaction and CommitTransaction become visible in
// the file only at the commit, which must replace the file atomically (all rows or none);
// RollbackTransaction (or destroying the engine inside a transaction) leaves the file byte for
// byte as it was. An AppendRow outside a transaction is committed at once. The layer guarantees
// that it never calls BeginTransaction twice without a commit or roll-back between, and that it
// destroys every TEngineTable before the TEngine that made it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/connection_string.h"
#include "targets/field_type.h"
#include "targets/value.h"

namespace qm {

// One field of an engine's table.
struct TFieldDef {
    std::u16string Name;
    TFieldType DataType = ftUnknown;
    // Most characters a text field takes (0: no limit); ignored for other types.
    std::int32_t Size = 0;
    // Numeric precision and scale of decimal fields (ftBCD, ftFMTBcd); 0 when not applicable.
    std::int32_t Precision = 0;
    std::int32_t Scale = 0;
    // A field the engine fills itself (auto-number) or cannot write (formulas).
    bool ReadOnly = false;
};

// One entry of the table list.
struct TTableEntry {
    std::u16string Name;
    bool IsSystem = false;  // listed only when system tables are asked for
};

// What an import will give a table, known before its first row: the rows, and for each field
// the CSV file fills, how many of its cells hold text and how many characters they hold in all
// (line breaks counted as the CR LF they become).
struct TImportVolume {
    std::uint64_t Rows = 0;
    struct TFieldVolume {
        std::size_t Field = 0;  // 0-based field number
        std::uint64_t Cells = 0;
        std::uint64_t Characters = 0;
    };
    std::vector<TFieldVolume> Fields;
};

class TEngineTable {
  public:
    virtual ~TEngineTable() = default;
    TEngineTable() = default;
    TEngineTable(const TEngineTable&) = delete;
    TEngineTable& operator=(const TEngineTable&) = delete;

    virtual const std::vector<TFieldDef>& Fields() const = 0;

    // The number of rows the preview shows, as the file holds them (rows appended in an open
    // transaction appear after the commit). May be an estimate taken from the file's own
    // bookkeeping; ReadRow is the authority.
    virtual std::int64_t RowCount() = 0;
    // Reads the row at a 0-based index into 'values' (one per field). Returns false past the
    // last row. Reading must not load the whole table: memory stays bounded by what is read
    // near the index, so that a million-row table opens at once.
    virtual bool ReadRow(std::int64_t index, std::vector<TValue>& values) = 0;

    // Appends one row; values[i] belongs to field i (std::monostate: the field stays unset).
    // Throws when the row cannot be added (a size limit of the format, a read-only target).
    virtual void AppendRow(const std::vector<TValue>& values) = 0;

    // Throws, before any row, the Error that AppendRow would throw for every row when the
    // table cannot take rows at all (a format the engine cannot write, a read-only table), so
    // that a dry run reports it and a failed import does not blame a CSV row for it. The
    // default takes rows; limits that depend on the rows (a full sheet) are AppendRow's.
    virtual void CheckCanAppend() {}

    // Throws, before any row, when the import fills a field that can never take a value from
    // text (an AutoNumber, an attachment), naming the table and the field, so that the refusal
    // does not wait for the first non-empty cell. `fields` are the 0-based numbers of the fields
    // the relation fills from a column of the CSV file. The default takes every field.
    virtual void CheckMappedFields(const std::vector<std::size_t>& fields) { (void)fields; }

    // Throws, before any row, when the import surely passes a size limit of the format (an
    // Access database's 2 GB), naming the file and the limit. The default has no such limit;
    // limits met only while rows are appended stay AppendRow's and the commit's.
    virtual void CheckImportVolume(const TImportVolume& volume) { (void)volume; }
    // Whether CheckImportVolume looks at the volume at all: counting it reads every cell of
    // the CSV file once more, which an engine without such a limit should not pay for.
    virtual bool HasImportVolumeLimit() const { return false; }
};

class TEngine {
  public:
    virtual ~TEngine() = default;
    TEngine() = default;
    TEngine(const TEngine&) = delete;
    TEngine& operator=(const TEngine&) = delete;

    // Tables and views in the order the user sees them.
    virtual std::vector<TTableEntry> ListTables() = 0;
    // 'name' is what ListTables gave, without brackets. Throws when there is no such table.
    virtual std::unique_ptr<TEngineTable> OpenTable(std::u16string_view name) = 0;

    virtual void BeginTransaction() = 0;
    // Writing a big file takes a while: the engine gives the user interface its turn
    // (ProcessMessages) as it writes, and when 'cancel' is given and found set before the file
    // is replaced, it stops, leaves the file as it was and throws Error(kCancelledMessage).
    virtual void CommitTransaction(const std::atomic<bool>* cancel) = 0;
    virtual void RollbackTransaction() = 0;
};

// How an engine announces itself to the layer.
struct TEngineFactory {
    // For messages and tests, e.g. "xlsx".
    const char* Name;
    // True when this engine handles the connection. 'head' holds up to the first 512 bytes of
    // the file. Must not throw.
    bool (*Accepts)(const TConnectionInfo& info, std::string_view head);
    // Opens the file. Throws Error when it cannot.
    std::unique_ptr<TEngine> (*Open)(const TConnectionInfo& info);
};

// Adds a factory; later registrations are asked after earlier ones. Engines register from a
// static TEngineRegistration object. Because quillomat_core is a static library, the file that
// holds that object must reach every program through the library's INTERFACE sources
// (target_sources(quillomat_core INTERFACE .../foo_registration.cpp)); otherwise the linker
// drops it.
void RegisterEngine(const TEngineFactory& factory);
const std::vector<TEngineFactory>& RegisteredEngines();

struct TEngineRegistration {
    explicit TEngineRegistration(const TEngineFactory& factory) { RegisterEngine(factory); }
};

// Opens the engine for a connection string: parses it, reads the file's first bytes, picks the
// engine. Throws Error with a Japanese message when the file is missing or unreadable, when its
// content does not match what the connection string says (a renamed or damaged file), or when
// no engine handles it yet.
std::unique_ptr<TEngine> OpenEngine(std::u16string_view connectionString);

}  // namespace qm
