#include "targets/xlsx/xlsx_engine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "targets/sheet/sheet_table.h"
#include "targets/xlsx/xlsx_internal.h"
#include "text/unicode.h"

namespace qm::xlsx {

// ---- values ----

TValue CellValue(const TPackage& package, const TCell& cell) {
    if (!cell.HasValue) return std::monostate{};
    switch (cell.Type) {
        case 's': {
            std::size_t index = 0;
            auto result =
                std::from_chars(cell.Value.data(), cell.Value.data() + cell.Value.size(), index);
            if (result.ec != std::errc() || result.ptr != cell.Value.data() + cell.Value.size())
                FailCorrupt(package.FileName(), u"共有文字列の番号が不正です");
            return package.SharedString(index);
        }
        case 'i':
        case 'f':
            return UnescapeOoxml(Utf8ToUtf16(cell.Value));
        case 'b':
            return cell.Value == "1" || cell.Value == "true";
        case 'e':
            return Utf8ToUtf16(cell.Value);
        case 'd': {
            int y = 0, mo = 0, d = 0, h = 0, mi = 0;
            double s = 0;
            if (std::sscanf(cell.Value.c_str(), "%d-%d-%dT%d:%d:%lf", &y, &mo, &d, &h, &mi, &s) >=
                    3 &&
                y >= 1 && y <= 9999 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31)
                return TDateTime{EncodeDate(y, mo, d) + (h * 3600 + mi * 60 + s) / 86400.0};
            return Utf8ToUtf16(cell.Value);
        }
        default: {
            std::string_view text = cell.Value;
            while (!text.empty() && text.front() == ' ')
                text.remove_prefix(1);
            while (!text.empty() && text.back() == ' ')
                text.remove_suffix(1);
            if (!text.empty() && text.front() == '+') text.remove_prefix(1);
            double number = 0;
            auto result = std::from_chars(text.data(), text.data() + text.size(), number);
            if (text.empty()) return std::monostate{};
            if (result.ec != std::errc() || result.ptr != text.data() + text.size())
                return Utf8ToUtf16(cell.Value);
            return sheet::NumberCellValue(number, package.StyleKind(cell.Style) == TStyleKind::Date,
                                          package.Date1904());
        }
    }
}

bool CellHoldsValue(const TPackage& package, const TCell& cell) {
    if (!cell.HasValue) return false;
    switch (cell.Type) {
        case 's': {
            std::size_t index = 0;
            auto result =
                std::from_chars(cell.Value.data(), cell.Value.data() + cell.Value.size(), index);
            // A damaged index is something: reading the cell reports it.
            if (result.ec != std::errc() || result.ptr != cell.Value.data() + cell.Value.size())
                return true;
            return index >= package.SharedStringCount() || !package.SharedStringEmpty(index);
        }
        case 'b':
            return true;
        case 'n': {
            std::size_t first = cell.Value.find_first_not_of(' ');
            if (first == std::string::npos) return false;
            return cell.Value[first] != '+' ||
                   cell.Value.find_first_not_of(' ', first + 1) != std::string::npos;
        }
        default:
            return !cell.Value.empty();
    }
}

std::u16string WorksheetTableName(std::u16string_view sheetName) {
    return sheet::WorksheetTableName(sheetName);
}

// ---- the table ----

namespace {

class TXlsxTable : public TEngineTable {
  public:
    TXlsxTable(TXlsxEngine& engine, const TTableDef& def) : engine_(engine), def_(def) {
        generation_ = engine.Generation();
        ReadFields();
    }

    const std::vector<TFieldDef>& Fields() const override { return fields_; }

    std::int64_t RowCount() override {
        Refresh();
        if (fields_.empty()) return 0;
        if (lastRow_ == 0) lastRow_ = ScanLastRow();
        return lastRow_ > headerRow_ ? lastRow_ - headerRow_ : 0;
    }

    bool ReadRow(std::int64_t index, std::vector<TValue>& values) override {
        Refresh();
        if (fields_.empty() || index < 0 || index >= kMaxRows) return false;
        std::uint32_t target = headerRow_ + 1 + static_cast<std::uint32_t>(index);
        if (target > kMaxRows) return false;
        if (def_.DefinedName >= 0 && target > def_.Area.Last.Row) return false;
        if (!reader_ || target < lastTarget_) {
            reader_ = std::make_unique<TSheetReader>(engine_.Package(), SheetPart());
            rowValid_ = ended_ = false;
        }
        lastTarget_ = target;
        while (!ended_ && (!rowValid_ || row_.Number < target)) {
            if (reader_->NextRow(row_))
                rowValid_ = true;
            else
                ended_ = true;
        }
        values.assign(fields_.size(), TValue{});
        if (rowValid_ && row_.Number == target) {
            FillValues(row_, values);
            return true;
        }
        if (ended_) return def_.DefinedName >= 0;  // a named range has every row of its area
        return true;  // a row without cells between rows that have some
    }

