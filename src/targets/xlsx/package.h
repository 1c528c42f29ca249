// An opened .xlsx package: the zip archive and what the engine needs of the workbook part
// (sheets, defined names, date system), the shared strings and the cell styles.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "targets/sheet/number_format.h"
#include "targets/xlsx/byte_source.h"
#include "targets/xlsx/cell_ref.h"
#include "targets/xlsx/zip_archive.h"

namespace qm::xlsx {

struct TSheetInfo {
    std::u16string Name;
    std::string PartName;   // e.g. "xl/worksheets/sheet1.xml"
    bool Worksheet = true;  // false for chart sheets and others that hold no cells
};

struct TDefinedName {
    std::u16string Name;
    int LocalSheet = -1;  // index into the sheets, or -1 for a workbook-wide name
    bool Hidden = false;
    std::string Formula;  // as written, decoded
    // The byte range of the formula text inside the workbook part, for rewriting it.
    std::uint64_t TextStart = 0, TextEnd = 0;
    // Set when the formula is one rectangular area of one worksheet.
    int AreaSheet = -1;
    TAreaRef Area;
};

using sheet::TStyleKind;

class TPackage {
  public:
    // Opens and checks the package. Throws Error with a Japanese message for anything that is
    // not a readable transitional .xlsx workbook (an encrypted or binary workbook, a Strict
    // OOXML file, a package without a workbook, damaged XML).
    explicit TPackage(std::shared_ptr<const TByteSource> source);

    const TZipArchive& Archive() const noexcept { return archive_; }
    const std::u16string& FileName() const noexcept { return archive_.Source().Name(); }
    const std::vector<TSheetInfo>& Sheets() const noexcept { return sheets_; }
    const std::vector<TDefinedName>& DefinedNames() const noexcept { return names_; }
    const std::string& WorkbookPart() const noexcept { return workbookPart_; }
    const std::string& StylesPart() const noexcept { return stylesPart_; }
    bool Date1904() const noexcept { return date1904_; }

    std::size_t SharedStringCount() const noexcept { return stringOffsets_.size(); }
    // Throws Error for an index outside the table.
    std::u16string SharedString(std::size_t index) const;
    // Whether the string at a valid index is empty, without decoding it.
    bool SharedStringEmpty(std::size_t index) const noexcept {
        std::uint64_t end =
            index + 1 < stringOffsets_.size() ? stringOffsets_[index + 1] : strings_.size();
        return end == stringOffsets_[index];
    }

    TStyleKind StyleKind(std::uint32_t style) const noexcept {
        return style < styleKinds_.size() ? styleKinds_[style] : TStyleKind::General;
    }
    std::size_t StyleCount() const noexcept { return styleKinds_.size(); }
    // A cell style that shows dates (and times), or -1 when the workbook has none.
    std::int64_t DateStyle() const noexcept { return dateStyle_; }

    // The content of a part (whole, checked), or an Error when it is missing.
    std::string ReadPart(std::string_view name, std::uint64_t limit) const;
    const TZipEntry* FindPart(std::string_view name) const { return archive_.Find(name); }

    // Targets of a part's relationships of the given type (the last path segment of the type
    // URI, e.g. "worksheet", "table"), resolved to part names, with their ids.
    struct TRelationship {
        std::string Id, Type, Target;
    };
    std::vector<TRelationship> Relationships(std::string_view partName) const;

  private:
    void ReadWorkbook();
    void ReadSharedStrings(const std::string& part);
    void ReadStyles(const std::string& part);

    TZipArchive archive_;
    std::string workbookPart_;
    std::string stylesPart_;
    std::vector<TSheetInfo> sheets_;
    std::vector<TDefinedName> names_;
    bool date1904_ = false;
    std::string strings_;  // UTF-8, all shared strings one after another
    std::vector<std::uint64_t> stringOffsets_;
    std::vector<TStyleKind> styleKinds_;
    std::int64_t dateStyle_ = -1;
};

// Resolves a relationship target against the folder of the part that owns the relationship.
std::string ResolvePartName(std::string_view sourcePart, std::string_view target);

// Decodes Excel's "_xHHHH_" escapes of characters XML cannot carry.
std::u16string UnescapeOoxml(std::u16string_view text);

using sheet::ClassifyNumberFormat;

}  // namespace qm::xlsx
