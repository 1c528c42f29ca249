// JSON strings for the commands' --json output.
#pragma once

#include <string>
#include <string_view>

namespace qm::cli {

// Appends `text` as a JSON string in UTF-8. A surrogate pair becomes one four-byte character;
// a surrogate without its partner cannot be written in UTF-8 and stays a \uXXXX escape, as do
// the control characters without a short escape.
void AppendJsonString(std::string& out, std::u16string_view text);

}  // namespace qm::cli
