// Referential integrity for rows appended to a table that holds the foreign key of enforced
// relationships. Access records such a relationship as a foreign-key logical index in both
// tables (role 2 on the referencing side, 1 on the referenced side; a relationship without
// integrity has no such index). The referencing side's index names the other table's
// definition page and the number of its logical index on the related fields, a unique index
// whose columns pair with this index's columns position by position.
//
// A new row whose foreign-key fields all hold a value must find a row of the referenced table
// with the same key in that unique index; a row with any of them empty is not checked, as
// Access does not check it. Rows appended to the referenced table (the parent) cannot break a
// relationship, so nothing is checked there.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "targets/jet/jet_database.h"
#include "targets/jet/jet_page_allocator.h"
#include "targets/jet/jet_row.h"

namespace qm::jet {

class TJetIndexWriter;

// Where the check looks a key up: the index of a table, as the open transaction sees it.
class TParentIndexes {
  public:
    virtual ~TParentIndexes() = default;
    // Whether the physical index `physical` of the table defined on `tdefPage` holds `key`.
    virtual bool HasKey(std::uint32_t tdefPage, std::size_t physical, const std::string& key) = 0;
};

// The indexes of tables the transaction does not write, read from the file as it was when the
// transaction began; each tree's pages are decoded once and kept.
class TFileParentIndexes : public TParentIndexes {
  public:
    TFileParentIndexes(const TJetDatabase& database, TJetPageAllocator& allocator);
    ~TFileParentIndexes() override;
    bool HasKey(std::uint32_t tdefPage, std::size_t physical, const std::string& key) override;

  private:
    struct TOpenIndex {
        std::unique_ptr<TJetTable> table;
        std::unique_ptr<TJetIndexWriter> index;  // only searched, never changed
    };
    const TJetDatabase& database_;
    TJetPageAllocator& allocator_;
    std::map<std::pair<std::uint32_t, std::size_t>, TOpenIndex> open_;
};

class TRelationshipCheck {
  public:
    // Reads the enforced relationships in which `child` holds the foreign key. Throws Error
    // (a Japanese reason, without the table's name) for one whose keys cannot be compared
    // soundly: a referenced table or index that is not there, fields of different types or
    // sort orders, a key type with no encoding here.
    TRelationshipCheck(const TJetDatabase& database, const TJetTable& child);
    ~TRelationshipCheck();

    bool Empty() const { return relationships_.empty(); }

    // Throws Error, naming the relationship, the fields, the values and the referenced table,
    // when the row's parent is missing. `ownKeys` are the row's keys for the child's own
    // physical indexes: a table that references itself takes the row as its own parent.
    void Check(const TRowLayout& row, const std::vector<std::optional<std::string>>& ownKeys,
               TParentIndexes& parents) const;

  private:
    struct TRelationship {
        std::u16string name;
        std::u16string parentName;
        std::uint32_t parentPage = 0;
        std::size_t parentPhysical = 0;
        std::vector<const TColumnDef*> childColumns;
        std::vector<std::u16string> parentColumns;
        TPhysicalIndex probe;  // the child's columns, ordered as the parent's index wants them
    };

    const TJetTable& child_;
    std::unique_ptr<TRowDecoder> decoder_;
    std::vector<TRelationship> relationships_;
};

}  // namespace qm::jet
