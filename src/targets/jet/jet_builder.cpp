#include "targets/jet/jet_builder.h"

#include <algorithm>
#include <cstring>

#include "platform/error.h"
#include "platform/little_endian.h"
#include "targets/jet/jet_catalog.h"
#include "targets/jet/jet_data_page.h"
#include "targets/jet/jet_page_file.h"

namespace qm::jet {
namespace {

void AppendBytes(std::string& s, const void* p, std::size_t n) {
    s.append(static_cast<const char*>(p), n);
}
void AppendName(std::string& s, const std::u16string& name) {
    PutU16(s, static_cast<std::uint32_t>(name.size() * 2));
    for (const char16_t c : name)
        PutU16(s, c);
}

// The LvProp blob of a table: "MR2\0", the chunk of property names, the table's chunk and one
// chunk for each column with properties. A chunk is its length (4 bytes, itself included), its
// kind (0x80 names, 0x00 table, 0x01 column), then for the table and columns a header (its
// length, 4 bytes, itself included; the owner's name) and the properties: length, DDL flag,
// data type (1 Yes/No, 10 text), index into the names, value length, value.
std::string PropertyBlob(const TBuildTable& table) {
    std::vector<std::u16string> names;
    auto nameIndex = [&](const std::u16string& name) {
        const auto found = std::find(names.begin(), names.end(), name);
        if (found != names.end()) return static_cast<std::uint32_t>(found - names.begin());
        names.push_back(name);
        return static_cast<std::uint32_t>(names.size() - 1);
    };
    auto chunk = [](std::uint32_t kind, const std::string& body) {
        std::string c;
        PutU32(c, static_cast<std::uint32_t>(6 + body.size()));
        PutU16(c, kind);
        return c + body;
    };
    auto ownerChunk = [&](std::uint32_t kind, const std::u16string& owner,
                          const std::vector<TBuildProperty>& properties) {
        std::string body;
        PutU32(body, static_cast<std::uint32_t>(6 + owner.size() * 2));
        AppendName(body, owner);
        for (const auto& property : properties) {
            std::string value;
            if (property.isFlag)
                value.push_back(property.flag ? '\xFF' : '\0');
            else
                for (const char16_t c : property.text)
                    PutU16(value, c);
            PutU16(body, static_cast<std::uint32_t>(8 + value.size()));
            body.push_back('\0');
            body.push_back(property.isFlag ? 1 : 10);
            PutU16(body, nameIndex(property.name));
            PutU16(body, static_cast<std::uint32_t>(value.size()));
            body += value;
        }
        return chunk(kind, body);
    };
    std::string owners = ownerChunk(0x00, table.name, table.properties);
    bool any = !table.properties.empty();
    for (const auto& column : table.columns)
        if (!column.properties.empty()) {
            owners += ownerChunk(0x01, column.name, column.properties);
            any = true;
        }
    if (!any) return {};
    std::string list;
    for (const auto& name : names)
        AppendName(list, name);
    return std::string("MR2\0", 4) + chunk(0x80, list) + owners;
}

// A long value short enough to stay in its row: the 12-byte reference (length, the in-row
// flag 0x80 in its fourth byte, no page) followed by the data.
std::string InlineLongValue(const std::string& data) {
    std::string value;
    PutU32(value, static_cast<std::uint32_t>(data.size()) | 0x80000000u);
    value.append(8, '\0');
    return value + data;
}

constexpr std::uint32_t kMapHolderPage = 3;
constexpr std::uint32_t kFirstTablePage = 4;
constexpr std::size_t kMaxSlots = 255;  // a row pointer has one byte for the slot
constexpr std::size_t kInlineMapBytes = 64;
constexpr std::uint32_t kPagesPerBitmapPage = (kPageSize - 4) * 8;
constexpr std::uint32_t kTablesContainer = 0x0F000001;
constexpr std::uint32_t kTopLevel = 0x0F000000;

// The fixed-area bytes of a column the builder writes; 0 for its variable-length types.
std::uint16_t FixedBytes(std::uint8_t type) {
    switch (type) {
        case kTypeBoolean:
        case kTypeByte:
        case kTypeInteger:
        case kTypeLong:
        case kTypeSingle:
        case kTypeCurrency:
        case kTypeDouble:
        case kTypeDateTime:
        case kTypeBigInt:
            return static_cast<std::uint16_t>(TypeFixedSize(type));
        case kTypeDateTimeExtended:
            return 42;
        case kTypeText:
        case kTypeMemo:
        case kTypeOle:
            return 0;
        default:
            throw Error(u"このデータ型の列は作成できません。");
    }
}

// Calculated columns of fixed-size types take this much of the fixed area, the wrapper
// included; the result's length sits at offset 16 and the result at offset 20.
constexpr std::uint16_t kCalculatedFixedBytes = 39;

std::uint16_t ColumnBytes(const TBuildColumn& column) {
    if (!column.calculated) return FixedBytes(column.type);
    const std::uint16_t result = FixedBytes(column.type);
    if (result == 0 || result > kCalculatedFixedBytes - 23)
        throw Error(u"この型の計算列は作成できません。");
    return kCalculatedFixedBytes;
}

std::string EmptyDataPage(std::uint32_t owner) {
    std::string page(kPageSize, '\0');
    page[0] = kPageData;
    page[1] = 1;
    SetU16(page, 2, kPageSize - kDataPageHeader);
    SetU32(page, 4, owner);
    return page;
}

// Adds `row` to a data page if it fits; returns the slot or -1.
int AddToPage(std::string& page, const std::string& row) {
    const std::uint16_t free = ReadU16(reinterpret_cast<const std::uint8_t*>(page.data()) + 2);
    const std::uint16_t count = ReadU16(reinterpret_cast<const std::uint8_t*>(page.data()) + 12);
    if (row.size() + 2 > free || count >= kMaxSlots) return -1;
    const std::size_t top =
        count == 0
            ? kPageSize
            : ReadU16(reinterpret_cast<const std::uint8_t*>(page.data()) + 14 + 2 * (count - 1));
    const std::size_t start = top - row.size();
    std::memcpy(page.data() + start, row.data(), row.size());
    SetU16(page, 14 + 2 * count, static_cast<std::uint32_t>(start));
    SetU16(page, 12, count + 1u);
    SetU16(page, 2, static_cast<std::uint32_t>(free - row.size() - 2));
    return count;
}

// An inline usage map (type 0) of pages in [start, start + 8 × bytes).
std::string InlineMap(const std::vector<std::uint32_t>& pages, std::uint32_t start,
                      std::size_t bytes) {
    std::string row(5 + bytes, '\0');
    SetU32(row, 1, start);
    for (const std::uint32_t page : pages)
        row[5 + (page - start) / 8] =
            static_cast<char>(row[5 + (page - start) / 8] | (1 << ((page - start) % 8)));
    return row;
}

}  // namespace

TJetBuilder::TJetBuilder(std::vector<TBuildTable> tables, TBuildFormat format) : format_(format) {
    pages_.resize(kFirstTablePage + tables.size());  // header, map, catalogue, map holder
    TBuildTable catalog{u"MSysObjects",
                        {{u"Id", kTypeLong, 0},
                         {u"ParentId", kTypeLong, 0},
                         {u"Name", kTypeText, 255},
                         {u"Type", kTypeInteger, 0},
                         {u"Flags", kTypeLong, 0},
                         // Readers bind this property column by name; it stays NULL here.
                         {u"LvProp", kTypeOle, 0}}};
    tables.insert(tables.begin(), std::move(catalog));
    for (std::size_t i = 0; i < tables.size(); ++i) {
        TTableState state;
        state.def = std::move(tables[i]);
        state.tdefPage =
            i == 0 ? kCatalogPage : kFirstTablePage + static_cast<std::uint32_t>(i - 1);
        for (const auto& column : state.def.columns) {
            const std::uint16_t bytes = ColumnBytes(column);  // refuses what it cannot write
            const bool variable =
                column.type == kTypeText || column.type == kTypeMemo || column.type == kTypeOle;
            state.fixedOffset.push_back(variable ? 0 : state.fixedSize);
            state.varIndex.push_back(variable ? state.varCount : 0);
            if (variable)
                ++state.varCount;
            else
                state.fixedSize = static_cast<std::uint16_t>(state.fixedSize + bytes);
        }
        tables_.push_back(std::move(state));
    }
}

std::string TJetBuilder::EncodeRow(const TTableState& table,
                                   const std::vector<TJetValue>& values) const {
    const auto& columns = table.def.columns;
    if (values.size() != columns.size()) throw Error(u"行の値の数が列の数と一致しません。");
    std::string row;
    PutU16(row, static_cast<std::uint32_t>(columns.size()));
    row.append(table.fixedSize, '\0');
    std::vector<std::uint8_t> mask((columns.size() + 7) / 8, 0);
    std::vector<std::uint16_t> varStart(table.varCount + 1u, 0);
    std::vector<std::string> varData(table.varCount);
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const TJetValue& v = values[i];
        const std::uint8_t type = columns[i].type;
        if (type == kTypeBoolean) {
            if (!v.IsNull() && v.integer != 0) mask[i / 8] |= 1u << (i % 8);
            continue;
        }
        if (v.IsNull()) continue;
        if (type == kTypeOle) {
            if (v.kind != TJetValue::Kind::Bytes) throw Error(u"長いデータは作成できません。");
            mask[i / 8] |= 1u << (i % 8);
            varData[table.varIndex[i]] = InlineLongValue(v.bytes);
            continue;
        }
        if (type == kTypeMemo) {
            // Long Text kept inside the row, in plain UTF-16LE.
            if (v.kind != TJetValue::Kind::Text) throw Error(u"長いテキストしか作成できません。");
            std::string bytes;
            for (const char16_t c : v.text) {
                bytes.push_back(static_cast<char>(c & 0xFF));
                bytes.push_back(static_cast<char>(c >> 8));
            }
            mask[i / 8] |= 1u << (i % 8);
            varData[table.varIndex[i]] = InlineLongValue(bytes);
            continue;
        }
        mask[i / 8] |= 1u << (i % 8);
        const std::uint16_t size = ColumnBytes(columns[i]);
        if (type != kTypeText && v.kind == TJetValue::Kind::Bytes) {
            std::memcpy(row.data() + 2 + table.fixedOffset[i], v.bytes.data(),
                        std::min<std::size_t>(size, v.bytes.size()));
            continue;
        }
        // A calculated column's result goes inside its wrapper.
        std::string result(FixedBytes(type), '\0');
        char* at = columns[i].calculated ? result.data() : row.data() + 2 + table.fixedOffset[i];
        switch (type) {
            case kTypeByte:
                *at = static_cast<char>(v.integer);
                break;
            case kTypeInteger: {
                const auto x = static_cast<std::int16_t>(v.integer);
                std::memcpy(at, &x, 2);
                break;
            }
            case kTypeLong: {
                const auto x = static_cast<std::int32_t>(v.integer);
                std::memcpy(at, &x, 4);
                break;
            }
            case kTypeCurrency:
            case kTypeBigInt:
                std::memcpy(at, &v.integer, 8);
                break;
            case kTypeSingle: {
                const auto x = static_cast<float>(v.real);
                std::memcpy(at, &x, 4);
                break;
            }
            case kTypeDouble:
            case kTypeDateTime:
                std::memcpy(at, &v.real, 8);
                break;
            case kTypeText: {
                std::string& out = varData[table.varIndex[i]];
                for (const char16_t c : v.text)
                    PutU16(out, c);
                break;
            }
            case kTypeDateTimeExtended:
                for (std::size_t k = 0; k < v.text.size() && k < size; ++k)
                    at[k] = static_cast<char>(v.text[k]);
                break;
            default:
                break;
        }
        if (columns[i].calculated) {
            char* wrapper = row.data() + 2 + table.fixedOffset[i];
            const auto length = static_cast<std::uint32_t>(result.size());
            std::memcpy(wrapper + 16, &length, 4);
            std::memcpy(wrapper + 20, result.data(), result.size());
        }
    }
    if (table.varCount > 0) {
        for (std::size_t slot = 0; slot < table.varCount; ++slot) {
            varStart[slot] = static_cast<std::uint16_t>(row.size());
            row += varData[slot];
        }
        varStart[table.varCount] = static_cast<std::uint16_t>(row.size());  // end of data
        for (std::size_t slot = table.varCount + 1; slot-- > 0;)
            PutU16(row, varStart[slot]);
        PutU16(row, table.varCount);
    }
    AppendBytes(row, mask.data(), mask.size());
    return row;
}

