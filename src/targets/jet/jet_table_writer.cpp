#include "targets/jet/jet_table_writer.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/error.h"
#include "targets/field_conversion.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_field_type.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_row_encoder.h"
#include "targets/jet/jet_text.h"
#include "targets/jet/jet_usage_map.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::u16string TextProperty(const TJetProperties::TValues& values, std::u16string_view name) {
    const auto found = values.find(std::u16string(name));
    if (found == values.end()) return {};
    return DecodeJetText(
        {reinterpret_cast<const std::uint8_t*>(found->second.data()), found->second.size()});
}

bool BoolProperty(const TJetProperties::TValues& values, std::u16string_view name) {
    const auto found = values.find(std::u16string(name));
    return found != values.end() && !found->second.empty() && found->second[0] != 0;
}

std::u16string Trimmed(std::u16string_view text) {
    while (!text.empty() && (text.front() == u' ' || text.front() == u'\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\t'))
        text.remove_suffix(1);
    return std::u16string(text);
}

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'a' && x <= u'z') x = static_cast<char16_t>(x - 32);
        if (y >= u'a' && y <= u'z') y = static_cast<char16_t>(y - 32);
        if (x != y) return false;
    }
    return true;
}

// The text a literal default stands for: a quoted string, a #date#, a number, a Yes/No word;
// nullopt when the default is an expression (a function call, an operator, a field).
std::optional<std::u16string> LiteralText(std::u16string expression) {
    std::u16string text = Trimmed(expression);
    if (!text.empty() && text.front() == u'=') text = Trimmed(std::u16string_view(text).substr(1));
    if (text.size() >= 2 && (text.front() == u'"' || text.front() == u'\'') &&
        text.back() == text.front()) {
        const char16_t quote = text.front();
        std::u16string inner;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == quote) {
                if (i + 2 < text.size() && text[i + 1] == quote) {
                    inner.push_back(quote);
                    ++i;
                    continue;
                }
                return std::nullopt;  // two strings joined by an operator
            }
            inner.push_back(text[i]);
        }
        return inner;
    }
    if (text.size() >= 2 && text.front() == u'#' && text.back() == u'#' &&
        text.find(u'#', 1) == text.size() - 1)
        return text.substr(1, text.size() - 2);
    for (const char16_t* word : {u"True", u"False", u"Yes", u"No", u"On", u"Off"})
        if (EqualsIgnoringCase(text, word)) return text;
    bool digit = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= u'0' && c <= u'9')
            digit = true;
        else if (!(c == u'.' || ((c == u'-' || c == u'+') && i == 0)))
            return std::nullopt;
    }
    if (!digit) return std::nullopt;
    return text;
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
    for (const auto& logical : def.logicalIndexes)
        if (logical.kind == kIndexForeign && logical.foreignRole == 2)
            RefuseTable(table, path,
                        u"参照整合性が設定されたリレーションシップ「" + logical.name +
                            u"」の確認にはまだ対応していません。");
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
            if (column->type == kTypeText || column->type == kTypeMemo)
                RefuseTable(table, path,
                            u"テキスト型の列「" + column->name + u"」の索引「" + name +
                                u"」への書き込みにはまだ対応していません。");
            if (!IndexKeyWritable(*column))
                RefuseTable(table, path,
                            u"列「" + column->name + u"」の索引「" + name +
                                u"」への書き込みにはまだ対応していません。");
        }
    }
}

}  // namespace

void RefuseExpressionsNeedingEvaluation(const TJetTable& table, const TJetProperties& properties,
                                        const std::u16string& path) {
    const std::u16string tableRule = TextProperty(properties.table, u"ValidationRule");
    if (!tableRule.empty())
        RefuseTable(table, path, u"入力規則「" + tableRule + u"」の確認にはまだ対応していません。");
    for (const auto& column : table.Def().columns) {
        const auto found = properties.columns.find(column.name);
        const TJetProperties::TValues empty;
        const TJetProperties::TValues& values =
            found == properties.columns.end() ? empty : found->second;
        if (column.IsCalculated()) {
            const std::u16string expression = TextProperty(values, u"Expression");
            RefuseTable(table, path,
                        u"集計フィールド「" + column.name + u"」の式「" + expression +
                            u"」の計算にはまだ対応していません。");
        }
        const std::u16string rule = TextProperty(values, u"ValidationRule");
        if (!rule.empty())
            RefuseTable(table, path,
                        u"フィールド「" + column.name + u"」の入力規則「" + rule +
                            u"」の確認にはまだ対応していません。");
        const std::u16string defaultValue = TextProperty(values, u"DefaultValue");
        if (!Trimmed(defaultValue).empty() && !EqualsIgnoringCase(Trimmed(defaultValue), u"Null") &&
            !column.IsAutoNumber() && !LiteralText(defaultValue))
            RefuseTable(table, path,
                        u"フィールド「" + column.name + u"」の既定値「" + defaultValue +
                            u"」の計算にはまだ対応していません。");
    }
}

TJetTableWriter::TJetTableWriter(const TJetDatabase& database, const TJetTable& table,
                                 TJetPageStore& store, TJetPageAllocator& allocator)
    : database_(database), table_(table), def_(table.Def()), store_(store), allocator_(allocator) {
    const std::u16string& path = database.File().Path();
    RefuseUnwritableTable(database, table);
    const TJetProperties properties = database.TableProperties(def_.page);
    RefuseExpressionsNeedingEvaluation(table, properties, path);

    for (const auto& field : table.Fields())
        fieldColumn_.push_back(static_cast<std::size_t>(field.column - def_.columns.data()));
    defaults_.resize(def_.columns.size());
    required_.resize(def_.columns.size());
    longValues_.resize(def_.columns.size());
    for (std::size_t i = 0; i < def_.columns.size(); ++i) {
        const TColumnDef& column = def_.columns[i];
        const auto found = properties.columns.find(column.name);
        if (found == properties.columns.end()) continue;
        required_[i] = BoolProperty(found->second, u"Required");
        const std::u16string text = TextProperty(found->second, u"DefaultValue");
        const auto literal = LiteralText(text);
        if (!literal || column.IsAutoNumber() || column.type == kTypeComplex ||
            column.type == kTypeOle)
            continue;
        try {
            TValue value = ConvertFieldText(FieldDefOf(column), *literal);
            if (!IsNull(value)) defaults_[i] = std::move(value);
        } catch (const Error& error) {
            RefuseTable(table, path,
                        u"フィールド「" + column.name + u"」の既定値「" + text +
                            u"」を使えません。" + error.Message());
        }
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
        if (IsNull(value) && defaults_[i]) value = *defaults_[i];
        if (IsNull(value) && required_[i] && column.type != kTypeBoolean)
            throw Error(u"フィールド「" + column.name +
                        u"」は値が必須（値要求）のため、空にできません。");
        if (column.type == kTypeOle || IsNull(value)) continue;
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
        for (std::size_t i = 0; i < indexes_.size(); ++i) {
            keys[i] = indexes_[i]->KeyOf(layout);
            indexes_[i]->RefuseDuplicate(keys[i], layout);
        }
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
