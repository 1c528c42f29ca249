#include "settings/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/comma_text.h"
#include "platform/native_path.h"
#include "platform/system_code_page.h"
#include "test_util.h"

namespace qm {
namespace {

using test::TempDir;
using Strings = std::vector<std::u16string>;

using test::U16;

using test::ReadBytes;

// Sets an environment variable for one test and puts the old value back.
class EnvScope {
  public:
    EnvScope(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~EnvScope() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }
    EnvScope(const EnvScope&) = delete;
    EnvScope& operator=(const EnvScope&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(Config, ConstructorAndMissingFileDefaults) {
    TConfig config;
    EXPECT_EQ(config.WindowPosition, (TRect{0, 0, 744, 580}));
    EXPECT_TRUE(config.PreviewExcel && config.PreviewCsv);
    EXPECT_FALSE(config.WindowPositionRestore || config.ProjectFileRestore || config.InTaskTray);

    TempDir dir;
    config.History = {u"x"};
    config.LastProjectFile = u"x";
    config.WindowState = 2;
    config.PreviewCsv = false;
    config.Load(U16(dir.Path() / "missing.ini"));
    EXPECT_EQ(config.WindowPosition, (TRect{0, 0, 434, 420}));
    EXPECT_EQ(config.WindowState, 0);
    EXPECT_TRUE(config.History.empty());
    EXPECT_EQ(config.LastProjectFile, u"");
    EXPECT_TRUE(config.PreviewExcel && config.PreviewCsv);
    EXPECT_FALSE(config.WindowPositionRestore || config.ProjectFileRestore || config.InTaskTray);
}

TEST(Config, FirstSaveWritesTheSeventeenLines) {
    SetSystemCodePage("UTF-8");
    TempDir dir;
    auto path = dir.Path() / "deep" / "er" / "Quillomat.ini";  // folders are created
    TConfig config;
    config.Load(U16(path));
    config.WindowPosition = {-5, 12, 800, 600};
    config.SetWindowState(2);
    config.History = {u"/home/u/My Files/a.QLM", u"/b.QLM"};
    config.LastProjectFile = u"/home/u/氏名.QLM";
    config.PreviewExcel = false;
    config.Save(U16(path));
    SetSystemCodePage("");
    EXPECT_EQ(ReadBytes(path),
              "[SYSTEM]\r\nVersion=0\r\n\r\n[STARTUP]\r\nWindowPositionRestore=0\r\n"
              "WindowPositionLeft=-5\r\nWindowPositionRight=800\r\nWindowPositionTop=12\r\n"
              "WindowPositionBottom=600\r\nWindowState=2\r\n"
              "HISTORY=\"/home/u/My Files/a.QLM\",/b.QLM\r\nProjectFileRestore=0\r\n"
              "LastProjectFile=/home/u/\xE6\xB0\x8F\xE5\x90\x8D.QLM\r\nInTaskTray=0\r\n"
              "PreviewExcel=0\r\nPreviewCsv=1\r\n\r\n");
    TConfig loaded;
    loaded.Load(U16(path));
    EXPECT_EQ(loaded.WindowPosition, config.WindowPosition);
    EXPECT_EQ(loaded.WindowState, 2);
    EXPECT_EQ(loaded.History, config.History);
    EXPECT_EQ(loaded.LastProjectFile, config.LastProjectFile);
    EXPECT_FALSE(loaded.PreviewExcel);
}

TEST(Config, ValuesReadAsTheRulesSay) {
    TempDir dir;
    auto path =
        dir.Write("a.ini",
                  "[startup]\nWindowState=5\nWindowPositionLeft=0x10\nWindowPositionTop=$20\n"
                  "WindowPositionRight=abc\nInTaskTray=yes\nPreviewCsv=2\nPreviewExcel=0\n"
                  "projectfilerestore=-1\nHISTORY=C:\\a b.QLM\n");
    TConfig config;
    config.Load(U16(path));
    EXPECT_EQ(config.WindowState, 0);
    EXPECT_EQ(config.WindowPosition, (TRect{16, 32, 434, 420}));
    EXPECT_FALSE(config.InTaskTray);
    EXPECT_TRUE(config.PreviewCsv);
    EXPECT_FALSE(config.PreviewExcel);
    EXPECT_TRUE(config.ProjectFileRestore);
    EXPECT_EQ(config.History, (Strings{u"C:\\a", u"b.QLM"}));

    for (int state : {-1, 3, 5, 2147483647}) {
        config.SetWindowState(state);
        EXPECT_EQ(config.WindowState, 0) << state;
    }
    for (int state : {0, 1, 2}) {
        config.SetWindowState(state);
        EXPECT_EQ(config.WindowState, state);
    }
}

TEST(Config, HistoryCommaText) {
    struct Case {
        const char* name;
        Strings list;
        std::u16string text;
    } cases[] = {
        {"empty", {}, u""},
        {"one empty entry", {u""}, u"\"\""},
        {"plain entries", {u"C:\\a.QLM", u"C:\\b.QLM"}, u"C:\\a.QLM,C:\\b.QLM"},
        {"blank quotes",
         {u"C:\\My Files\\a.QLM", u"C:\\b.QLM"},
         u"\"C:\\My Files\\a.QLM\",C:\\b.QLM"},
        {"quote and comma", {u"a\"b", u"c,d"}, u"\"a\"\"b\",\"c,d\""},
        {"empty entries among others", {u"", u"a", u""}, u",a,"},
        {"two empty entries", {u"", u""}, u","},
        {"Japanese stays bare", {u"/ホーム/企画.QLM"}, u"/ホーム/企画.QLM"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ToCommaText(c.list), c.text);
        EXPECT_EQ(FromCommaText(c.text), c.list);
    }
    EXPECT_EQ(FromCommaText(u"  a  ,  \"b c\"  , d e"), (Strings{u"a", u"b c", u"d", u"e"}));
}

TEST(Config, AddHistory) {
    struct Case {
        const char* name;
        Strings before;
        const char16_t* path;
        Strings after;
    } cases[] = {
        {"names differing in case are two files",
         {u"/p/a.QLM", u"/p/B.QLM"},
         u"/p/b.QLM",
         {u"/p/b.QLM", u"/p/a.QLM", u"/p/B.QLM"}},
        {"every duplicate goes", {u"/x", u"/X", u"/y", u"/x"}, u"/x", {u"/x", u"/X", u"/y"}},
        {"the same path spelt differently",
         {u"/p/./a.QLM", u"/p//a.QLM", u"/q/../p/a.QLM", u"/p/A.QLM"},
         u"/p/a.QLM",
         {u"/p/a.QLM", u"/p/A.QLM"}},
        {"new entry on top, no limit", {u"/1", u"/2"}, u"/3", {u"/3", u"/1", u"/2"}},
        {"into an empty list", {}, u"/a", {u"/a"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TConfig config;
        config.History = c.before;
        config.AddHistory(c.path);
        EXPECT_EQ(config.History, c.after);
    }
}

// Existing files: a.QLM and A.QLM stay two entries, a link to a file is the file itself.
TEST(Config, AddHistoryOfExistingFiles) {
    TempDir dir;
    const auto lower = U16(dir.Write("a.QLM", "[CONFIG]\r\n"));
    const auto upper = U16(dir.Write("A.QLM", "[CONFIG]\r\n"));
    std::filesystem::create_symlink(dir.Path() / "a.QLM", dir.Path() / "link.QLM");
    const auto link = U16(dir.Path() / "link.QLM");
    TConfig config;
    config.AddHistory(lower);
    config.AddHistory(upper);
    EXPECT_EQ(config.History, (Strings{upper, lower}));
    config.AddHistory(link);
    EXPECT_EQ(config.History, (Strings{link, upper}));
    EXPECT_FALSE(SameProjectFile(lower, upper));
    EXPECT_TRUE(SameProjectFile(lower, link));
}

// Paths with line breaks stay inside their values and come back whole.
TEST(Config, LineBreaksInPathsAddNoKeys) {
    TempDir dir;
    const auto path = U16(dir.Path() / "a.ini");
    TConfig config;
    config.History = {u"/p/a\nWindowState=2.QLM", u"/p/b.QLM"};
    config.LastProjectFile = u"/p/c\r\nInTaskTray=1";
    config.Save(path);
    const std::string bytes = ReadBytes(dir.Path() / "a.ini");
    EXPECT_EQ(bytes.find("\nWindowState=2"), std::string::npos) << bytes;
    EXPECT_EQ(bytes.find("\nInTaskTray=1"), std::string::npos) << bytes;
    TConfig loaded;
    loaded.Load(path);
    EXPECT_EQ(loaded.History, config.History);
    EXPECT_EQ(loaded.LastProjectFile, config.LastProjectFile);
    EXPECT_EQ(loaded.WindowState, 0);
    EXPECT_FALSE(loaded.InTaskTray);
}

TEST(Config, SaveKeepsUnknownSectionsAndKeys) {
    TempDir dir;
    auto path = dir.Write("a.ini",
                          "[EXTRA]\r\nK=V\r\n[SYSTEM]\r\nVersion=7\r\n[STARTUP]\r\nMine=1\r\n"
                          "windowstate=1\r\n");
    TConfig config;
    config.Load(U16(path));
    EXPECT_EQ(config.WindowState, 1);
    config.Save(U16(path));
    EXPECT_EQ(ReadBytes(path),
              "[EXTRA]\r\nK=V\r\n\r\n[SYSTEM]\r\nVersion=0\r\n\r\n[STARTUP]\r\nMine=1\r\n"
              "WindowState=1\r\nWindowPositionRestore=0\r\nWindowPositionLeft=0\r\n"
              "WindowPositionRight=434\r\nWindowPositionTop=0\r\nWindowPositionBottom=420\r\n"
              "HISTORY=\r\nProjectFileRestore=0\r\nLastProjectFile=\r\nInTaskTray=0\r\n"
              "PreviewExcel=1\r\nPreviewCsv=1\r\n\r\n");
}

TEST(Config, FolderThatCannotBeCreatedIsReportedAndNothingIsWritten) {
    TempDir dir;
    auto blocker = dir.Write("Morvessa", "a file where the folder should be");
    auto path = U16(dir.Path() / "Morvessa" / "Quillomat" / "Quillomat.ini");
    TConfig config;
    for (int attempt = 0; attempt < 2; ++attempt) {  // each save attempt reports it again
        try {
            config.Save(path);
            ADD_FAILURE() << "no error";
        } catch (const TSettingsFolderError& error) {
            EXPECT_EQ(error.Message(),
                      u"設定ファイルを保存するためのフォルダの作成に失敗しました。");
            EXPECT_EQ(error.Folder(), U16(dir.Path() / "Morvessa" / "Quillomat"));
        }
    }
    EXPECT_EQ(ReadBytes(blocker), "a file where the folder should be");
    // A file that cannot be written is an ordinary error, not the folder warning.
    auto folderAsFile = U16(dir.Path());
    EXPECT_THROW(
        {
            try {
                config.Save(folderAsFile);
            } catch (const TSettingsFolderError&) {
                ADD_FAILURE() << "reported as a folder failure";
            }
        },
        Error);
}

TEST(Config, SettingsFilePathFollowsXdg) {
    TempDir dir;
    {
        EnvScope xdg("XDG_CONFIG_HOME", dir.Path().c_str());
        EXPECT_EQ(TConfig::SettingsFilePath(),
                  U16(dir.Path()) + u"/Morvessa/Quillomat/Quillomat.ini");
        TConfig config;
        config.Save(TConfig::SettingsFilePath());
        EXPECT_TRUE(
            std::filesystem::is_regular_file(dir.Path() / "Morvessa/Quillomat/Quillomat.ini"));
    }
    {
        EnvScope xdg("XDG_CONFIG_HOME", "relative/ignored");
        EnvScope home("HOME", (dir.Path() / "home").c_str());
        EXPECT_EQ(TConfig::SettingsFilePath(),
                  U16(dir.Path()) + u"/home/.config/Morvessa/Quillomat/Quillomat.ini");
    }
    {
        EnvScope xdg("XDG_CONFIG_HOME", "/slash/");
        EXPECT_EQ(TConfig::SettingsFilePath(), u"/slash/Morvessa/Quillomat/Quillomat.ini");
    }
}

}  // namespace
}  // namespace qm