std::uint32_t TJetBuilder::NewPage() {
    pages_.emplace_back();
    return static_cast<std::uint32_t>(pages_.size() - 1);
}

void TJetBuilder::PlaceRow(std::size_t tableIndex, std::uint32_t owner, const std::string& row) {
    TTableState& table = tables_[tableIndex];
    if (row.size() + 2 > kPageSize - kDataPageHeader) throw Error(u"行が長すぎます。");
    if (table.openPage == SIZE_MAX || AddToPage(pages_[table.openPage], row) < 0) {
        const std::uint32_t page = NewPage();
        pages_[page] = EmptyDataPage(owner);
        table.pages.push_back(page);
        table.openPage = page;
        AddToPage(pages_[page], row);
    }
    ++table.rowCount;
}

void TJetBuilder::AddRow(std::size_t table, const std::vector<TJetValue>& values) {
    TTableState& state = tables_.at(table + 1);
    if (!PhysicalIndexes(table + 1).empty())
        throw Error(u"索引のあるテーブルには行を追加できません。");
    PlaceRow(table + 1, state.tdefPage, EncodeRow(state, values));
}

void TJetBuilder::AddRelationship(TBuildRelationship relationship) {
    ++relationship.child;
    ++relationship.parent;
    if (relationship.child >= tables_.size() || relationship.parent >= tables_.size() ||
        relationship.parentIndex >= tables_[relationship.parent].def.indexes.size())
        throw Error(u"リレーションシップのテーブルまたは索引がありません。");
    relationships_.push_back(std::move(relationship));
}

