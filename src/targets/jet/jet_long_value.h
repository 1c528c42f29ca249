// Long values (memo, OLE): the 12-byte reference in the row and the value it stands for,
// stored inline, as one row of an LVAL page, or as a chain of LVAL rows.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_page_file.h"

namespace qm::jet {

inline constexpr std::size_t kLongValueReferenceSize = 12;

// Reads the whole value. `pagesVisited`, when given, receives the LVAL pages the value uses.
std::string ReadLongValue(const TJetPageFile& file, std::span<const std::uint8_t> reference,
                          std::vector<std::uint32_t>* pagesVisited = nullptr);

}  // namespace qm::jet
