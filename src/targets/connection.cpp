#include "targets/connection.h"

#include <algorithm>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/target_lock.h"
#include "targets/connection_string.h"
#include "targets/field_conversion.h"
#include "text/unicode.h"

namespace qm {

// ---- TConnection ----

TConnection::TConnection() = default;

TConnection::~TConnection() {
    Close();
    for (TTable* table : tables_)
        table->Detach();
}

void TConnection::Close() {
    for (TTable* table : tables_)
        table->Close();
    if (engine_ && inTransaction_) {
        try {
            engine_->RollbackTransaction();
        } catch (const Error&) {
            // Rolling back only discards what is held in memory; the file was never touched.
        }
    }
    inTransaction_ = false;
    lock_.reset();
    engine_.reset();
}

void TConnection::SetConnectionString(std::u16string text) {
    if (engine_) throw Error(u"接続が開いている間は接続文字列を変更できません。");
    connectionString_ = std::move(text);
}

void TConnection::Open() {
    if (engine_) return;
    engine_ = OpenEngine(connectionString_);
}

std::unique_ptr<TTargetLock> TConnection::LockTarget() const {
    TConnectionInfo info = ParseConnectionString(connectionString_);
    return std::make_unique<TTargetLock>(
        info.DataSource, info.ExcelVersion.empty() ? TLockUse::Target : TLockUse::Workbook);
}

TEngine& TConnection::Engine() {
    Open();
    return *engine_;
}

void TConnection::GetTableNames(std::vector<std::u16string>& names, bool systemTables) {
    std::vector<TTableEntry> entries = Engine().ListTables();
    names.clear();
    for (const TTableEntry& entry : entries)
        if (!entry.IsSystem || systemTables) names.push_back(entry.Name);
}

void TConnection::BeginTrans() {
    if (!engine_) throw Error(u"接続が開いていないため、トランザクションを開始できません。");
    if (inTransaction_) throw Error(u"トランザクションはすでに開始されています。");
    std::unique_ptr<TTargetLock> lock = LockTarget();
    engine_->BeginTransaction();
    lock_ = std::move(lock);
    inTransaction_ = true;
}

void TConnection::CommitTrans(const std::atomic<bool>* cancel) {
    if (!engine_ || !inTransaction_) throw Error(u"開始されたトランザクションがありません。");
    // The transaction ends whether or not the commit succeeds: a failed commit leaves the file
    // as it was, and the rows are then rolled back.
    inTransaction_ = false;
    // Released when the commit is over, whichever way it ends.
    std::unique_ptr<TTargetLock> lock = std::move(lock_);
    try {
        engine_->CommitTransaction(cancel);
    } catch (...) {
        try {
            engine_->RollbackTransaction();
        } catch (const Error&) {
        }
        throw;
    }
}

void TConnection::RollbackTrans() {
    if (!engine_ || !inTransaction_) throw Error(u"開始されたトランザクションがありません。");
    inTransaction_ = false;
    std::unique_ptr<TTargetLock> lock = std::move(lock_);
    engine_->RollbackTransaction();
}

// ---- TField ----

void TField::AssignText(std::u16string_view text) {
    if (!table_->inserting_)
        throw Error(u"行の追加中ではないため、フィールド「" + def_.Name +
                    u"」に値を設定できません。");
    table_->row_[static_cast<std::size_t>(number_ - 1)] = ConvertFieldText(def_, text);
    table_->assigned_ = true;
}

const TValue& TField::Value() const {
    static const TValue kNull;
    if (!table_->inserting_) return kNull;
    return table_->row_[static_cast<std::size_t>(number_ - 1)];
}

// ---- TTable ----

TTable::TTable(TConnection& connection) : connection_(&connection) {
    connection.tables_.push_back(this);
}

TTable::~TTable() {
    Close();
    if (connection_) {
        auto& tables = connection_->tables_;
        tables.erase(std::remove(tables.begin(), tables.end(), this), tables.end());
    }
}

void TTable::SetTableName(std::u16string name) {
    if (Active()) throw Error(u"テーブルが開いている間はテーブル名を変更できません。");
    if (name.size() >= 2 && name.front() == u'[' && name.back() == u']')
        name = name.substr(1, name.size() - 2);
    tableName_ = std::move(name);
}

void TTable::Open() {
    if (Active()) return;
    if (!connection_) throw Error(u"テーブルに接続がありません。");
    std::unique_ptr<TEngineTable> table = connection_->Engine().OpenTable(tableName_);
    std::vector<std::unique_ptr<TField>> fields;
    int number = 1;
    for (const TFieldDef& def : table->Fields())
        fields.push_back(std::unique_ptr<TField>(new TField(*this, def, number++)));
    fields_ = std::move(fields);
    engineTable_ = std::move(table);
    inserting_ = false;
}

void TTable::Close() {
    inserting_ = false;
    assigned_ = false;
    row_.clear();
    fields_.clear();
    engineTable_.reset();
}

void TTable::Detach() noexcept {
    Close();
    connection_ = nullptr;
}

void TTable::FailClosed() const {
    throw Error(u"テーブル「" + tableName_ + u"」が開いていません。");
}

TField& TTable::FieldByNumber(int number) {
    if (number < 1 || number > FieldCount())
        throw Error(u"フィールド番号 " + Utf8ToUtf16(std::to_string(number)) + u" はテーブル「" +
                    tableName_ + u"」にありません。");
    return *fields_[static_cast<std::size_t>(number - 1)];
}

TField* TTable::FindField(std::u16string_view name) {
    for (auto& field : fields_)
        if (field->DisplayName() == name) return field.get();
    for (auto& field : fields_)
        if (SameText(field->DisplayName(), name)) return field.get();
    return nullptr;
}

TField& TTable::FieldByName(std::u16string_view name) {
    if (!Active()) FailClosed();
    TField* field = FindField(name);
    if (!field)
        throw Error(u"フィールド「" + std::u16string(name) + u"」はテーブル「" + tableName_ +
                    u"」にありません。");
    return *field;
}

std::int64_t TTable::RecordCount() {
    if (!Active()) FailClosed();
    return engineTable_->RowCount();
}

bool TTable::ReadRow(std::int64_t index, std::vector<TValue>& values) {
    if (!Active()) FailClosed();
    if (index < 0) return false;
    return engineTable_->ReadRow(index, values);
}

void TTable::Insert() {
    if (!Active()) FailClosed();
    if (inserting_) {
        if (assigned_)
            Post();
        else
            Cancel();
    }
    row_.assign(fields_.size(), TValue{});
    inserting_ = true;
    assigned_ = false;
}

void TTable::Post() {
    if (!Active()) FailClosed();
    if (!inserting_) throw Error(u"追加中の行がないため、書き込めません。");
    if (connection_ && !connection_->InTransaction()) {
        // A row outside a transaction is one of its own, under the writers' lock.
        std::unique_ptr<TTargetLock> lock = connection_->LockTarget();
        TEngine& engine = connection_->Engine();
        engine.BeginTransaction();
        try {
            engineTable_->AppendRow(row_);
            engine.CommitTransaction(nullptr);
        } catch (...) {
            try {
                engine.RollbackTransaction();
            } catch (const Error&) {
            }
            throw;
        }
    } else {
        engineTable_->AppendRow(row_);
    }
    inserting_ = false;
    assigned_ = false;
    row_.clear();
}

void TTable::CheckCanAppend() {
    if (!Active()) FailClosed();
    engineTable_->CheckCanAppend();
}

void TTable::CheckMappedFields(const std::vector<int>& fieldNumbers) {
    if (!Active()) FailClosed();
    std::vector<std::size_t> fields;
    for (const int number : fieldNumbers)
        if (number >= 1 && number <= FieldCount())
            fields.push_back(static_cast<std::size_t>(number - 1));
    engineTable_->CheckMappedFields(fields);
}

void TTable::CheckImportVolume(TImportVolume volume) {
    if (!Active()) FailClosed();
    std::erase_if(volume.Fields, [this](const TImportVolume::TFieldVolume& field) {
        return field.Field < 1 || field.Field > static_cast<std::size_t>(FieldCount());
    });
    for (auto& field : volume.Fields)
        --field.Field;
    engineTable_->CheckImportVolume(volume);
}

bool TTable::HasImportVolumeLimit() const {
    if (!Active()) FailClosed();
    return engineTable_->HasImportVolumeLimit();
}

void TTable::Cancel() {
    inserting_ = false;
    assigned_ = false;
    row_.clear();
}

}  // namespace qm
