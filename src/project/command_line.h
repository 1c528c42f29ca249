// Helpers of the command line: joining texts and reading and writing its boolean values.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm {

// The strings with the separator between neighbours; an empty list gives an empty string.
std::u16string JoinStrings(const std::vector<std::u16string>& strings,
                           std::u16string_view separator);

// "-1" for true, "0" for false.
std::u16string BoolToArgument(bool value);
// A number (true when it is not 0) or the word True or False in any letter case. Anything else
// throws Error "'value' は正しい論理型ではありません".
bool ArgumentToBool(std::u16string_view value);

}  // namespace qm
