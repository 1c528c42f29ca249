#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>

#include "platform/auto_run_script.h"
#include "platform/error.h"
#include "platform/program_path.h"
#include "project/command_line.h"
#include "project/project.h"
#include "test_files.h"
#include "test_util.h"
#include "text/unicode.h"

namespace qm {
namespace {

using test::CodePageScope;
using test::ReadBytes;
using test::TempDir;
using test::U16;
using Arguments = std::vector<std::u16string>;

TEST(ProjectArguments, GetArguments) {
    TProject project(u"C:\\data\\book.xlsx", u"Sheet1$", u"C:\\in\\a.csv", true);
    project.Relation = {{u"a", 0}};
    Arguments expected = {ProgramFilePath(),
                          u"-e=C:\\data\\book.xlsx",
                          u"-w=Sheet1$",
                          u"-c=C:\\in\\a.csv",
                          u"-f=-1",
                          u"-r=a=0",
                          u"-a"};
    EXPECT_FALSE(expected[0].empty());
    EXPECT_EQ(project.GetArguments(true), expected);
    expected.pop_back();
    EXPECT_EQ(project.GetArguments(false), expected);
    EXPECT_EQ(TProject(u"", u"", u"", false).GetArguments(false),
              (Arguments{ProgramFilePath(), u"-e=", u"-w=", u"-c=", u"-f=0", u"-r="}));
}

TEST(ProjectArguments, SetArguments) {
    struct Case {
        const char* name;
        Arguments arguments;
        bool autoRun;
        const char16_t* excelFile;
        const char16_t* excelSheet;
        bool firstLineIsTitle;
        TRelation relation;
    } cases[] = {
        {"nothing", {}, false, u"old.xls", u"old", false, {{u"old", 1}}},
        {"upper-case names keep their values",
         {u"-E=X.xls", u"-W=Sheet"},
         false,
         u"X.xls",
         u"Sheet",
         false,
         {{u"old", 1}}},
        {"-a in either case", {u"-A"}, true, u"old.xls", u"old", false, {{u"old", 1}}},
        {"-ab and -a=1 are ignored",
         {u"-ab", u"-a=1", u"-"},
         false,
         u"old.xls",
         u"old",
         false,
         {{u"old", 1}}},
        {"bare path ignored",
         {u"/home/u/p.QLM", u"x"},
         false,
         u"old.xls",
         u"old",
         false,
         {{u"old", 1}}},
        {"later value wins", {u"-e=a", u"-e=b", u"-w="}, false, u"b", u"", false, {{u"old", 1}}},
        {"relation replaced whole",
         {u"-r=\"a b=1\",c=2"},
         false,
         u"old.xls",
         u"old",
         false,
         {{u"a b", 1}, {u"c", 2}}},
        {"empty relation", {u"-r="}, false, u"old.xls", u"old", false, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TProject project(u"old.xls", u"old", u"old.csv", false);
        project.Relation = {{u"old", 1}};
        EXPECT_EQ(project.SetArguments(c.arguments), c.autoRun);
        EXPECT_EQ(project.ExcelFile, c.excelFile);
        EXPECT_EQ(project.ExcelSheet, c.excelSheet);
        EXPECT_EQ(project.FirstLineIsTitle, c.firstLineIsTitle);
        EXPECT_EQ(project.Relation, c.relation);
    }
}

TEST(ProjectArguments, BooleanValues) {
    struct Case {
        const char16_t* value;
        bool expected;
    } cases[] = {{u"1", true},     {u"-1", true},    {u"true", true}, {u"TRUE", true},
                 {u"2.5", true},   {u" 1e3 ", true}, {u"0", false},   {u"false", false},
                 {u"-0.0", false}, {u"0e9", false},  {u"1.", true},   {u".5", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf16ToUtf8(c.value));
        TProject project(u"", u"", u"", !c.expected);
        project.SetArguments({std::u16string(u"-f=") + c.value});
        EXPECT_EQ(project.FirstLineIsTitle, c.expected);
    }
}

TEST(ProjectArguments, InvalidBooleanStopsWithItsMessage) {
    const char16_t* invalid[] = {u"yes", u"", u"0x1", u".", u"e5", u"1e", u"ＴＲＵＥ", u"true "};
    for (const char16_t* value : invalid) {
        SCOPED_TRACE(Utf16ToUtf8(value));
        TProject project(u"", u"", u"", false);
        try {
            project.SetArguments(
                {u"-e=before", std::u16string(u"-F=") + value, u"-w=after", u"-a"});
            ADD_FAILURE() << "no error";
        } catch (const Error& error) {
            EXPECT_EQ(error.Message(),
                      u"'" + std::u16string(value) + u"' は正しい論理型ではありません");
        }
        EXPECT_EQ(project.ExcelFile, u"before");  // applied before the error
        EXPECT_EQ(project.ExcelSheet, u"");       // not after it
    }
}

TEST(ProjectArguments, JoinStrings) {
    EXPECT_EQ(JoinStrings({}, u" "), u"");
    EXPECT_EQ(JoinStrings({u"a"}, u" "), u"a");
    EXPECT_EQ(JoinStrings({u"a", u"", u"b"}, u", "), u"a, , b");
}

TEST(ProjectArguments, ArgumentsRoundTripThroughTheProject) {
    TProject source(u"/a b/'x'.xlsx", u"", u"/c\"d.csv", true);
    source.Relation = {{u"a b", 0}, {u"x=y", 1}, {u"\"q\"", 2}, {u"Name", 3}};
    Arguments arguments = source.GetArguments(true);
    TProject target(u"", u"", u"", false);
    // The program path is not an option and is ignored like any other unknown argument.
    EXPECT_TRUE(target.SetArguments(arguments));
    EXPECT_EQ(target.ExcelFile, source.ExcelFile);
    EXPECT_EQ(target.ExcelSheet, source.ExcelSheet);
    EXPECT_EQ(target.CsvFile, source.CsvFile);
    EXPECT_EQ(target.FirstLineIsTitle, source.FirstLineIsTitle);
    EXPECT_EQ(target.Relation, source.Relation);
}

TEST(AutoRunFile, WindowsBatchForm) {
    Arguments arguments = {u"C:\\Q\\Quillomat.exe",
                           u"-e=C:\\data\\book.xlsx",
                           u"-w=Sheet1$",
                           u"-c=C:\\in\\a.csv",
                           u"-f=-1",
                           u"-r=a=0",
                           u"-a",
                           u"-w=",
                           u"q\"t"};
    Arguments quoted;
    for (const auto& a : arguments) {
        quoted.push_back(QuoteAutoRunArgument(a, TAutoRunForm::WindowsBatch));
    }
    EXPECT_EQ(AutoRunFileText(JoinStrings(quoted, u" "), TAutoRunForm::WindowsBatch),
              u"\"C:\\Q\\Quillomat.exe\" \"-e=C:\\data\\book.xlsx\" \"-w=Sheet1$\" "
              u"\"-c=C:\\in\\a.csv\" \"-f=-1\" \"-r=a=0\" \"-a\" \"-w=\" \"q\"\"t\"\r\n");
    // A line break inside a value splits the batch text into lines, each ended by CR LF.
    EXPECT_EQ(AutoRunFileText(u"a\r\nb\rc\nd\n", TAutoRunForm::WindowsBatch),
              u"a\r\nb\r\nc\r\nd\r\n");
}

// The sh script hands the program exactly the arguments it was written for.
class ShellScript : public ::testing::Test {
  protected:
    static std::string RunAndCapture(const std::string& command) {
        std::string output;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (pipe == nullptr) return "popen failed";
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            output.append(buffer, n);
        int status = ::pclose(pipe);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) output += "<failed>";
        return output;
    }
    static std::string Expected(const Arguments& arguments) {
        std::string expected;
        for (std::size_t i = 1; i < arguments.size(); ++i) {
            std::string bytes = Utf16ToUtf8(arguments[i]);
            expected += std::to_string(bytes.size()) + ":" + bytes;
        }
        return expected;
    }
};

TEST_F(ShellScript, ReproducesEveryArgumentExactly) {
    CodePageScope utf8("UTF-8");
    TempDir dir;
    TProject project(u"/tmp/a b/it's \"here\".xlsx", u"", u"/in/$HOME/`id`/*.csv", true);
    project.Relation = {{u"氏名", 0}, {u"a b", 1},         {u"x=y", 2},           {u"it's", 3},
                        {u"q\"", 4},  {u"line\nbreak", 5}, {u"tab\tand\\back", 6}};
    Arguments arguments = project.GetArguments(true);
    arguments[0] = U16(QM_PRINT_ARGS);  // a stand-in program that prints what it receives
    arguments.push_back(u"");
    arguments.push_back(u"'");
    arguments.push_back(u"''\\'");
    arguments.push_back(u"-e=trailing newline\n");
    arguments.push_back(u" ;exit 1; ");

    auto script = dir.Path() / "auto run.sh";
    project.SaveBatchFile(U16(script), arguments);

    std::string bytes = ReadBytes(script);
    EXPECT_TRUE(bytes.starts_with("#!/bin/sh\n'" + std::string(QM_PRINT_ARGS) + "' '-e=/tmp/a b/"));
    struct stat info {};
    ASSERT_EQ(::stat(script.c_str(), &info), 0);
    EXPECT_NE(info.st_mode & S_IXUSR, 0u);

    EXPECT_EQ(RunAndCapture("sh '" + script.string() + "'"), Expected(arguments));
    EXPECT_EQ(RunAndCapture("'" + script.string() + "'"), Expected(arguments));  // run directly

    // Writing again replaces the file (no byte-order mark, nothing appended).
    project.SaveBatchFile(U16(script), {U16(QM_PRINT_ARGS), u"x"});
    EXPECT_EQ(ReadBytes(script), "#!/bin/sh\n'" + std::string(QM_PRINT_ARGS) + "' 'x'\n");
}

TEST_F(ShellScript, IsWrittenInTheLegacyCodePage) {
    TempDir dir;
    CodePageScope eucJp("EUC-JP");
    auto script = dir.Path() / "a.sh";
    TProject(u"", u"", u"", false).SaveBatchFile(U16(script), {u"/bin/echo", u"氏"});
    EXPECT_EQ(ReadBytes(script), "#!/bin/sh\n'/bin/echo' '\xBB\xE1'\n");
}

TEST_F(ShellScript, UnwritablePathIsAnErrorNamingIt) {
    TempDir dir;
    auto path = U16(dir.Path() / "missing" / "a.sh");
    try {
        TProject(u"", u"", u"", false).SaveBatchFile(path, {u"x"});
        ADD_FAILURE() << "no error";
    } catch (const Error& error) {
        EXPECT_TRUE(error.Message().ends_with(u"\n" + path));
    }
}

}  // namespace
}  // namespace qm
