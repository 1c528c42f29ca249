#include "targets/xls/xls_engine.h"

#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/file_access.h"
#include "platform/file_system.h"
#include "platform/little_endian.h"
#include "platform/native_path.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xls/xls_append.h"
#include "targets/xls/xls_commit.h"
#include "targets/xls/xls_sheet.h"
#include "targets/xls/xls_workbook.h"

namespace qm::xls {

namespace {

// The first record id of a bare BIFF2, BIFF3, BIFF4 or BIFF5 stream (files Excel 2.x-4.0 wrote
// without a compound file around them).
bool LooksLikeBareBiff(std::string_view head) {
    if (head.size() < 4) return false;
    std::uint16_t id = ReadU16(head.data());
    return id == 0x0009 || id == 0x0209 || id == 0x0409 || id == 0x0809;
}

struct TTableDef {
    std::u16string Name;
    int Sheet = -1;
    bool Named = false;
    sheet::TLayoutArea Area{};
    int DefinedName = -1;
};

class TXlsEngine;

class TXlsTable : public TEngineTable {
  public:
    TXlsTable(TXlsEngine& engine, TTableDef def);

    const std::vector<TFieldDef>& Fields() const override { return layout_.Fields; }

    std::int64_t RowCount() override {
        Refresh();
        if (layout_.Fields.empty()) return 0;
        std::uint32_t last = def_.Named ? def_.Area.LastRow : sheet_->RowEnd();
        return last > layout_.HeaderRow ? last - layout_.HeaderRow : 0;
    }

    bool ReadRow(std::int64_t index, std::vector<TValue>& values) override {
        Refresh();
        if (layout_.Fields.empty() || index < 0 || index >= RowCount()) return false;
        // 1-based sheet row of the record; the sheet's rows are 0-based.
        std::uint32_t target = layout_.HeaderRow + 1 + static_cast<std::uint32_t>(index);
        values.assign(layout_.Fields.size(), TValue{});
        sheet_->ReadRow(target - 1, cells_);
        for (TXlsCell& cell : cells_) {
            int field = layout_.FieldOfColumn(cell.Column + 1u);
            if (field < 0) continue;
            values[static_cast<std::size_t>(field)] = sheet::FieldValue(
                std::move(cell.Value), layout_.Fields[static_cast<std::size_t>(field)]);
        }
        return true;
    }

    void AppendRow(const std::vector<TValue>& values) override;

  private:
    // After a commit the workbook was read again: the sheet and a named range have grown.
    void Refresh();
    void ReadFields() {
        std::uint32_t next = 0;
        std::vector<TXlsCell> cells;
        sheet::TLayoutRowSource rows = [&](std::uint32_t& number,
                                           std::vector<sheet::TLayoutCell>& out) {
            std::uint32_t row = 0;
            if (!sheet_->NextRowWithCells(next, row)) return false;
            next = row + 1;
            number = row + 1;
            sheet_->ReadRow(row, cells);
            out.clear();
            for (TXlsCell& cell : cells)
                out.push_back({cell.Column + 1u, std::move(cell.Value),
                               book_->XfKind(cell.Xf) == TStyleKind::Currency});
            return true;
        };
        // The rows below the sampled ones only tell which columns hold values: their cell
        // records are looked at, not decoded, and every one counts, whatever DIMENSIONS says.
        sheet::TLayoutColumnScan scan = [&](std::uint32_t, std::uint32_t, std::vector<bool>& used) {
            sheet_->MarkColumnsWithValues(next, used);
        };
        layout_ = sheet::ReadTableLayout(rows, def_.Named ? &def_.Area : nullptr, def_.Name,
                                         book_->FileName(), scan);
    }

