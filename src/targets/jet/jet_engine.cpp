#include "targets/jet/jet_engine.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/file_system.h"
#include "targets/jet/jet_check.h"
#include "targets/jet/jet_commit.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_field_type.h"
#include "targets/jet/jet_import_volume.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_table_writer.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

// A preview reads rows in order; to serve any row number without keeping rows, the table
// remembers where every 256th row starts.
constexpr std::int64_t kCheckpointEvery = 256;

TValue ToValue(const TJetValue& value, const TColumnDef& column) {
    using Kind = TJetValue::Kind;
    switch (value.kind) {
        case Kind::Null:
            return std::monostate{};
        case Kind::Boolean:
            return value.integer != 0;
        case Kind::Integer:
            return value.integer;
        case Kind::Currency:
            return TCurrency{value.integer};
        case Kind::Float:
            return value.real;
        case Kind::DateTime:
            return TDateTime{value.real};
        case Kind::Text:
            if (column.type == kTypeDecimal && !column.IsCalculated())
                return TDecimal{Utf16ToUtf8(value.text)};
            return value.text;
        case Kind::Bytes:
            return TBytes{value.bytes};
    }
    return std::monostate{};
}

TFieldDef ToFieldDef(const TJetField& field) {
    TFieldDef def;
    def.Name = field.name;
    def.DataType = field.type;
    const TColumnDef& column = *field.column;
    if (column.type == kTypeText) def.Size = column.length / 2;
    if (column.type == kTypeDecimal) {
        def.Precision = column.precision;
        def.Scale = column.scale;
    } else if (column.type == kTypeCurrency) {
        def.Precision = 19;
        def.Scale = 4;
    }
    def.ReadOnly = column.IsAutoNumber() || column.IsCalculated() || column.type == kTypeComplex;
    return def;
}

// Appends rows for the tables of one engine: the transaction's pages, and one writer per
// table written.
class TJetEngineTable;
class TJetWriteSession {
  public:
    virtual ~TJetWriteSession() = default;
    virtual void AppendRow(const TJetTable& table, const std::vector<TValue>& values) = 0;
    // Throws the refusal that appending to `table` would meet before any row (a table this
    // engine cannot write soundly, an inconsistent database), writing nothing.
    virtual void CheckCanAppend(const TJetTable& table) = 0;
    // Throws when the import surely passes the database's size limit (jet_import_volume.h).
    virtual void CheckImportVolume(const TJetTable& table, const TImportVolume& volume) = 0;
    virtual const std::u16string& DatabasePath() const = 0;
    // Open tables are told when a commit replaced the file, so that they show its rows.
    virtual void Register(TJetEngineTable* table) = 0;
    virtual void Unregister(TJetEngineTable* table) = 0;
};

class TJetEngineTable : public TEngineTable {
  public:
    TJetEngineTable(std::unique_ptr<TJetTable> table, TJetWriteSession& session)
        : table_(std::move(table)),
          session_(session),
          cursor_(std::make_unique<TJetTable::TCursor>(table_->Rows())) {
        session_.Register(this);
        for (const auto& field : table_->Fields())
            fields_.push_back(ToFieldDef(field));
        checkpoints_.push_back(cursor_->Position());
    }
    ~TJetEngineTable() override { session_.Unregister(this); }

    // The file now holds the committed rows: read the table again from `database`.
    void Reload(const TJetDatabase& database) {
        table_ = database.OpenTableAtPage(table_->Name(), table_->Def().page);
        cursor_ = std::make_unique<TJetTable::TCursor>(table_->Rows());
        checkpoints_.assign(1, cursor_->Position());
        next_ = 0;
        end_ = -1;
    }

    const std::vector<TFieldDef>& Fields() const override { return fields_; }

    std::int64_t RowCount() override {
        return end_ >= 0 ? end_ : static_cast<std::int64_t>(table_->Def().rowCount);
    }

