#include "targets/jet/jet_catalog.h"

#include <algorithm>

#include "targets/jet/jet_row.h"
#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_table_scan.h"

namespace qm::jet {
namespace {

constexpr std::int32_t kTopLevelParent = 0x0F000000;

char16_t FoldCase(char16_t c) {
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return c - 0x20;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;  // full-width a-z
    return c;
}

bool StartsWithFolded(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() && NamesEqual(name.substr(0, prefix.size()), prefix);
}

// Query kinds in MSysObjects.Flags (with the hidden bit masked): 0 is a select query.
constexpr std::uint32_t kQueryKindMask = 0xF0;

}  // namespace

bool NamesEqual(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (FoldCase(a[i]) != FoldCase(b[i])) return false;
    return true;
}

bool NameLess(std::u16string_view a, std::u16string_view b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return x < y;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;  // names differing only in case keep a fixed order
}

TJetCatalog::TJetCatalog(const TJetPageFile& file) {
    const TTableDef def = ReadTableDef(file, kCatalogPage);
    const TRowDecoder decoder(file, def);
    auto column = [&](std::u16string_view name) -> const TColumnDef* {
        for (const auto& c : def.columns)
            if (c.name == name) return &c;
        return nullptr;
    };
    const TColumnDef* id = column(u"Id");
    const TColumnDef* parent = column(u"ParentId");
    const TColumnDef* name = column(u"Name");
    const TColumnDef* type = column(u"Type");
    const TColumnDef* flags = column(u"Flags");
    if (!id || !parent || !name || !type || !flags)
        file.FailDamaged(u"システムカタログ MSysObjects の列が見つかりません");

    TTableScan scan(file, def);
    TLiveRow row;
    while (scan.Next(row)) {
        const TRowLayout layout(file, def, row.bytes);
        TCatalogEntry entry;
        entry.id = static_cast<std::int32_t>(decoder.DecodeColumn(layout, *id).integer);
        entry.parentId = static_cast<std::int32_t>(decoder.DecodeColumn(layout, *parent).integer);
        entry.name = decoder.DecodeColumn(layout, *name).text;
        entry.type = static_cast<std::int16_t>(decoder.DecodeColumn(layout, *type).integer);
        entry.flags = static_cast<std::uint32_t>(decoder.DecodeColumn(layout, *flags).integer);
        entries_.push_back(std::move(entry));
    }
    for (const auto& entry : entries_)
        if (entry.type == kObjectContainer && entry.parentId == kTopLevelParent &&
            entry.name == u"Tables")
            tablesContainer_ = entry.id;

    std::vector<TCatalogObject> tables, views;
    for (const auto& entry : entries_) {
        if (entry.parentId != tablesContainer_ || tablesContainer_ == 0) continue;
        if (StartsWithFolded(entry.name, u"MSys") || StartsWithFolded(entry.name, u"~")) continue;
        if (entry.flags & (kFlagSystem | kFlagSystemAlt | kFlagHidden)) continue;
        if (entry.type == kObjectTable)
            tables.push_back(
                {entry.name, TObjectKind::Table, static_cast<std::uint32_t>(entry.id)});
        else if (entry.type == kObjectQuery && (entry.flags & kQueryKindMask) == 0)
            views.push_back({entry.name, TObjectKind::View, 0});
    }
    auto byName = [](const TCatalogObject& a, const TCatalogObject& b) {
        return NameLess(a.name, b.name);
    };
    std::sort(tables.begin(), tables.end(), byName);
    std::sort(views.begin(), views.end(), byName);
    objects_ = std::move(tables);
    objects_.insert(objects_.end(), views.begin(), views.end());
}

std::vector<TCatalogObject> TJetCatalog::AllLocalTables() const {
    std::vector<TCatalogObject> tables;
    for (const auto& entry : entries_)
        if (entry.type == kObjectTable && entry.parentId == tablesContainer_ &&
            tablesContainer_ != 0)
            tables.push_back(
                {entry.name, TObjectKind::Table, static_cast<std::uint32_t>(entry.id)});
    return tables;
}

const TCatalogEntry* TJetCatalog::FindLocalTable(std::u16string_view name) const {
    for (const auto& entry : entries_)
        if (entry.type == kObjectTable && entry.parentId == tablesContainer_ &&
            NamesEqual(entry.name, name))
            return &entry;
    return nullptr;
}

const TCatalogEntry* TJetCatalog::FindObject(std::u16string_view name) const {
    for (const auto& entry : entries_)
        if (entry.parentId == tablesContainer_ && NamesEqual(entry.name, name)) return &entry;
    return nullptr;
}

}  // namespace qm::jet
