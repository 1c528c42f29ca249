#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/error.h"
#include "project/project.h"
#include "test_files.h"
#include "test_util.h"

namespace qm {
namespace {

using test::CodePageScope;
using test::ReadBytes;
using test::TempDir;
using test::U16;

TEST(ProjectFile, NewProjectWritesTheTenLines) {
    CodePageScope utf8("UTF-8");
    TempDir dir;
    auto path = dir.Path() / "new.QLM";
    TProject(u"", u"", u"", false).SaveToFile(U16(path));
    EXPECT_EQ(ReadBytes(path),
              "[SYSTEM]\r\nVERSION=0\r\n\r\n[CONFIG]\r\nExcelFile=\r\nExcelSheet=\r\nCsvFile=\r\n"
              "FirstLineIsTitle=0\r\nRelation=\r\n\r\n");
}

TEST(ProjectFile, RoundTrip) {
    CodePageScope utf8("UTF-8");
    TempDir dir;
    auto path = U16(dir.Path() / "p.QLM");
    TProject saved(u"/data/売上 2024.xlsx", u"Sheet1$", u"/in/a,b.csv", true);
    saved.Relation = {{u"氏名", 0}, {u"x=y", 1}, {u"My Field", 2}, {u"a\"b", 3}, {u"bad", -1}};
    saved.SaveToFile(path);

    TProject loaded(u"stale", u"stale", u"stale", false);
    loaded.Relation = {{u"stale", 9}};
    loaded.LoadFromFile(path);
    EXPECT_EQ(loaded.ExcelFile, saved.ExcelFile);
    EXPECT_EQ(loaded.ExcelSheet, saved.ExcelSheet);
    EXPECT_EQ(loaded.CsvFile, saved.CsvFile);
    EXPECT_TRUE(loaded.FirstLineIsTitle);
    EXPECT_EQ(loaded.Relation, saved.Relation);
}

// Line breaks in a sheet name, a path or a field name stay in their own values: the file
// keeps its ten lines, and every value and mapping comes back.
TEST(ProjectFile, LineBreaksInValuesAddNoKeys) {
    CodePageScope utf8("UTF-8");
    TempDir dir;
    auto path = dir.Path() / "p.QLM";
    TProject saved(u"/data/book\n.xlsx", u"Sheet1\nCsvFile=/tmp/evil.csv",
                   u"/in/a\r\nExcelSheet=x.csv", true);
    saved.Relation = {{u"品名\n(税込)", 1}, {u"line\r\nbreak", 2}, {u"plain", 0}};
    saved.SaveToFile(U16(path));

    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 10) << bytes;
    EXPECT_EQ(bytes.find("\nCsvFile=/tmp"), std::string::npos) << bytes;
    TProject loaded(u"", u"", u"", false);
    loaded.LoadFromFile(U16(path));
    EXPECT_EQ(loaded.ExcelFile, saved.ExcelFile);
    EXPECT_EQ(loaded.ExcelSheet, saved.ExcelSheet);
    EXPECT_EQ(loaded.CsvFile, saved.CsvFile);
    EXPECT_EQ(loaded.Relation, saved.Relation);
}

TEST(ProjectFile, LoadsLowerCaseNamesAndDefaults) {
    TempDir dir;
    auto path = dir.Write("p.QLM", "[config]\nexcelfile=C:\\a.xls\n");
    TProject project(u"x", u"x", u"x", true);
    project.Relation = {{u"x", 1}};
    project.LoadFromFile(U16(path));
    EXPECT_EQ(project.ExcelFile, u"C:\\a.xls");
    EXPECT_EQ(project.ExcelSheet, u"");
    EXPECT_EQ(project.CsvFile, u"");
    EXPECT_FALSE(project.FirstLineIsTitle);
    EXPECT_TRUE(project.Relation.empty());
}

TEST(ProjectFile, FirstLineIsTitleValues) {
    struct Case {
        const char* value;
        bool expected;
    } cases[] = {{"-1", true},    {"0x1", true}, {"$1", true}, {"1", true},
                 {"True", false}, {"", false},   {"0", false}};
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value);
        auto path = dir.Write("p.QLM", std::string("[CONFIG]\nFirstLineIsTitle=") + c.value + "\n");
        TProject project(u"", u"", u"", !c.expected);
        project.LoadFromFile(U16(path));
        EXPECT_EQ(project.FirstLineIsTitle, c.expected);
    }
}