    void AppendRow(const std::vector<TValue>& values) override {
        Refresh();
        AppendCells(engine_, def_, columns_, fields_, values);
        reader_.reset();
    }

  private:
    const std::string& SheetPart() const {
        return engine_.Package().Sheets()[static_cast<std::size_t>(def_.Sheet)].PartName;
    }

    // After a commit the file was reloaded: the table's area may have grown.
    void Refresh() {
        if (generation_ == engine_.Generation()) return;
        generation_ = engine_.Generation();
        reader_.reset();
        if (const TTableDef* def = engine_.FindTable(def_.Name)) def_ = *def;
        lastRow_ = InitialLastRow();
    }

    std::uint32_t InitialLastRow() {
        if (def_.DefinedName >= 0) return def_.Area.Last.Row;
        return 0;  // found by ScanLastRow when asked
    }

    std::uint32_t ScanLastRow() {
        TSheetReader reader(engine_.Package(), SheetPart());
        const TSheetLayout& layout = reader.Layout();
        TRow row;
        // The dimension is the sheet's own record of its used range; read it first.
        if (!reader.NextRow(row)) return headerRow_;
        if (layout.HasDimension && layout.DimensionValid && layout.Dimension.Last.Row >= row.Number)
            return layout.Dimension.Last.Row;
        while (reader.NextRow(row)) {
        }
        return std::max(reader.LastRowNumber(), headerRow_);
    }

    void FillValues(const TRow& row, std::vector<TValue>& values) const {
        for (std::size_t i = 0; i < row.CellCount; ++i) {
            const TCell& cell = row.Cells[i];
            if (cell.Column < firstColumn_ || cell.Column - firstColumn_ >= columnToField_.size())
                continue;
            int field = columnToField_[cell.Column - firstColumn_];
            if (field < 0) continue;
            values[static_cast<std::size_t>(field)] = sheet::FieldValue(
                CellValue(engine_.Package(), cell), fields_[static_cast<std::size_t>(field)]);
        }
    }

    void ReadFields();

    TXlsxEngine& engine_;
    TTableDef def_;
    std::uint64_t generation_ = 0;
    std::vector<TFieldDef> fields_;
    std::vector<std::uint32_t> columns_;  // sheet column of each field
    std::uint32_t firstColumn_ = 0;
    std::vector<int> columnToField_;
    std::uint32_t headerRow_ = 0;
    std::uint32_t lastRow_ = 0;

