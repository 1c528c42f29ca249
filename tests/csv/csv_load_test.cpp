// Loading CSV files: decoding by the detected encoding, bad and unreadable files, and the
// shared sample files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <string>
#include <thread>

#include "csv/csv.h"
#include "csv_test_util.h"
#include "platform/native_path.h"
#include "platform/yield.h"
#include "test_util.h"

namespace qm {
namespace {

using namespace std::string_literals;
using test::Rows;
using test::TableOf;

std::u16string PathOf(const std::filesystem::path& path) {
    return FromNativePath(path.string());
}

struct TLoadCase {
    const char* name;
    std::string bytes;
    TDetectedEncoding encoding;
    TCodePage codePage;
    Rows cells;
};

TEST(CsvLoad, DecodesByTheDetectedEncoding) {
    const std::vector<TLoadCase> cases = {
        {"UTF-8 with a mark",
         "\xEF\xBB\xBF\xE5\x90\x8D\xE5\x89\x8D,x\r\n\"a,b\",c\r\n",
         deUTF8BOM,
         65001,
         {{u"名前", u"x"}, {u"a,b", u"c"}}},
        {"UTF-8 without a mark", "\xE3\x81\x82,\xE3\x81\x84\n", deUTF8, 65001, {{u"あ", u"い"}}},
        {"Shift_JIS",
         "\x88\xEA,\x93\xF1\r\n\x82\xA0\x81\x60,x\r\n",
         deSJIS,
         932,
         {{u"一", u"二"}, {u"あ～", u"x"}}},
        {"UTF-16LE with a mark",
         "\xFF\xFE"
         "a\0,\0\x42\x30\0\xD8\n\0"s,
         de16LE,
         1200,
         {{u"a", u"\u3042\xD800"}}},
        {"UTF-16BE with a mark", "\xFE\xFF\0a\0,\0b"s, de16BE, 1201, {{u"a", u"b"}}},
        // The mark is dropped, so the first field is still a quoted one.
        {"UTF-32LE with a mark",
         "\xFF\xFE\0\0\"\0\0\0a\0\0\0\"\0\0\0,\0\0\0b\0\0\0"s,
         de32LE,
         12000,
         {{u"a", u"b"}}},
        {"UTF-32BE with a mark",
         "\0\0\xFE\xFF\0\0\0a\0\0\0,\0\0\0b"s,
         de32BE,
         12001,
         {{u"a", u"b"}}},
        {"ASCII is widened", "id,name\n1,abc\n", deNone, 65535, {{u"id", u"name"}, {u"1", u"abc"}}},
        {"empty file", "", deNone, 65535, {}},
        {"one quote", "\"", deNone, 65535, {}},
        {"NUL bytes only", "\0\0\0\0\0\0"s, deNone, 65535, {}},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TCsv csv;
        TCsvLoadInfo info;
        ASSERT_TRUE(csv.LoadFromFile(PathOf(dir.Write("in.csv", c.bytes)), &info));
        EXPECT_EQ(info.encoding, c.encoding);
        EXPECT_EQ(info.codePage, c.codePage);
        EXPECT_EQ(TableOf(csv), c.cells);
    }
}

// A big file gives the user interface turns while it is read, widened or decoded, not only in
// quoted fields: plain files of 20 MB in each of the common encodings.
int gLoadTurns = 0;
void CountLoadTurn() {
    ++gLoadTurns;
}

TEST(CsvLoad, BigPlainFilesGiveTurnsWhileReadAndDecoded) {
    const struct {
        const char* name;
        std::string line;
    } cases[] = {
        {"ASCII", "12345,abcdef,xyz\n"},
        {"UTF-8", "\xE5\x90\x8D\xE5\x89\x8D,abc,1\n"},
        {"Shift_JIS", "\x88\xEA\x93\xF1,abc,1\n"},
    };
    test::TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string bytes;
        while (bytes.size() < (20u << 20))
            bytes += c.line;
        const auto path = PathOf(dir.Write("big.csv", bytes));
        TYieldHook previous = SetYieldHook(&CountLoadTurn);
        gLoadTurns = 0;
        TCsv csv;
        const bool loaded = csv.LoadFromFile(path);
        SetYieldHook(previous);
        ASSERT_TRUE(loaded);
        EXPECT_EQ(csv.GetRowCount(), bytes.size() / c.line.size());
        // Reading alone gives five; decoding and growing the text give more.
        EXPECT_GE(gLoadTurns, 10);
    }
}

TEST(CsvLoad, LoadedTableRefusesASecondLoad) {
    test::TempDir dir;
    TCsv csv;
    ASSERT_TRUE(csv.LoadFromFile(PathOf(dir.Write("a.csv", "a,b\n"))));
    EXPECT_FALSE(csv.LoadFromFile(PathOf(dir.Write("b.csv", "x\ny\nz\n"))));
    EXPECT_FALSE(csv.Parse(u"q"));
    EXPECT_EQ(TableOf(csv), (Rows{{u"a", u"b"}}));
}

TEST(CsvLoad, EmptyFileGivesAnEmptyTable) {
    test::TempDir dir;
    TCsv csv;
    ASSERT_TRUE(csv.LoadFromFile(PathOf(dir.Write("empty.csv", ""))));
    EXPECT_TRUE(csv.IsEmpty());
    EXPECT_EQ(csv.GetRowCount(), 0u);
    EXPECT_EQ(csv.GetFieldCount(), 0u);
}

TEST(CsvLoad, FilesThatCannotBeReadGiveFalse) {
    test::TempDir dir;
    std::filesystem::path file = dir.Write("plain.csv", "a,b\n");
    std::filesystem::create_directory(dir.Path() / "folder.csv");
    const std::filesystem::path paths[] = {
        dir.Path() / "missing.csv",
        dir.Path() / "folder.csv",
        file / "below-a-file.csv",
        "/dev/null",
        std::filesystem::path(std::string(5000, 'x')),
        "",
    };
    for (const auto& path : paths) {
        SCOPED_TRACE(path.string().substr(0, 80));
        TCsv csv;
        TCsvLoadInfo info;
        EXPECT_FALSE(csv.LoadFromFile(PathOf(path), &info));
        EXPECT_TRUE(csv.IsEmpty());
    }
}

TEST(CsvLoad, FileWithoutReadPermission) {
    test::TempDir dir;
    std::filesystem::path file = dir.Write("locked.csv", "a,b\n");
    std::filesystem::permissions(file, std::filesystem::perms::none);
    TCsv csv;
    bool loaded = csv.LoadFromFile(PathOf(file));
    if (::geteuid() == 0) {
        // The superuser reads regardless of the mode bits.
        EXPECT_TRUE(loaded);
    } else {
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(csv.IsEmpty());
    }
}

// Whatever the bytes, a load ends with a consistent table or with false.
TEST(CsvLoad, BinaryFilesLoadConsistently) {
    test::TempDir dir;
    std::mt19937 random(12345);
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        std::string bytes(static_cast<std::size_t>(random() % 200000), '\0');
        for (auto& b : bytes)
            b = static_cast<char>(random());
        if (round % 4 == 1) bytes.insert(0, "\xFF\xFE");
        if (round % 4 == 2) bytes.insert(0, "\xEF\xBB\xBF");
        TCsv csv;
        ASSERT_TRUE(csv.LoadFromFile(PathOf(dir.Write("bin.csv", bytes))));
        EXPECT_EQ(csv.GetRowCount() == 0, csv.GetFieldCount() == 0);
        for (std::uint32_t r = 0; r < csv.GetRowCount(); ++r)
            for (std::uint32_t f = 0; f < csv.GetFieldCount(); ++f)
                for (char16_t c : csv.GetCellView(r, f))
                    ASSERT_NE(c, u'\r');
    }
}

