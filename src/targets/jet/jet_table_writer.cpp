#include "targets/jet/jet_table_writer.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>

#include "platform/error.h"
#include "targets/field_conversion.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_field_type.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/jet/jet_row_index_key.h"
#include "targets/jet/jet_text.h"
#include "targets/jet/jet_usage_map.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool BoolProperty(const TJetProperties::TValues& values, std::u16string_view name) {
    const auto found = values.find(std::u16string(name));
    return found != values.end() && !found->second.empty() && found->second[0] != 0;
}

char16_t Upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
}

std::u16string UpperName(std::u16string_view name) {
    std::u16string upper(name);
    for (auto& c : upper)
        c = Upper(c);
    return upper;
}

// The local date and time, read once per import so that every row's Date(), Now() and Time()
// agree.
TDateTime LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const double days = EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    return TDateTime{days + (local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec) / 86400.0};
}

// The result types a calculated column's value can be stored as in its wrapper by this engine.
bool CalculatedResultWritable(const TColumnDef& column) {
    const std::uint8_t type = column.resultType != 0 ? column.resultType : column.type;
    switch (type) {
        case kTypeByte:
        case kTypeInteger:
        case kTypeLong:
        case kTypeCurrency:
        case kTypeSingle:
        case kTypeDouble:
        case kTypeDateTime:
        case kTypeBigInt:
            return column.type != kTypeMemo && column.type != kTypeText && column.length >= 28;
        case kTypeBoolean:
            return column.type != kTypeMemo && column.type != kTypeText;
        case kTypeText:
            return column.type == kTypeText && column.length != 0;
        default:
            return false;
    }
}

TFieldDef FieldDefOf(const TColumnDef& column) {
    TFieldDef def;
    def.Name = column.name;
    def.DataType = JetFieldType(column);
    if (column.type == kTypeText) def.Size = column.length / 2;
    if (column.type == kTypeDecimal) {
        def.Precision = column.precision;
        def.Scale = column.scale;
    } else if (column.type == kTypeCurrency) {
        def.Precision = 19;
        def.Scale = 4;
    }
    return def;
}

[[noreturn]] void RefuseTable(const TJetTable& table, const std::u16string& path,
                              std::u16string_view reason) {
    FailWithFile(
        u"テーブル「" + table.Name() + u"」には行を追加できません。" + std::u16string(reason),
        path);
}

bool WritableType(std::uint8_t type) {
    switch (type) {
        case kTypeBoolean:
        case kTypeByte:
        case kTypeInteger:
        case kTypeLong:
        case kTypeCurrency:
        case kTypeSingle:
        case kTypeDouble:
        case kTypeDateTime:
        case kTypeBinary:
        case kTypeText:
        case kTypeOle:
        case kTypeMemo:
        case kTypeGuid:
        case kTypeDecimal:
        case kTypeComplex:
        case kTypeBigInt:
        case kTypeDateTimeExtended:
            return true;
        default:
            return false;
    }
}

// An index column whose keys cannot be built at all (single values the text encoder cannot
// key are refused row by row instead).
[[noreturn]] void RefuseIndexColumn(const TJetTable& table, const std::u16string& path,
                                    const std::u16string& index, const TColumnDef& column) {
    const bool text = column.type == kTypeText || column.type == kTypeMemo;
    std::u16string what = u"列「" + column.name + u"」の索引「" + index + u"」";
    if (text && !column.IsCalculated())
        what = u"並べ替え順序 " + SortOrderName({column.sortOrder, column.sortVersion}) +
               u" のテキスト型の列「" + column.name + u"」の索引「" + index + u"」";
    RefuseTable(table, path, what + u"への書き込みにはまだ対応していません。");
}

// Everything about a table that this engine cannot yet write soundly, found before a row is
// written.
void RefuseUnwritableTable(const TJetDatabase& database, const TJetTable& table) {
    const std::u16string& path = database.File().Path();
    const TTableDef& def = table.Def();
    for (const auto& column : def.columns)
        if (!WritableType(column.type))
            RefuseTable(table, path,
                        u"フィールド「" + column.name + u"」のデータ型（" +
                            Utf8ToUtf16(std::to_string(column.type)) + u"）には対応していません。");
    for (std::size_t i = 0; i < def.physicalIndexes.size(); ++i) {
        std::u16string name = Utf8ToUtf16(std::to_string(i));
        for (const auto& logical : def.logicalIndexes)
            if (logical.physical == i) {
                name = logical.name;
                break;
            }
        for (const auto& ic : def.physicalIndexes[i].columns) {
            const TColumnDef* column = def.ColumnByNumber(ic.column);
            if (column == nullptr)
                RefuseTable(table, path, u"索引「" + name + u"」の列が見つかりません。");
            if (!IndexColumnKeyable(*column)) RefuseIndexColumn(table, path, name, *column);
        }
    }
}

}  // namespace

