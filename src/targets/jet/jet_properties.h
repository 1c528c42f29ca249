// Design-view properties of a table and its columns, kept in the LvProp long value of the
// table's MSysObjects row: "MR2\0", then chunks of property names (0x80), of the table's own
// properties (0x00) and of one column's properties (0x01).
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace qm::jet {

struct TJetProperties {
    using TValues = std::map<std::u16string, std::string>;  // property name → raw value bytes
    TValues table;
    std::map<std::u16string, TValues> columns;  // by column name
};

// Reads what it can: a damaged or unknown blob gives fewer properties, never an error (the
// properties only refine how values are shown).
TJetProperties ParseProperties(std::span<const std::uint8_t> blob);

}  // namespace qm::jet