TEST(ProjectFile, SavingOverAFileKeepsWhatItDoesNotKnow) {
    CodePageScope utf8("UTF-8");
    TempDir dir;
    auto path = dir.Write("p.QLM",
                          "; written by hand\r\n[system]\r\nversion = 5\r\n[CONFIG]\r\n"
                          "Extra=keep me\r\nexcelsheet=old\r\n[THIRD]\r\nK=V\r\n");
    TProject project(u"/a.xlsx", u"Sheet ", u"/a.csv", false);
    project.Relation = {{u"a", 0}};
    project.SaveToFile(U16(path));
    EXPECT_EQ(ReadBytes(path),
              "[system]\r\nVERSION=0\r\n\r\n[CONFIG]\r\nExtra=keep me\r\nExcelSheet=Sheet \r\n"
              "ExcelFile=/a.xlsx\r\nCsvFile=/a.csv\r\nFirstLineIsTitle=0\r\nRelation=a=0\r\n\r\n"
              "[THIRD]\r\nK=V\r\n\r\n");
    // The worksheet name's trailing blank is written but trimmed on reading.
    TProject loaded(u"", u"", u"", true);
    loaded.LoadFromFile(U16(path));
    EXPECT_EQ(loaded.ExcelSheet, u"Sheet");
    EXPECT_EQ(loaded.Relation, (TRelation{{u"a", 0}}));
}

TEST(ProjectFile, KeepsTheEncodingItWasReadIn) {
    TempDir dir;
    {
        CodePageScope shiftJis("CP932");
        auto path = dir.Write("bom.QLM", "\xEF\xBB\xBF[CONFIG]\r\nExcelFile=x\r\n");
        TProject project(u"/氏名.xlsx", u"", u"", false);
        project.SaveToFile(U16(path));
        std::string bytes = ReadBytes(path);
        EXPECT_TRUE(bytes.starts_with("\xEF\xBB\xBF[CONFIG]\r\nExcelFile=/\xE6\xB0\x8F")) << bytes;

        auto plain = dir.Write("plain.QLM", "[CONFIG]\r\nExcelFile=x\r\n");
        project.SaveToFile(U16(plain));
        EXPECT_TRUE(
            ReadBytes(plain).starts_with("[CONFIG]\r\nExcelFile=/\x8E\x81\x96\xBC.xlsx\r\n"));
        TProject loaded(u"", u"", u"", false);
        loaded.LoadFromFile(U16(plain));
        EXPECT_EQ(loaded.ExcelFile, u"/氏名.xlsx");
    }
}

TEST(ProjectFile, BadFilesGiveClearErrorsOrEmptyProjects) {
    TempDir dir;
    // Binary junk: no error, nothing usable in it.
    std::string junk;
    for (int i = 0; i < 4096; ++i)
        junk += static_cast<char>((i * 7919) % 256);
    auto binary = dir.Write("junk.QLM", junk);
    TProject project(u"", u"", u"", false);
    project.LoadFromFile(U16(binary));
    EXPECT_EQ(project.ExcelFile, u"");
    EXPECT_TRUE(project.Relation.empty());

    // A missing file loads as an empty project; an unwritable path is an error naming it.
    project.LoadFromFile(U16(dir.Path() / "missing.QLM"));
    EXPECT_EQ(project.ExcelFile, u"");
    auto nowhere = U16(dir.Path() / "none" / "p.QLM");
    try {
        project.SaveToFile(nowhere);
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_TRUE(error.Message().ends_with(u"\n" + nowhere)) << error.what();
    }
}

}  // namespace
}  // namespace qm
