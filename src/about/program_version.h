// The program's own version-information block: the keys and values the Windows edition carries
// in its version resource, compiled into the program.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The rights holder, named in CompanyName and LegalCopyright (and in the settings folder).
inline constexpr std::u16string_view kMakerName = u"Morvessa";

// The block, built once on first use.
const std::string& ProgramVersionBlock();

}  // namespace qm
