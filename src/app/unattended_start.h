// The unattended start: the program started with two or more arguments, "-a" among them, imports
// the project the options describe. With a display it does so in the window (TFormMain); where no
// window can be shown (a cron job, a server, an SSH session without X forwarding) it runs the
// same import without one: progress and the outcome go to standard error, a failure is also
// appended to error.log in the settings folder, and the exit status is that of
// "quillomat-cli import" (0 committed, 1 failed and nothing written, 2 a wrong option, 130
// cancelled by SIGINT or SIGTERM).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace qm {

// The command line as the program got it (the program's path first).
std::vector<std::u16string> ProgramArguments(int argc, char** argv);

// True for two or more arguments after the program path with "-a" (any letter case) among them.
bool IsUnattendedStart(const std::vector<std::u16string>& arguments);

// True for exactly one argument after the program path that is none of the program's options:
// the path of a project file, as the desktop passes it when such a file is opened.
bool IsProjectFileStart(const std::vector<std::u16string>& arguments);

// The import without a window; returns the exit status. Progress and the outcome are written to
// 'messages'; a failure is also appended to error.log.
int RunHeadlessImport(const std::vector<std::u16string>& arguments, std::FILE* messages);

}  // namespace qm