    bool ReadRow(std::int64_t index, std::vector<TValue>& values) override {
        if (index < 0 || (end_ >= 0 && index >= end_)) return false;
        if (index != next_ - 1 && (index < next_ || index - next_ > kCheckpointEvery)) {
            // Back (or far ahead): restart from the nearest remembered position before it.
            const std::size_t checkpoint = std::min(
                static_cast<std::size_t>(index / kCheckpointEvery), checkpoints_.size() - 1);
            const auto start = static_cast<std::int64_t>(checkpoint) * kCheckpointEvery;
            if (index < next_ || start > next_) {
                cursor_->Seek(checkpoints_[checkpoint]);
                next_ = start;
            }
        }
        while (next_ <= index) {
            if (next_ % kCheckpointEvery == 0 &&
                static_cast<std::size_t>(next_ / kCheckpointEvery) == checkpoints_.size())
                checkpoints_.push_back(cursor_->Position());
            if (!cursor_->Next(row_)) {
                end_ = next_;
                return false;
            }
            ++next_;
        }
        values.resize(row_.size());
        for (std::size_t i = 0; i < row_.size(); ++i)
            values[i] = ToValue(row_[i], *table_->Fields()[i].column);
        return true;
    }

    void AppendRow(const std::vector<TValue>& values) override {
        session_.AppendRow(*table_, values);
    }
    void CheckCanAppend() override { session_.CheckCanAppend(*table_); }

    bool HasImportVolumeLimit() const override { return true; }
    void CheckImportVolume(const TImportVolume& volume) override {
        session_.CheckImportVolume(*table_, volume);
    }

    // Columns the engine fills itself or that hold no text: the provider refuses a value for
    // them, and so does the import, before its first row.
    void CheckMappedFields(const std::vector<std::size_t>& fields) override {
        for (const std::size_t i : fields) {
            if (i >= table_->Fields().size()) continue;
            const TColumnDef& column = *table_->Fields()[i].column;
            const char16_t* kind = column.IsAutoNumber() ? u"オートナンバー型"
                                   : column.type == kTypeComplex ? u"添付ファイル型または複数値"
                                   : column.type == kTypeOle ? u"OLEオブジェクト型"
                                   : column.IsCalculated()   ? u"集計型"
                                                             : nullptr;
            if (kind == nullptr) continue;
            FailWithFile(u"テーブル「" + table_->Name() + u"」のフィールド「" + column.name +
                             u"」は" + kind +
                             u"のフィールドのため、CSVの値を登録できません。"
                             u"このフィールドの関連付けを外してください。",
                         session_.DatabasePath());
        }
    }

  private:
    std::unique_ptr<TJetTable> table_;
    TJetWriteSession& session_;
    std::unique_ptr<TJetTable::TCursor> cursor_;
    std::vector<TFieldDef> fields_;
    std::vector<TJetValue> row_;
    std::vector<TTableScan::TPosition> checkpoints_;  // position before row i × kCheckpointEvery
    std::int64_t next_ = 0;                           // the row the cursor reads next
    std::int64_t end_ = -1;                           // the row count once the end was seen
};

class TJetEngine : public TEngine, public TJetWriteSession, private TParentIndexes {
  public:
    TJetEngine(std::unique_ptr<TJetDatabase> database, TFileIdentity identity)
        : database_(std::move(database)), identity_(identity) {}

    std::vector<TTableEntry> ListTables() override {
        std::vector<TTableEntry> entries;
        for (const auto& table : database_->Catalog().AllLocalTables())
            if (table.name.size() >= 4 && NamesEqual(table.name.substr(0, 4), u"MSys"))
                entries.push_back({table.name, true});
        for (const auto& name : database_->TableNames())
            entries.push_back({name, false});
        return entries;
    }

    std::unique_ptr<TEngineTable> OpenTable(std::u16string_view name) override {
        return std::make_unique<TJetEngineTable>(database_->OpenTable(name), *this);
    }

