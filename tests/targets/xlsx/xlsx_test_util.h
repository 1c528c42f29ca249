// Helpers of the .xlsx engine tests.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "targets/connection.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::test {

// A connection and one open table of a workbook, as the main window holds them.
struct TOpenTable {
    TConnection Connection;
    TTable Table{Connection};

    TOpenTable(const std::filesystem::path& path, const std::u16string& name) {
        Connection.SetConnectionString(GetConnectionString(U16(path)));
        std::vector<std::u16string> names;
        Connection.GetTableNames(names, false);
        Table.SetTableName(u"[" + name + u"]");
        Table.Open();
    }

    // Every row as display texts joined by "|".
    std::vector<std::string> Rows() {
        std::vector<std::string> rows;
        std::vector<TValue> values;
        for (std::int64_t i = 0; Table.ReadRow(i, values); ++i) {
            std::string line;
            for (std::size_t f = 0; f < values.size(); ++f)
                line += (f ? "|" : "") + Utf16ToUtf8(ValueToDisplayText(values[f]));
            rows.push_back(line);
        }
        return rows;
    }

    // Inserts and posts one row; texts by field number (empty: unassigned).
    void Append(const std::vector<std::u16string>& texts) {
        Table.Insert();
        for (std::size_t i = 0; i < texts.size(); ++i)
            if (!texts[i].empty())
                Table.FieldByNumber(static_cast<int>(i + 1)).AssignText(texts[i]);
        Table.Post();
    }
};

inline bool HaveOpenpyxl() {
    return std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") == 0;
}

// The rows of a sheet as openpyxl reads them (see openpyxl_rows.py).
inline std::vector<std::string> OpenpyxlRows(const std::filesystem::path& path,
                                             const std::string& sheet) {
    std::string command =
        "/usr/bin/python3 '" QM_OPENPYXL_ROWS "' '" + path.string() + "' '" + sheet + "' 2>&1";
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return lines;
    std::string all;
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        all.append(buffer, n);
    int status = ::pclose(pipe);
    std::istringstream in(all);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    if (status != 0) lines.insert(lines.begin(), "openpyxl failed: " + all);
    return lines;
}

}  // namespace qm::test
