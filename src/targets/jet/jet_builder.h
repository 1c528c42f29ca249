// A small builder of Jet 4 (.mdb) databases: header, global page map, the MSysObjects
// catalogue and user tables whose rows are packed onto data pages, with their usage maps.
// It makes test, fuzz and benchmark databases of any size without third-party files, and it
// is the first piece of the writer: it encodes rows, data pages and usage maps the way the
// reader decodes them. Tables and columns may carry design-view properties (stored in the
// catalogue's LvProp as Access keeps them). Tables have no long values; a table may have indexes on
// its fixed-size numeric columns when the builder adds no rows to it (its index trees are then
// empty leaves), and a Long Integer column may be an AutoNumber.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_value.h"

namespace qm::jet {

// A design-view property: a text (DefaultValue, ValidationRule, ValidationText, Expression)
// or a Yes/No (Required, AllowZeroLength), stored as Access stores it.
struct TBuildProperty {
    std::u16string name;
    std::u16string text;
    bool isFlag = false;  // a Yes/No property whose value is `flag`
    bool flag = false;
};

struct TBuildColumn {
    std::u16string name;
    std::uint8_t type = kTypeLong;  // Boolean, Byte, Integer, Long, Currency, Single, Double,
                                    // DateTime, BigInt, Guid (text form), Text, Memo
                                    // (kept inside the row) or DateTimeExtended (its
                                    // 42-character stored form as text)
    std::uint16_t textLength = 0;   // Text: maximum characters
    bool autoNumber = false;        // Long: an AutoNumber column
    // A calculated column of a fixed-size type: its result is stored in the 39-byte wrapper
    // Access uses (16 bytes, the result's length, the result, padding). Its expression is the
    // column's Expression property, when the test gives one.
    bool calculated = false;
    std::vector<TBuildProperty> properties = {};
    std::uint16_t sortOrder = 1033;  // Text: the LCID of the column's sort order (version 0)
};

struct TBuildIndex {
    std::u16string name;
    std::vector<std::size_t> columns = {};  // indexes into the table's columns
    bool primary = false;                   // the primary key (unique, required)
    bool unique = false;
    bool descending = false;  // every column's key in descending order
};

// An enforced relationship (referential integrity): the columns `childColumns` of table
// `child` reference the unique index `parentIndex` of table `parent` (tables, columns and
// indexes by their position in what the builder was given). Both tables get the foreign-key
// logical index Access adds: the child a non-unique physical index of its own on the columns,
// the parent one that shares the unique index. A table may reference itself.
struct TBuildRelationship {
    std::u16string name;
    std::size_t child = 0;
    std::vector<std::size_t> childColumns;
    std::size_t parent = 0;
    std::size_t parentIndex = 0;
};

// The file format written: Jet 4 (.mdb), ACE 12 (.accdb of Access 2007) or the ACE 17 level
// of Access 2019 and later (.accdb, needed for Date/Time Extended columns).
enum class TBuildFormat { Jet4, Ace12, Ace17 };

struct TBuildTable {
    std::u16string name;
    std::vector<TBuildColumn> columns;
    std::vector<TBuildIndex> indexes = {};
    std::vector<TBuildProperty> properties = {};  // the table's own (ValidationRule …)
};

class TJetBuilder {
  public:
    explicit TJetBuilder(std::vector<TBuildTable> tables, TBuildFormat format = TBuildFormat::Jet4);

    // Appends one row to table `table`; `values` follow the table's columns (NULL allowed).
    // Values must be of the kind the reader gives for the column's type; Bytes given for a
    // fixed-size column are stored as they are (cut or padded with zeros to its size), which
    // makes values of any shape, damaged ones included.
    void AddRow(std::size_t table, const std::vector<TJetValue>& values);

    void AddRelationship(TBuildRelationship relationship);

    // The bytes of the finished database file.
    std::string Finish();

  private:
    struct TTableState {
        TBuildTable def;
        std::uint32_t tdefPage = 0;
        std::uint32_t rowCount = 0;
        std::vector<std::uint32_t> pages;  // its data pages
        std::size_t openPage = SIZE_MAX;   // index into pages_ of the page being filled
        std::vector<std::uint16_t> fixedOffset;
        std::vector<std::uint16_t> varIndex;
        std::uint16_t fixedSize = 0;
        std::uint16_t varCount = 0;
    };
    std::string EncodeRow(const TTableState& table, const std::vector<TJetValue>& values) const;
    void PlaceRow(std::size_t tableIndex, std::uint32_t owner, const std::string& row);
    std::uint32_t NewPage();

    // The physical and logical indexes of table `t` (0: the catalogue): its own, then the
    // foreign-key ones of its relationships.
    struct TPhysicalSpec {
        std::vector<std::size_t> columns;
        bool primary = false;
        bool unique = false;
        bool descending = false;
    };
    struct TLogicalSpec {
        std::u16string name;
        std::uint32_t physical = 0;
        std::uint8_t kind = 0;
        std::uint8_t role = 0;
        std::int32_t otherIndex = -1;
        std::uint32_t otherTable = 0;
    };
    std::vector<TPhysicalSpec> PhysicalIndexes(std::size_t t) const;
    std::vector<TLogicalSpec> LogicalIndexes(std::size_t t) const;
    std::uint32_t ForeignLogicalNumber(std::size_t relationship, bool childSide) const;

    TBuildFormat format_ = TBuildFormat::Jet4;
    std::vector<TTableState> tables_;
    std::vector<TBuildRelationship> relationships_;  // tables counted from 1 (0: catalogue)
    std::vector<std::string> pages_;                 // every page of the file, 4096 bytes each
};

}  // namespace qm::jet