    TXlsEngine& engine_;
    std::uint64_t generation_ = 0;
    std::shared_ptr<const TXlsWorkbook> book_;
    std::shared_ptr<const TXlsSheet> sheet_;
    TTableDef def_;
    sheet::TTableLayout layout_;
    std::vector<TXlsCell> cells_;
};

class TXlsEngine : public TEngine {
  public:
    explicit TXlsEngine(const TConnectionInfo& info) : path_(info.DataSource) {
        auto source = std::make_shared<xlsx::TFileByteSource>(info.DataSource);
        char head[8] = {};
        if (source->Size() >= sizeof head) source->ReadAt(0, head, sizeof head);
        std::string_view headView(head, sizeof head);
        if (!IsCompoundFile(headView)) {
            if (LooksLikeBareBiff(headView)) FailOldFormat(info.DataSource);
            throw Error(u"このファイルは Excel 97-2003 形式のブック（.xls）ではありません。\n" +
                        info.DataSource);
        }
        Load(std::move(source));
    }

    std::vector<TTableEntry> ListTables() override {
        std::vector<TTableEntry> entries;
        for (const TTableDef& def : tables_)
            entries.push_back({def.Name, false});
        return entries;
    }

    std::unique_ptr<TEngineTable> OpenTable(std::u16string_view name) override {
        const TTableDef* def = FindTable(name);
        if (!def)
            throw Error(u"ワークシートまたは名前付き範囲「" + std::u16string(name) +
                        u"」がブックにありません。\n" + book_->FileName());
        return std::make_unique<TXlsTable>(*this, *def);
    }

    void BeginTransaction() override {
        if (inTransaction_) throw Error(u"トランザクションはすでに開始されています。");
        // Say so before any row is prepared when the file cannot be written at all.
        RefuseIfLockedByOtherProgram(path_);
        RefuseIfNotWritable(path_);
        // The layer holds the writers' lock from here on: when another import replaced the
        // file since it was read, read it again so that the rows go below that import's.
        TFileIdentity now;
        if (!appender_ && CurrentIdentity(ResolvedNativePath(path_), now) &&
            !(now == source_->Identity()))
            Load(std::make_shared<xlsx::TFileByteSource>(path_));
        inTransaction_ = true;
    }

    void CommitTransaction(const std::atomic<bool>* cancel) override {
        if (!inTransaction_) throw Error(u"開始されたトランザクションがありません。");
        inTransaction_ = false;
        CommitAndDiscard(cancel);
    }

    void RollbackTransaction() override {
        inTransaction_ = false;
        appender_.reset();
    }

    const std::shared_ptr<const TXlsWorkbook>& Book() const noexcept { return book_; }
    std::uint64_t Generation() const noexcept { return generation_; }

    const TTableDef* FindTable(std::u16string_view name) const {
        for (const TTableDef& def : tables_)
            if (def.Name == name) return &def;
        for (const TTableDef& def : tables_)
            if (SameText(def.Name, name)) return &def;
        return nullptr;
    }

    // Each sheet is scanned once, at the first table opened on it.
    std::shared_ptr<const TXlsSheet> Sheet(int index) {
        auto& slot = sheets_[index];
        if (!slot) slot = std::make_shared<TXlsSheet>(*book_, static_cast<std::size_t>(index));
        return slot;
    }

    void Append(const TTableDef& def, const std::vector<std::uint32_t>& columns,
                const std::vector<TFieldDef>& fields, const std::vector<TValue>& values) {
        if (!inTransaction_) {
            RefuseIfLockedByOtherProgram(path_);
            RefuseIfNotWritable(path_);
        }
        if (!appender_) appender_ = std::make_unique<TXlsAppender>(*book_);
        TAppendTarget target{def.Name, def.Sheet, def.DefinedName, def.Area};
        appender_->AppendRow(target, columns, fields, values);
        if (!inTransaction_) CommitAndDiscard(nullptr);
    }

