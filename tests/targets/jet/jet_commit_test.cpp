// The commit of an Access transaction as the one commit protocol of the file seam: whatever
// write, flush or rename fails, tears or "crashes", the database is the old file byte for byte
// or the complete new one, and what a crash leaves beside it goes at the next opening; owners,
// modes and extended attributes are kept; a hard-linked database is refused; Access's lock file
// is ours while we write; and two imports into one database at once both land, one after the
// other.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <set>

#include "jet_independent_readers.h"
#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/target_lock.h"
#include "platform/yield.h"
#include "targets/engine.h"
#include "targets/jet/jet_builder.h"
#include "targets/jet/jet_check.h"
#include "targets/target_access.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm::jet {
namespace {

namespace fs = std::filesystem;
using TPoint = TFileSystemFaults::TPoint;
using TEffect = TFileSystemFaults::TEffect;

// An .accdb table with an AutoNumber primary key and a numeric index, holding `rows` rows.
std::string SalesDatabase() {
    TJetBuilder builder(
        {{u"売上",
          {{u"ID", kTypeLong, 0, true}, {u"番号", kTypeBigInt}, {u"名前", kTypeText, 20}},
          {{u"PrimaryKey", {0}, true, true}, {u"番号", {1}}}}},
        TBuildFormat::Ace12);
    return builder.Finish();
}

std::unique_ptr<TEngine> Open(const fs::path& file) {
    return OpenEngine(GetConnectionString(Utf8ToUtf16(file.string())));
}

// Enough rows to fill new data pages and index leaves.
std::vector<std::vector<TValue>> Rows(int count, const std::string& tag) {
    std::vector<std::vector<TValue>> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(
            {TValue{}, std::int64_t{i * 7 % 101}, Utf8ToUtf16(tag + "行" + std::to_string(i))});
    return rows;
}

void Append(const fs::path& file, const std::vector<std::vector<TValue>>& rows) {
    auto engine = Open(file);
    auto table = engine->OpenTable(u"売上");
    engine->BeginTransaction();
    try {
        for (const auto& row : rows)
            table->AppendRow(row);
        engine->CommitTransaction(nullptr);
    } catch (...) {
        engine->RollbackTransaction();
        throw;
    }
}

std::set<std::string> Entries(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.insert(entry.path().filename().string());
    return names;
}

// What the independent readers and the strict checker of the command line say of the new file.
void ExpectCompleteNewFile(const fs::path& file, std::size_t rows) {
    const auto check = test::RunCli("check --strict '" + file.string() + "'");
    EXPECT_EQ(check.status, 0) << check.out;
    const std::string missing = readers::MissingReaders();
    if (!missing.empty()) {
        std::printf("independent readers not compared: %s\n", missing.c_str());
        return;
    }
    EXPECT_EQ(readers::ReadWithMdbTools(file.string())["売上"].rows.size(), rows);
    EXPECT_EQ(readers::ReadWithMdbReader(file.string())["売上"].rows.size(), rows);
    EXPECT_GT(readers::ExpectReadersAgree(file.string(), "new file"), 0u);
}

TEST(JetCommit, EveryFaultLeavesTheOldFileOrTheCompleteNewOne) {
    test::TempDir dir;
    const fs::path file = dir.Path() / "売上.accdb";
    const std::string before = SalesDatabase();
    const auto rows = Rows(300, "新");
    test::TempDir refDir;
    const auto reference = refDir.Write("売上.accdb", before);
    TFileSystemFaults::Reset();
    Append(reference, rows);
    const int writes = TFileSystemFaults::Writes();
    const int flushes = TFileSystemFaults::Flushes();
    const int renames = TFileSystemFaults::Renames();
    ASSERT_GT(writes, 3);   // the copy and pages
    ASSERT_EQ(flushes, 2);  // the file, then its folder
    ASSERT_EQ(renames, 1);
    const std::string after = test::ReadBytes(reference);
    ASSERT_NE(after, before);
    ExpectCompleteNewFile(reference, rows.size());

    struct TPointCase {
        TPoint point;
        int count;
        const char* name;
    };
    const TPointCase points[] = {{TPoint::Write, writes, "write"},
                                 {TPoint::Flush, flushes, "flush"},
                                 {TPoint::Rename, renames, "rename"}};
    const std::pair<TEffect, const char*> effects[] = {{TEffect::Fail, "fail"},
                                                       {TEffect::Torn, "torn"},
                                                       {TEffect::Crash, "crash"},
                                                       {TEffect::TornCrash, "torn crash"}};
    int newFiles = 0;
    for (const auto& point : points)
        for (const auto& [effect, effectName] : effects)
            for (int n = 1; n <= point.count; ++n) {
                SCOPED_TRACE(std::string(point.name) + " " + std::to_string(n) + " " + effectName);
                dir.Write("売上.accdb", before);
                TFileSystemFaults::Plan(point.point, n, effect);
                bool failed = false;
                try {
                    Append(file, rows);
                } catch (const Error&) {
                    failed = true;
                } catch (const TSimulatedCrash&) {
                    failed = true;
                }
                const bool crashed = TFileSystemFaults::Crashed();
                TFileSystemFaults::Reset();
                const std::string now = test::ReadBytes(file);
                const bool old = now == before;
                ASSERT_TRUE(old || now == after);
                if (!old) {
                    ++newFiles;
                    // Only the folder's flush, after the rename, may fail and keep the new file.
                    EXPECT_TRUE(point.point == TPoint::Flush && n == flushes);
                } else {
                    EXPECT_TRUE(failed);
                }
                if (!crashed) {
                    EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"売上.accdb"});
                }
                // The next opening removes what a killed writer left: temporary, lock files.
                Open(file);
                EXPECT_EQ(Entries(dir.Path()), std::set<std::string>{"売上.accdb"});
            }
    EXPECT_EQ(newFiles, 4);  // the folder's flush, under each effect
}