// A file that another process cuts short and refills while it is read: the load reports
// false when the bytes run out, and otherwise gives a table of the bytes it did read.
TEST(CsvLoad, FileChangingDuringTheRead) {
    test::TempDir dir;
    std::string content;
    for (int i = 0; i < 200000; ++i)
        content += "1234,abcd,\"q,q\"\n";
    std::filesystem::path file = dir.Write("moving.csv", content);
    std::string native = file.string();

    std::atomic<bool> stop = false;
    std::thread changer([&] {
        int fd = ::open(native.c_str(), O_WRONLY);
        if (fd < 0) return;
        while (!stop) {
            (void)!::ftruncate(fd, 0);
            (void)!::pwrite(fd, content.data(), content.size() / 2, 0);
            (void)!::ftruncate(fd, static_cast<off_t>(content.size()));
        }
        ::close(fd);
    });
    for (int i = 0; i < 30; ++i) {
        TCsv csv;
        if (csv.LoadFromFile(PathOf(file))) {
            EXPECT_LE(csv.GetFieldCount(), 3u);
            EXPECT_EQ(csv.GetRowCount() == 0, csv.GetFieldCount() == 0);
        } else {
            EXPECT_TRUE(csv.IsEmpty());
        }
    }
    // Removed outright: a missing file.
    stop = true;
    changer.join();
    std::filesystem::remove(file);
    TCsv csv;
    EXPECT_FALSE(csv.LoadFromFile(PathOf(file)));
}

