// The Access engine's reading API: a database opened from a file, its tables and views, a
// table's fields (with their TFieldType) and a lazy cursor over its rows.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "targets/field_type.h"
#include "targets/jet/jet_catalog.h"
#include "targets/jet/jet_page_file.h"
#include "targets/jet/jet_properties.h"
#include "targets/jet/jet_row.h"
#include "targets/jet/jet_table_def.h"
#include "targets/jet/jet_table_scan.h"
#include "targets/jet/jet_value.h"

namespace qm::jet {

struct TJetField {
    std::u16string name;
    TFieldType type = ftUnknown;
    const TColumnDef* column = nullptr;
};

class TJetDatabase;

class TJetTable {
  public:
    TJetTable(const TJetDatabase& database, std::u16string name, std::uint32_t tdefPage);

    const std::u16string& Name() const { return name_; }
    const TTableDef& Def() const { return def_; }
    const std::vector<TJetField>& Fields() const { return fields_; }

    // Reads rows on demand: each Next decodes one row into values in field order.
    class TCursor {
      public:
        explicit TCursor(const TJetTable& table);
        bool Next(std::vector<TJetValue>& values);
        TTableScan::TPosition Position() const { return scan_.Position(); }
        void Seek(TTableScan::TPosition position) { scan_.Seek(position); }

      private:
        const TJetTable& table_;
        TTableScan scan_;
        TRowDecoder decoder_;
        std::vector<TJetValue> row_;
    };
    TCursor Rows() const { return TCursor(*this); }

  private:
    const TJetDatabase& database_;
    std::u16string name_;
    TTableDef def_;
    std::vector<TJetField> fields_;
    std::vector<std::size_t> fieldColumn_;  // field i is def_.columns[fieldColumn_[i]]
};

class TJetDatabase {
  public:
    static std::unique_ptr<TJetDatabase> Open(const std::u16string& path);
    static std::unique_ptr<TJetDatabase> FromBytes(std::string bytes, std::u16string name);

    const TJetPageFile& File() const { return *file_; }
    const TJetCatalog& Catalog() const { return catalog_; }

    // The user tables in name order. Saved select queries, which the providers' table schema
    // lists as views after the tables, are left out: showing their rows means running their
    // SQL (joins, criteria, Access functions, totals), which this reader does not do, and they
    // can never take rows; OpenTable still names one as a query when asked for it.
    std::vector<std::u16string> TableNames() const;
    // Opens a user table by name (case-insensitive). Views, linked tables and names the
    // database does not have are refused with a Japanese message.
    std::unique_ptr<TJetTable> OpenTable(std::u16string_view name) const;
    // Any local table, system tables included (the checker and complex columns need them).
    std::unique_ptr<TJetTable> OpenTableAtPage(std::u16string name, std::uint32_t page) const;

    // The design-view properties of the table whose definition is on `tdefPage` (empty when
    // it has none).
    TJetProperties TableProperties(std::uint32_t tdefPage) const;

    // A readable summary of a complex column's values for one row's key: attachment file
    // names or multi-value items joined by "; ".
    std::u16string ComplexSummary(const TColumnDef& column, std::int32_t key) const;

  private:
    explicit TJetDatabase(std::unique_ptr<TJetPageFile> file);

    std::unique_ptr<TJetPageFile> file_;
    TJetCatalog catalog_;
    // Complex-column summaries by complex id, then by key; filled on first use.
    mutable std::map<std::int32_t, std::map<std::int32_t, std::u16string>> complexCache_;
};

}  // namespace qm::jet
