// The lindrel program itself: exit status and message for requests it cannot carry out, and
// the whole round for a good one, in temporary XDG folders.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "env_scope.h"
#include "test_util.h"

namespace qm {
namespace {

namespace fs = std::filesystem;
using test::EnvScope;
using test::TempDir;

using test::ReadBytes;

struct TResult {
    int status = -1;
    std::string output;
};

// Runs lindrel with the arguments (each single-quoted for the shell) and its output captured.
TResult Lindrel(const TempDir& dir, const std::vector<std::string>& arguments) {
    std::string command = QM_LINDREL;
    for (const std::string& argument : arguments)
        command += " '" + argument + "'";
    const fs::path output = dir.Path() / "output.txt";
    command += " >'" + output.string() + "' 2>&1";
    const int raw = std::system(command.c_str());
    TResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.output = ReadBytes(output);
    return result;
}

// A registering request for the program at 'program'.
std::string SetRequest(const std::string& program) {
    return "[EXT]\r\nEXT=.QLM\r\nCOMMAND=\"" + program +
           "\" \"%1\"\r\nFILE_TYPE=Quillomat ファイル\r\nICON_FILE=" + program +
           "\r\nICON_INDEX=0\r\n\r\n[TASK]\r\nCLOSE=1\r\nCOMMAND=1\r\n\r\n";
}

class LindrelProgram : public testing::Test {
  protected:
    TempDir dir;
    EnvScope data{"XDG_DATA_HOME", (dir.Path() / "data").string()};
    EnvScope config{"XDG_CONFIG_HOME", (dir.Path() / "config").string()};
    EnvScope desktop{"XDG_CURRENT_DESKTOP", nullptr};
};

TEST_F(LindrelProgram, BadRequestsEndWithAMessageAndStatus) {
    struct TCase {
        const char* name;
        std::vector<std::string> arguments;
        int status;
        std::string message;
    };
    const std::string garbage = dir.Write("garbage.ini", std::string("\xFF\xFE\x00\xD8[\0", 6));
    const std::string badTask = dir.Write("task.ini", "[TASK]\r\nCOMMAND=7\r\n");
    const std::string badExt = dir.Write("ext.ini", "[EXT]\nEXT=.QLM/..\n[TASK]\nCOMMAND=2\n");
    // A program path with a double quote cannot be carried by the quoted command: the program
    // it reads is one that does not exist.
    const std::string quote = dir.Write("quote.ini", SetRequest("/usr/bin/a\"b"));
    const TCase cases[] = {
        {"no argument", {}, 2, "lindrel <"},
        {"two arguments", {badTask, badTask}, 2, "lindrel <"},
        {"missing file", {(dir.Path() / "none.ini").string()}, 1, "none.ini"},
        {"a folder", {dir.Path().string()}, 1, "依頼ファイルが見つかりません"},
        {"not a request", {garbage}, 1, "[TASK] COMMAND"},
        {"unknown task", {badTask}, 1, "task.ini"},
        {"bad extension", {badExt}, 1, "[EXT] EXT"},
        {"program not runnable", {quote}, 1, "[EXT] COMMAND"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        const TResult result = Lindrel(dir, c.arguments);
        EXPECT_EQ(result.status, c.status) << result.output;
        EXPECT_NE(result.output.find(c.message), std::string::npos) << result.output;
    }
    EXPECT_FALSE(fs::exists(dir.Path() / "data"));
}

TEST_F(LindrelProgram, RegistersAndRemoves) {
    // The program lies in a folder with a blank in its name.
    fs::create_directories(dir.Path() / "My Tools");
    const fs::path program = dir.Path() / "My Tools/quillomat";
    fs::copy_file("/bin/true", program);
    const std::string registering = dir.Write("set.ini", SetRequest(program.string()));
    const std::string removing =
        dir.Write("unset.ini", "[EXT]\r\nEXT=.QLM\r\n\r\n[TASK]\r\nCLOSE=1\r\nCOMMAND=2\r\n\r\n");
    const fs::path package = dir.Path() / "data/mime/packages/quillomat-qlm.xml";
    const fs::path entry = dir.Path() / "data/applications/quillomat-qlm.desktop";
    // A default another program set for the type stays when ours goes.
    fs::create_directories(dir.Path() / "config");
    std::ofstream(dir.Path() / "config/mimeapps.list")
        << "[Added Associations]\napplication/x-quillomat-project=quillomat-qlm.desktop;"
           "editor.desktop;\n";

    TResult result = Lindrel(dir, {registering});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_TRUE(fs::is_regular_file(package));
    EXPECT_NE(ReadBytes(entry).find("Exec=\"" + program.string() + "\" %f\n"), std::string::npos);

    // Registering again replaces the files; removing twice is no error.
    EXPECT_EQ(Lindrel(dir, {registering}).status, 0);
    for (int i = 0; i < 2; ++i) {
        result = Lindrel(dir, {removing});
        EXPECT_EQ(result.status, 0) << result.output;
    }
    EXPECT_FALSE(fs::exists(package));
    EXPECT_FALSE(fs::exists(entry));
    const std::string mimeapps = ReadBytes(dir.Path() / "config/mimeapps.list");
    EXPECT_EQ(mimeapps.find("quillomat-qlm.desktop"), std::string::npos) << mimeapps;
    EXPECT_NE(mimeapps.find("application/x-quillomat-project=editor.desktop;"), std::string::npos)
        << mimeapps;
}

// Links planted below the data folder never lead the tool's writes outside it: a link at a
// file's name is replaced by the file, a link in place of one of its folders is refused, and
// removing deletes neither the link's target nor anything below a linked folder.
TEST_F(LindrelProgram, NeverWritesThroughASymbolicLink) {
    const fs::path program = dir.Path() / "quillomat";
    fs::copy_file("/bin/true", program);
    const std::string registering = dir.Write("set.ini", SetRequest(program.string()));
    const std::string removing =
        dir.Write("unset.ini", "[EXT]\r\nEXT=.QLM\r\n\r\n[TASK]\r\nCOMMAND=2\r\n");
    const fs::path dataHome = dir.Path() / "data";
    const fs::path entry = dataHome / "applications/quillomat-qlm.desktop";
    const fs::path package = dataHome / "mime/packages/quillomat-qlm.xml";
    const fs::path outside = dir.Path() / "outside";
    fs::create_directories(outside);
    const std::string victim = dir.Write("outside/victim.txt", "keep me\n");

    // Links at both file names: replaced by the files, the linked file untouched.
    fs::create_directories(entry.parent_path());
    fs::create_directories(package.parent_path());
    fs::create_symlink(victim, entry);
    fs::create_symlink(victim, package);
    TResult result = Lindrel(dir, {registering});
    EXPECT_EQ(result.status, 0) << result.output;
    EXPECT_EQ(ReadBytes(victim), "keep me\n");
    EXPECT_FALSE(fs::is_symlink(entry));
    EXPECT_NE(ReadBytes(entry).find("[Desktop Entry]"), std::string::npos);
    EXPECT_FALSE(fs::is_symlink(package));
    EXPECT_NE(ReadBytes(package).find("<mime-info"), std::string::npos);
    // The files were replaced, not rewritten in place: a second name of the old file keeps
    // the old content, and no temporary file is left.
    fs::create_hard_link(entry, dir.Path() / "old-entry");
    std::ofstream(entry, std::ios::app) << "# edited\n";
    EXPECT_EQ(Lindrel(dir, {registering}).status, 0);
    EXPECT_NE(ReadBytes(dir.Path() / "old-entry").find("# edited"), std::string::npos);
    EXPECT_EQ(ReadBytes(entry).find("# edited"), std::string::npos);
    for (const fs::path& folder : {entry.parent_path(), package.parent_path()})
        for (const auto& item : fs::directory_iterator(folder))
            EXPECT_EQ(item.path().filename().string().find(".lindrel-"), std::string::npos)
                << item.path();

    // A link in place of a folder the tool makes: refused, nothing written where it points.
    struct TCase {
        const char* name;
        fs::path folder;
    };
    const TCase cases[] = {
        {"applications", dataHome / "applications"},
        {"mime", dataHome / "mime"},
        {"packages", dataHome / "mime/packages"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dataHome);
        fs::create_directories(c.folder.parent_path());
        fs::create_symlink(outside, c.folder);
        result = Lindrel(dir, {registering});
        EXPECT_EQ(result.status, 1) << result.output;
        EXPECT_NE(result.output.find("シンボリックリンク"), std::string::npos) << result.output;
        EXPECT_NE(result.output.find(c.folder.string()), std::string::npos) << result.output;
        // Removing leaves what the link leads to alone.
        std::ofstream(outside / "quillomat-qlm.desktop") << "other\n";
        std::ofstream(outside / "quillomat-qlm.xml") << "other\n";
        EXPECT_EQ(Lindrel(dir, {removing}).status, 0);
        EXPECT_TRUE(fs::exists(outside / "quillomat-qlm.desktop"));
        EXPECT_TRUE(fs::exists(outside / "quillomat-qlm.xml"));
        fs::remove(outside / "quillomat-qlm.desktop");
        fs::remove(outside / "quillomat-qlm.xml");
        EXPECT_EQ(ReadBytes(victim), "keep me\n");
        EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    }

    // A mimeapps.list that is a link is not rewritten through it.
    fs::remove_all(dataHome);
    fs::create_directories(dir.Path() / "config");
    const std::string list = dir.Write("outside/mimeapps.list",
                                       "[Default Applications]\n"
                                       "application/x-quillomat-project=quillomat-qlm.desktop\n");
    fs::remove(dir.Path() / "config/mimeapps.list");  // xdg-mime, when installed, made one
    fs::create_symlink(list, dir.Path() / "config/mimeapps.list");
    EXPECT_EQ(Lindrel(dir, {removing}).status, 0);
    EXPECT_NE(ReadBytes(list).find("quillomat-qlm.desktop"), std::string::npos);
}

// A folder where a file belongs: the error names it, and no temporary file stays behind.
TEST_F(LindrelProgram, FailedReplaceLeavesNoTemporaryFile) {
    const fs::path program = dir.Path() / "quillomat";
    fs::copy_file("/bin/true", program);
    const std::string registering = dir.Write("set.ini", SetRequest(program.string()));
    const fs::path applications = dir.Path() / "data/applications";
    fs::create_directories(applications / "quillomat-qlm.desktop");
    const TResult result = Lindrel(dir, {registering});
    EXPECT_EQ(result.status, 1) << result.output;
    EXPECT_NE(result.output.find("quillomat-qlm.desktop"), std::string::npos) << result.output;
    EXPECT_EQ(std::distance(fs::directory_iterator(applications), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace qm
