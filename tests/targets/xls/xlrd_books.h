// The workbooks xlrd reads (through xlrd_dump.py), for comparing the .xls engine with an
// independent reader, and the comparison of our reader's cells with xlrd's.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "targets/sheet/sheet_table.h"
#include "targets/value.h"
#include "targets/xls/xls_sheet.h"
#include "targets/xls/xls_workbook.h"
#include "text/unicode.h"

namespace qm {

struct TXlrdCell {
    char Kind = 0;  // n d s b e
    std::string Value;
};

struct TXlrdSheet {
    std::string Name;
    std::map<std::pair<std::uint32_t, std::uint32_t>, TXlrdCell> Cells;  // (row, col), 0-based
};

struct TXlrdName {
    std::string Name;
    int Scope = -1, Sheet = -1;
    bool Hidden = false, BuiltIn = false;
    bool Single = false;       // the formula is one 3-D reference
    int RowLo = 0, RowHi = 0;  // the area's rows, 0-based, RowHi exclusive
};

struct TXlrdBook {
    std::string File;
    std::string Error;
    int Version = 0;
    bool Date1904 = false;
    std::vector<TXlrdSheet> Sheets;
    std::vector<TXlrdName> Names;
};

inline std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

inline std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::stringstream in(line);
    std::string part;
    while (std::getline(in, part, '\t'))
        parts.push_back(part);
    if (!line.empty() && line.back() == '\t') parts.emplace_back();
    return parts;
}

inline bool HaveXlrd() {
    return std::system("/usr/bin/python3 -c 'import xlrd' >/dev/null 2>&1") == 0;
}

// Runs a dumper that prints the line format of xlrd_dump.py over the files.
inline std::map<std::string, TXlrdBook> RunDumper(std::string command,
                                                  const std::vector<std::filesystem::path>& files) {
    for (const auto& file : files)
        command += " '" + file.string() + "'";
    std::map<std::string, TXlrdBook> books;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char buffer[65536];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    ::pclose(pipe);
    std::stringstream lines(output);
    std::string line;
    TXlrdBook* book = nullptr;
    while (std::getline(lines, line)) {
        std::vector<std::string> p = SplitTabs(line);
        if (p.size() < 2) continue;
        if (p[0] == "F") {
            book = &books[Unescape(p[1])];
            book->File = Unescape(p[1]);
        } else if (!book) {
            continue;
        } else if (p[0] == "E") {
            book->Error = Unescape(p[1]);
        } else if (p[0] == "V") {
            book->Version = std::stoi(p[1]);
        } else if (p[0] == "D") {
            book->Date1904 = p[1] == "1";
        } else if (p[0] == "S" && p.size() >= 3) {
            book->Sheets.push_back({Unescape(p[2]), {}});
        } else if (p[0] == "C" && p.size() >= 5 && !book->Sheets.empty()) {
            book->Sheets.back().Cells[{std::stoul(p[1]), std::stoul(p[2])}] = {p[3][0],
                                                                               Unescape(p[4])};
        } else if (p[0] == "N" && p.size() >= 11) {
            book->Names.push_back({Unescape(p[1]), std::stoi(p[2]), std::stoi(p[5]), p[3] == "1",
                                   p[4] == "1", p[10] == "1", std::stoi(p[6]), std::stoi(p[7])});
        }
    }
    return books;
}

inline std::map<std::string, TXlrdBook> RunXlrd(const std::vector<std::filesystem::path>& files) {
    return RunDumper("/usr/bin/python3 " QM_XLRD_DUMP, files);
}

inline std::u16string XlrdErrorText(int code) {
    switch (code) {
        case 0:
            return u"#NULL!";
        case 7:
            return u"#DIV/0!";
        case 15:
            return u"#VALUE!";
        case 23:
            return u"#REF!";
        case 29:
            return u"#NAME?";
        case 36:
            return u"#NUM!";
        case 42:
            return u"#N/A";
        default:
            return u"?";
    }
}

inline bool IsBlankXlrd(const TXlrdCell* cell) {
    return !cell || (cell->Kind == 's' && cell->Value.empty());
}

// "" when our value is what xlrd read, else both sides.
inline std::string Difference(const TValue& ours, const TXlrdCell* theirs, bool date1904) {
    std::string mine = Utf16ToUtf8(ValueToDisplayText(ours));
    std::string description =
        "ours [" + mine + "] xlrd [" +
        (theirs ? std::string(1, theirs->Kind) + ":" + theirs->Value : std::string("(none)")) + "]";
    if (IsNull(ours)) return theirs ? description : "";
    if (!theirs) return description;
    switch (theirs->Kind) {
        case 'n': {
            double number = std::stod(theirs->Value);
            if (const double* d = std::get_if<double>(&ours))
                return *d == number ? "" : description;
            if (const auto* c = std::get_if<TCurrency>(&ours))
                return c->Scaled == std::llround(number * 10000) ? "" : description;
            return description;
        }
        case 'd': {
            double serial = std::stod(theirs->Value);
            if (const auto* date = std::get_if<TDateTime>(&ours))
                return date->Days == sheet::SerialToDays(serial, date1904) ? "" : description;
            return description;
        }
        case 's': {
            const auto* text = std::get_if<std::u16string>(&ours);
            return text && *text == Utf8ToUtf16(theirs->Value) ? "" : description;
        }
        case 'b': {
            const bool* b = std::get_if<bool>(&ours);
            return b && *b == (theirs->Value == "1") ? "" : description;
        }
        case 'e': {
            const auto* text = std::get_if<std::u16string>(&ours);
            return text && *text == XlrdErrorText(std::stoi(theirs->Value)) ? "" : description;
        }
        default:
            return description;
    }
}

inline const TXlrdCell* Find(const TXlrdSheet& sheet, std::uint32_t row, std::uint32_t col) {
    auto found = sheet.Cells.find({row, col});
    return found == sheet.Cells.end() ? nullptr : &found->second;
}

// Every cell of one worksheet, read with the engine's sheet reader.
inline void CompareCells(const xls::TXlsWorkbook& book, std::size_t index, const TXlrdSheet& theirs,
                         bool date1904, int& compared) {
    xls::TXlsSheet sheet(book, index);
    std::uint32_t rows = sheet.RowEnd();
    for (const auto& [at, cell] : theirs.Cells)
        rows = std::max(rows, at.first + 1);
    std::vector<xls::TXlsCell> cells;
    int differences = 0;
    for (std::uint32_t r = 0; r < rows; ++r) {
        sheet.ReadRow(r, cells);
        std::map<std::uint32_t, const TValue*> ours;
        for (const auto& cell : cells)
            if (!IsNull(cell.Value)) ours[cell.Column] = &cell.Value;
        for (auto it = theirs.Cells.lower_bound({r, 0});
             it != theirs.Cells.end() && it->first.first == r; ++it)
            ours.emplace(it->first.second, nullptr);
        for (const auto& [col, value] : ours) {
            std::string difference =
                Difference(value ? *value : TValue{}, Find(theirs, r, col), date1904);
            ++compared;
            if (!difference.empty() && ++differences <= 5)
                ADD_FAILURE() << "cell (" << r << "," << col << "): " << difference;
        }
    }
}

}  // namespace qm