TEST(JetCommit, OwnerGroupModeAndAttributesAreKept) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs the superuser";
    test::TempDir dir;
    const auto file = dir.Write("他人.accdb", SalesDatabase());
    ASSERT_EQ(::chown(file.c_str(), 4321, 8765), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const bool xattrs = ::setxattr(file.c_str(), "user.quillomat-test", "値", 3, 0) == 0;
    Append(file, Rows(5, "x"));
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 8765u);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (xattrs) {
        char value[8] = {};
        EXPECT_EQ(::getxattr(file.c_str(), "user.quillomat-test", value, sizeof value), 3);
        EXPECT_STREQ(value, "値");
    } else {
        std::printf("extended attributes not compared: the file system refuses user ones\n");
    }
    EXPECT_EQ(Open(file)->OpenTable(u"売上")->RowCount(), 5);
}

TEST(JetCommit, AHardLinkedDatabaseIsRefused) {
    test::TempDir dir;
    const auto file = dir.Write("共有.accdb", SalesDatabase());
    fs::create_hard_link(file, dir.Path() / "別名.accdb");
    const std::string bytes = test::ReadBytes(file);
    EXPECT_NE(test::ErrorOf([&] { Append(file, Rows(3, "x")); }).find("ハードリンク"),
              std::string::npos);
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
    EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"共有.accdb", "別名.accdb"}));
}

// Seen from the commit's turns for the user interface: Access's lock file and its content.
fs::path gLockPath;
std::string gLockSeen;

TEST(JetCommit, AccesssLockFileIsOursWhileWritingAndOnlyOursIsRemoved) {
    test::TempDir dir;
    const auto file = dir.Write("共有.mdb", [] {
        TJetBuilder builder(
            {{u"売上",
              {{u"ID", kTypeLong, 0, true}, {u"番号", kTypeBigInt}, {u"名前", kTypeText, 20}}}});
        return builder.Finish();
    }());
    gLockPath = dir.Path() / "共有.ldb";
    gLockSeen.clear();
    const TYieldHook previous = SetYieldHook([] {
        if (gLockSeen.empty()) gLockSeen = test::ReadBytes(gLockPath);
    });
    Append(file, Rows(2, "a"));
    SetYieldHook(previous);
    EXPECT_EQ(gLockSeen, QuillomatDatabaseLockContent());
    EXPECT_FALSE(fs::exists(gLockPath));

    // One of ours that a killed writer left goes when the database is opened; one that
    // appears later (no other program's) is used and left as it was found.
    dir.Write("共有.ldb", QuillomatDatabaseLockContent());
    auto engine = Open(file);
    EXPECT_FALSE(fs::exists(gLockPath));
    auto table = engine->OpenTable(u"売上");
    dir.Write("共有.ldb", QuillomatDatabaseLockContent());
    engine->BeginTransaction();
    for (const auto& row : Rows(2, "b"))
        table->AppendRow(row);
    engine->CommitTransaction(nullptr);
    EXPECT_EQ(test::ReadBytes(gLockPath), QuillomatDatabaseLockContent());
    EXPECT_EQ(table->RowCount(), 4);

    // Access's own refuses before anything is written.
    dir.Write("共有.ldb", std::string(64, 'A'));
    const std::string bytes = test::ReadBytes(file);
    EXPECT_NE(test::ErrorOf([&] { Append(file, Rows(2, "c")); }).find("他のプログラム"),
              std::string::npos);
    EXPECT_TRUE(test::ReadBytes(file) == bytes);
    EXPECT_EQ(Entries(dir.Path()), (std::set<std::string>{"共有.mdb", "共有.ldb"}));
}

