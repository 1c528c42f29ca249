// The system catalogue MSysObjects (its definition is always on page 2): the database's tables,
// queries and other objects, and the rules that pick out what the user may see as tables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/jet_page_file.h"

namespace qm::jet {

inline constexpr std::uint32_t kCatalogPage = 2;

enum TObjectType : std::int16_t {
    kObjectTable = 1,
    kObjectContainer = 3,
    kObjectLinkedOdbc = 4,
    kObjectQuery = 5,
    kObjectLinkedTable = 6,
};

inline constexpr std::uint32_t kFlagSystem = 0x80000000;
inline constexpr std::uint32_t kFlagSystemAlt = 0x00000002;
inline constexpr std::uint32_t kFlagHidden = 0x00000008;

struct TCatalogEntry {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::u16string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
};

enum class TObjectKind { Table, View };

struct TCatalogObject {
    std::u16string name;
    TObjectKind kind = TObjectKind::Table;
    std::uint32_t tdefPage = 0;  // tables only
};

class TJetCatalog {
  public:
    explicit TJetCatalog(const TJetPageFile& file);

    const std::vector<TCatalogEntry>& Entries() const { return entries_; }
    // User tables (no system, temporary, hidden or linked ones) in name order, then saved
    // select queries (as views) in name order.
    const std::vector<TCatalogObject>& Objects() const { return objects_; }
    // Every local table (Type 1) below the Tables container, system tables included.
    std::vector<TCatalogObject> AllLocalTables() const;
    // The entry of a local table by name (case-insensitive, as Access matches names).
    const TCatalogEntry* FindLocalTable(std::u16string_view name) const;
    const TCatalogEntry* FindObject(std::u16string_view name) const;

  private:
    std::vector<TCatalogEntry> entries_;
    std::vector<TCatalogObject> objects_;
    std::int32_t tablesContainer_ = 0;
};

// Case-insensitive comparison of names as Access treats them (letters of the basic Latin,
// Latin-1 and full-width ranges fold; everything else compares by code unit).
bool NamesEqual(std::u16string_view a, std::u16string_view b);
bool NameLess(std::u16string_view a, std::u16string_view b);

}  // namespace qm::jet