    // Rows are held in the transaction's pages until the commit; nothing is written before.
    // The connection layer holds the writers' lock from here on: when another import replaced
    // the database since it was read, it is read again, so that this transaction's rows go
    // after that import's rather than the commit refusing a changed file.
    void BeginTransaction() override {
        Discard();
        ReadAgainIfReplaced();
        inTransaction_ = true;
    }

    void CommitTransaction(const std::atomic<bool>* cancel) override {
        inTransaction_ = false;
        try {
            Commit(cancel);
        } catch (...) {
            Discard();
            throw;
        }
    }

    void RollbackTransaction() override {
        inTransaction_ = false;
        Discard();
    }

    void AppendRow(const TJetTable& table, const std::vector<TValue>& values) override {
        if (!inTransaction_) {
            // Outside a transaction a row is committed at once.
            BeginTransaction();
            try {
                Writer(table).Append(values);
            } catch (...) {
                RollbackTransaction();
                throw;
            }
            CommitTransaction(nullptr);
            return;
        }
        Writer(table).Append(values);
    }

    void CheckCanAppend(const TJetTable& table) override {
        if (inTransaction_) {
            Writer(table);
            return;
        }
        BeginTransaction();
        try {
            Writer(table);
        } catch (...) {
            RollbackTransaction();
            throw;
        }
        RollbackTransaction();
    }

  private:
    TJetTableWriter& Writer(const TJetTable& table) {
        RefuseInconsistentDatabase(table.Def().page);
        if (!store_) {
            store_ = std::make_unique<TJetPageStore>(database_->File());
            allocator_ = std::make_unique<TJetPageAllocator>(*store_);
        }
        auto found = writers_.find(table.Def().page);
        if (found == writers_.end()) {
            auto own = database_->OpenTableAtPage(table.Name(), table.Def().page);
            auto writer = std::make_unique<TJetTableWriter>(*database_, *own, *store_, *allocator_,
                                                            static_cast<TParentIndexes*>(this));
            found = writers_.emplace(table.Def().page, TWriter{std::move(own), std::move(writer)})
                        .first;
        }
        return *found->second.writer;
    }

    // The key of a referenced table: through its writer when this transaction appends to it
    // too (its new rows count as parents), else from the file.
    bool HasKey(std::uint32_t tdefPage, std::size_t physical, const std::string& key) override {
        const auto found = writers_.find(tdefPage);
        if (found != writers_.end()) return found->second.writer->IndexHasKey(physical, key);
        if (!fileParents_)
            fileParents_ = std::make_unique<TFileParentIndexes>(*database_, *allocator_);
        return fileParents_->HasKey(tdefPage, physical, key);
    }

    // A database whose bookkeeping already disagrees with itself is never written: appending
    // would build on the fault and make it worse. What an append can make worse is the written
    // table (its maps, rows and trees) and the pages taken for free ones, so the check reads the
    // written table whole and of the others only the pages their maps claim: a few rows added
    // to a large database do not cost a reading of all its rows. Checked once for every table.
    void RefuseInconsistentDatabase(std::uint32_t tdefPage) {
        if (checked_.count(tdefPage)) return;
        const TCheckReport report = CheckDatabaseForWriting(*database_, {tdefPage});
        if (!report.Consistent()) {
            std::u16string details;
            for (std::size_t i = 0; i < report.problems.size() && i < 3; ++i)
                details += u"\n・" + report.problems[i];
            FailWithFile(
                u"データベースの構造に不整合があるため、行を追加できません。"
                u"Accessで「データベースの最適化/修復」を行ってからやり直してください。" +
                    details,
                database_->File().Path());
        }
        checked_.insert(tdefPage);
    }