// A transaction begun on a database that another import replaced after it was read reads it
// again, so that both imports' rows stay.
TEST(JetCommit, ATransactionReadsADatabaseReplacedSinceItWasOpened) {
    test::TempDir dir;
    const auto file = dir.Write("共有.accdb", SalesDatabase());
    auto engine = Open(file);
    auto table = engine->OpenTable(u"売上");
    Append(file, Rows(3, "先"));  // another import, in between
    engine->BeginTransaction();
    for (const auto& row : Rows(2, "後"))
        table->AppendRow(row);
    engine->CommitTransaction(nullptr);
    std::vector<TValue> values;
    std::vector<std::string> names;
    for (std::int64_t i = 0; table->ReadRow(i, values); ++i)
        names.push_back(Utf16ToUtf8(std::get<std::u16string>(values[2])));
    EXPECT_EQ(names, (std::vector<std::string>{"先行0", "先行1", "先行2", "後行0", "後行1"}));
}

// Two `quillomat-cli import` processes started together on one database: both succeed, one
// after the other, and the table holds exactly the rows of both.
TEST(JetCommit, TwoConcurrentImportsIntoOneDatabaseBothLand) {
    test::TempDir dir;
    const auto file = dir.Write("共有.accdb", SalesDatabase());
    const char* build = std::getenv("QM_BUILD_DIR");
    const std::string cli = std::string(build ? build : ".") + "/src/cli/quillomat-cli";
    auto import = [&](const std::string& tag) {
        return "( '" + cli + "' import '-e=" + file.string() +
               "' -w=売上 '-c=" + (dir.Path() / (tag + ".csv")).string() +
               "' -f=-1 '-r=番号=0,名前=1' > '" + (dir.Path() / (tag + ".out")).string() +
               "' 2>&1; echo $? > '" + (dir.Path() / (tag + ".rc")).string() + "' ) &";
    };
    constexpr int kRounds = 3, kRows = 200;
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE(round);
        for (const char* tag : {"A", "B"}) {
            std::string csv = "番号,名前\n";
            for (int i = 0; i < kRows; ++i)
                csv += std::to_string(i) + "," + tag + std::to_string(round) + "-" +
                       std::to_string(i) + "\n";
            dir.Write(std::string(tag) + ".csv", csv);
        }
        const std::string script = import("A") + " " + import("B") + " wait";
        ASSERT_EQ(std::system(script.c_str()), 0);
        for (const char* tag : {"A", "B"})
            EXPECT_EQ(test::ReadBytes(dir.Path() / (std::string(tag) + ".rc")), "0\n")
                << test::ReadBytes(dir.Path() / (std::string(tag) + ".out"));
    }
    // Every row of every import once, each import's rows together and in order.
    auto engine = Open(file);
    auto table = engine->OpenTable(u"売上");
    std::vector<TValue> values;
    std::set<std::string> names;
    std::vector<std::string> runs;  // the imports, in the order their rows come
    std::int64_t count = 0;
    for (; table->ReadRow(count, values); ++count) {
        const std::string name = Utf16ToUtf8(std::get<std::u16string>(values[2]));
        names.insert(name);
        const std::string run = name.substr(0, name.find('-'));
        if (runs.empty() || runs.back() != run) {
            EXPECT_EQ(name, run + "-0");
            runs.push_back(run);
        }
    }
    EXPECT_EQ(count, 2 * kRounds * kRows);
    EXPECT_EQ(names.size(), static_cast<std::size_t>(2 * kRounds * kRows));
    EXPECT_EQ(runs.size(), static_cast<std::size_t>(2 * kRounds));
    const std::string missing = readers::MissingReaders();
    if (missing.empty())
        EXPECT_EQ(readers::ReadWithMdbTools(file.string())["売上"].rows.size(),
                  static_cast<std::size_t>(2 * kRounds * kRows));
    else
        std::printf("independent readers not compared: %s\n", missing.c_str());
    const auto db = TJetDatabase::Open(Utf8ToUtf16(file.string()));
    EXPECT_TRUE(CheckDatabase(*db, {true}).Consistent());
}

}  // namespace
}  // namespace qm::jet
