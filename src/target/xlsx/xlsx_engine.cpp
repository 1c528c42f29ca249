#include "target/xlsx/xlsx_engine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "target/xlsx/xlsx_internal.h"
#include "text/unicode.h"

namespace qm::xlsx {

namespace {

// How many rows below the header decide a field's type, as the driver's TypeGuessRows.
constexpr std::uint32_t kTypeGuessRows = 8;
// Excel's own limit of characters in a cell; fields take that much.
constexpr std::int32_t kCellTextLimit = 32767;
// Jet names are at most 64 characters long.
constexpr std::size_t kMaxFieldName = 64;

bool IsLetterOrDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
           c == u'_' || c >= 0x80;
}

bool IsBlank(const TValue& value) {
    if (IsNull(value)) return true;
    if (const auto* text = std::get_if<std::u16string>(&value)) return text->empty();
    return false;
}

enum class TKind { Number, Currency, Date, Text, Boolean, None };

TKind KindOf(const TPackage& package, const TCell& cell, const TValue& value) {
    if (IsBlank(value)) return TKind::None;
    if (std::holds_alternative<bool>(value)) return TKind::Boolean;
    if (std::holds_alternative<TDateTime>(value)) return TKind::Date;
    if (std::holds_alternative<double>(value))
        return package.StyleKind(cell.Style) == TStyleKind::Currency ? TKind::Currency
                                                                     : TKind::Number;
    return TKind::Text;
}

}  // namespace

// ---- values ----

double SerialToDays(double serial, bool date1904) {
    if (date1904) return serial + 1462;
    if (serial >= 1 && serial < 61) return serial + 1;  // Excel's day 60 is the missing 1900-02-29
    return serial;
}

bool DaysToSerial(double days, bool date1904, double& serial) {
    if (!std::isfinite(days)) return false;
    if (date1904) {
        serial = days - 1462;
        return serial >= 0 && days < 2958466;
    }
    if (days >= 61)
        serial = days;
    else if (days >= 2)
        serial = days - 1;
    else if (days >= 0 && days < 1)
        serial = days;  // a time of day alone
    else
        return false;
    return days < 2958466;
}

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
            if (package.StyleKind(cell.Style) == TStyleKind::Date) {
                double days = SerialToDays(number, package.Date1904());
                TDateParts parts;
                if (number >= 0 && DecodeDateTime(TDateTime{days}, parts)) return TDateTime{days};
            }
            return number;
        }
    }
}

