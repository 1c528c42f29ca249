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

}  // namespace
}  // namespace qm
