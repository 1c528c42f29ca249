#include "targets/sheet/sheet_table.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "platform/case_fold.h"
#include "platform/error.h"
#include "text/unicode.h"

namespace qm::sheet {

namespace {

bool IsLetterOrDigit(char16_t c) {
    return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') ||
           c == u'_' || c >= 0x80;
}

enum class TKind { Number, Currency, Date, Text, Boolean, None };

TKind KindOf(const TLayoutCell& cell) {
    const TValue& value = cell.Value;
    if (IsBlankValue(value)) return TKind::None;
    if (std::holds_alternative<bool>(value)) return TKind::Boolean;
    if (std::holds_alternative<TDateTime>(value)) return TKind::Date;
    if (std::holds_alternative<double>(value))
        return cell.Currency ? TKind::Currency : TKind::Number;
    return TKind::Text;
}

}  // namespace

std::u16string WorksheetTableName(std::u16string_view sheetName) {
    std::u16string name;
    bool quote = false;
    for (char16_t c : sheetName) {
        if (c == u'.') {
            name += u'#';
            quote = true;
        } else {
            if (!IsLetterOrDigit(c)) quote = true;
            name += c;
            if (c == u'\'') name += u'\'';
        }
    }
    name += u'$';
    return quote ? u"'" + name + u"'" : name;
}

std::u16string SheetNameTableName(std::u16string_view sheetName, std::u16string_view name) {
    std::u16string table = WorksheetTableName(sheetName);
    if (table.front() != u'\'') return table + std::u16string(name);
    return table.substr(0, table.size() - 1) + std::u16string(name) + u"'";
}

bool NamedTableLess(std::u16string_view a, std::u16string_view b) {
    return FoldCase(a) < FoldCase(b);
}

double SerialToDays(double serial, bool date1904) {
    if (date1904) return serial + 1462;
    if (serial >= 1 && serial < 61) return serial + 1;  // Excel's day 60 is the missing 1900-02-29
    return serial;
}

bool DaysToSerial(double days, bool date1904, double& serial) {
    if (!std::isfinite(days)) return false;
    if (date1904) {
        serial = days - 1462;
        return serial >= 0 && days < 2958466;
    }
    if (days >= 61)
        serial = days;
    else if (days >= 2)
        serial = days - 1;
    else if (days >= 0 && days < 1)
        serial = days;  // a time of day alone
    else
        return false;
    return days < 2958466;
}

TValue NumberCellValue(double number, bool dateFormat, bool date1904) {
    if (dateFormat) {
        double days = SerialToDays(number, date1904);
        TDateParts parts;
        if (number >= 0 && DecodeDateTime(TDateTime{days}, parts)) return TDateTime{days};
    }
    return number;
}

bool IsBlankValue(const TValue& value) {
    if (IsNull(value)) return true;
    if (const auto* text = std::get_if<std::u16string>(&value)) return text->empty();
    return false;
}

TValue FieldValue(TValue value, const TFieldDef& field) {
    if (field.DataType == ftBCD) {
        if (const double* number = std::get_if<double>(&value))
            return TCurrency{static_cast<std::int64_t>(std::llround(*number * 10000))};
    }
    return value;
}

TTableLayout ReadTableLayout(const TLayoutRowSource& rows, const TLayoutArea* area,
                             const std::u16string& tableName, const std::u16string& fileName,
                             const TLayoutColumnScan& scan) {
    TTableLayout layout;
    bool named = area != nullptr;
    auto inArea = [&](std::uint32_t column) {
        return !named || (column >= area->FirstColumn && column <= area->LastColumn);
    };
    std::map<std::uint32_t, TValue> header;
    std::vector<TLayoutCell> samples;  // the non-blank cells of the sampled rows
    std::uint32_t headerRow = named ? area->FirstRow : 0;
    std::uint32_t sampleEnd = 0;
    std::uint32_t number = 0;
    std::vector<TLayoutCell> cells;
    // Columns holding a value below the sampled rows, by 1-based column.
    std::vector<bool> usedBelow;
    auto noteUsed = [&usedBelow](const std::vector<TLayoutCell>& row) {
        for (const TLayoutCell& cell : row) {
            if (IsBlankValue(cell.Value)) continue;
            if (cell.Column >= usedBelow.size()) usedBelow.resize(cell.Column + 1);
            usedBelow[cell.Column] = true;
        }
    };
    bool more = false;  // the rows did not end with the sample
    while (rows(number, cells)) {
        if (headerRow == 0) {
            // A worksheet's table starts at its first row with a value.
            if (std::any_of(cells.begin(), cells.end(),
                            [](const TLayoutCell& c) { return !IsBlankValue(c.Value); }))
                headerRow = number;
            else
                continue;
        }
        if (sampleEnd == 0) {
            sampleEnd = headerRow + kTypeGuessRows;
            if (named) sampleEnd = std::min(sampleEnd, area->LastRow);
        }
        if (number < headerRow) continue;
        if (number > sampleEnd) {
            more = true;
            break;
        }
        for (TLayoutCell& cell : cells) {
            if (!inArea(cell.Column)) continue;
            if (number == headerRow)
                header[cell.Column] = std::move(cell.Value);
            else if (!IsBlankValue(cell.Value))
                samples.push_back(std::move(cell));
        }
    }
    if (headerRow == 0) return layout;  // an empty sheet has no fields
    layout.HeaderRow = headerRow;

    std::uint32_t first = 0, last = 0;
    if (named) {
        first = area->FirstColumn;
        last = area->LastColumn;
    } else {
        // Columns in which no row holds a value (formatted blanks at the edges) are not
        // fields; one whose header and sampled cells are empty is still a field when a row
        // further down holds a value in it.
        auto note = [&](std::uint32_t column) {
            if (first == 0 || column < first) first = column;
            if (column > last) last = column;
        };
        for (const auto& [column, value] : header)
            if (!IsBlankValue(value)) note(column);
        for (const TLayoutCell& cell : samples)
            note(cell.Column);
        if (more) {
            noteUsed(cells);  // the row that ended the sample
            for (std::uint32_t column = 1; column < usedBelow.size(); ++column)
                if (usedBelow[column]) note(column);
            if (scan) {
                scan(first, last, usedBelow);
            } else {
                while (rows(number, cells))
                    noteUsed(cells);
            }
            for (std::uint32_t column = 1; column < usedBelow.size(); ++column)
                if (usedBelow[column]) note(column);
        }
    }
    if (last - first + 1 > kMaxFields)
        throw Error(u"テーブル「" + tableName + u"」のフィールドが多すぎます（最大 255 個）。\n" +
                    fileName);
    layout.FirstColumn = first;
    layout.ColumnToField.assign(last - first + 1, -1);
    std::vector<std::u16string> names;
    for (std::uint32_t column = first; column <= last; ++column) {
        std::u16string name;
        auto found = header.find(column);
        if (found != header.end()) name = ValueToDisplayText(found->second);
        for (char16_t& c : name)
            if (c == u'.') c = u'#';  // Jet field names cannot hold "."
        if (name.size() > kMaxFieldName) name.resize(kMaxFieldName);
        if (name.empty()) {
            name = u"F";
            name += Utf8ToUtf16(std::to_string(column - first + 1));
        }
        // A repeated name gets the lowest number that makes it unique.
        auto taken = [&](const std::u16string& candidate) {
            return std::any_of(names.begin(), names.end(),
                               [&](const std::u16string& n) { return SameText(n, candidate); });
        };
        if (taken(name)) {
            for (int suffix = 1;; ++suffix) {
                std::u16string candidate = name + Utf8ToUtf16(std::to_string(suffix));
                if (!taken(candidate)) {
                    name = candidate;
                    break;
                }
            }
        }
        names.push_back(name);

        int counts[5] = {0, 0, 0, 0, 0};
        bool longText = false;
        for (const TLayoutCell& cell : samples) {
            if (cell.Column != column) continue;
            TKind kind = KindOf(cell);
            if (kind == TKind::None) continue;
            ++counts[static_cast<int>(kind)];
            if (const auto* text = std::get_if<std::u16string>(&cell.Value))
                if (text->size() > 255) longText = true;
        }
        // The majority wins; ties go to the earlier of Number, Currency, Date, Text, Boolean.
        int best = static_cast<int>(TKind::Text);
        int bestCount = 0;
        for (int kind = 0; kind < 5; ++kind) {
            if (counts[kind] > bestCount) {
                best = kind;
                bestCount = counts[kind];
            }
        }
        TFieldDef def;
        def.Name = name;
        switch (static_cast<TKind>(best)) {
            case TKind::Number:
                def.DataType = ftFloat;
                break;
            case TKind::Currency:
                def.DataType = ftBCD;
                def.Precision = 19;
                def.Scale = 4;
                break;
            case TKind::Date:
                def.DataType = ftDateTime;
                break;
            case TKind::Boolean:
                def.DataType = ftBoolean;
                break;
            default:
                def.DataType = longText ? ftWideMemo : ftWideString;
                def.Size = kCellTextLimit;
                break;
        }
        layout.ColumnToField[column - first] = static_cast<int>(layout.Fields.size());
        layout.Columns.push_back(column);
        layout.Fields.push_back(std::move(def));
    }
    return layout;
}

}  // namespace qm::sheet
