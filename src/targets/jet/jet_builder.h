// A small builder of Jet 4 (.mdb) databases: header, global page map, the MSysObjects
// catalogue and user tables whose rows are packed onto data pages, with their usage maps.
// It makes test, fuzz and benchmark databases of any size without third-party files, and it
// is the first piece of the writer: it encodes rows, data pages and usage maps the way the
// reader decodes them. Tables have no long values; a table may have indexes on its fixed-size
// numeric columns when the builder adds no rows to it (its index trees are then empty leaves),
// and a Long Integer column may be an AutoNumber.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_value.h"

namespace qm::jet {

struct TBuildColumn {
    std::u16string name;
    std::uint8_t type = kTypeLong;  // Boolean, Byte, Integer, Long, Currency, Single, Double,
                                    // DateTime, BigInt, Guid (text form) or Text
    std::uint16_t textLength = 0;   // Text: maximum characters
    bool autoNumber = false;        // Long: an AutoNumber column
};

struct TBuildIndex {
    std::u16string name;
    std::vector<std::size_t> columns = {};  // indexes into the table's columns, ascending keys
    bool primary = false;                   // the primary key (unique, required)
    bool unique = false;
};

struct TBuildTable {
    std::u16string name;
    std::vector<TBuildColumn> columns;
    std::vector<TBuildIndex> indexes = {};
};

class TJetBuilder {
  public:
    // `ace`: an ACE (.accdb) database instead of a Jet 4 (.mdb) one.
    explicit TJetBuilder(std::vector<TBuildTable> tables, bool ace = false);

    // Appends one row to table `table`; `values` follow the table's columns (NULL allowed).
    // Values must be of the kind the reader gives for the column's type.
    void AddRow(std::size_t table, const std::vector<TJetValue>& values);

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

    bool ace_ = false;
    std::vector<TTableState> tables_;
    std::vector<std::string> pages_;  // every page of the file, 4096 bytes each
};

}  // namespace qm::jet