std::u16string WorksheetTableName(std::u16string_view sheetName) {
    std::u16string name;
    bool quote = false;
    for (char16_t c : sheetName) {
        if (c == u'.') {
            name += u'#';
            quote = true;
        } else {
            if (!IsLetterOrDigit(c)) quote = true;
            name += c;
            if (c == u'\'') name += u'\'';
        }
    }
    name += u'$';
    return quote ? u"'" + name + u"'" : name;
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
            TValue value = CellValue(engine_.Package(), cell);
            if (fields_[static_cast<std::size_t>(field)].DataType == ftBCD) {
                if (const double* number = std::get_if<double>(&value))
                    value = TCurrency{static_cast<std::int64_t>(std::llround(*number * 10000))};
            }
            values[static_cast<std::size_t>(field)] = std::move(value);
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
    bool named = def_.DefinedName >= 0;
    std::map<std::uint32_t, TValue> header;
    std::vector<std::pair<std::uint32_t, std::vector<std::pair<TCell, TValue>>>> samples;
    auto inArea = [&](std::uint32_t column) {
        return !named || (column >= def_.Area.First.Column && column <= def_.Area.Last.Column);
    };
    headerRow_ = named ? def_.Area.First.Row : 0;
    std::uint32_t sampleEnd = 0;
    while (reader.NextRow(row)) {
        if (headerRow_ == 0) {
            // A worksheet's table starts at its first row with a value.
            for (std::size_t i = 0; i < row.CellCount; ++i) {
                if (!IsBlank(CellValue(package, row.Cells[i]))) {
                    headerRow_ = row.Number;
                    break;
                }
            }
            if (headerRow_ == 0) continue;
        }
        if (sampleEnd == 0) {
            sampleEnd = headerRow_ + kTypeGuessRows;
            if (named) sampleEnd = std::min(sampleEnd, def_.Area.Last.Row);
        }
        if (row.Number < headerRow_) continue;
        if (row.Number > sampleEnd) break;
        if (row.Number == headerRow_) {
            for (std::size_t i = 0; i < row.CellCount; ++i)
                if (inArea(row.Cells[i].Column))
                    header[row.Cells[i].Column] = CellValue(package, row.Cells[i]);
        } else {
            std::vector<std::pair<TCell, TValue>> cells;
            for (std::size_t i = 0; i < row.CellCount; ++i) {
                if (!inArea(row.Cells[i].Column)) continue;
                TValue value = CellValue(package, row.Cells[i]);
                if (!IsBlank(value)) cells.emplace_back(row.Cells[i], std::move(value));
            }
            samples.emplace_back(row.Number, std::move(cells));
        }
    }
    if (headerRow_ == 0) {
        lastRow_ = 0;
        return;  // an empty sheet has no fields
    }

    std::uint32_t first = 0, last = 0;
    if (named) {
        first = def_.Area.First.Column;
        last = def_.Area.Last.Column;
    } else {
        // Columns whose header and sampled cells are all empty (formatted blanks at the edges)
        // are not fields.
        auto note = [&](std::uint32_t column) {
            if (first == 0 || column < first) first = column;
            if (column > last) last = column;
        };
        for (const auto& [column, value] : header)
            if (!IsBlank(value)) note(column);
        for (const auto& sample : samples)
            for (const auto& cell : sample.second)
                note(cell.first.Column);
    }
    if (last - first + 1 > 255)
        throw Error(u"テーブル「" + def_.Name + u"」のフィールドが多すぎます（最大 255 個）。\n" +
                    package.FileName());
    firstColumn_ = first;
    columnToField_.assign(last - first + 1, -1);
    std::vector<std::u16string> names;
    for (std::uint32_t column = first; column <= last; ++column) {
        std::u16string name;
        auto found = header.find(column);
        if (found != header.end()) name = ValueToDisplayText(found->second);
        for (char16_t& c : name)
            if (c == u'.') c = u'#';  // Jet field names cannot hold "."
        if (name.size() > kMaxFieldName) name.resize(kMaxFieldName);
        if (name.empty()) name = u"F" + Utf8ToUtf16(std::to_string(column - first + 1));
        // A repeated name gets the lowest number that makes it unique.
        auto taken = [&](const std::u16string& candidate) {
            return std::any_of(names.begin(), names.end(),
                               [&](const std::u16string& n) { return SameText(n, candidate); });
        };
        if (taken(name)) {
            for (int suffix = 1;; ++suffix) {
                std::u16string candidate = name + Utf8ToUtf16(std::to_string(suffix));
                if (!taken(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        names.push_back(name);

        int counts[5] = {0, 0, 0, 0, 0};
        bool longText = false;
        for (const auto& sample : samples) {
            for (const auto& [cell, value] : sample.second) {
                if (cell.Column != column) continue;
                TKind kind = KindOf(package, cell, value);
                if (kind == TKind::None) continue;
                ++counts[static_cast<int>(kind)];
                if (const auto* text = std::get_if<std::u16string>(&value))
                    if (text->size() > 255) longText = true;
            }
        }
        // The majority wins; ties go to the earlier of Number, Currency, Date, Text, Boolean.
        int best = static_cast<int>(TKind::Text);
        int bestCount = 0;
        for (int kind = 0; kind < 5; ++kind) {
            if (counts[kind] > bestCount) {
                best = kind;
                bestCount = counts[kind];
            }
        }
        TFieldDef def;
        def.Name = name;
        switch (static_cast<TKind>(best)) {
            case TKind::Number:
                def.DataType = ftFloat;
                break;
            case TKind::Currency:
                def.DataType = ftBCD;
                def.Precision = 19;
                def.Scale = 4;
                break;
            case TKind::Date:
                def.DataType = ftDateTime;
                break;
            case TKind::Boolean:
                def.DataType = ftBoolean;
                break;
            default:
                def.DataType = longText ? ftWideMemo : ftWideString;
                def.Size = kCellTextLimit;
                break;
        }
        columnToField_[column - first] = static_cast<int>(fields_.size());
        columns_.push_back(column);
        fields_.push_back(std::move(def));
    }
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
            std::u16string sheetName =
                WorksheetTableName(sheets[static_cast<std::size_t>(name.LocalSheet)].Name);
            bool quoted = sheetName.front() == u'\'';
            if (quoted) sheetName = sheetName.substr(1, sheetName.size() - 2);
            def.Name = quoted ? u"'" + sheetName + name.Name + u"'" : sheetName + name.Name;
        }
        def.Sheet = name.AreaSheet;
        def.DefinedName = static_cast<int>(i);
        def.Area = name.Area;
        named.push_back(def);
    }
    std::stable_sort(named.begin(), named.end(), [](const TTableDef& a, const TTableDef& b) {
        return FoldCase(a.Name) < FoldCase(b.Name);
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