TJetTableWriter::TJetTableWriter(const TJetDatabase& database, const TJetTable& table,
                                 TJetPageStore& store, TJetPageAllocator& allocator,
                                 TParentIndexes* parents)
    : database_(database),
      table_(table),
      def_(table.Def()),
      store_(store),
      allocator_(allocator),
      parents_(parents) {
    const std::u16string& path = database.File().Path();
    RefuseUnwritableTable(database, table);
    // Relationships whose keys cannot be compared refuse the table before any row.
    try {
        relationships_ = std::make_unique<TRelationshipCheck>(database, table);
    } catch (const Error& error) {
        RefuseTable(table, path, error.Message());
    }
    if (parents_ == nullptr) {
        fileParents_ = std::make_unique<TFileParentIndexes>(database, allocator);
        parents_ = fileParents_.get();
    }
    TJetProperties properties = database.TableProperties(def_.page);
    // Columns that never take a default from this engine: AutoNumbers (GenGUID() and the
    // like are the file's own business), complex and OLE columns, calculated columns.
    for (const auto& column : def_.columns) {
        const auto found = properties.columns.find(column.name);
        if (found == properties.columns.end()) continue;
        if (column.IsAutoNumber() || column.type == kTypeComplex || column.type == kTypeOle ||
            column.IsCalculated())
            found->second.erase(u"DefaultValue");
    }
    // Every rule, default and expression is parsed before a row is written: one the evaluator
    // cannot take refuses the import here, quoting it, never a rule skipped.
    try {
        rules_ = ParseTableRules(properties, table.Name());
    } catch (const Error& error) {
        RefuseTable(table, path, error.Message());
    }
    now_ = LocalNow();

    for (const auto& field : table.Fields())
        fieldColumn_.push_back(static_cast<std::size_t>(field.column - def_.columns.data()));
    columnRules_.resize(def_.columns.size());
    required_.resize(def_.columns.size());
    refuseZeroLength_.resize(def_.columns.size());
    longValues_.resize(def_.columns.size());
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const TColumnDef& column = def_.columns[i];
        columnByName_.emplace(UpperName(column.name), i);
        const auto rules = rules_.fields.find(column.name);
        if (rules != rules_.fields.end()) columnRules_[i] = &rules->second;
        if (column.IsCalculated()) {
            if (columnRules_[i] == nullptr || !columnRules_[i]->expression)
                RefuseTable(table, path,
                            u"集計フィールド「" + column.name + u"」の式が見つかりません。");
            if (!CalculatedResultWritable(column))
                RefuseTable(table, path,
                            u"集計フィールド「" + column.name + u"」の式「" +
                                columnRules_[i]->expression->Text() +
                                u"」の結果の型への書き込みにはまだ対応していません。");
        }
        const auto found = properties.columns.find(column.name);
        if (found == properties.columns.end()) continue;
        required_[i] = BoolProperty(found->second, u"Required");
        const auto zeroLength = found->second.find(u"AllowZeroLength");
        refuseZeroLength_[i] = zeroLength != found->second.end() && !zeroLength->second.empty() &&
                               zeroLength->second[0] == 0;
    }
    for (std::size_t i = 0; i < def_.physicalIndexes.size(); ++i)
        indexes_.push_back(std::make_unique<TJetIndexWriter>(allocator, table, i));

    lastAutoNumber_ = def_.lastAutoNumber;
    lastComplexKey_ = def_.lastComplexKey;

    // Rows go first to the page the free-space map names (the last one filled), if it is
    // still this table's.
    const TUsageMap owned = ReadUsageMap(store.File(), def_.ownedMap);
    const TUsageMap free = ReadUsageMap(store.File(), def_.freeMap);
    for (auto it = free.pages.rbegin(); it != free.pages.rend(); ++it) {
        if (*it >= store.PageCount() || !owned.Contains(*it)) continue;
        const std::uint8_t* page = store.Read(*it);
        if (page[0] == kPageData && ReadU32(page + 4) == def_.page) {
            currentPage_ = *it;
            break;
        }
    }
}