    std::unique_ptr<TSheetReader> reader_;
    TRow row_;
    bool rowValid_ = false;
    bool ended_ = false;
    std::uint32_t lastTarget_ = 0;
};

void TXlsxTable::ReadFields() {
    const TPackage& package = engine_.Package();
    TSheetReader reader(package, SheetPart());
    TRow row;
    // The extent of the cells the layout was given, to test the sheet's <dimension> against.
    TAreaRef seen{{0xFFFFFFFFu, 0xFFFFFFFFu}, {0, 0}};
    sheet::TLayoutRowSource rows = [&](std::uint32_t& number,
                                       std::vector<sheet::TLayoutCell>& cells) {
        if (!reader.NextRow(row)) return false;
        number = row.Number;
        cells.clear();
        for (std::size_t i = 0; i < row.CellCount; ++i) {
            const TCell& cell = row.Cells[i];
            cells.push_back({cell.Column, CellValue(package, cell),
                             package.StyleKind(cell.Style) == TStyleKind::Currency});
            seen.First = {std::min(seen.First.Row, row.Number),
                          std::min(seen.First.Column, cell.Column)};
            seen.Last = {std::max(seen.Last.Row, row.Number),
                         std::max(seen.Last.Column, cell.Column)};
        }
        return true;
    };
    bool named = def_.DefinedName >= 0;
    sheet::TLayoutArea area{def_.Area.First.Row, def_.Area.First.Column, def_.Area.Last.Row,
                            def_.Area.Last.Column};
    // The rows below the sampled ones only tell which columns hold values: their cells are
    // looked at, not converted. The sheet's <dimension> spares most of that pass: when every
    // cell read so far lies inside it, the rows below are taken to lie inside it too (Excel and
    // the libraries that write .xlsx keep it exact), so only columns of the dimension that are
    // not fields yet are looked for, and the pass ends once each of them shows a value.
    // Without a dimension, or with one the cells contradict, every row is gone through.
    sheet::TLayoutColumnScan scan = [&](std::uint32_t first, std::uint32_t last,
                                        std::vector<bool>& used) {
        const TSheetLayout& layout = reader.Layout();
        const TAreaRef& dimension = layout.Dimension;
        std::size_t wanted = 0;  // columns still looked for; 0 with an untrusted dimension
        bool trusted =
            layout.HasDimension && layout.DimensionValid && dimension.First.Row <= seen.First.Row &&
            dimension.First.Column <= seen.First.Column && seen.Last.Row <= dimension.Last.Row &&
            seen.Last.Column <= dimension.Last.Column;
        if (trusted) {
            for (std::uint32_t c = dimension.First.Column; c <= dimension.Last.Column; ++c)
                if ((c < first || c > last) && !(c < used.size() && used[c])) ++wanted;
            if (wanted == 0) return;
        }
        while (reader.NextRow(row)) {
            // A row below the dimension shows it is stale: go through every row.
            if (trusted && row.Number > dimension.Last.Row && row.CellCount > 0) trusted = false;
            for (std::size_t i = 0; i < row.CellCount; ++i) {
                const TCell& cell = row.Cells[i];
                if (cell.Column < used.size() && used[cell.Column]) continue;
                if (!CellHoldsValue(package, cell)) continue;
                if (cell.Column >= used.size()) used.resize(cell.Column + 1);
                used[cell.Column] = true;
                if (!trusted || (cell.Column >= first && cell.Column <= last)) continue;
                if (cell.Column < dimension.First.Column || cell.Column > dimension.Last.Column)
                    trusted = false;  // a value outside the dimension: go through every row
                else if (--wanted == 0)
                    return;
            }
        }
    };
    sheet::TTableLayout layout =
        sheet::ReadTableLayout(rows, named ? &area : nullptr, def_.Name, package.FileName(), scan);
    headerRow_ = layout.HeaderRow;
    if (headerRow_ == 0) {
        lastRow_ = 0;
        return;  // an empty sheet has no fields
    }
    fields_ = std::move(layout.Fields);
    columns_ = std::move(layout.Columns);
    firstColumn_ = layout.FirstColumn;
    columnToField_ = std::move(layout.ColumnToField);
    lastRow_ = InitialLastRow();
}

}  // namespace

// ---- the engine ----

TXlsxEngine::TXlsxEngine(TConnectionInfo info) : info_(std::move(info)) {
    Load();
}

TXlsxEngine::~TXlsxEngine() = default;

void TXlsxEngine::Load() {
    auto source = std::make_shared<TFileByteSource>(info_.DataSource);
    auto package = std::make_unique<TPackage>(source);
    std::vector<TTableDef> tables;
    const auto& sheets = package->Sheets();
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        if (!sheets[i].Worksheet) continue;
        TTableDef def;
        def.Name = WorksheetTableName(sheets[i].Name);
        def.Sheet = static_cast<int>(i);
        tables.push_back(def);
    }
    std::vector<TTableDef> named;
    const auto& names = package->DefinedNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        const TDefinedName& name = names[i];
        if (name.Hidden || name.AreaSheet < 0 || name.LocalSheet == -2) continue;
        if (name.Name.rfind(u"_xlnm.", 0) == 0) continue;  // print areas, filters and the like
        TTableDef def;
        def.Name = name.Name;
        if (name.LocalSheet >= 0) {
            if (static_cast<std::size_t>(name.LocalSheet) >= sheets.size()) continue;
            def.Name = sheet::SheetNameTableName(
                sheets[static_cast<std::size_t>(name.LocalSheet)].Name, name.Name);
        }
        def.Sheet = name.AreaSheet;
        def.DefinedName = static_cast<int>(i);
        def.Area = name.Area;
        named.push_back(def);
    }
    std::stable_sort(named.begin(), named.end(), [](const TTableDef& a, const TTableDef& b) {
        return sheet::NamedTableLess(a.Name, b.Name);
    });
    tables.insert(tables.end(), named.begin(), named.end());
    source_ = std::move(source);
    package_ = std::move(package);
    tables_ = std::move(tables);
    ++generation_;
}

std::vector<TTableEntry> TXlsxEngine::ListTables() {
    std::vector<TTableEntry> entries;
    for (const TTableDef& def : tables_)
        entries.push_back({def.Name, false});
    return entries;
}

const TTableDef* TXlsxEngine::FindTable(std::u16string_view name) const {
    for (const TTableDef& def : tables_)
        if (def.Name == name) return &def;
    for (const TTableDef& def : tables_)
        if (SameText(def.Name, name)) return &def;
    return nullptr;
}

std::unique_ptr<TEngineTable> TXlsxEngine::OpenTable(std::u16string_view name) {
    const TTableDef* def = FindTable(name);
    if (!def)
        throw Error(u"ワークシートまたは名前付き範囲「" + std::u16string(name) +
                    u"」がブックにありません。\n" + info_.DataSource);
    return std::make_unique<TXlsxTable>(*this, *def);
}

bool AcceptsXlsx(const TConnectionInfo& info, std::string_view head) {
    if (info.ExcelVersion.empty()) return false;
    return head.size() >= 4 && head.substr(0, 4) == std::string_view("PK\x03\x04", 4);
}

std::unique_ptr<TEngine> OpenXlsxEngine(const TConnectionInfo& info) {
    return std::make_unique<TXlsxEngine>(info);
}

}  // namespace qm::xlsx
