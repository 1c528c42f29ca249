// The association of the project file extension with the program. The program does not
// record it itself: it writes a request file (an INI document) into the temporary folder,
// runs the companion tool "lindrel" from its own folder with that file's path, waits for the
// tool to end and deletes the file. Nothing the tool does or fails to do is reported.
//
// A registering request reads, each line ended by CR LF, in the legacy code page:
//   [EXT] EXT=.QLM  COMMAND="<program>" "%1"  FILE_TYPE=<title> ファイル  ICON_FILE=<program>
//   ICON_INDEX=0, an empty line, [TASK] CLOSE=1  COMMAND=1, an empty line.
// A removing one: [EXT] EXT=.QLM, an empty line, [TASK] CLOSE=1  COMMAND=2, an empty line.
//
// The Windows edition passes an owner window to the tool's start; this platform's start has
// no use for one, so the functions take none.
#pragma once

#include <cstdint>
#include <string>

#include "project/ini_document.h"

namespace qm {

// The shell command that opens a file with the program: the program file's full path in
// double quotes, one blank, then %1 in double quotes.
std::u16string AssociationCommand(const std::u16string& programFile);

// The request documents, keys written in the order the tool's format lists them.
TIniDocument MakeSetAssociationRequest(const std::u16string& extension,
                                       const std::u16string& programFile,
                                       const std::u16string& fileType,
                                       const std::u16string& iconFile, std::int32_t iconIndex);
TIniDocument MakeRemoveAssociationRequest(const std::u16string& extension);

// Write the request into a TTempFile, run the tool and delete the file. Errors of the
// temporary folder or of writing the file propagate (the file is deleted, no tool started).
void SetFileAssociation(const std::u16string& extension, const std::u16string& fileType,
                        const std::u16string& iconFile, std::int32_t iconIndex);
void RemoveFileAssociation(const std::u16string& extension);

// The tool: "lindrel" in the folder of the program file.
std::u16string LindrelPath();
// Starts the tool with the request file's path as its one argument and waits for it without
// time limit. A tool that is missing or cannot start is passed over in silence.
void RunLindrel(const std::u16string& requestFile);

}  // namespace qm