TJetTableWriter::~TJetTableWriter() = default;

TLongValueWriter& TJetTableWriter::LongValues(const TColumnDef& column) {
    auto& writer = longValues_[static_cast<std::size_t>(&column - def_.columns.data())];
    if (!writer) {
        const TLongValueMaps* maps = nullptr;
        for (const auto& m : def_.longValueMaps)
            if (m.column == column.number) maps = &m;
        writer = std::make_unique<TLongValueWriter>(allocator_, maps);
    }
    return *writer;
}

void TJetTableWriter::Append(const std::vector<TValue>& values) {
    const std::size_t columns = def_.columns.size();
    std::vector<TValue> byColumn(columns);
    for (std::size_t f = 0; f < values.size() && f < fieldColumn_.size(); ++f)
        byColumn[fieldColumn_[f]] = values[f];
    ApplyFieldRules(byColumn);
    CheckTableRule(byColumn);

    std::uint32_t autoNumber = lastAutoNumber_;
    std::uint32_t complexKey = lastComplexKey_;
    std::vector<TCellValue> cells(columns);
    std::vector<std::string> longValues(columns);
    for (std::size_t i = 0; i < columns; ++i) {
        const TColumnDef& column = def_.columns[i];
        TValue& value = byColumn[i];
        if (column.type == kTypeComplex) {
            // Every new row takes a key of its own, even with no attachment or value.
            cells[i].present = true;
            ++complexKey;
            cells[i].bytes.assign(4, '\0');
            Put32(reinterpret_cast<std::uint8_t*>(cells[i].bytes.data()), complexKey);
            continue;
        }
        if (column.IsAutoNumber()) {
            cells[i].present = true;
            if (column.flags & kColumnAutoGuid) {
                static thread_local std::mt19937_64 random{std::random_device{}()};
                cells[i].bytes.resize(16);
                for (int half = 0; half < 2; ++half) {
                    const std::uint64_t bits = random();
                    std::memcpy(cells[i].bytes.data() + 8 * half, &bits, 8);
                }
                cells[i].bytes[7] = static_cast<char>((cells[i].bytes[7] & 0x0F) | 0x40);
                cells[i].bytes[8] = static_cast<char>((cells[i].bytes[8] & 0x3F) | 0x80);
            } else {
                if (autoNumber == 0x7FFFFFFF)
                    FailWithFile(
                        u"テーブル「" + table_.Name() + u"」のオートナンバーが上限に達しました。",
                        database_.File().Path());
                ++autoNumber;
                cells[i].bytes.assign(4, '\0');
                Put32(reinterpret_cast<std::uint8_t*>(cells[i].bytes.data()), autoNumber);
            }
            continue;
        }
        if (column.type == kTypeOle || IsNull(value)) continue;
        if (column.IsCalculated()) {
            cells[i] = CalculatedCell(column, value);
            continue;
        }
        if (column.type == kTypeMemo) {
            const auto* text = std::get_if<std::u16string>(&value);
            if (text == nullptr)
                throw Error(u"フィールド「" + column.name + u"」には文字列しか書き込めません。");
            // Long texts are compressed only up to 1024 characters (readers stop there).
            longValues[i] = EncodeJetText(column, *text);
            cells[i].present = true;
            cells[i].bytes.assign(TLongValueWriter::ReferenceSize(longValues[i].size()), '\0');
            continue;
        }
        cells[i] = EncodeColumnValue(column, value);
    }

    // The row's size and its keys are known before anything is written: a failing row
    // leaves no trace.
    std::string row = EncodeRow(def_, cells);
    std::vector<std::optional<std::string>> keys(indexes_.size());
    {
        const TRowLayout layout(store_.File(), def_,
                                {reinterpret_cast<const std::uint8_t*>(row.data()), row.size()});
        // Long Text values are keyed from the row's text: the row holds stand-ins for them.
        const TPendingText pending = [&](const TColumnDef& column) -> const std::u16string* {
            const auto i = static_cast<std::size_t>(&column - def_.columns.data());
            if (i >= columns || column.type != kTypeMemo || !cells[i].present) return nullptr;
            return std::get_if<std::u16string>(&byColumn[i]);
        };
        for (std::size_t i = 0; i < indexes_.size(); ++i) {
            keys[i] = indexes_[i]->KeyOf(layout, pending);
            indexes_[i]->RefuseDuplicate(keys[i], layout, pending);
        }
        if (!relationships_->Empty()) relationships_->Check(layout, keys, *this);
    }
    bool stored = false;
    for (std::size_t i = 0; i < columns; ++i)
        if (def_.columns[i].type == kTypeMemo && cells[i].present) {
            cells[i].bytes = LongValues(def_.columns[i]).Store(longValues[i]);
            stored = true;
        }
    if (stored) row = EncodeRow(def_, cells);  // the references in place of their stand-ins

    std::uint32_t page = 0;
    std::uint8_t slot = 0;
    PlaceRow(row, page, slot);
    for (std::size_t i = 0; i < indexes_.size(); ++i)
        if (keys[i]) indexes_[i]->Insert(*keys[i], page, slot);
    lastAutoNumber_ = autoNumber;
    lastComplexKey_ = complexKey;
    ++appended_;
}

