#include "targets/xlsx/cell_ref.h"

namespace qm::xlsx {

bool ParseCellRef(std::string_view text, TCellRef& ref) {
    ref = {};
    std::size_t i = 0;
    if (i < text.size() && text[i] == '$') ++i;
    std::uint32_t column = 0;
    std::size_t letters = 0;
    while (i < text.size() &&
           ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) {
        char c = static_cast<char>(text[i] & ~0x20);
        column = column * 26 + static_cast<std::uint32_t>(c - 'A' + 1);
        if (++letters > 3 || column > kMaxColumns) return false;
        ++i;
    }
    if (i < text.size() && text[i] == '$' && letters > 0) ++i;
    std::uint32_t row = 0;
    std::size_t digits = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        row = row * 10 + static_cast<std::uint32_t>(text[i] - '0');
        if (++digits > 7 || row > kMaxRows) return false;
        ++i;
    }
    if (i != text.size() || (letters == 0 && digits == 0)) return false;
    if (digits > 0 && row == 0) return false;
    ref.Row = row;
    ref.Column = column;
    return true;
}

bool ParseAreaRef(std::string_view text, TAreaRef& area) {
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        if (!ParseCellRef(text, area.First) || area.First.Row == 0 || area.First.Column == 0)
            return false;
        area.Last = area.First;
        return true;
    }
    if (!ParseCellRef(text.substr(0, colon), area.First) ||
        !ParseCellRef(text.substr(colon + 1), area.Last))
        return false;
    if (area.First.Row > area.Last.Row) std::swap(area.First.Row, area.Last.Row);
    if (area.First.Column > area.Last.Column) std::swap(area.First.Column, area.Last.Column);
    return true;
}

std::string ColumnName(std::uint32_t column) {
    std::string name;
    while (column > 0) {
        --column;
        name.insert(name.begin(), static_cast<char>('A' + column % 26));
        column /= 26;
    }
    return name;
}

std::string CellName(std::uint32_t row, std::uint32_t column) {
    return ColumnName(column) + std::to_string(row);
}

std::string AreaName(const TAreaRef& area) {
    std::string first = CellName(area.First.Row, area.First.Column);
    if (area.First.Row == area.Last.Row && area.First.Column == area.Last.Column) return first;
    return first + ":" + CellName(area.Last.Row, area.Last.Column);
}

std::string AbsoluteAreaName(const TAreaRef& area) {
    auto absolute = [](const TCellRef& r) {
        return "$" + ColumnName(r.Column) + "$" + std::to_string(r.Row);
    };
    std::string first = absolute(area.First);
    if (area.First.Row == area.Last.Row && area.First.Column == area.Last.Column) return first;
    return first + ":" + absolute(area.Last);
}

}  // namespace qm::xlsx
