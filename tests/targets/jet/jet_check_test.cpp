// The consistency checker on built databases, with faults put in on purpose.
#include "targets/jet/jet_check.h"

#include <gtest/gtest.h>

#include "jet_sample_db.h"
#include "targets/jet/jet_bytes.h"
#include "targets/jet/jet_catalog.h"
#include "targets/jet/jet_table_def.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

constexpr std::uint32_t kTablePage = 4;  // the builder's first user table

std::string Joined(const std::vector<std::u16string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += Utf16ToUtf8(line) + "\n";
    return text;
}

TCheckReport Check(const std::string& bytes, bool strict = true) {
    const auto db = TJetDatabase::FromBytes(bytes, u"x.mdb");
    return CheckDatabase(*db, {strict});
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = static_cast<char>(v >> (8 * i));
}

TEST(JetCheck, BuiltDatabaseIsConsistentEvenWhenStrict) {
    const TCheckReport report = Check(sample::SampleDatabase(2000));
    EXPECT_TRUE(report.Consistent()) << Joined(report.problems);
    EXPECT_TRUE(report.warnings.empty());
    ASSERT_EQ(report.tables.size(), 3u);  // MSysObjects and the two user tables
}

TEST(JetCheck, FindsFaultsPutInOnPurpose) {
    const std::string good = sample::SampleDatabase(2000);
    const auto file = TJetPageFile::FromBytes(good, u"x.mdb");
    const TTableDef def = ReadTableDef(*file, kTablePage);
    const std::uint32_t dataPage = kTablePage + 2;  // after both definitions

    struct TCase {
        const char* name;
        std::string bytes;
        const char* expected;
        // Whether the check before writing to the other table must find it too: faults in
        // which pages are free must, faults confined to this table's rows need not.
        bool whenWritingTheOtherTable;
    };
    std::vector<TCase> cases;
    {
        std::string b = good;
        Put32(b, kTablePage * kPageSize + 16, def.rowCount + 1);  // count above the live rows
        cases.push_back({"row count", b, "行数", false});
    }
    {
        std::string b = good;  // a row deleted without the count going down
        const std::size_t slot = dataPage * kPageSize + 14;
        b[slot + 1] = static_cast<char>(b[slot + 1] | 0xC0);
        cases.push_back({"deleted row", b, "行数", false});
    }
    {
        std::string b = good;  // the first data page leaves the owned map
        const auto* p = reinterpret_cast<const std::uint8_t*>(b.data());
        const TRowPointer map = TRowPointer::FromRaw(def.ownedMap);
        const std::uint8_t* holder = p + map.page * kPageSize;
        const std::size_t row = ReadU16(holder + 14 + 2 * map.row) & 0x1FFF;
        if (holder[row] == 0) {
            const std::uint32_t start = ReadU32(holder + row + 1);
            const std::size_t at = map.page * kPageSize + row + 5 + (dataPage - start) / 8;
            b[at] = static_cast<char>(b[at] & ~(1 << ((dataPage - start) % 8)));
        } else {  // a reference map: clear the bit on its bitmap page
            const std::uint32_t bitmap = ReadU32(holder + row + 1);
            const std::size_t at = bitmap * kPageSize + 4 + dataPage / 8;
            b[at] = static_cast<char>(b[at] & ~(1 << (dataPage % 8)));
        }
        cases.push_back({"owned map", b, "所有ページのマップにありません", true});
    }
    {
        std::string b = good;  // the global map calls a used page free
        const auto* p = reinterpret_cast<const std::uint8_t*>(b.data());
        const std::size_t row = ReadU16(p + kPageSize + 14) & 0x1FFF;
        const std::size_t at = kPageSize + row + 5 + dataPage / 8;
        b[at] = static_cast<char>(b[at] | (1 << (dataPage % 8)));
        cases.push_back({"global map", b, "空き", true});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TCheckReport report = Check(c.bytes);
        EXPECT_FALSE(report.Consistent());
        EXPECT_NE(Joined(report.problems).find(c.expected), std::string::npos)
            << Joined(report.problems);

        const auto db = TJetDatabase::FromBytes(c.bytes, u"x.mdb");
        const TCheckReport writingThis = CheckDatabaseForWriting(*db, {kTablePage});
        EXPECT_NE(Joined(writingThis.problems).find(c.expected), std::string::npos)
            << Joined(writingThis.problems);
        const TCheckReport writingOther = CheckDatabaseForWriting(*db, {kTablePage + 1});
        EXPECT_EQ(writingOther.Consistent(), !c.whenWritingTheOtherTable)
            << Joined(writingOther.problems);
    }
}

TEST(JetCheck, ALowStoredRowCountIsOnlyAWarningUnlessStrict) {
    std::string bytes = sample::SampleDatabase(10);
    Put32(bytes, kTablePage * kPageSize + 16, 9);
    const TCheckReport lenient = Check(bytes, false);
    EXPECT_TRUE(lenient.Consistent()) << Joined(lenient.problems);
    EXPECT_EQ(lenient.warnings.size(), 1u);
    EXPECT_FALSE(Check(bytes, true).Consistent());
}

}  // namespace
}  // namespace qm::jet