bool TJetTableWriter::IndexHasKey(std::size_t physical, const std::string& key) {
    return physical < indexes_.size() && indexes_[physical]->Contains(key);
}

// A relationship of this table with itself finds its parents among this table's entries, the
// rows appended so far included; other tables go to `parents_`.
bool TJetTableWriter::HasKey(std::uint32_t tdefPage, std::size_t physical, const std::string& key) {
    if (tdefPage == def_.page) return IndexHasKey(physical, key);
    return parents_->HasKey(tdefPage, physical, key);
}

TExpressionContext TJetTableWriter::ContextFor(const std::vector<TValue>& byColumn) const {
    TExpressionContext context;
    context.now = now_;
    context.field = [this, &byColumn](std::u16string_view name) -> const TValue* {
        const auto found = columnByName_.find(UpperName(name));
        return found == columnByName_.end() ? nullptr : &byColumn[found->second];
    };
    return context;
}

void TJetTableWriter::ApplyFieldRules(std::vector<TValue>& byColumn) const {
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const TColumnDef& column = def_.columns[i];
        if (column.type == kTypeComplex || column.IsAutoNumber() || column.type == kTypeOle)
            continue;
        TValue& value = byColumn[i];
        if (column.IsCalculated()) {
            if (!IsNull(value))
                throw Error(u"集計フィールド「" + column.name + u"」には値を書き込めません。");
            continue;
        }
        const TFieldRules* rules = columnRules_[i];
        if (IsNull(value) && rules != nullptr && rules->defaultValue) {
            // The default is evaluated for each row that leaves the field empty, as the
            // provider does on Insert; a text result becomes the field's type as a CSV value
            // would.
            const bool textColumn = column.type == kTypeText || column.type == kTypeMemo;
            try {
                TValue result = rules->defaultValue->Evaluate(ContextFor(byColumn));
                if (const auto* text = std::get_if<std::u16string>(&result); text && !textColumn)
                    result = ConvertFieldText(FieldDefOf(column), *text);
                else if (textColumn && !IsNull(result) &&
                         !std::holds_alternative<std::u16string>(result))
                    result = ValueToDisplayText(result);
                else if (column.type == kTypeBoolean) {
                    if (const auto* n = std::get_if<std::int64_t>(&result)) result = *n != 0;
                    if (const auto* d = std::get_if<double>(&result)) result = *d != 0;
                }
                value = std::move(result);
            } catch (const Error& error) {
                throw Error(u"フィールド「" + column.name + u"」の既定値「" +
                            rules->defaultValue->Text() + u"」を使えません。" + error.Message());
            }
        }
        if (IsNull(value) && required_[i] && column.type != kTypeBoolean)
            throw Error(u"フィールド「" + column.name +
                        u"」は値が必須（値要求）のため、空にできません。");
        if (refuseZeroLength_[i]) {
            const auto* text = std::get_if<std::u16string>(&value);
            if (text != nullptr && text->empty())
                throw Error(u"フィールド「" + column.name +
                            u"」は空文字列の許可が「いいえ」のため、長さ 0 の文字列にできません。");
        }
        if (rules == nullptr || !rules->validationRule) continue;
        bool passes = false;
        try {
            passes = PassesValidationRule(*rules->validationRule, value, now_);
        } catch (const Error& error) {
            throw Error(u"フィールド「" + column.name + u"」の入力規則: " + error.Message());
        }
        if (passes) continue;
        const std::u16string where =
            u"フィールド「" + column.name + u"」の値" + QuotedValue(ValueToDisplayText(value));
        if (!rules->validationText.empty())
            throw Error(rules->validationText + u"（" + where + u"）");
        throw Error(where + u"は入力規則「" + rules->validationRule->Text() +
                    u"」を満たしていません。");
    }
    // Calculated columns follow the values just settled; one may use another before it.
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const TColumnDef& column = def_.columns[i];
        if (!column.IsCalculated()) continue;
        const TAccessExpression& expression = *columnRules_[i]->expression;
        try {
            byColumn[i] = expression.Evaluate(ContextFor(byColumn));
        } catch (const Error& error) {
            throw Error(u"集計フィールド「" + column.name + u"」: " + error.Message());
        }
    }
}

