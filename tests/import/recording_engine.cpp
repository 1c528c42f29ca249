#include "import/recording_engine.h"

#include "platform/case_fold.h"
#include "platform/error.h"

namespace qm::test {
namespace {

std::map<std::u16string, TRecordingStore>& Stores() {
    static std::map<std::u16string, TRecordingStore> stores;
    return stores;
}

class TRecordingTable : public TEngineTable {
  public:
    explicit TRecordingTable(TRecordingStore& store) : store_(store) {}
    const std::vector<TFieldDef>& Fields() const override { return store_.Fields; }
    std::int64_t RowCount() override {
        return static_cast<std::int64_t>(store_.Committed.size() + store_.Pending.size());
    }
    bool ReadRow(std::int64_t index, std::vector<TValue>& values) override {
        auto i = static_cast<std::size_t>(index);
        if (i < store_.Committed.size()) {
            values = store_.Committed[i];
            return true;
        }
        i -= store_.Committed.size();
        if (i >= store_.Pending.size()) return false;
        values = store_.Pending[i];
        return true;
    }
    void AppendRow(const std::vector<TValue>& values) override {
        CheckCanAppend();
        if (store_.Appends++ == store_.RefuseAppend) throw Error(u"この行は書き込めません。");
        (store_.InTransaction ? store_.Pending : store_.Committed).push_back(values);
    }

    void CheckCanAppend() override {
        if (store_.TakesNoRows) throw Error(u"このファイルには行を追加できません。");
    }

  private:
    TRecordingStore& store_;
};

class TRecordingEngine : public TEngine {
  public:
    explicit TRecordingEngine(TRecordingStore& store) : store_(store) {}
    std::vector<TTableEntry> ListTables() override { return {{u"T", false}}; }
    std::unique_ptr<TEngineTable> OpenTable(std::u16string_view name) override {
        if (name != u"T") throw Error(u"テーブルがありません。");
        return std::make_unique<TRecordingTable>(store_);
    }
    void BeginTransaction() override {
        ++store_.Begins;
        store_.InTransaction = true;
    }
    void CommitTransaction(const std::atomic<bool>*) override {
        if (store_.FailCommit) throw Error(u"保存できませんでした。");
        ++store_.Commits;
        store_.InTransaction = false;
        for (auto& row : store_.Pending)
            store_.Committed.push_back(std::move(row));
        store_.Pending.clear();
    }
    void RollbackTransaction() override {
        ++store_.Rollbacks;
        store_.InTransaction = false;
        store_.Pending.clear();
    }

  private:
    TRecordingStore& store_;
};

const TEngineRegistration kRegistration({
    "recording",
    [](const TConnectionInfo& info, std::string_view) {
        return SameText(info.Provider, u"Quillomat.Recording");
    },
    [](const TConnectionInfo& info) -> std::unique_ptr<TEngine> {
        return std::make_unique<TRecordingEngine>(RecordingStore(info.DataSource));
    },
});

}  // namespace

TRecordingStore& RecordingStore(const std::u16string& dataSource) {
    return Stores()[dataSource];
}

void ForgetRecordingStores() {
    Stores().clear();
}

std::u16string RecordingConnectionString(const std::u16string& path) {
    return u"Provider=Quillomat.Recording;Data Source=" + path;
}

}  // namespace qm::test
