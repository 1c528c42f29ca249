// Our reader against two independent ones, mdbtools (mdb-tables, mdb-export) and the npm
// package mdb-reader, on every readable sample database: table lists, column names and every
// row. Where the two agree, we must say the same; where they disagree, we must match one of
// them, and the test prints which (the known faults: mdbtools prints dates before 1900 and
// after 9999 wrongly; both mis-read calculated columns, which are compared by our own tests).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>

#include "jet_readable_fixtures.h"
#include "targets/jet/jet_database.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

using Cell = std::optional<std::string>;  // nullopt is NULL
struct Table {
    std::vector<std::string> columns;
    std::vector<std::vector<Cell>> rows;
    std::string error;
};
using Tables = std::map<std::string, Table>;

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    ::pclose(pipe);
    return out;
}

bool Have(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::vector<std::string> Split(const std::string& line, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = line.find(separator, start);
        parts.push_back(line.substr(start, end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

// Both tools escape \\, \t, \n, \r and write NULL as \N.
Cell Unescape(const std::string& text) {
    if (text == "\\N") return std::nullopt;
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out.push_back(text[i]);
            continue;
        }
        const char c = text[++i];
        out.push_back(c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c);
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines = Split(text, '\n');
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
}

Tables ReadWithMdbReader(const std::string& file) {
    const std::string command = "NODE_PATH='" QM_SOURCE_DIR
                                "/scripts/npm/node_modules' node '" QM_SOURCE_DIR
                                "/tests/targets/jet/mdb_reader_dump.js' '" +
                                file + "' 2>/dev/null";
    Tables tables;
    Table* current = nullptr;
    for (const std::string& line : Lines(Run(command))) {
        const auto parts = Split(line, '\t');
        if (parts[0] == "T") {
            current = &tables[*Unescape(parts[1])];
        } else if (parts[0] == "E") {
            tables[*Unescape(parts[1])].error = parts.size() > 2 ? parts[2] : "error";
            current = nullptr;
        } else if (current != nullptr && parts[0] == "C") {
            for (std::size_t i = 1; i < parts.size(); ++i)
                current->columns.push_back(*Unescape(parts[i]));
        } else if (current != nullptr && parts[0] == "R") {
            current->rows.emplace_back();
            for (std::size_t i = 1; i < parts.size(); ++i)
                current->rows.back().push_back(Unescape(parts[i]));
        }
    }
    return tables;
}

Tables ReadWithMdbTools(const std::string& file) {
    Tables tables;
    for (const std::string& name : Lines(Run("mdb-tables -1 '" + file + "'"))) {
        Table& table = tables[name];
        const auto lines =
            Lines(Run("mdb-export -Q -e -d '\t' -0 '\\N' -b hex -D '%Y-%m-%d %H:%M:%S' "
                      "-T '%Y-%m-%d %H:%M:%S' '" +
                      file + "' '" + name + "' 2>/dev/null"));
        if (lines.empty()) continue;
        for (const auto& column : Split(lines[0], '\t'))
            table.columns.push_back(column);
        for (std::size_t i = 1; i < lines.size(); ++i) {
            table.rows.emplace_back();
            for (const auto& cell : Split(lines[i], '\t'))
                table.rows.back().push_back(Unescape(cell));
        }
    }
    return tables;
}

enum class Source { Ours, MdbTools, MdbReader };

std::string DateText(double value) {
    const TJetDateParts p = SplitJetDate(value, true);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
    return buffer;
}

std::string StripZeros(std::string text) {
    if (text.find('.') == std::string::npos) return text;
    while (text.back() == '0')
        text.pop_back();
    if (text.back() == '.') text.pop_back();
    return text == "-0" ? "0" : text;
}

// One form for a cell of a column of `type`, whichever reader it came from.
std::string Canonical(const TColumnDef& column, const Cell& cell, Source source) {
    if (!cell) return "<NULL>";
    const std::string& text = *cell;
    char buffer[64];
    switch (column.type) {
        case kTypeSingle:
        case kTypeDouble:
            std::snprintf(buffer, sizeof buffer, column.type == kTypeSingle ? "%.6g" : "%.9g",
                          std::strtod(text.c_str(), nullptr));
            return buffer;
        case kTypeCurrency:
        case kTypeDecimal:
            return StripZeros(text);
        case kTypeDateTime:
            if (source == Source::MdbReader)
                return DateText(std::strtod(text.c_str(), nullptr) / 86400000.0 + 25569.0);
            return text;
        case kTypeBinary:
        case kTypeOle:
        case kTypeGuid: {
            std::string lower = text;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return lower;
        }
        default:
            return text;
    }
}

Cell OurCell(const TJetValue& value) {
    using Kind = TJetValue::Kind;
    switch (value.kind) {
        case Kind::Null:
            return std::nullopt;
        case Kind::Boolean:
            return value.integer ? "1" : "0";
        case Kind::DateTime:
            return DateText(value.real);
        case Kind::Float: {
            char buffer[64];
            std::snprintf(buffer, sizeof buffer, "%.17g", value.real);
            return buffer;
        }
        case Kind::Bytes: {
            std::string hex;
            char buffer[3];
            for (const unsigned char c : value.bytes) {
                std::snprintf(buffer, sizeof buffer, "%02x", c);
                hex += buffer;
            }
            return hex;
        }
        default:
            return Utf16ToUtf8(FormatJetValue(value));
    }
}

// The column's cells in canonical form, sorted (the readers do not all return rows in the same
// order).
using Column = std::vector<std::string>;
Column ColumnOf(const Table& table, std::size_t index, const TColumnDef& def, Source source) {
    Column cells;
    for (const auto& row : table.rows)
        cells.push_back(index < row.size() ? Canonical(def, row[index], source) : "<MISSING>");
    std::sort(cells.begin(), cells.end());
    return cells;
}

TEST(JetReaders, AgreeWithMdbToolsAndMdbReader) {
    QM_REQUIRE_FIXTURES();
    ASSERT_TRUE(Have("mdb-export --version") && Have("node --version"))
        << "mdbtools or node is not installed (scripts/install-deps.sh installs them)";
    ASSERT_TRUE(Have("test -d '" QM_SOURCE_DIR "/scripts/npm/node_modules/mdb-reader'"))
        << "mdb-reader is not installed in scripts/npm (scripts/install-deps.sh)";
    std::size_t cellsCompared = 0;
    for (const char* name : test::kReadableFixtures) {
        SCOPED_TRACE(name);
        const std::string path = (test::FixturesDir() / "access" / name).string();
        const auto db = TJetDatabase::Open(Utf8ToUtf16(path));
        const Tables tools = ReadWithMdbTools(path);
        const Tables reader = ReadWithMdbReader(path);

        std::set<std::string> ours, toolNames, readerNames;
        for (const auto& object : db->Catalog().Objects())
            if (object.kind == TObjectKind::Table) ours.insert(Utf16ToUtf8(object.name));
        for (const auto& [table, unused] : tools)
            toolNames.insert(table);
        for (const auto& [table, unused] : reader)
            readerNames.insert(table);
        EXPECT_EQ(toolNames, readerNames);
        if (toolNames == readerNames) {
            EXPECT_EQ(ours, toolNames);
        }

        for (const std::string& tableName : ours) {
            SCOPED_TRACE(tableName);
            const auto table = db->OpenTable(Utf8ToUtf16(tableName));
            Table mine;
            for (const auto& field : table->Fields())
                mine.columns.push_back(Utf16ToUtf8(field.name));
            std::vector<TJetValue> values;
            for (auto cursor = table->Rows(); cursor.Next(values);) {
                mine.rows.emplace_back();
                for (const auto& v : values)
                    mine.rows.back().push_back(OurCell(v));
            }
            const Table& t = tools.at(tableName);
            const Table& r = reader.count(tableName) ? reader.at(tableName) : Table{};
            EXPECT_EQ(mine.columns, t.columns);
            const bool readerOk = r.error.empty() && r.columns == t.columns;
            if (readerOk) {
                EXPECT_EQ(mine.columns, r.columns);
            }
            EXPECT_EQ(mine.rows.size(), t.rows.size());
            for (std::size_t i = 0; i < table->Fields().size(); ++i) {
                const TColumnDef& def = *table->Fields()[i].column;
                // Calculated columns are compared by our own tests: neither reader unwraps them.
                // Complex columns hold keys that the readers show differently (or not at all).
                if (def.IsCalculated() || def.type == kTypeComplex) continue;
                SCOPED_TRACE(mine.columns[i]);
                const Column o = ColumnOf(mine, i, def, Source::Ours);
                const Column m = ColumnOf(t, i, def, Source::MdbTools);
                cellsCompared += o.size();
                if (!readerOk) {
                    EXPECT_EQ(o, m);
                    continue;
                }
                const Column rr = ColumnOf(r, i, def, Source::MdbReader);
                if (m == rr) {
                    EXPECT_EQ(o, m);
                } else {
                    EXPECT_TRUE(o == m || o == rr);
                    std::printf("[readers disagree] %s %s.%s: ours matches %s\n", name,
                                tableName.c_str(), mine.columns[i].c_str(),
                                o == rr  ? "mdb-reader"
                                : o == m ? "mdbtools"
                                         : "neither");
                }
            }
        }
    }
    EXPECT_GT(cellsCompared, 10000u);
}

}  // namespace
}  // namespace qm::jet