void TJetTableWriter::CheckTableRule(const std::vector<TValue>& byColumn) const {
    if (!rules_.validationRule) return;
    const TAccessExpression& rule = *rules_.validationRule;
    std::u16string fields;
    for (const auto& name : rule.FieldNames())
        fields += u"フィールド「" + name + u"」";
    bool passes = false;
    try {
        passes = RulePasses(rule.Evaluate(ContextFor(byColumn)), rule);
    } catch (const Error& error) {
        throw Error(u"テーブル「" + table_.Name() + u"」の入力規則: " + error.Message());
    }
    if (passes) return;
    if (!rules_.validationText.empty())
        throw Error(rules_.validationText + u"（テーブルの入力規則「" + rule.Text() + u"」、" +
                    fields + u"）");
    throw Error(u"テーブル「" + table_.Name() + u"」の入力規則「" + rule.Text() +
                u"」を満たしていません（" + fields + u"）。");
}

TCellValue TJetTableWriter::CalculatedCell(const TColumnDef& column, const TValue& result) const {
    try {
        return EncodeCalculatedValue(column, result);
    } catch (const Error& error) {
        throw Error(u"集計フィールド「" + column.name + u"」: " + error.Message());
    }
}

void TJetTableWriter::PlaceRow(const std::string& row, std::uint32_t& page, std::uint8_t& slot) {
    if (currentPage_ != 0 && RowFits(store_.Read(currentPage_), row.size())) {
        const int added = AddRowToPage(store_.Write(currentPage_), row);
        if (added >= 0) {
            page = currentPage_;
            slot = static_cast<std::uint8_t>(added);
            return;
        }
    }
    // A new page becomes the table's page with free space; the one before leaves that map.
    const std::uint32_t previous = currentPage_;
    currentPage_ = allocator_.Allocate();
    InitDataPage(store_.Write(currentPage_), def_.page);
    allocator_.SetBit(def_.ownedMap, currentPage_, true);
    if (previous != 0) allocator_.SetBit(def_.freeMap, previous, false);
    allocator_.SetBit(def_.freeMap, currentPage_, true);
    const int added = AddRowToPage(store_.Write(currentPage_), row);
    page = currentPage_;
    slot = static_cast<std::uint8_t>(added);
}

void TJetTableWriter::Finish() {
    for (auto& index : indexes_)
        index->Finish();
    std::uint8_t* tdef = store_.Write(def_.page);
    Put32(tdef + 16, def_.rowCount + appended_);
    Put32(tdef + 20, lastAutoNumber_);
    // Jet 4 keeps unrelated bytes here; only tables with complex columns use the counter.
    if (lastComplexKey_ != def_.lastComplexKey) Put32(tdef + 28, lastComplexKey_);
    for (std::size_t i = 0; i < indexes_.size(); ++i) {
        const std::size_t at = 63 + 12 * i + 4;
        if (at + 4 > kPageSize) break;  // counters past the first page: statistics only
        Put32(tdef + at, ReadU32(tdef + at) + indexes_[i]->DistinctAdded());
    }
}

}  // namespace qm::jet
