// The association tool's side of the request file: what a request asks for, and the desktop
// files that carry it out on this platform (a shared-mime-info package declaring the file
// type, and a desktop entry that opens such files with the program).
//
// Everything here is pure text work, so that the fuzz target and the tests reach it without
// touching the user's folders; lindrel_task.h writes the files.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "project/ini_document.h"

namespace qm {

struct TLindrelRequest {
    enum class TTask { Register = 1, Remove = 2 };
    TTask Task = TTask::Register;
    std::u16string Extension;  // with its dot, as ".QLM"
    // Register only:
    std::u16string Command;  // "<program>" "%1"
    std::u16string FileType;
    std::u16string IconFile;
    std::int32_t IconIndex = 0;  // an index into a Windows program's icons; unused here
};

// Reads and checks a request. Throws Error with a message naming the faulty key. TASK/CLOSE
// asks the Windows tool to close its window at the end; this tool has none and always ends.
TLindrelRequest ReadLindrelRequest(const TIniDocument& document);

// Splits a command line by the Windows rules the command was written for: blanks and tabs
// separate arguments except between double quotes; "" inside quotes is a literal quote;
// backslashes are literal except before a double quote, where 2n of them give n and the quote
// keeps its meaning, and 2n+1 give n and a literal quote.
std::vector<std::u16string> SplitCommandLine(std::u16string_view command);

// The names the files of an extension go by: ".qlm" in any case gives the type
// application/x-quillomat-project; any other extension "application/x-quillomat-<ext>".
std::string MimeTypeName(std::u16string_view extension);
std::string MimePackageFileName(std::u16string_view extension);  // "quillomat-qlm.xml"
std::string DesktopFileName(std::u16string_view extension);      // "quillomat-qlm.desktop"

// The desktop entry's Exec value (before the file's own escaping of backslashes): arguments
// quoted as the desktop entry format asks, "%1" becoming the field code %f for the file.
std::string DesktopExec(const std::vector<std::u16string>& arguments);

// The file contents for a registering request (UTF-8).
std::string MimePackageXml(const TLindrelRequest& request);
std::string DesktopEntry(const TLindrelRequest& request);

}  // namespace qm
