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
#include "targets/jet/jet_builder.h"
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
    if (!Have("mdb-export --version") || !Have("node --version"))
        GTEST_SKIP() << "mdbtools or node is not installed (scripts/install-deps.sh installs them)";
    if (!Have("test -d '" QM_SOURCE_DIR "/scripts/npm/node_modules/mdb-reader'"))
        GTEST_SKIP() << "mdb-reader is not installed in scripts/npm (scripts/install-deps.sh)";
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

// Date/Time Extended's stored form: days since 0001-01-01, seconds of the day, 100-ns units.
std::u16string ExtendedDate(long long days, long long seconds, long long units) {
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%019lld:%012lld%07lld:7", days, seconds, units);
    return Utf8ToUtf16(std::string(buffer, 42));  // with the closing NUL
}

TEST(JetReaders, DateTimeExtendedTableOfAccess2019) {
    // As Access 2019 and later make it: a Date/Time Extended column, a text column with its
    // text form and a calculated Date/Time column, whose fixed 39-byte wrapper holds the
    // result. The last row's calculated cell is damaged: its wrapper claims 2 bytes.
    TJetBuilder builder({{u"予定",
                          {{u"ID", kTypeLong},
                           {u"日時", kTypeDateTimeExtended},
                           {u"文字", kTypeText, 40},
                           {u"計算", kTypeDateTime, 0, true}}}},
                        TBuildFormat::Ace17);
    auto text = [](std::u16string t) {
        TJetValue v;
        v.kind = TJetValue::Kind::Text;
        v.text = std::move(t);
        return v;
    };
    auto number = [](TJetValue::Kind kind, double real, std::int64_t integer = 0) {
        TJetValue v;
        v.kind = kind;
        v.real = real;
        v.integer = integer;
        return v;
    };
    // 2024-05-01 is day 739 006 after 0001-01-01 and day 45 413 after 1899-12-30.
    builder.AddRow(
        0, {number(TJetValue::Kind::Integer, 0, 1), text(ExtendedDate(739006, 49530, 1234567)),
            text(u"2024/05/01 13:45:30.1234567"),
            number(TJetValue::Kind::DateTime, 45413 + 49530 / 86400.0)});
    builder.AddRow(0,
                   {number(TJetValue::Kind::Integer, 0, 2), text(ExtendedDate(0, 0, 0)),
                    text(u"0001/01/01 0:00:00.0000000"),
                    number(TJetValue::Kind::DateTime, -657434)});  // Date/Time starts at 100-01-01
    TJetValue damaged;
    damaged.kind = TJetValue::Kind::Bytes;
    damaged.bytes = std::string(16, '\0') + std::string("\x02\0\0\0\x01\x02", 6);
    builder.AddRow(
        0, {number(TJetValue::Kind::Integer, 0, 3), text(ExtendedDate(3652058, 86399, 9999999)),
            text(u"9999/12/31 23:59:59.9999999"), damaged});
    test::TempDir dir;
    const std::string path = dir.Write("予定.accdb", builder.Finish()).string();

    const auto db = TJetDatabase::Open(Utf8ToUtf16(path));
    const auto table = db->OpenTable(u"予定");
    std::vector<std::vector<std::u16string>> rows;
    std::vector<TJetValue> values;
    for (auto cursor = table->Rows(); cursor.Next(values);) {
        rows.emplace_back();
        for (const auto& v : values)
            rows.back().push_back(FormatJetValue(v));
    }
    const std::vector<std::vector<std::u16string>> expected = {
        {u"1", u"2024/05/01 13:45:30.1234567", u"2024/05/01 13:45:30.1234567",
         u"2024/05/01 13:45:30"},
        {u"2", u"0001/01/01 0:00:00.0000000", u"0001/01/01 0:00:00.0000000", u"0100/01/01"},
        {u"3", u"9999/12/31 23:59:59.9999999", u"9999/12/31 23:59:59.9999999", u"#エラー"}};
    EXPECT_EQ(rows, expected);

    // mdb-reader reads the same file: the same dates in its own notation (it shows calculated
    // columns without unwrapping them, so those are left to the check above).
    if (!Have("node --version") ||
        !Have("test -d '" QM_SOURCE_DIR "/scripts/npm/node_modules/mdb-reader'"))
        GTEST_SKIP() << "node or mdb-reader is not installed (scripts/install-deps.sh)";
    const Tables reader = ReadWithMdbReader(path);
    ASSERT_EQ(reader.count("予定"), 1u);
    const Table& r = reader.at("予定");
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(r.rows.size(), 3u);
    const char* theirs[] = {"2024.05.01 13:45:30.123456700", "0001.01.01 00:00:00.000000000",
                            "9999.12.31 23:59:59.999999900"};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(r.rows[i].size(), 4u);
        EXPECT_EQ(r.rows[i][1].value_or("NULL"), theirs[i]);
        EXPECT_EQ(r.rows[i][2].value_or("NULL"), Utf16ToUtf8(rows[i][2]));
    }
}

}  // namespace
}  // namespace qm::jet