    void Commit(const std::atomic<bool>* cancel) {
        std::uint32_t appended = 0;
        for (const auto& [page, writer] : writers_)
            appended += writer.writer->RowsAppended();
        if (!store_ || appended == 0) {
            Discard();
            return;
        }
        for (auto& [page, writer] : writers_)
            writer.writer->Finish();
        const std::u16string path = database_->File().Path();
        CommitPages(path, identity_, *store_, cancel);
        Discard();
        // The file is now the new one: read it again, and let the open tables show its rows.
        // Should reading it fail, the commit still stands: the tables keep the old pages.
        try {
            Reopen(/*ours=*/true);
        } catch (const Error&) {
        }
    }

    // Reads the database at its path again; databases read before stay mapped, for anything
    // still holding their pages. The identity is taken before the file is read, so that a
    // file replaced in between is found changed (and read again) rather than taken for the
    // one read. A file of another writer is checked again before rows are added to it.
    void Reopen(bool ours) {
        const std::u16string path = database_->File().Path();
        TFileIdentity identity;
        if (!CurrentIdentity(ResolvedNativePath(path), identity)) return;
        auto reopened = TJetDatabase::Open(path);
        retired_.push_back(std::move(database_));
        database_ = std::move(reopened);
        identity_ = identity;
        if (!ours) checked_.clear();
        for (TJetEngineTable* table : tables_)
            table->Reload(*database_);
    }

    void ReadAgainIfReplaced() {
        TFileIdentity now;
        if (CurrentIdentity(ResolvedNativePath(database_->File().Path()), now) &&
            !(now == identity_))
            Reopen(/*ours=*/false);
    }

    const std::u16string& DatabasePath() const override { return database_->File().Path(); }
    void CheckImportVolume(const TJetTable& table, const TImportVolume& volume) override {
        RefuseOversizedImport(*database_, table, volume);
    }
    void Register(TJetEngineTable* table) override { tables_.push_back(table); }
    void Unregister(TJetEngineTable* table) override {
        tables_.erase(std::remove(tables_.begin(), tables_.end(), table), tables_.end());
    }

    void Discard() {
        fileParents_.reset();
        writers_.clear();
        allocator_.reset();
        store_.reset();
    }

    struct TWriter {
        std::unique_ptr<TJetTable> table;
        std::unique_ptr<TJetTableWriter> writer;
    };

    std::unique_ptr<TJetDatabase> database_;
    std::vector<std::unique_ptr<TJetDatabase>> retired_;
    TFileIdentity identity_;
    bool inTransaction_ = false;
    std::set<std::uint32_t> checked_;  // tables checked before their first row
    std::unique_ptr<TJetPageStore> store_;
    std::unique_ptr<TJetPageAllocator> allocator_;
    std::map<std::uint32_t, TWriter> writers_;
    std::unique_ptr<TFileParentIndexes> fileParents_;  // referenced tables not written
    std::vector<TJetEngineTable*> tables_;
};

}  // namespace

bool AcceptsConnection(const TConnectionInfo& info, std::string_view head) {
    if (!info.ExcelVersion.empty()) return false;
    if (!SameText(info.Provider, u"Microsoft.Jet.OLEDB.4.0") &&
        !SameText(info.Provider, u"Microsoft.ACE.OLEDB.12.0"))
        return false;
    return head.size() >= 19 &&
           (head.substr(4, 15) == "Standard Jet DB" || head.substr(4, 15) == "Standard ACE DB");
}

std::unique_ptr<TEngine> OpenJetEngine(const TConnectionInfo& info) {
    TFileIdentity identity;
    CurrentIdentity(ResolvedNativePath(info.DataSource), identity);
    auto database = TJetDatabase::Open(info.DataSource);
    if (database->File().Header().ace && SameText(info.Provider, u"Microsoft.Jet.OLEDB.4.0"))
        FailWithFile(
            u"このデータベースは Access 2007 以降の形式（.accdb）のため、.mdb としては開けません。"
            u"拡張子を確認してください。",
            info.DataSource);
    return std::make_unique<TJetEngine>(std::move(database), identity);
}

}  // namespace qm::jet