  private:
    // The source is kept only with the workbook read from it: a commit checks against it that
    // the file is still the one this view shows.
    void Load(std::shared_ptr<xlsx::TFileByteSource> source) {
        book_ = std::make_shared<TXlsWorkbook>(source);
        source_ = std::move(source);
        sheets_.clear();
        tables_.clear();
        ListDefinitions();
        ++generation_;
    }

    void CommitAndDiscard(const std::atomic<bool>* cancel) {
        std::unique_ptr<TXlsAppender> appender = std::move(appender_);
        if (!appender || !appender->HasRows()) return;
        RefuseIfLockedByOtherProgram(path_);
        RefuseIfNotWritable(path_);
        WriteNewWorkbook(*book_, *appender, path_, source_->Identity(), cancel);
        // The file on disk is now the new one: read it again so that tables see their new
        // rows. Should that fail, the commit still stands; the old view then refuses further
        // commits, because the file's identity no longer matches it.
        try {
            Load(std::make_shared<xlsx::TFileByteSource>(path_));
        } catch (const Error&) {
        }
    }

    void ListDefinitions() {
        const auto& sheets = book_->Sheets();
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            if (!sheets[i].Worksheet()) continue;
            tables_.push_back({sheet::WorksheetTableName(sheets[i].Name), static_cast<int>(i)});
        }
        std::vector<TTableDef> named;
        const auto& names = book_->DefinedNames();
        for (std::size_t n = 0; n < names.size(); ++n) {
            const TXlsDefinedName& name = names[n];
            if (name.Hidden || name.BuiltIn || name.AreaSheet < 0) continue;
            TTableDef def{name.Name, name.AreaSheet, true, name.Area, static_cast<int>(n)};
            if (name.LocalSheet >= 0) {
                if (static_cast<std::size_t>(name.LocalSheet) >= sheets.size()) continue;
                def.Name = sheet::SheetNameTableName(
                    sheets[static_cast<std::size_t>(name.LocalSheet)].Name, name.Name);
            }
            named.push_back(std::move(def));
        }
        std::stable_sort(named.begin(), named.end(), [](const TTableDef& a, const TTableDef& b) {
            return sheet::NamedTableLess(a.Name, b.Name);
        });
        tables_.insert(tables_.end(), named.begin(), named.end());
    }

    std::u16string path_;
    std::shared_ptr<xlsx::TFileByteSource> source_;
    std::shared_ptr<const TXlsWorkbook> book_;
    std::vector<TTableDef> tables_;
    std::map<int, std::shared_ptr<const TXlsSheet>> sheets_;
    std::uint64_t generation_ = 0;
    bool inTransaction_ = false;
    std::unique_ptr<TXlsAppender> appender_;
};

TXlsTable::TXlsTable(TXlsEngine& engine, TTableDef def)
    : engine_(engine),
      generation_(engine.Generation()),
      book_(engine.Book()),
      sheet_(engine.Sheet(def.Sheet)),
      def_(std::move(def)) {
    ReadFields();
}

void TXlsTable::Refresh() {
    if (generation_ == engine_.Generation()) return;
    generation_ = engine_.Generation();
    if (const TTableDef* def = engine_.FindTable(def_.Name)) def_ = *def;
    book_ = engine_.Book();
    sheet_ = engine_.Sheet(def_.Sheet);
}

void TXlsTable::AppendRow(const std::vector<TValue>& values) {
    Refresh();
    if (layout_.Fields.empty())
        throw Error(u"シート「" + def_.Name +
                    u"」には見出しの行がないため、行を追加できません。\n" + book_->FileName());
    engine_.Append(def_, layout_.Columns, layout_.Fields, values);
}

}  // namespace

bool AcceptsXls(const TConnectionInfo& info, std::string_view head) {
    if (info.ExcelVersion.empty()) return false;
    return IsCompoundFile(head) || LooksLikeBareBiff(head);
}

std::unique_ptr<TEngine> OpenXlsEngine(const TConnectionInfo& info) {
    return std::make_unique<TXlsEngine>(info);
}

}  // namespace qm::xls
