// Our reader against two independent ones, mdbtools (mdb-tables, mdb-export) and the npm
// package mdb-reader, on every readable sample database: table lists, column names and every
// row (see jet_independent_readers.h for the rules of the comparison).
#include <gtest/gtest.h>

#include "jet_independent_readers.h"
#include "jet_readable_fixtures.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_database.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

TEST(JetReaders, AgreeWithMdbToolsAndMdbReader) {
    QM_REQUIRE_FIXTURES();
    const std::string missing = readers::MissingReaders();
    ASSERT_TRUE(missing.empty()) << missing;
    std::size_t cellsCompared = 0;
    for (const char* name : test::kReadableFixtures) {
        SCOPED_TRACE(name);
        const std::string path = (test::FixturesDir() / "access" / name).string();
        cellsCompared += readers::ExpectReadersAgree(path, name);
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
                           {u"計算", kTypeDateTime, 0, false, true}}}},
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
    ASSERT_TRUE(readers::Have("node --version") &&
                readers::Have("test -d '" QM_SOURCE_DIR "/scripts/npm/node_modules/mdb-reader'"))
        << "node or mdb-reader is not installed (scripts/install-deps.sh)";
    const readers::Tables reader = readers::ReadWithMdbReader(path);
    ASSERT_EQ(reader.count("予定"), 1u);
    const readers::Table& r = reader.at("予定");
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