std::vector<TJetBuilder::TPhysicalSpec> TJetBuilder::PhysicalIndexes(std::size_t t) const {
    std::vector<TPhysicalSpec> specs;
    for (const auto& index : tables_[t].def.indexes)
        specs.push_back({index.columns, index.primary, index.unique, index.descending});
    for (const auto& relationship : relationships_)
        if (relationship.child == t)
            specs.push_back({relationship.childColumns, false, false, false});
    return specs;
}

// Numbers of the foreign-key logical indexes: after the table's own indexes come those of the
// relationships in which it holds the key, then those in which it is referenced.
std::uint32_t TJetBuilder::ForeignLogicalNumber(std::size_t r, bool childSide) const {
    const std::size_t t = childSide ? relationships_[r].child : relationships_[r].parent;
    std::uint32_t number = static_cast<std::uint32_t>(tables_[t].def.indexes.size());
    for (std::size_t i = 0; i < relationships_.size(); ++i)
        if (relationships_[i].child == t && (!childSide || i < r)) ++number;
    if (!childSide)
        for (std::size_t i = 0; i < r; ++i)
            if (relationships_[i].parent == t) ++number;
    return number;
}

std::vector<TJetBuilder::TLogicalSpec> TJetBuilder::LogicalIndexes(std::size_t t) const {
    std::vector<TLogicalSpec> specs;
    const auto& indexes = tables_[t].def.indexes;
    for (std::size_t i = 0; i < indexes.size(); ++i)
        specs.push_back({indexes[i].name, static_cast<std::uint32_t>(i),
                         static_cast<std::uint8_t>(indexes[i].primary ? 1 : 0)});
    std::uint32_t physical = static_cast<std::uint32_t>(indexes.size());
    for (std::size_t r = 0; r < relationships_.size(); ++r)
        if (relationships_[r].child == t)
            specs.push_back({relationships_[r].name, physical++, 2, 2,
                             static_cast<std::int32_t>(ForeignLogicalNumber(r, false)),
                             tables_[relationships_[r].parent].tdefPage});
    for (std::size_t r = 0; r < relationships_.size(); ++r)
        if (relationships_[r].parent == t)
            specs.push_back({u".r" + std::u16string(1, static_cast<char16_t>(u'B' + r)),
                             static_cast<std::uint32_t>(relationships_[r].parentIndex), 2, 1,
                             static_cast<std::int32_t>(ForeignLogicalNumber(r, true)),
                             tables_[relationships_[r].child].tdefPage});
    return specs;
}

