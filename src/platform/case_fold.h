// Comparing texts without regard to letter case, as the desktop platform's locale-aware
// comparison does for the scripts that have case: Latin (basic, Latin-1, Latin Extended-A),
// Greek, Cyrillic and the full-width Latin letters. Everything else compares by code unit.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The lower-case partner of one UTF-16 unit, or the unit itself.
char16_t FoldCase(char16_t unit) noexcept;
std::u16string FoldCase(std::u16string_view text);

// True when the texts are equal once letter case is ignored.
bool SameText(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace qm
