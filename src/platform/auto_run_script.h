// The auto-run file: one command line that starts the program with a given argument list.
//
// On Windows it is a batch file: every argument in double quotes with inner quotes doubled,
// the quoted arguments separated by one blank, each line of the text ended by CR LF. cmd.exe
// splits it again by rules that drop every quote, so values holding a double quote do not come
// back whole. On this platform it is a POSIX shell script: "#!/bin/sh", then the command line
// with every argument single-quoted for sh (a single quote inside written as '\''), ended by
// LF. sh hands the program exactly the arguments written, blanks, quotes, non-ASCII text and
// line breaks included. Both are written in the system's legacy code page, without a byte-order
// mark; the script is made executable.
#pragma once

#include <string>
#include <string_view>

namespace qm {

enum class TAutoRunForm { WindowsBatch, PosixShell };

constexpr TAutoRunForm kNativeAutoRunForm =
#ifdef _WIN32
    TAutoRunForm::WindowsBatch;
#else
    TAutoRunForm::PosixShell;
#endif

// One argument as the form's command line must carry it.
std::u16string QuoteAutoRunArgument(std::u16string_view argument, TAutoRunForm form);

// The whole file for a command line of already quoted arguments, as text.
std::u16string AutoRunFileText(std::u16string_view commandLine, TAutoRunForm form);

// Writes the file in the legacy code page, replacing any old one; throws Error naming the
// file when it cannot be written.
void WriteAutoRunFile(const std::u16string& path, std::u16string_view commandLine,
                      TAutoRunForm form = kNativeAutoRunForm);

}  // namespace qm