std::string TJetBuilder::Finish() {
    // The catalogue: the Tables container, MSysObjects itself, and every user table.
    auto catalogRow = [](std::int64_t id, std::int64_t parent, std::u16string name,
                         std::int64_t type, std::int64_t flags) {
        std::vector<TJetValue> v(6);
        for (std::size_t i = 0; i < 5; ++i)
            v[i].kind = TJetValue::Kind::Integer;
        v[0].integer = id;
        v[1].integer = parent;
        v[2].kind = TJetValue::Kind::Text;
        v[2].text = std::move(name);
        v[3].integer = type;
        v[4].integer = flags;
        return v;
    };
    TTableState& catalog = tables_[0];
    PlaceRow(0, kCatalogPage,
             EncodeRow(catalog, catalogRow(kTablesContainer, kTopLevel, u"Tables", kObjectContainer,
                                           0x80000000)));
    PlaceRow(0, kCatalogPage,
             EncodeRow(catalog, catalogRow(kCatalogPage, kTablesContainer, u"MSysObjects",
                                           kObjectTable, 0x80000000)));
    for (std::size_t i = 1; i < tables_.size(); ++i) {
        auto row =
            catalogRow(tables_[i].tdefPage, kTablesContainer, tables_[i].def.name, kObjectTable, 0);
        const std::string properties = PropertyBlob(tables_[i].def);
        if (!properties.empty()) {
            row[5].kind = TJetValue::Kind::Bytes;
            row[5].bytes = properties;
        }
        PlaceRow(0, kCatalogPage, EncodeRow(catalog, row));
    }

    // Usage maps: owned pages (inline when they fit one window, else on bitmap pages) and the
    // page being filled as the free-space map.
    std::string holder = EmptyDataPage(0);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> mapPointers;
    std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> indexPointers;
    for (auto& table : tables_) {
        std::string owned;
        const std::uint32_t first = table.pages.empty() ? 0 : table.pages.front() & ~7u;
        if (table.pages.empty() || table.pages.back() - first < kInlineMapBytes * 8) {
            owned = InlineMap(table.pages, first, kInlineMapBytes);
        } else {
            owned.assign(5 + kInlineMapBytes, '\0');
            owned[0] = 1;
            std::vector<std::uint32_t> bitmapPages;
            for (const std::uint32_t page : table.pages) {
                const std::uint32_t slot = page / kPagesPerBitmapPage;
                if (1 + 4 * (slot + 1) > owned.size()) throw Error(u"データベースが大きすぎます。");
                std::uint32_t bitmap =
                    ReadU32(reinterpret_cast<const std::uint8_t*>(owned.data()) + 1 + 4 * slot);
                if (bitmap == 0) {
                    bitmap = NewPage();
                    pages_[bitmap].assign(kPageSize, '\0');
                    pages_[bitmap][0] = kPageUsageMap;
                    pages_[bitmap][1] = 1;
                    SetU32(owned, 1 + 4 * slot, bitmap);
                }
                const std::uint32_t bit = page % kPagesPerBitmapPage;
                pages_[bitmap][4 + bit / 8] =
                    static_cast<char>(pages_[bitmap][4 + bit / 8] | (1 << (bit % 8)));
            }
        }
        std::vector<std::uint32_t> last;
        if (!table.pages.empty()) last.push_back(table.pages.back());
        const std::string free = InlineMap(last, last.empty() ? 0 : last[0] & ~7u, kInlineMapBytes);
        const int ownedSlot = AddToPage(holder, owned);
        const int freeSlot = AddToPage(holder, free);
        if (ownedSlot < 0 || freeSlot < 0) throw Error(u"テーブルが多すぎます。");
        mapPointers.emplace_back((kMapHolderPage << 8) | ownedSlot,
                                 (kMapHolderPage << 8) | freeSlot);
        // Each index: an empty leaf as its root, and a map that holds it.
        std::vector<std::pair<std::uint32_t, std::uint32_t>> indexes;
        const std::size_t physicalCount = PhysicalIndexes(indexPointers.size()).size();
        for (std::size_t i = 0; i < physicalCount; ++i) {
            const std::uint32_t root = NewPage();
            pages_[root].assign(kPageSize, '\0');
            pages_[root][0] = kPageIndexLeaf;
            pages_[root][1] = 1;
            SetU16(pages_[root], 2, kPageSize - 480);
            SetU32(pages_[root], 4, table.tdefPage);
            const int slot = AddToPage(holder, InlineMap({root}, root & ~7u, kInlineMapBytes));
            if (slot < 0) throw Error(u"索引が多すぎます。");
            indexes.emplace_back((kMapHolderPage << 8) | slot, root);
        }
        indexPointers.push_back(std::move(indexes));
    }
    pages_[kMapHolderPage] = holder;

    // Table definitions (one page each).
    for (std::size_t t = 0; t < tables_.size(); ++t) {
        const TTableState& table = tables_[t];
        const std::vector<TPhysicalSpec> indexes = PhysicalIndexes(t);
        const std::vector<TLogicalSpec> logical = LogicalIndexes(t);
        std::string def(63 + 12 * indexes.size(), '\0');
        def[0] = kPageTableDef;
        def[1] = 1;
        SetU32(def, 12, 1625);
        SetU32(def, 16, table.rowCount);
        if (std::any_of(table.def.columns.begin(), table.def.columns.end(),
                        [](const TBuildColumn& c) { return c.autoNumber; }))
            SetU32(def, 20, table.rowCount);
        def[24] = 1;
        def[40] = t == 0 ? 0x53 : 0x4E;
        const auto columns = static_cast<std::uint32_t>(table.def.columns.size());
        SetU16(def, 41, columns);
        SetU16(def, 43, table.varCount);
        SetU16(def, 45, columns);
        SetU32(def, 47, static_cast<std::uint32_t>(logical.size()));
        SetU32(def, 51, static_cast<std::uint32_t>(indexes.size()));
        SetU32(def, 55, mapPointers[t].first);
        SetU32(def, 59, mapPointers[t].second);
        for (std::size_t i = 0; i < columns; ++i) {
            const TBuildColumn& column = table.def.columns[i];
            std::string d(25, '\0');
            d[0] = static_cast<char>(column.type);
            SetU32(d, 1, 1625);
            SetU16(d, 5, static_cast<std::uint32_t>(i));
            SetU16(d, 7, table.varIndex[i]);
            if (column.type == kTypeText || column.type == kTypeMemo)
                SetU16(d, 11, column.sortOrder);
            const bool variable =
                column.type == kTypeText || column.type == kTypeMemo || column.type == kTypeOle;
            d[15] = static_cast<char>(variable ? 0x02 : column.autoNumber ? 0x07 : 0x03);
            if (column.calculated) d[16] = static_cast<char>(kColumnCalculated);
            SetU16(d, 21, table.fixedOffset[i]);
            SetU16(d, 23,
                   column.type == kTypeText ? column.textLength * 2u
                   : column.type == kTypeOle || column.type == kTypeMemo
                       ? 0u
                       : std::max<std::uint16_t>(1, ColumnBytes(column)));
            def += d;
        }
        for (const auto& column : table.def.columns)
            AppendName(def, column.name);
        for (std::size_t i = 0; i < indexes.size(); ++i) {
            std::string d(52, '\0');
            SetU32(d, 0, 1923);
            for (std::size_t c = 0; c < 10; ++c) {
                const bool used = c < indexes[i].columns.size();
                SetU16(d, 4 + 3 * c,
                       used ? static_cast<std::uint32_t>(indexes[i].columns[c]) : 0xFFFF);
                // Access writes 1 for an ascending column and 0 for a descending one.
                d[6 + 3 * c] = used && !indexes[i].descending ? 1 : 0;
            }
            SetU32(d, 34, indexPointers[t][i].first);
            SetU32(d, 38, indexPointers[t][i].second);
            d[46] = static_cast<char>(0x80 | (indexes[i].primary ? 0x09 : 0) |
                                      (indexes[i].unique ? 0x01 : 0));
            def += d;
        }
        for (std::size_t i = 0; i < logical.size(); ++i) {
            std::string d(28, '\0');
            SetU32(d, 0, 1625);
            SetU32(d, 4, static_cast<std::uint32_t>(i));
            SetU32(d, 8, logical[i].physical);
            d[12] = static_cast<char>(logical[i].role);
            SetU32(d, 13, static_cast<std::uint32_t>(logical[i].otherIndex));
            SetU32(d, 17, logical[i].otherTable);
            // Cascades are off (0) on foreign keys; other indexes show 4 here.
            d[21] = logical[i].kind == 2 ? 0 : 4;
            d[22] = logical[i].kind == 2 ? 0 : 4;
            d[23] = static_cast<char>(logical[i].kind);
            def += d;
        }
        for (const auto& index : logical)
            AppendName(def, index.name);
        PutU16(def, 0xFFFF);  // no long-value columns
        if (def.size() > kPageSize) throw Error(u"テーブル定義が長すぎます。");
        SetU16(def, 2, static_cast<std::uint32_t>(kPageSize - def.size() - 8));
        SetU32(def, 8, static_cast<std::uint32_t>(def.size()));
        def.resize(kPageSize, '\0');
        pages_[table.tdefPage] = def;
    }

    // The global map: a set bit marks a free page; every page of the file is in use, the
    // rest of the window is free.
    const auto pageCount = static_cast<std::uint32_t>(pages_.size());
    const std::size_t bytes = std::max<std::size_t>(kInlineMapBytes, (pageCount + 7) / 8 + 8);
    std::string global(5 + bytes, '\0');
    for (std::size_t bit = pageCount; bit < bytes * 8; ++bit)
        global[5 + bit / 8] = static_cast<char>(global[5 + bit / 8] | (1 << (bit % 8)));
    std::string page1 = EmptyDataPage(0);
    if (AddToPage(page1, global) < 0 ||
        AddToPage(page1, std::string(5 + kInlineMapBytes, '\0')) < 0)
        throw Error(u"データベースが大きすぎます。");
    pages_[1] = page1;

    // The header, masked.
    std::string header(kPageSize, '\0');
    header[1] = 1;
    const bool ace = format_ != TBuildFormat::Jet4;
    std::memcpy(header.data() + 4, ace ? "Standard ACE DB" : "Standard Jet DB", 16);
    header[0x14] = format_ == TBuildFormat::Ace17 ? 0x06 : ace ? 0x03 : 0x01;
    static const unsigned char kConstant[24] = {0, 1, 0, 0, 1, 1, 0, 0, 2, 0, 0, 0,
                                                3, 0, 0, 0, 4, 0, 0, 0, 5, 0, 0, 0};
    std::memcpy(header.data() + 0x18, kConstant, sizeof kConstant);
    SetU16(header, 0x3C, 1252);
    SetU16(header, 0x6E, 1033);
    static const unsigned char kTrailer[8] = {0x54, 0x06, 0, 0, '4', '.', '0', 0};
    std::memcpy(header.data() + 0x98, kTrailer, sizeof kTrailer);
    ToggleHeaderMask(reinterpret_cast<std::uint8_t*>(header.data()), header.size());
    pages_[0] = header;

    std::string file;
    file.reserve(pages_.size() * kPageSize);
    for (auto& page : pages_) {
        page.resize(kPageSize, '\0');
        file += page;
    }
    return file;
}

}  // namespace qm::jet
