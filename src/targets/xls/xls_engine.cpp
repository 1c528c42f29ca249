#include "targets/xls/xls_engine.h"

#include <algorithm>
#include <map>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "platform/little_endian.h"
#include "targets/sheet/sheet_table.h"
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
};

class TXlsEngine;

class TXlsTable : public TEngineTable {
  public:
    TXlsTable(const TXlsWorkbook& book, std::shared_ptr<const TXlsSheet> sheet, TTableDef def)
        : book_(book), sheet_(std::move(sheet)), def_(std::move(def)) {
        ReadFields();
    }

    const std::vector<TFieldDef>& Fields() const override { return layout_.Fields; }

    std::int64_t RowCount() override {
        if (layout_.Fields.empty()) return 0;
        std::uint32_t last = def_.Named ? def_.Area.LastRow : sheet_->RowEnd();
        return last > layout_.HeaderRow ? last - layout_.HeaderRow : 0;
    }

    bool ReadRow(std::int64_t index, std::vector<TValue>& values) override {
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

    void AppendRow(const std::vector<TValue>&) override { CheckCanAppend(); }
    void CheckCanAppend() override {
        throw Error(u"Excel 97-2003 形式のブック（.xls）への行の追加にはまだ対応していません。\n" +
                    book_.FileName());
    }

  private:
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
                               book_.XfKind(cell.Xf) == TStyleKind::Currency});
            return true;
        };
        layout_ = sheet::ReadTableLayout(rows, def_.Named ? &def_.Area : nullptr, def_.Name,
                                         book_.FileName());
    }

    const TXlsWorkbook& book_;
    std::shared_ptr<const TXlsSheet> sheet_;
    TTableDef def_;
    sheet::TTableLayout layout_;
    std::vector<TXlsCell> cells_;
};

class TXlsEngine : public TEngine {
  public:
    explicit TXlsEngine(const TConnectionInfo& info) {
        auto source = std::make_shared<xlsx::TFileByteSource>(info.DataSource);
        char head[8] = {};
        if (source->Size() >= sizeof head) source->ReadAt(0, head, sizeof head);
        std::string_view headView(head, sizeof head);
        if (!IsCompoundFile(headView)) {
            if (LooksLikeBareBiff(headView)) FailOldFormat(info.DataSource);
            throw Error(u"このファイルは Excel 97-2003 形式のブック（.xls）ではありません。\n" +
                        info.DataSource);
        }
        book_ = std::make_unique<TXlsWorkbook>(std::move(source));
        ListDefinitions();
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
        return std::make_unique<TXlsTable>(*book_, Sheet(def->Sheet), *def);
    }

    // Nothing is written yet, so a transaction has nothing to keep or undo; appending rows
    // itself is refused by the table.
    void BeginTransaction() override {}
    void CommitTransaction(const std::atomic<bool>*) override {}
    void RollbackTransaction() override {}

  private:
    void ListDefinitions() {
        const auto& sheets = book_->Sheets();
        for (std::size_t i = 0; i < sheets.size(); ++i) {
            if (!sheets[i].Worksheet()) continue;
            tables_.push_back({sheet::WorksheetTableName(sheets[i].Name), static_cast<int>(i)});
        }
        std::vector<TTableDef> named;
        for (const TXlsDefinedName& name : book_->DefinedNames()) {
            if (name.Hidden || name.BuiltIn || name.AreaSheet < 0) continue;
            TTableDef def{name.Name, name.AreaSheet, true, name.Area};
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

    std::unique_ptr<TXlsWorkbook> book_;
    std::vector<TTableDef> tables_;
    std::map<int, std::shared_ptr<const TXlsSheet>> sheets_;
};

}  // namespace

bool AcceptsXls(const TConnectionInfo& info, std::string_view head) {
    if (info.ExcelVersion.empty()) return false;
    return IsCompoundFile(head) || LooksLikeBareBiff(head);
}

std::unique_ptr<TEngine> OpenXlsEngine(const TConnectionInfo& info) {
    return std::make_unique<TXlsEngine>(info);
}

}  // namespace qm::xls
