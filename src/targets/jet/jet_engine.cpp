#include "targets/jet/jet_engine.h"

#include "platform/case_fold.h"
#include "platform/error.h"
#include "targets/jet/jet_database.h"
#include "targets/jet/jet_field_type.h"
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

class TJetEngineTable : public TEngineTable {
  public:
    explicit TJetEngineTable(std::unique_ptr<TJetTable> table)
        : table_(std::move(table)), cursor_(table_->Rows()) {
        for (const auto& field : table_->Fields())
            fields_.push_back(ToFieldDef(field));
        checkpoints_.push_back(cursor_.Position());
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
                cursor_.Seek(checkpoints_[checkpoint]);
                next_ = start;
            }
        }
        while (next_ <= index) {
            if (next_ % kCheckpointEvery == 0 &&
                static_cast<std::size_t>(next_ / kCheckpointEvery) == checkpoints_.size())
                checkpoints_.push_back(cursor_.Position());
            if (!cursor_.Next(row_)) {
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

    void AppendRow(const std::vector<TValue>&) override { CheckCanAppend(); }
    void CheckCanAppend() override {
        throw Error(u"Accessデータベースへの行の追加にはまだ対応していません。\n" + table_->Name());
    }

  private:
    std::unique_ptr<TJetTable> table_;
    TJetTable::TCursor cursor_;
    std::vector<TFieldDef> fields_;
    std::vector<TJetValue> row_;
    std::vector<TTableScan::TPosition> checkpoints_;  // position before row i × kCheckpointEvery
    std::int64_t next_ = 0;                           // the row the cursor reads next
    std::int64_t end_ = -1;                           // the row count once the end was seen
};

class TJetEngine : public TEngine {
  public:
    explicit TJetEngine(std::unique_ptr<TJetDatabase> database) : database_(std::move(database)) {}

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
        return std::make_unique<TJetEngineTable>(database_->OpenTable(name));
    }

    // Nothing is ever written yet, so a transaction has nothing to keep or undo.
    void BeginTransaction() override {}
    void CommitTransaction(const std::atomic<bool>*) override {}
    void RollbackTransaction() override {}

  private:
    std::unique_ptr<TJetDatabase> database_;
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
    auto database = TJetDatabase::Open(info.DataSource);
    if (database->File().Header().ace && SameText(info.Provider, u"Microsoft.Jet.OLEDB.4.0"))
        FailWithFile(
            u"このデータベースは Access 2007 以降の形式（.accdb）のため、.mdb としては開けません。"
            u"拡張子を確認してください。",
            info.DataSource);
    return std::make_unique<TJetEngine>(std::move(database));
}

}  // namespace qm::jet
