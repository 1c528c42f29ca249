// --help and --version of the three programs (quillomat, quillomat-cli, lindrel). The help
// texts are made at build time from the same descriptions as the manual pages
// (packaging/manual/*.json), and the version comes from the version block.
#pragma once

#include <string>
#include <string_view>

namespace qm {

// The --help text of a program, by its name; null for a name without one.
const char* ProgramHelpText(std::string_view program);

// The --version text: "PROGRAM (Quillomat) FILE-VERSION" and the copyright holder, one a line.
std::string ProgramVersionText(std::string_view program);

// When the only argument is --help (or -h) or --version, prints that text on standard output
// and returns 0 (1 when it cannot be written); otherwise returns -1 and prints nothing, so that
// a program calls it first thing and goes on when it gives -1.
int RunProgramInfoOption(int argc, const char* const* argv, std::string_view program);

}  // namespace qm
