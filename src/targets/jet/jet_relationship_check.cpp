#include "targets/jet/jet_relationship_check.h"

#include "platform/error.h"
#include "targets/jet/jet_index_key.h"
#include "targets/jet/jet_index_writer.h"
#include "targets/jet/jet_row_index_key.h"
#include "targets/jet/jet_text_key.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

bool IsText(const TColumnDef& column) {
    return column.type == kTypeText || column.type == kTypeMemo;
}

std::u16string TableNameAt(const TJetDatabase& database, std::uint32_t tdefPage) {
    for (const auto& table : database.Catalog().AllLocalTables())
        if (table.tdefPage == tdefPage) return table.name;
    return {};
}

const TLogicalIndex* LogicalNumbered(const TTableDef& def, std::int32_t number) {
    for (const auto& logical : def.logicalIndexes)
        if (static_cast<std::int32_t>(logical.number) == number) return &logical;
    return nullptr;
}

std::u16string Quoted(const std::vector<std::u16string>& parts) {
    std::u16string text;
    for (const auto& part : parts)
        text += u"「" + part + u"」";
    return text;
}

}  // namespace

TFileParentIndexes::TFileParentIndexes(const TJetDatabase& database, TJetPageAllocator& allocator)
    : database_(database), allocator_(allocator) {}

TFileParentIndexes::~TFileParentIndexes() = default;

bool TFileParentIndexes::HasKey(std::uint32_t tdefPage, std::size_t physical,
                                const std::string& key) {
    auto found = open_.find({tdefPage, physical});
    if (found == open_.end()) {
        TOpenIndex open;
        open.table = database_.OpenTableAtPage(TableNameAt(database_, tdefPage), tdefPage);
        open.index = std::make_unique<TJetIndexWriter>(allocator_, *open.table, physical);
        found = open_.emplace(std::make_pair(tdefPage, physical), std::move(open)).first;
    }
    return found->second.index->Contains(key);
}

TRelationshipCheck::TRelationshipCheck(const TJetDatabase& database, const TJetTable& child)
    : child_(child) {
    const TTableDef& def = child.Def();
    for (const auto& logical : def.logicalIndexes) {
        if (logical.kind != kIndexForeign || logical.foreignRole != 2) continue;
        const std::u16string prefix = u"リレーションシップ「" + logical.name + u"」の";
        TRelationship relationship;
        relationship.name = logical.name;
        relationship.parentPage = logical.foreignTable;
        // A table that references itself: its definition is the one at hand.
        TTableDef parentDef;
        const bool self = logical.foreignTable == def.page;
        if (!self) {
            relationship.parentName = TableNameAt(database, logical.foreignTable);
            if (relationship.parentName.empty())
                throw Error(prefix + u"参照先のテーブルが見つかりません。");
            parentDef = ReadTableDef(database.File(), logical.foreignTable);
        } else {
            relationship.parentName = child.Name();
        }
        const TTableDef& parent = self ? def : parentDef;
        const TLogicalIndex* referenced = LogicalNumbered(parent, logical.foreignIndex);
        if (referenced == nullptr || referenced->physical >= parent.physicalIndexes.size())
            throw Error(prefix + u"参照先テーブル「" + relationship.parentName +
                        u"」の索引が見つかりません。");
        relationship.parentPhysical = referenced->physical;
        const TPhysicalIndex& childIndex = def.physicalIndexes.at(logical.physical);
        const TPhysicalIndex& parentIndex = parent.physicalIndexes[referenced->physical];
        if (childIndex.columns.size() != parentIndex.columns.size() || childIndex.columns.empty())
            throw Error(prefix + u"フィールドの数が参照先の索引と合いません。");
        for (std::size_t i = 0; i < childIndex.columns.size(); ++i) {
            const TColumnDef* mine = def.ColumnByNumber(childIndex.columns[i].column);
            const TColumnDef* theirs = parent.ColumnByNumber(parentIndex.columns[i].column);
            if (mine == nullptr || theirs == nullptr)
                throw Error(prefix + u"フィールドが見つかりません。");
            // The key is built from this table's value with the referenced column's
            // encoding, which is the same bytes only when both columns have one type (and,
            // for text, one sort order).
            const bool sameType = mine->type == theirs->type &&
                                  (!IsText(*mine) || (mine->sortOrder == theirs->sortOrder &&
                                                      mine->sortVersion == theirs->sortVersion));
            if (!sameType)
                throw Error(prefix + u"フィールド「" + mine->name + u"」と参照先のフィールド「" +
                            theirs->name + u"」は型が異なるため、値を照合できません。");
            const bool keyable = IndexColumnKeyable(*mine) && !theirs->IsCalculated();
            if (!keyable)
                throw Error(prefix + u"フィールド「" + mine->name +
                            u"」の値の照合にはまだ対応していません。");
            relationship.childColumns.push_back(mine);
            relationship.parentColumns.push_back(theirs->name);
            relationship.probe.columns.push_back({mine->number, parentIndex.columns[i].ascending});
        }
        relationships_.push_back(std::move(relationship));
    }
    if (!relationships_.empty())
        decoder_ = std::make_unique<TRowDecoder>(database.File(), child.Def());
}

TRelationshipCheck::~TRelationshipCheck() = default;

void TRelationshipCheck::Check(const TRowLayout& row,
                               const std::vector<std::optional<std::string>>& ownKeys,
                               TParentIndexes& parents) const {
    const TTableDef& def = child_.Def();
    for (const TRelationship& relationship : relationships_) {
        bool anyNull = false;
        for (const TColumnDef* column : relationship.childColumns)
            if (column->type != kTypeBoolean && !row.Cell(*column).present) anyNull = true;
        if (anyNull) continue;
        const TRowIndexKey key = EncodeRowIndexKey(def, relationship.probe, row, *decoder_);
        if (key.refusal)
            throw Error(u"リレーションシップ「" + relationship.name + u"」の値を照合できません。" +
                        TextKeyRefusalMessage(*key.refusal, relationship.name,
                                              key.column ? key.column->name : u"", key.value));
        if (!key.Ok())
            throw Error(u"リレーションシップ「" + relationship.name + u"」のキーを作れません。");
        if (relationship.parentPage == def.page && relationship.parentPhysical < ownKeys.size() &&
            ownKeys[relationship.parentPhysical] == key.bytes)
            continue;  // the row is its own parent
        if (parents.HasKey(relationship.parentPage, relationship.parentPhysical, key.bytes))
            continue;
        std::vector<std::u16string> fields, values;
        for (const TColumnDef* column : relationship.childColumns) {
            fields.push_back(column->name);
            values.push_back(FormatJetValue(decoder_->DecodeColumn(row, *column)));
        }
        throw Error(u"リレーションシップ「" + relationship.name +
                    u"」で参照整合性が設定されているため、フィールド" + Quoted(fields) + u"の値" +
                    Quoted(values) + u"の行は追加できません（テーブル「" + relationship.parentName +
                    u"」のフィールド" + Quoted(relationship.parentColumns) +
                    u"にこの値のレコードがありません）。");
    }
}

}  // namespace qm::jet