// The shared sample files: real exports in every encoding the detector knows.
TEST(CsvLoad, SharedSampleFiles) {
    QM_REQUIRE_FIXTURES();
    const struct {
        const char* file;
        TDetectedEncoding encoding;
        TCodePage codePage;
        std::uint32_t rows;
        std::uint32_t fields;
        std::u16string first;  // cell (0, 0)
        std::u16string last;   // cell (rows - 1, 0)
    } cases[] = {
        {"csv-spectrum-quotes_and_newlines.csv", deNone, 65535, 3, 2, u"a", u"3"},
        // The last line holds only commas: no row.
        {"csvkit-FY09_EDU_Recipients_by_State-crlf.csv", deNone, 65535, 53, 9, u"State Name",
         u"PUERTO RICO"},
        // Lines end with a CR alone, and quoted cells hold CRs as line breaks.
        {"csvkit-census2000-determination_schema-cr.csv", deNone, 65535, 22, 6, u"field_num",
         u"21"},
        {"csvkit-ks_1033_data.csv", deNone, 65535, 1576, 14, u"state", u"KS"},
        {"datasets-country-codes.csv", deUTF8, 65001, 250, 56, u"FIFA", u"ZIM"},
        {"datasets-un-locode-country-codes.csv", deUTF8, 65001, 250, 2, u"CountryCode", u"SS"},
        {"estat-c01-population-sjis.csv", deSJIS, 932, 981, 9, u"都道府県コード", u"47"},
        {"ipadic-Noun.org-eucjp.csv", deEUC, 20932, 16668, 13, u"十勝毎日新聞社", u"野村総研"},
        {"japanese-river-infos-utf8bom-crlf.csv", deUTF8BOM, 65001, 110, 13, u"水系番号", u"109"},
        {"japanpost-KEN_ALL.CSV", deSJIS, 932, 124825, 15, u"01101", u"47382"},
        {"jma-eqdb-utf8bom-sections.csv", deUTF8BOM, 65001, 5, 8, u"地震の発生日",
         u"震央地名ダミー"},
        {"jma-obsdl-dl_data-sjis.csv", deSJIS, 932, 6, 8,
         u"ダウンロードした時刻：2023/09/06 13:25:25", u"2023/8/5"},
        {"takamatsu-0002-aed-cp932-excel.csv", deSJIS, 932, 523, 11, u"#LINK", u"520"},
        {"takamatsu-0062-utf8bom-lf.csv", deUTF8BOM, 65001, 637, 26, u"#LINK",
         u"jp.takamatsu.smartcity.medical.Hospital.651"},
        {"takamatsu-0066_202304-population-sjis-excel.csv", deSJIS, 932, 236, 49, u"#property",
         u"235"},
        {"takamatsu-0081-multiline-utf8bom.csv", deUTF8BOM, 65001, 952, 16, u"#LINK", u"943"},
        {"takamatsu-elderly-welfare-utf8-mixednl.csv", deUTF8, 65001, 48, 14, u"#property", u"47"},
        {"takamatsu-hospital-utf8-crlf.csv", deUTF8, 65001, 629, 16, u"#property",
         u"jp.takamatsu.smartcity.medical.Hospital.630"},
        {"yaizu-yohairyosya-cp932-multiline.csv", deSJIS, 932, 278, 16, u"№", u"1"},
        {"hasida-README-iso2022jp.jis", deJIS, 50220, 95, 5,
         u"README.jis in ISO-2022-JP for hashida-table",
         u"  す。結果としてこれは無断再配布可能だと理解しています。"},
    };
    const auto dir = test::FixturesDir() / "csv";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        if (!std::filesystem::exists(dir / c.file)) {
            ADD_FAILURE() << "sample file missing";
            continue;
        }
        TCsv csv;
        TCsvLoadInfo info;
        ASSERT_TRUE(csv.LoadFromFile(PathOf(dir / c.file), &info));
        EXPECT_EQ(info.encoding, c.encoding);
        EXPECT_EQ(info.codePage, c.codePage);
        EXPECT_EQ(csv.GetRowCount(), c.rows);
        EXPECT_EQ(csv.GetFieldCount(), c.fields);
        EXPECT_EQ(csv.GetCell(0, 0), c.first);
        EXPECT_EQ(csv.GetCell(csv.GetRowCount() - 1, 0), c.last);
    }
    // A quoted cell of the CR-only file keeps its line break, as LF.
    TCsv cr;
    ASSERT_TRUE(cr.LoadFromFile(PathOf(dir / "csvkit-census2000-determination_schema-cr.csv")));
    EXPECT_NE(cr.GetCell(1, 5).find(u"areas\n        represented"), std::u16string::npos);
}

}  // namespace
}  // namespace qm
