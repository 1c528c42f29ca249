// Starting another program and waiting for its end (the Windows ShellExecuteExW with a process
// handle, then WaitForSingleObject without time limit): posix_spawn and waitpid.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qm {

// Starts the program file at 'path' with 'arguments' (each passed as one argument, unquoted,
// with the program's path as argv[0]) and the caller's environment, then blocks until it ends.
// Returns its exit status (128 + the signal's number when a signal ended it), or nothing when
// it could not be started (missing, not executable).
std::optional<int> RunProgramAndWait(const std::u16string& path,
                                     const std::vector<std::u16string>& arguments);

}  // namespace qm
