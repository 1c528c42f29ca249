// The full path of the running program file (the module file name on Windows).
#pragma once

#include <string>

namespace qm {

// Empty when the system does not tell.
std::u16string ProgramFilePath();

}  // namespace qm
