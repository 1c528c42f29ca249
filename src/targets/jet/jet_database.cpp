#include "targets/jet/jet_database.h"

#include <algorithm>

#include "targets/jet/jet_field_type.h"

namespace qm::jet {
namespace {

const TJetField* FieldNamed(const TJetTable& table, std::u16string_view name) {
    for (const auto& field : table.Fields())
        if (NamesEqual(field.name, name)) return &field;
    return nullptr;
}

std::size_t FieldIndex(const TJetTable& table, const TJetField* field) {
    return static_cast<std::size_t>(field - table.Fields().data());
}

}  // namespace

TJetTable::TJetTable(const TJetDatabase& database, std::u16string name, std::uint32_t tdefPage)
    : database_(database), name_(std::move(name)), def_(ReadTableDef(database.File(), tdefPage)) {
    if (std::any_of(def_.columns.begin(), def_.columns.end(),
                    [](const TColumnDef& c) { return c.IsCalculated(); })) {
        const TJetProperties properties = database.TableProperties(tdefPage);
        for (auto& column : def_.columns) {
            const auto found = properties.columns.find(column.name);
            if (!column.IsCalculated() || found == properties.columns.end()) continue;
            const auto result = found->second.find(u"ResultType");
            if (result != found->second.end() && !result->second.empty())
                column.resultType = static_cast<std::uint8_t>(result->second[0]);
        }
    }
    // Fields are listed by column number, which is the order Access shows (inserting a column
    // in design view renumbers the ones after it); the descriptors themselves are often in
    // another order (MSysObjects keeps them by name).
    for (std::size_t i = 0; i < def_.columns.size(); ++i)
        fieldColumn_.push_back(i);
    std::stable_sort(fieldColumn_.begin(), fieldColumn_.end(), [&](std::size_t a, std::size_t b) {
        return def_.columns[a].number < def_.columns[b].number;
    });
    for (const std::size_t i : fieldColumn_)
        fields_.push_back({def_.columns[i].name, JetFieldType(def_.columns[i]), &def_.columns[i]});
}

TJetTable::TCursor::TCursor(const TJetTable& table)
    : table_(table),
      scan_(table.database_.File(), table.def_),
      decoder_(table.database_.File(), table.def_,
               [&db = table.database_](const TColumnDef& column, std::int32_t key) {
                   return db.ComplexSummary(column, key);
               }) {}

bool TJetTable::TCursor::Next(std::vector<TJetValue>& values) {
    TLiveRow row;
    if (!scan_.Next(row)) return false;
    decoder_.Decode(row.bytes, row_);
    values.resize(table_.fieldColumn_.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = std::move(row_[table_.fieldColumn_[i]]);
    return true;
}

TJetDatabase::TJetDatabase(std::unique_ptr<TJetPageFile> file)
    : file_(std::move(file)), catalog_(*file_) {}

std::unique_ptr<TJetDatabase> TJetDatabase::Open(const std::u16string& path) {
    return std::unique_ptr<TJetDatabase>(new TJetDatabase(TJetPageFile::Open(path)));
}

std::unique_ptr<TJetDatabase> TJetDatabase::FromBytes(std::string bytes, std::u16string name) {
    return std::unique_ptr<TJetDatabase>(
        new TJetDatabase(TJetPageFile::FromBytes(std::move(bytes), std::move(name))));
}

std::vector<std::u16string> TJetDatabase::TableNames() const {
    std::vector<std::u16string> names;
    for (const auto& object : catalog_.Objects())
        if (object.kind == TObjectKind::Table) names.push_back(object.name);
    return names;
}

std::unique_ptr<TJetTable> TJetDatabase::OpenTable(std::u16string_view name) const {
    for (const auto& object : catalog_.Objects()) {
        if (!NamesEqual(object.name, name)) continue;
        if (object.kind == TObjectKind::View)
            FailWithFile(
                u"クエリ「" + std::u16string(name) + u"」はテーブルではないため開けません。",
                file_->Path());
        return OpenTableAtPage(object.name, object.tdefPage);
    }
    const TCatalogEntry* entry = catalog_.FindObject(name);
    if (entry != nullptr && (entry->type == kObjectLinkedTable || entry->type == kObjectLinkedOdbc))
        FailWithFile(u"テーブル「" + std::u16string(name) +
                         u"」はリンクテーブルのため、このデータベースでは開けません。",
                     file_->Path());
    FailWithFile(u"テーブル「" + std::u16string(name) + u"」はデータベースにありません。",
                 file_->Path());
}

std::unique_ptr<TJetTable> TJetDatabase::OpenTableAtPage(std::u16string name,
                                                         std::uint32_t page) const {
    return std::make_unique<TJetTable>(*this, std::move(name), page);
}

TJetProperties TJetDatabase::TableProperties(std::uint32_t tdefPage) const {
    const TTableDef catalog = ReadTableDef(*file_, kCatalogPage);
    const TColumnDef* id = nullptr;
    const TColumnDef* properties = nullptr;
    for (const auto& column : catalog.columns) {
        if (column.name == u"Id") id = &column;
        if (column.name == u"LvProp") properties = &column;
    }
    if (id == nullptr || properties == nullptr) return {};
    const TRowDecoder decoder(*file_, catalog);
    TTableScan scan(*file_, catalog);
    TLiveRow row;
    while (scan.Next(row)) {
        const TRowLayout layout(*file_, catalog, row.bytes);
        if (decoder.DecodeColumn(layout, *id).integer != tdefPage) continue;
        const TJetValue blob = decoder.DecodeColumn(layout, *properties);
        return ParseProperties(
            {reinterpret_cast<const std::uint8_t*>(blob.bytes.data()), blob.bytes.size()});
    }
    return {};
}

std::u16string TJetDatabase::ComplexSummary(const TColumnDef& column, std::int32_t key) const {
    auto cached = complexCache_.find(column.complexId);
    if (cached == complexCache_.end()) {
        auto& summaries = complexCache_[column.complexId];
        // MSysComplexColumns names the hidden table holding the values (FlatTableID) and the
        // template of its value columns (ComplexTypeObjectID); the flat table's own extra Long
        // column is the key that joins it to our row.
        const TCatalogEntry* complexColumns = catalog_.FindLocalTable(u"MSysComplexColumns");
        if (complexColumns == nullptr) return {};
        const auto registry =
            OpenTableAtPage(complexColumns->name, static_cast<std::uint32_t>(complexColumns->id));
        const TJetField* idField = FieldNamed(*registry, u"ComplexID");
        const TJetField* flatField = FieldNamed(*registry, u"FlatTableID");
        const TJetField* typeField = FieldNamed(*registry, u"ComplexTypeObjectID");
        if (!idField || !flatField || !typeField) return {};
        std::int64_t flatPage = 0, typePage = 0;
        std::vector<TJetValue> values;
        for (auto cursor = registry->Rows(); cursor.Next(values);)
            if (values[FieldIndex(*registry, idField)].integer == column.complexId) {
                flatPage = values[FieldIndex(*registry, flatField)].integer;
                typePage = values[FieldIndex(*registry, typeField)].integer;
            }
        if (flatPage <= 2 || typePage <= 2 || flatPage >= file_->PageCount() ||
            typePage >= file_->PageCount())
            return {};
        const auto flat = OpenTableAtPage(u"", static_cast<std::uint32_t>(flatPage));
        const auto type = OpenTableAtPage(u"", static_cast<std::uint32_t>(typePage));
        const TJetField* keyField = nullptr;
        for (const auto& field : flat->Fields())
            if (field.column->type == kTypeLong && !FieldNamed(*type, field.name) &&
                !field.column->IsAutoNumber()) {
                keyField = &field;
                break;
            }
        const TJetField* shown = FieldNamed(*flat, u"FileName");
        if (shown == nullptr) shown = FieldNamed(*flat, u"Value");
        if (shown == nullptr && !type->Fields().empty())
            shown = FieldNamed(*flat, type->Fields().front().name);
        if (keyField == nullptr || shown == nullptr) return {};
        for (auto cursor = flat->Rows(); cursor.Next(values);) {
            const auto& keyValue = values[FieldIndex(*flat, keyField)];
            if (keyValue.IsNull()) continue;
            auto& text = summaries[static_cast<std::int32_t>(keyValue.integer)];
            if (!text.empty()) text += u"; ";
            text += FormatJetValue(values[FieldIndex(*flat, shown)]);
        }
        cached = complexCache_.find(column.complexId);
    }
    const auto found = cached->second.find(key);
    return found == cached->second.end() ? std::u16string{} : found->second;
}

}  // namespace qm::jet
