// Helpers for the CSV tests.
#pragma once

#include <string>
#include <vector>

#include "csv/csv.h"

namespace qm::test {

using Rows = std::vector<std::vector<std::u16string>>;

// The whole table through GetCell, padding included.
inline Rows TableOf(const TCsv& csv) {
    Rows rows(csv.GetRowCount());
    for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r)
        for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f)
            rows[r].push_back(csv.GetCell(r, f));
    return rows;
}

}  // namespace qm::test
