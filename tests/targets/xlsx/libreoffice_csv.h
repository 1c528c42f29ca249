// LibreOffice as a second independent reader: it converts workbooks to CSV, one file per sheet.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "xlsx_test_util.h"

namespace qm::test {

inline bool HaveLibreOffice() {
    return std::system("command -v soffice >/dev/null 2>&1") == 0;
}

// Converts the workbooks (all in one run, which saves LibreOffice's start-up) into 'out':
// "<out>/<base>-<sheet>.csv", UTF-8, values unformatted (dates as "YYYY-MM-DD HH:MM:SS").
inline bool LibreOfficeToCsv(const std::vector<std::filesystem::path>& books,
                             const std::filesystem::path& out) {
    std::string command =
        SofficeCommand() +
        " --headless --convert-to "
        "'csv:Text - txt - csv (StarCalc):44,34,76,1,,0,false,true,false,false,false,-1' "
        "--outdir '" +
        out.string() + "'";
    for (const auto& book : books)
        command += " '" + book.string() + "'";
    command += " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

inline std::vector<std::string> ReadLines(const std::filesystem::path& path) {
    std::string all = ReadBytes(path);
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < all.size()) {
        std::size_t end = all.find('\n', start);
        if (end == std::string::npos) end = all.size();
        lines.push_back(all.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

}  // namespace qm::test
